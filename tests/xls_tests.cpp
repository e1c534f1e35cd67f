// Binary workbooks (.xls) built in code: which shapes are pictures, in what order, with which
// bytes, however the records are cut; and what each kind of damage gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "builders/biffbuilder.h"
#include "builders/cfbbuilder.h"
#include "builders/xlsxbuilder.h"
#include "workbook/compoundfile.h"
#include "workbook/dib.h"
#include "workbook/workbook.h"
#include "workbook/xlsworkbook.h"

using namespace testing_support;
using workbook::ImageFormat;
using workbook::ProblemKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPng = pngImage(6, 4);
const Bytes kJpeg = jpegImage(5, 7);
const Bytes kDib = dibImage(3, 2);
const Bytes kWmf = wmfImage();

// Blips 1 PNG, 2 JPEG, 3 DIB, 4 WMF, 5 empty. Worksheet "Shapes" holds, in z-order: a PNG,
// a group of two pictures, an OLE object, a text box, a DIB at C6, an embedded chart with a
// picture of its own, a WMF; then a chart sheet, a hidden worksheet with the JPEG, a dialog
// sheet.
BiffBuilder richWorkbook() {
    BiffBuilder b;
    b.blip(BiffBuilder::kPng, kPng)
        .blip(BiffBuilder::kJpeg, kJpeg)
        .blip(BiffBuilder::kDib, kDib)
        .blip(BiffBuilder::kWmf, kWmf)
        .emptyBlipSlot();
    b.worksheet("Shapes")
        .picture(1)
        .group({2, 1})
        .oleObject(4)
        .textBox("Note")
        .picture(3, 2, 5)
        .chart()
        .picture(4);
    b.chartsheet("Chart").worksheet("Hidden", 1).picture(2).dialogsheet("Dialog");
    return b;
}

std::unique_ptr<workbook::Workbook> openOk(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    if (!opened) {
        ADD_FAILURE() << "did not open: " << opened.problem().describe();
        return nullptr;
    }
    return std::move(opened.value());
}

std::string problemsOf(const workbook::Workbook& book) {
    std::string text;
    for (const auto& p : book.problems()) {
        text += p.describe() + "\n";
    }
    return text;
}

std::string describeOpen(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    return opened ? "opened" : opened.problem().describe();
}

}  // namespace

TEST(XlsPictures, WorksheetsAndTopLevelPicturesHoweverTheRecordsAreCut) {
    struct Layout {
        const char* name;
        std::function<Bytes(BiffBuilder)> make;
    };
    const std::vector<Layout> layouts = {
        {"as written", [](BiffBuilder b) { return b.xls(); }},
        {"drawing continued after Obj, TxO and the chart",
         [](BiffBuilder b) { return b.drawingInContinues().xls(); }},
        {"blip store split over CONTINUEs",
         [](BiffBuilder b) { return b.drawingGroupRecords(97).xls(); }},
        {"blip store split over repeated group records",
         [](BiffBuilder b) { return b.drawingGroupRecords(500, true).xls(); }},
        {"allocation table partly listed in a DIFAT sector",
         [](BiffBuilder b) {
             return CfbBuilder()
                 .fatSectorsInHeader(1)
                 .stream("Filler", Bytes(70000, 7))
                 .stream("Workbook", b.stream())
                 .bytes();
         }},
        {"stream in the mini stream",
         [](BiffBuilder b) {
             // Under 4096 bytes, the stream lives in 64-byte mini sectors.
             Bytes stream = b.stream();
             EXPECT_LT(stream.size(), 4096u);
             return CfbBuilder()
                 .stream("\x05SummaryInformation", Bytes(5000, 1))
                 .stream("BOOK", stream)
                 .bytes();
         }},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        auto book = openOk(layout.make(richWorkbook()));
        ASSERT_TRUE(book);
        EXPECT_EQ(problemsOf(*book), "");
        ASSERT_EQ(book->worksheets().size(), 2u);
        EXPECT_EQ(book->worksheets()[0].name, "Shapes");
        EXPECT_EQ(book->worksheets()[1].name, "Hidden");
        const auto& shapes = book->worksheets()[0].pictures;
        ASSERT_EQ(shapes.size(), 3u);
        EXPECT_EQ(shapes[0].format, ImageFormat::Png);
        EXPECT_EQ(shapes[1].format, ImageFormat::Dib);
        EXPECT_EQ(shapes[1].width, 3);
        EXPECT_EQ(shapes[1].height, 2);
        EXPECT_EQ(shapes[1].cell, "C6");
        EXPECT_EQ(shapes[2].format, ImageFormat::Wmf);
        EXPECT_EQ(shapes[2].width, 200);  // from the metafile header's size in EMUs
        EXPECT_EQ(book->readPictureBytes(0, 0).value(), kPng);
        EXPECT_EQ(book->readPictureBytes(0, 1).value(), kDib);
        EXPECT_EQ(book->readPictureBytes(0, 2).value(), kWmf);
        ASSERT_EQ(book->worksheets()[1].pictures.size(), 1u);
        EXPECT_EQ(book->worksheets()[1].pictures[0].format, ImageFormat::Jpeg);
        EXPECT_EQ(book->readPictureBytes(1, 0).value(), kJpeg);
    }
}

