// Bad input: every defect gives a problem with a kind and a place, never a crash.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "builders/biffbuilder.h"
#include "builders/odsbuilder.h"
#include "builders/xlsbbuilder.h"
#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "workbook/limits.h"
#include "workbook/ooxml/sheetscanner.h"
#include "workbook/workbook.h"

using namespace testing_support;
using workbook::ProblemKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

ZipBuilder healthyPackage() {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1") + pictureAnchor(2, 2, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    return packageWith({sheet}).addBytes("xl/media/image1.png", pngImage(6, 4));
}

// The same package with a binary workbook and worksheet.
ZipBuilder xlsbHealthyPackage(ZipBuilder::Method method = ZipBuilder::Method::Deflate) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1") + pictureAnchor(2, 2, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    return xlsbPackageWith(
               {sheet, {"Chart", "chartsheet", "", {}, {}}, {"B", "worksheet", "", {}, {}}}, method)
        .addBytes("xl/media/image1.png", pngImage(6, 4), method);
}

std::string cut(const std::string& s, std::size_t keep) {
    return s.substr(0, keep);
}

// Opens and, if that works, reads every picture: a problem must say what and where.
void openAndCopyEverything(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    if (!opened) {
        const workbook::Problem& p = opened.problem();
        EXPECT_FALSE(p.describe().empty());
        if (p.kind == ProblemKind::Damaged || p.kind == ProblemKind::TooLarge) {
            EXPECT_FALSE(p.place.empty()) << p.describe();
        }
        return;
    }
    const auto& sheets = opened.value()->worksheets();
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        for (std::size_t p = 0; p < sheets[s].pictures.size(); ++p) {
            auto picture = opened.value()->readPictureBytes(s, p);
            if (!picture) {
                EXPECT_FALSE(picture.problem().describe().empty());
            }
        }
    }
}

// What the worksheet scanner makes of a part fed in chunks of the given size.
std::string scanned(const std::string& part, std::size_t chunk) {
    workbook::SheetScanner scanner("sheet");
    bool going = true;
    for (std::size_t at = 0; going && at < part.size(); at += chunk) {
        going = scanner.feed(part.data() + at, std::min(chunk, part.size() - at));
    }
    if (going) {
        scanner.finish();
    }
    if (scanner.problem()) {
        return "problem: " + scanner.problem()->describe();
    }
    return scanner.needsTree() ? "tree" : scanner.drawingId().value_or("");
}

}  // namespace

