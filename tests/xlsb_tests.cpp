// The .xlsb road of the engine: the sheet list from the binary workbook part, each binary
// worksheet's drawing relationship, and the XML drawings read as in any other package.
#include <gtest/gtest.h>

#include <functional>

#include "builders/xlsbbuilder.h"
#include "builders/xlsxbuilder.h"
#include "workbook/ooxml/xlsbparts.h"
#include "workbook/workbook.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

workbook::Result<std::unique_ptr<workbook::Workbook>> open(const Bytes& bytes) {
    return workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
}

// "Name:pictures" for each worksheet, then "! description" for each problem opened past.
std::vector<std::string> listing(const workbook::Workbook& book) {
    std::vector<std::string> out;
    for (const auto& sheet : book.worksheets()) {
        out.push_back(sheet.name + ":" + std::to_string(sheet.pictures.size()));
    }
    for (const auto& problem : book.problems()) {
        out.push_back("! " + problem.describe());
    }
    return out;
}

// Three worksheets, the first with a picture; the tests swap parts of it.
ZipBuilder threeSheets() {
    std::vector<SheetSpec> sheets = {{"A",
                                      "worksheet",
                                      drawingXml(pictureAnchor(1, 1, "rId1")),
                                      {{"rId1", "../media/a.png"}},
                                      {}},
                                     {"B", "worksheet", "", {}, {}},
                                     {"C", "worksheet", "", {}, {}}};
    return xlsbPackageWith(sheets).addBytes("xl/media/a.png", pngImage(3, 2));
}

// What a scanner makes of a part fed in chunks of the given size.
std::string scanned(const std::string& part, std::size_t chunk, bool worksheet) {
    workbook::XlsbSheetListScanner list("part");
    workbook::XlsbDrawingScanner drawing("part");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(part.data());
    bool going = true;
    for (std::size_t at = 0; going && at < part.size(); at += chunk) {
        std::size_t n = std::min(chunk, part.size() - at);
        going = worksheet ? drawing.feed(bytes + at, n) : list.feed(bytes + at, n);
    }
    if (going) {
        worksheet ? drawing.finish() : list.finish();
    }
    const auto& problem = worksheet ? drawing.problem() : list.problem();
    if (problem) {
        return "problem: " + problem->describe();
    }
    if (worksheet) {
        return drawing.drawingId().value_or("none");
    }
    std::string names;
    for (const auto& s : list.sheets()) {
        names += s.name + "=" + s.relationshipId + ";";
    }
    return names + std::to_string(list.skipped().size()) + " skipped";
}

}  // namespace

TEST(XlsbWorkbook, WorksheetsInOrderWithThePicturesOfTheirDrawings) {
    Bytes jpeg = jpegImage(8, 6);
    std::vector<SheetSpec> sheets = {
        {"Photos",
         "worksheet",
         drawingXml(pictureAnchor(0, 0, "rId1", "one") + pictureAnchor(2, 6, "rId2", "two") +
                    pictureAnchor(4, 9, "rId1", "again")),
         {{"rId1", "../media/image1.png"}, {"rId2", "../media/image2.jpg"}},
         {}},
        {"Chart",
         "chartsheet",
         drawingXml(pictureAnchor(0, 0, "rId1")),
         {{"rId1", "../media/image1.png"}},
         {}},
        {"Dialog", "dialogsheet", "", {}, {}},
        {"Macro", "xlMacrosheet", "", {}, {}},
        {"Plain", "worksheet", "", {}, {}},
        {"Last",
         "worksheet",
         drawingXml(pictureAnchor(1, 0, "rId1", "last")),
         {{"rId1", "../media/image1.png"}},
         {}},
    };
    // Stored and deflated entries both occur in real packages.
    for (auto method : {ZipBuilder::Method::Deflate, ZipBuilder::Method::Store}) {
        auto opened = open(xlsbPackageWith(sheets, method)
                               .addBytes("xl/media/image1.png", pngImage(4, 3), method)
                               .addBytes("xl/media/image2.jpg", jpeg, method)
                               .bytes());
        ASSERT_TRUE(opened) << opened.problem().describe();
        workbook::Workbook& book = *opened.value();
        EXPECT_EQ(listing(book), (std::vector<std::string>{"Photos:3", "Plain:0", "Last:1"}));
        const auto& photos = book.worksheets()[0].pictures;
        EXPECT_EQ(photos[1].name, "two");
        EXPECT_EQ(photos[1].cell, "C7");
        EXPECT_EQ(photos[1].format, workbook::ImageFormat::Jpeg);
        EXPECT_EQ(photos[1].width, 8);
        EXPECT_EQ(book.readPictureBytes(0, 1).value(), jpeg);
        EXPECT_EQ(book.readPictureBytes(0, 2).value(), pngImage(4, 3));
        EXPECT_EQ(book.readPictureBytes(2, 0).value(), pngImage(4, 3));
    }
}