TEST(XlsPictures, LinkedAndMissingBlipsAreCountedWithoutBytes) {
    BiffBuilder b;
    b.blip(BiffBuilder::kPng, kPng).emptyBlipSlot();
    b.worksheet("S").linkedPicture("C:\\pics\\logo.png").picture(2).picture(9).picture(1);
    auto book = openOk(b.xls());
    ASSERT_TRUE(book);
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 4u);
    EXPECT_TRUE(pictures[0].linked);
    EXPECT_EQ(pictures[0].link, "C:\\pics\\logo.png");
    EXPECT_EQ(book->readPictureBytes(0, 0).problem().kind, ProblemKind::LinkedImage);
    EXPECT_EQ(book->readPictureBytes(0, 1).problem().describe(),
              "the workbook is damaged (worksheet 'S': picture 'Picture' shows blip 2, which "
              "the blip store does not hold)");
    EXPECT_FALSE(book->readPictureBytes(0, 2));
    EXPECT_EQ(book->readPictureBytes(0, 3).value(), kPng);
}

TEST(XlsDamage, EachDefectGivesItsKindAndPlace) {
    struct Row {
        const char* defect;
        std::function<void(Bytes&, const CfbLayout&)> damage;
        std::string described;
    };
    // The stream is 4096 bytes or more, so it has its own sector chain; entry 1 is Workbook.
    BiffBuilder big = richWorkbook();
    big.blip(BiffBuilder::kJpeg, Bytes(6000, 0x42));
    const std::size_t wbEntry = 128;
    std::vector<Row> rows = {
        {"sector chain loops",
         [](Bytes& b, const CfbLayout& l) {
             put32(b, l.fatOffset + 4 * (l.firstSector[0] + 1), l.firstSector[0]);
         },
         "the workbook is damaged (compound file: the chain of stream Workbook loops)"},
        {"sector past the end",
         [](Bytes& b, const CfbLayout& l) { put32(b, l.fatOffset + 4 * l.firstSector[0], 90000); },
         "the workbook is damaged (compound file: the chain of stream Workbook leaves the "
         "file)"},
        {"directory chain loops",
         [](Bytes& b, const CfbLayout& l) {
             std::uint32_t dir = std::uint32_t(l.directoryOffset / 512 - 1);
             put32(b, l.fatOffset + 4 * dir, dir);
         },
         "the workbook is damaged (compound file: the chain of the directory loops)"},
        {"major version 0", [](Bytes& b, const CfbLayout&) { put16(b, 0x1A, 0); },
         "the workbook is damaged (compound file: bad header)"},
        {"header cut short", [](Bytes& b, const CfbLayout&) { b.resize(300); },
         "the workbook is damaged (compound file: the header is cut short)"},
        {"no workbook stream",
         [wbEntry](Bytes& b, const CfbLayout& l) { b[l.directoryOffset + wbEntry] = 'X'; },
         "the file is not a workbook (it is a compound file without a workbook)"},
        {"stream does not start with BOF",
         [](Bytes& b, const CfbLayout& l) { b[512 * (l.firstSector[0] + 1)] = 0x10; },
         "the workbook is damaged (stream Workbook: the stream does not start with a BOF "
         "record)"},
        {"BIFF5 workbook",
         [](Bytes& b, const CfbLayout& l) { put16(b, 512 * (l.firstSector[0] + 1) + 4, 0x0500); },
         "this workbook format is not supported yet (an older workbook format, BIFF5)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.defect);
        CfbLayout layout;
        Bytes bytes = CfbBuilder().stream("Workbook", big.stream()).bytes(&layout);
        row.damage(bytes, layout);
        EXPECT_EQ(describeOpen(bytes), row.described);
    }
    BiffBuilder encrypted = richWorkbook();
    encrypted.globalsRecord(0x002F, {1, 0, 1, 0, 1, 0});
    EXPECT_EQ(describeOpen(encrypted.xls()), "the workbook is password-protected");
    EXPECT_EQ(describeOpen({0x09, 0x04, 6, 0, 0, 0, 0x10, 0, 0, 0}),
              "this workbook format is not supported yet (an older workbook format, BIFF2 to "
              "BIFF4)");
}

TEST(XlsDamage, DamageInsideTheWorkbookKeepsWhatItDoesNotTouch) {
    // A directory whose sibling links loop still lists the workbook stream.
    CfbLayout layout;
    Bytes bytes = CfbBuilder().stream("Workbook", richWorkbook().stream()).bytes(&layout);
    put32(bytes, layout.directoryOffset + 128 + 0x48, 1);
    auto book = openOk(bytes);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 3u);

    // A drawing whose record runs past its container: that worksheet says so, keeps the
    // shapes read before it; the other worksheet keeps all of its pictures.
    BiffBuilder two;
    two.blip(BiffBuilder::kPng, kPng);
    two.worksheet("A").picture(1).picture(1).worksheet("B").picture(1);
    Bytes stream = two.stream();
    // The second picture's FSP record (F00A, a picture frame) in sheet A: an absurd length.
    const Bytes fsp = {0xB2, 0x04, 0x0A, 0xF0};
    auto first = std::search(stream.begin(), stream.end(), fsp.begin(), fsp.end());
    auto second = std::search(first + 4, stream.end(), fsp.begin(), fsp.end());
    put32(stream, std::size_t(second - stream.begin()) + 4, 0x7FFFFFFF);
    book = openOk(CfbBuilder().stream("Workbook", stream).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(book->worksheets()[1].pictures.size(), 1u);
    EXPECT_EQ(problemsOf(*book),
              "the workbook is damaged (worksheet 'A' drawing: a record at byte 182 runs past its "
              "container)\n");

    // A last record longer than what remains of the stream.
    stream = two.stream();
    put16(stream, stream.size() - 2, 200);
    book = openOk(CfbBuilder().stream("Workbook", stream).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[1].pictures.size(), 1u);
    EXPECT_NE(problemsOf(*book).find("worksheet 'B', record"), std::string::npos)
        << problemsOf(*book);
}

TEST(Dib, FileHeaderPointsPastColourTableAndMasks) {
    auto header = [](std::uint32_t size, std::uint16_t bits, std::uint32_t compression,
                     std::uint32_t used) {
        Bytes b(size + 2048, 0);
        put32(b, 0, size);
        if (size == 12) {
            put16(b, 4, 4);
            put16(b, 6, 4);
            put16(b, 10, bits);
        } else {
            put32(b, 4, 4);
            put32(b, 8, std::uint32_t(-4));  // top-down
            put16(b, 14, bits);
            put32(b, 16, compression);
            put32(b, 32, used);
        }
        return b;
    };
    auto cut = [](Bytes b, std::size_t size) {
        b.resize(size);
        return b;
    };
    struct Row {
        const char* name;
        Bytes dib;
        std::uint32_t offBits;  // 0: unusable
    };
    const std::vector<Row> rows = {
        {"24 bits", header(40, 24, 0, 0), 54},
        {"8 bits, full table", header(40, 8, 0, 0), 54 + 1024},
        {"4 bits, 3 colours used", header(40, 4, 0, 3), 54 + 12},
        {"16 bits with masks", header(40, 16, 3, 0), 54 + 12},
        {"v5 header keeps its masks", header(124, 32, 3, 0), 14 + 124},
        {"core header, 8 bits", header(12, 8, 0, 0), 14 + 12 + 768},
        {"unknown header size", header(20, 24, 0, 0), 0},
        {"odd bit depth", header(40, 7, 0, 0), 0},
        {"colour table past the end", cut(header(40, 8, 0, 0), 100), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bmp = workbook::bmpFileFromDib(row.dib.data(), row.dib.size());
        if (row.offBits == 0) {
            EXPECT_TRUE(bmp.empty());
            continue;
        }
        ASSERT_EQ(bmp.size(), row.dib.size() + 14);
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(bmp[2] | (bmp[3] << 8) | (bmp[4] << 16), int(bmp.size()));
        EXPECT_EQ(std::uint32_t(bmp[10] | (bmp[11] << 8)), row.offBits);
        EXPECT_TRUE(std::equal(row.dib.begin(), row.dib.end(), bmp.begin() + 14));
    }
}

// Inputs the fuzzers once found troublesome: compound files under fuzz/compoundfile, whose
// every stream must read whole, and workbook streams under fuzz/xlsstream.
TEST(XlsDamage, FuzzFindingsStayFixed) {
    const std::filesystem::path folder = std::filesystem::path(QUILLFEN_TEST_DATA_DIR) / "fuzz";
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "compoundfile")) {
        SCOPED_TRACE(entry.path().filename().string());
        ++found;
        workbook::MemorySource source(
            std::make_shared<const Bytes>(readFileBytes(entry.path().string())));
        auto file = workbook::CompoundFile::open(source);
        for (std::size_t i = 0; file && i < file.value().entries().size(); ++i) {
            if (auto stream = file.value().openStream(i); stream) {
                Bytes all(std::size_t(stream.value().source->size()));
                EXPECT_TRUE(stream.value().source->read(0, all.data(), all.size()));
            }
        }
    }
    if (std::filesystem::exists(folder / "xlsstream")) {
        for (const auto& entry : std::filesystem::directory_iterator(folder / "xlsstream")) {
            SCOPED_TRACE(entry.path().filename().string());
            ++found;
            auto opened =
                workbook::XlsWorkbook::openStream(std::make_unique<workbook::MemorySource>(
                    std::make_shared<const Bytes>(readFileBytes(entry.path().string()))));
            for (std::size_t s = 0; opened && s < opened.value()->worksheets().size(); ++s) {
                for (std::size_t p = 0; p < opened.value()->worksheets()[s].pictures.size(); ++p) {
                    (void)opened.value()->readPictureBytes(s, p);
                }
            }
        }
    }
    EXPECT_GT(found, 0);
}