TEST(WorkbookDamage, EachDefectGivesItsKindAndPlace) {
    struct Row {
        const char* defect;
        std::function<Bytes()> make;
        ProblemKind kind;
        std::string described;  // the whole description the user reads
    };
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep = "<xdr:g>" + deep + "</xdr:g>";
    std::vector<Row> rows = {
        {"empty file", [] { return Bytes(); }, ProblemKind::NotAWorkbook,
         "the file is not a workbook (the file is empty)"},
        {"plain text",
         [] {
             Bytes b{'h', 'e', 'l', 'l', 'o', '\n'};
             return b;
         },
         ProblemKind::NotAWorkbook,
         "the file is not a workbook (it is neither a zip package nor a compound file)"},
        {"drawing cut short",
         [] {
             ZipBuilder z = healthyPackage();
             std::string d = z.content("xl/drawings/drawing1.xml");
             return z.replace("xl/drawings/drawing1.xml", cut(d, d.size() - 40)).bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/drawings/drawing1.xml: unexpected end of data)"},
        {"workbook part not XML",
         [] { return healthyPackage().replace("xl/workbook.xml", "<workbook><sheets>").bytes(); },
         ProblemKind::Damaged, "the workbook is damaged (xl/workbook.xml: unexpected end of data)"},
        {"workbook relationships broken",
         [] {
             return healthyPackage()
                 .replace("xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=")
                 .bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/_rels/workbook.xml.rels: unexpected end of data)"},
        {"main part missing", [] { return healthyPackage().remove("xl/workbook.xml").bytes(); },
         ProblemKind::Damaged,
         "the workbook is damaged (_rels/.rels: the main part xl/workbook.xml is missing)"},
        {"root element is not a workbook",
         [] { return healthyPackage().replace("xl/workbook.xml", "<document/>").bytes(); },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/workbook.xml: the root element is not a workbook)"},
        {"worksheet cut short",
         [] {
             ZipBuilder z = healthyPackage();
             return z.replace("xl/worksheets/sheet1.xml", "<worksheet><sheetData><row>").bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/worksheets/sheet1.xml: unexpected end of data)"},
        {"worksheet with a stray end tag",
         [] { return healthyPackage().replace("xl/worksheets/sheet1.xml", "<a></b></c>").bytes(); },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/worksheets/sheet1.xml: an end tag without a start tag)"},
        {"drawing nested too deep",
         [deep] {
             return healthyPackage().replace("xl/drawings/drawing1.xml", drawingXml(deep)).bytes();
         },
         ProblemKind::TooLarge,
         "the workbook is too large to read (xl/drawings/drawing1.xml: elements nested more "
         "than 256 deep)"},
        {"drawing inflates from almost nothing",
         [] {
             return healthyPackage()
                 .replace("xl/drawings/drawing1.xml", drawingXml(std::string(40u << 20, ' ')))
                 .bytes();
         },
         ProblemKind::TooLarge,
         "the workbook is too large to read (xl/drawings/drawing1.xml: compressed more than 400 "
         "to 1)"},
        {"zip without a workbook", [] { return ZipBuilder().add("notes.txt", "hello").bytes(); },
         ProblemKind::NotAWorkbook,
         "the file is not a workbook (it is a zip archive without a workbook part)"},
        {"word-processing document",
         [] { return ZipBuilder().add("word/document.xml", "<w:document/>").bytes(); },
         ProblemKind::NotAWorkbook,
         "the file is not a workbook (it is a word-processing document)"},
        {"binary workbook part cut inside a record header",
         [] {
             return xlsbPackageWith({})
                 .replace("xl/workbook.bin", std::string("\x83\x01\x00\x8F", 4))
                 .bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/workbook.bin, record 2: the record header is cut short)"},
        {"binary workbook record longer than the part",
         [] {
             return xlsbPackageWith({})
                 .replace("xl/workbook.bin",
                          xlsbRecord(0x83) + "\x9C\x01\x28" + std::string(3, '\0'))
                 .bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/workbook.bin, record 2: the record runs past the end of "
         "the part)"},
        {"binary workbook listing too many sheets",
         [] {
             std::string entries;
             for (int i = 0; i <= 100'000; ++i)
                 entries += xlsbRecord(0x9C);
             return xlsbPackageWith({})
                 .replace("xl/workbook.bin", xlsbWorkbookPart(entries))
                 .bytes();
         },
         ProblemKind::TooLarge,
         "the workbook is too large to read (xl/workbook.bin, record 100004: more than 100000 "
         "sheets)"},
        {"binary worksheet cut before its drawing",
         [] {
             return xlsbHealthyPackage()
                 .replace("xl/worksheets/sheet1.bin", xlsbRecord(0x81) + std::string("\x00\xFF", 2))
                 .bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/worksheets/sheet1.bin, record 2: the record header is cut "
         "short)"},
        {"binary worksheet whose drawing id runs past its record",
         [] {
             return xlsbHealthyPackage()
                 .replace(
                     "xl/worksheets/sheet1.bin",
                     xlsbRecord(0x81) + xlsbRecord(0x226, xlsbU32(40) + std::string("r\0I\0", 4)))
                 .bytes();
         },
         ProblemKind::Damaged,
         "the workbook is damaged (xl/worksheets/sheet1.bin, record 2: the drawing's relationship "
         "id runs past the end of its record)"},
        {"central directory cut off",
         [] {
             Bytes b = healthyPackage().bytes();
             b.resize(b.size() - 30);
             return b;
         },
         ProblemKind::Damaged,
         "the workbook is damaged (zip directory: the end of the archive is missing)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.defect);
        auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(row.make()));
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.problem().kind, row.kind);
        EXPECT_EQ(opened.problem().describe(), row.described);
    }
}

// A part that is gone (one flipped bit in an entry name does it) loses pictures: the workbook
// still opens and keeps the damage, and the intact worksheet B keeps its picture.
TEST(WorkbookDamage, MissingPartIsKeptAsAProblemAndTheIntactWorksheetIsRead) {
    struct Row {
        std::string removed;  // the entry taken away
        std::string sheets;   // worksheet:pictures, in order
        std::string described;
    };
    const std::vector<Row> rows = {
        {"xl/worksheets/sheet1.xml", "B:1", "xl/worksheets/sheet1.xml: the part is missing"},
        {"xl/worksheets/_rels/sheet1.xml.rels", "A:0 B:1",
         "xl/worksheets/_rels/sheet1.xml.rels: the part is missing"},
        {"xl/drawings/drawing1.xml", "A:0 B:1", "xl/drawings/drawing1.xml: the part is missing"},
        {"xl/_rels/workbook.xml.rels", "", "xl/_rels/workbook.xml.rels: the part is missing"},
    };
    const std::string anchors = drawingXml(pictureAnchor(0, 0, "rId1"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.removed);
        ZipBuilder z = packageWith({{"A", "worksheet", anchors, {{"rId1", "../media/a.png"}}, {}},
                                    {"B", "worksheet", anchors, {{"rId1", "../media/b.png"}}, {}}})
                           .addBytes("xl/media/a.png", pngImage(2, 2))
                           .addBytes("xl/media/b.png", pngImage(3, 3));
        auto opened =
            workbook::openWorkbook(std::make_shared<const Bytes>(z.remove(row.removed).bytes()));
        ASSERT_TRUE(opened) << opened.problem().describe();
        workbook::Workbook& book = *opened.value();
        std::string sheets;
        for (const auto& sheet : book.worksheets()) {
            sheets += (sheets.empty() ? "" : " ") + sheet.name + ":" +
                      std::to_string(sheet.pictures.size());
        }
        EXPECT_EQ(sheets, row.sheets);
        ASSERT_EQ(book.problems().size(), 1u);
        EXPECT_EQ(book.problems()[0].describe(), "the workbook is damaged (" + row.described + ")");
        if (!row.sheets.empty()) {
            EXPECT_TRUE(book.readPictureBytes(book.worksheets().size() - 1, 0));
        }
    }
}

// Pictures that each name the one image count every copy: past the limit the rest fail. The
// image's directory record claims 500 MiB, so a few dozen copies reach the limit cheaply.
TEST(WorkbookDamage, PicturesCopyAtMostTheLimitInAll) {
    const std::uint32_t declared = 500u << 20;
    const std::size_t fit = std::size_t(workbook::kMaxCopiedBytes / declared);
    std::string anchors;
    for (std::size_t i = 0; i <= fit; ++i) {
        anchors += pictureAnchor(0, i, "rId1");
    }
    Bytes image = pngImage(2, 2);
    image.resize(2u << 20);
    Bytes bytes =
        packageWith({{"S", "worksheet", drawingXml(anchors), {{"rId1", "../media/big.png"}}, {}}})
            .addBytes("xl/media/big.png", image, ZipBuilder::Method::Store)
            .bytes();
    const std::string name = "xl/media/big.png";
    for (std::size_t at = 0; at + 46 + name.size() <= bytes.size(); ++at) {
        if (bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 1 && bytes[at + 3] == 2 &&
            std::equal(name.begin(), name.end(), bytes.begin() + long(at) + 46)) {
            for (int b = 0; b < 4; ++b) {
                bytes[at + 24 + std::size_t(b)] = std::uint8_t(declared >> (8 * b));
            }
        }
    }
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    ASSERT_TRUE(opened) << opened.problem().describe();
    // The data end long before the size the record claims: untouched room is all a read needs.
    struct RoomSink : workbook::ByteSink {
        std::unique_ptr<std::uint8_t[]> room;
        std::uint8_t* allocate(std::size_t size) override {
            room.reset(new std::uint8_t[size]);
            return room.get();
        }
    } sink;
    for (std::size_t p = 0; p < fit; ++p) {
        auto problem = opened.value()->readPictureBytes(0, p, sink);
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->kind, ProblemKind::Damaged);
    }
    auto problem = opened.value()->readPictureBytes(0, fit, sink);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->describe(),
              "the workbook is too large to read (xl/media/big.png: its "
              "pictures come to more than 24 GiB to copy)");
}

TEST(WorkbookDamage, CorruptImageDataFailsOnlyThatCopy) {
    // Flip a byte inside the stored image data: the checksum no longer matches.
    Bytes bytes = healthyPackage()
                      .remove("xl/media/image1.png")
                      .addBytes("xl/media/image1.png", pngImage(6, 4), ZipBuilder::Method::Store)
                      .bytes();
    Bytes png = pngImage(6, 4);
    auto at = std::search(bytes.begin(), bytes.end(), png.begin(), png.end());
    ASSERT_NE(at, bytes.end());
    *(at + long(png.size()) - 5) ^= 0xFF;
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    ASSERT_TRUE(opened) << opened.problem().describe();
    auto picture = opened.value()->readPictureBytes(0, 0);
    ASSERT_FALSE(picture);
    EXPECT_EQ(picture.problem().describe(),
              "the workbook is damaged (xl/media/image1.png: checksum mismatch)");
}

TEST(WorkbookDamage, FileProblemsAreReportedAsSuch) {
    QTemporaryDir folder;
    auto missing = workbook::openWorkbook(folder.filePath("nothing.xlsx").toStdString());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.problem().describe(), "the file cannot be read (No such file or directory)");
    auto directory = workbook::openWorkbook(folder.path().toStdString());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.problem().describe(), "the file cannot be read (it is a folder)");
    auto device = workbook::openWorkbook("/dev/zero");
    ASSERT_FALSE(device);
    EXPECT_EQ(device.problem().describe(), "the file cannot be read (it is not a regular file)");
}

// Every fixture cut at many lengths and with bytes flipped at many places: each gives a
// workbook or a problem, never a crash.
TEST(WorkbookDamage, TruncatedAndFlippedFixturesNeverCrash) {
    QTemporaryDir folder;
    std::vector<Bytes> fixtures = {
        healthyPackage().bytes(),
        healthyPackage().transform([](std::string s) { return s; }).bytes(),
        XlsxBuilder()
            .worksheet("A")
            .picture(1, 1, pngImage(3, 3))
            .chartsheet("C")
            .worksheet("B", true)
            .picture(0, 0, jpegImage(5, 5))
            .bytes(folder.path().toStdString()),
    };
    // Stored entries let the flips land in XML text rather than in compressed data.
    ZipBuilder stored;
    ZipBuilder source = healthyPackage();
    for (const char* name : {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml",
                             "xl/_rels/workbook.xml.rels", "xl/worksheets/sheet1.xml",
                             "xl/worksheets/_rels/sheet1.xml.rels", "xl/drawings/drawing1.xml",
                             "xl/drawings/_rels/drawing1.xml.rels", "xl/media/image1.png"}) {
        stored.add(name, source.content(name), ZipBuilder::Method::Store);
    }
    fixtures.push_back(stored.bytes());
    BiffBuilder xls;
    xls.blip(BiffBuilder::kPng, pngImage(4, 4))
        .blip(BiffBuilder::kWmf, wmfImage())
        .blip(BiffBuilder::kDib, dibImage(2, 2));
    xls.worksheet("A").picture(1).group({2, 3}).textBox("t").chart().picture(2);
    xls.worksheet("B", 1).picture(3);
    fixtures.push_back(xls.drawingInContinues().drawingGroupRecords(64).xls());
    // Stored .xlsb entries put the flips into the binary records.
    fixtures.push_back(xlsbHealthyPackage(ZipBuilder::Method::Store).bytes());
    // An OpenDocument spreadsheet, stored and flat, so that the flips land in its XML.
    OdsBuilder ods;
    ods.image("Pictures/a.png", pngImage(3, 3)).image("Pictures/b.svg", {'<', 's', '/', '>'});
    ods.table("A")
        .sheetShape(odsFrame({"Pictures/b.svg", "Pictures/a.png"}, 1))
        .sheetShape(odsGroup({odsFrame({"Pictures/a.png"})}, 2))
        .cellShape(2, 3, odsFrame({"Pictures/a.png"}, 0))
        .cellShape(4, 1, odsChartFrame("Pictures/a.png"));
    ods.table("B").cellShape(0, 0, odsFrame({"https://example.com/x.png"}));
    fixtures.push_back(ods.package(ZipBuilder::Method::Store).bytes());
    const std::string flat = ods.flat();
    fixtures.push_back(Bytes(flat.begin(), flat.end()));
    for (const char* name :
         {"xlsx/xw_image05.xlsx", "xlsx/cx_ImageAnchors.xlsx", "xlsx/xw_chartsheet01.xlsx",
          "xlsx/poi_protect.xlsx", "xls/gen_dib_group_hidden.xls", "xls/password.xls",
          "xlsb/pass_protected.xlsb", "xlsb/picture.xlsb", "xlsb/Simple.xlsb",
          "xlsb/any_sheets.xlsb", "ods/lo_layers.ods", "ods/lo_layers.fods", "ods/lo_svg_frame.ods",
          "ods/lo_encrypted.ods"}) {
        fixtures.push_back(readFileBytes(std::string(QUILLFEN_TEST_DATA_DIR) + "/corpus/" + name));
    }
    // Every binary workbook of the corpus.
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(QUILLFEN_TEST_DATA_DIR) / "corpus" / "xls")) {
        fixtures.push_back(readFileBytes(entry.path().string()));
    }
    for (const Bytes& fixture : fixtures) {
        // QUILLFEN_SWEEP_STEPS widens the sweep for a long run by hand.
        const std::size_t steps = std::max<std::size_t>(
            97, std::size_t(qEnvironmentVariableIntValue("QUILLFEN_SWEEP_STEPS")));
        for (std::size_t i = 0; i < steps; ++i) {
            std::size_t at = fixture.size() * i / steps;
            openAndCopyEverything(Bytes(fixture.begin(), fixture.begin() + long(at)));
            Bytes flipped = fixture;
            flipped[at] ^= std::uint8_t(0x5A + i);
            openAndCopyEverything(flipped);
        }
    }
}