TEST(XlsbWorkbook, SheetEntriesAreReadByTheRulesRealWritersNeed) {
    const std::string b = xlsbBundleSheet("B", "rId2", 2);
    const std::string c = xlsbBundleSheet("C", "rId3", 3);
    const std::string skipped4 =
        "! the workbook is damaged (xl/workbook.bin, record 4: a sheet entry that cannot be "
        "read; the sheet is left out)";
    struct Row {
        const char* what;
        std::string workbookPart;
        std::vector<std::string> listed;
    };
    std::vector<Row> rows = {
        {"older beta layout",
         xlsbWorkbookPart(xlsbBundleSheet("A", "rId1", 1, true) + b + c),
         {"A:1", "B:0", "C:0"}},
        {"standard layout with sheet id 0",
         xlsbWorkbookPart(xlsbBundleSheet("A", "rId1", 0) + b + c),
         {"A:1", "B:0", "C:0"}},
        {"beta layout with an impossible sheet id",
         xlsbWorkbookPart(xlsbBundleSheet("A", "rId1", 70000, true) + b + c),
         {"B:0", "C:0", skipped4}},
        {"bytes after the name",
         xlsbWorkbookPart(xlsbRecord(0x9C, xlsbU32(0) + xlsbU32(1) + xlsbWideString("rId1") +
                                               xlsbWideString("A") + "xy") +
                          b),
         {"B:0", skipped4}},
        {"name longer than its record",
         xlsbWorkbookPart(
             xlsbRecord(0x9C, xlsbU32(0) + xlsbU32(1) + xlsbWideString("rId1") + xlsbU32(9)) + b),
         {"B:0", skipped4}},
        {"entry larger than any sheet entry",
         xlsbWorkbookPart(xlsbRecord(0x9C, std::string(70000, '\0')) + c),
         {"C:0", skipped4}},
        {"null relationship id", xlsbWorkbookPart(xlsbBundleSheetWithoutId("A") + b), {"B:0"}},
        {"relationship id missing from the relationships",
         xlsbWorkbookPart(xlsbBundleSheet("A", "rId9") + c),
         {"C:0"}},
        // A byte scanner looking for 9C 01 would misfire on this record.
        {"unknown record holding the bytes of a sheet entry",
         xlsbRecord(0x817, xlsbBundleSheet("X", "rId1")) +
             xlsbWorkbookPart(xlsbBundleSheet("A", "rId1")),
         {"A:1"}},
        {"damage after the sheet list is never read",
         xlsbWorkbookPart(xlsbBundleSheet("A", "rId1")) + "\x9C\x01\x7F",
         {"A:1"}},
        {"sheet list without its begin and end records",
         xlsbRecord(0x83) + c + xlsbBundleSheet("A", "rId1"),
         {"C:0", "A:1"}},
        {"names in any script",
         xlsbWorkbookPart(xlsbBundleSheet("Σύνολο €", "rId1") + xlsbBundleSheet("😀", "rId2")),
         {"Σύνολο €:1", "😀:0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto opened = open(threeSheets().replace("xl/workbook.bin", row.workbookPart).bytes());
        ASSERT_TRUE(opened) << opened.problem().describe();
        EXPECT_EQ(listing(*opened.value()), row.listed);
    }
}

TEST(XlsbWorkbook, DrawingsAreFoundThroughTheWorksheetsRecord) {
    const std::string sheet = "xl/worksheets/sheet1.bin";
    struct Row {
        const char* what;
        std::function<void(ZipBuilder&)> change;
        std::vector<std::string> listed;
    };
    const std::vector<std::string> none = {"A:0", "B:0", "C:0"}, one = {"A:1", "B:0", "C:0"};
    std::vector<Row> rows = {
        {"no drawing record", [&](ZipBuilder& z) { z.replace(sheet, xlsbWorksheetPart("")); },
         none},
        // A part that is gone loses pictures: the workbook says so and reads the rest.
        {"drawing relationship missing",
         [&](ZipBuilder& z) { z.replace(sheet, xlsbWorksheetPart("rId77")); },
         {"A:0", "B:0", "C:0",
          "! the workbook is damaged (xl/worksheets/_rels/sheet1.bin.rels: the drawing's "
          "relationship rId77 is missing)"}},
        {"drawing part missing",
         [](ZipBuilder& z) { z.remove("xl/drawings/drawing1.xml"); },
         {"A:0", "B:0", "C:0",
          "! the workbook is damaged (xl/drawings/drawing1.xml: the part is missing)"}},
        {"worksheet part missing",
         [&](ZipBuilder& z) { z.remove(sheet); },
         {"B:0", "C:0",
          "! the workbook is damaged (xl/worksheets/sheet1.bin: the part is missing)"}},
        {"a second drawing record is not the sheet's",
         [&](ZipBuilder& z) {
             std::string part = xlsbWorksheetPart("rId10");
             part.insert(part.size() - 2, xlsbRecord(0x226, xlsbWideString("rId77")));
             z.replace(sheet, part);
         },
         one},
        {"worksheet damaged after its drawing",
         [&](ZipBuilder& z) { z.replace(sheet, xlsbWorksheetPart("rId10") + "\x9C"); }, one},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ZipBuilder z = threeSheets();
        row.change(z);
        auto opened = open(z.bytes());
        ASSERT_TRUE(opened) << opened.problem().describe();
        EXPECT_EQ(listing(*opened.value()), row.listed);
    }
}

TEST(XlsbWorkbook, EncryptedXlsbIsPasswordProtected) {
    auto opened = workbook::openWorkbook(std::string(QUILLFEN_TEST_DATA_DIR) +
                                         "/corpus/xlsb/pass_protected.xlsb");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.problem().describe(), "the workbook is password-protected");
}

TEST(XlsbRecordReader, AnswersTheSameHoweverThePartIsCut) {
    struct Row {
        std::string part;
        bool worksheet;
        std::string answer;
    };
    const std::vector<Row> rows = {
        {xlsbWorkbookPart(xlsbBundleSheet("A", "rId1", 0) + xlsbBundleSheet("B", "r2", 2, true) +
                          xlsbBundleSheetWithoutId("C") + xlsbRecord(0x9C, "??")),
         false, "A=rId1;B=r2;C=;1 skipped"},
        {xlsbRecord(0x83) + "\x8F", false,
         "problem: the workbook is damaged (part, record 2: the record header is cut short)"},
        {xlsbRecord(0x83) + "\x9C\x01\x05" + "abc", false,
         "problem: the workbook is damaged (part, record 2: the record runs past the end of the "
         "part)"},
        {xlsbWorksheetPart("rId3"), true, "rId3"},
        {xlsbWorksheetPart(""), true, "none"},
        {xlsbRecord(0x81) + xlsbRecord(0x7, std::string(2'100'000, 'z')) +
             xlsbRecord(0x226, xlsbWideString("rIdΩ")),
         true, "rIdΩ"},
        {xlsbRecord(0x81) + "\x02\xFF\xFF", true,
         "problem: the workbook is damaged (part, record 2: the record header is cut short)"},
        {xlsbRecord(0x226, xlsbU32(3) + "r"), true,
         "problem: the workbook is damaged (part, record 1: the drawing's relationship id runs "
         "past the end of its record)"},
        // Nothing after the sheet's end is read.
        {xlsbRecord(0x82) + xlsbRecord(0x226, xlsbWideString("late")), true, "none"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(scanned(row.part, row.part.size() + 1, row.worksheet), row.answer);
        for (std::size_t chunk = 1; chunk <= 9; ++chunk) {
            EXPECT_EQ(scanned(row.part, chunk, row.worksheet), row.answer) << "chunks of " << chunk;
        }
    }
}