// Inputs the fuzzer once found troublesome stay here as fixtures: whole files under
// fuzz/workbook, worksheet parts (a chunk size byte, then the part) under fuzz/sheetscanner.
TEST(WorkbookDamage, FuzzFindingsStayFixed) {
    std::filesystem::path folder = std::filesystem::path(QUILLFEN_TEST_DATA_DIR) / "fuzz";
    int found = 0;
    for (const char* kind : {"workbook", "sheetscanner"}) {
        if (!std::filesystem::exists(folder / kind)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder / kind)) {
            SCOPED_TRACE(entry.path().filename().string());
            Bytes bytes = readFileBytes(entry.path().string());
            ++found;
            if (std::string(kind) == "workbook") {
                openAndCopyEverything(bytes);
            } else if (!bytes.empty()) {
                std::string part(bytes.begin() + 1, bytes.end());
                EXPECT_EQ(scanned(part, part.size() + 1), scanned(part, 1 + bytes[0] % 17));
            }
        }
    }
    EXPECT_GT(found, 0);
}

TEST(SheetScanner, AnswersTheSameHoweverThePartIsCut) {
    const std::vector<std::string> parts = {
        "\xFF\xFE<",  // a UTF-16 byte-order mark: the part is read whole instead
        "<worksheet><sheetData/><drawing r:id=\"rId7\"/></worksheet>",
        "<worksheet><!-- <drawing r:id=\"x\"/> --><a b='>'/><drawing r:id=\"a&amp;b\"/>",
        "<worksheet><sheetData><row/></sheetData></worksheet><!---->",
        "<worksheet><sheetData>",
    };
    for (const std::string& part : parts) {
        SCOPED_TRACE(part);
        std::string whole = scanned(part, part.size() + 1);
        for (std::size_t chunk = 1; chunk <= 9; ++chunk) {
            EXPECT_EQ(scanned(part, chunk), whole) << "chunks of " << chunk;
        }
    }
    EXPECT_EQ(scanned(parts[0], 100), "tree");
    EXPECT_EQ(scanned(parts[1], 100), "rId7");
    EXPECT_EQ(scanned(parts[2], 100), "a&b");
    EXPECT_EQ(scanned(parts[3], 100), "");
    EXPECT_EQ(scanned(parts[4], 100),
              "problem: the workbook is damaged (sheet: unexpected end of data)");
}
