// OpenDocument spreadsheets built in code: which frames are pictures, in what order, anchored
// where, with which bytes; packages and flat documents alike; and what each kind of damage or
// other document gives.
#include <gtest/gtest.h>

#include <functional>

#include "builders/odsbuilder.h"
#include "builders/xlsxbuilder.h"
#include "workbook/workbook.h"

using namespace testing_support;
using workbook::ImageFormat;
using workbook::ProblemKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPng = pngImage(6, 4);
const Bytes kJpeg = jpegImage(5, 7);
const Bytes kGif = gifImage();
const std::string kSvgText =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"><rect width=\"8\" "
    "height=\"8\"/></svg>";
const Bytes kSvg(kSvgText.begin(), kSvgText.end());

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

workbook::Result<std::unique_ptr<workbook::Workbook>> openBytes(const Bytes& bytes) {
    return workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
}

std::string describeOpen(const Bytes& bytes) {
    auto opened = openBytes(bytes);
    return opened ? "opened" : opened.problem().describe();
}

// Table "Shapes": on the sheet a PNG at z 2, then a JPEG without a z-index; in cell C7 a GIF at
// z 0, in B2 the PNG again at z 1. Then a table caching an external reference, and "Empty".
OdsBuilder layeredSpreadsheet() {
    OdsBuilder b;
    b.image("Pictures/a.png", kPng).image("Pictures/b.jpg", kJpeg).image("Pictures/c.gif", kGif);
    b.table("Shapes")
        .sheetShape(odsFrame({"Pictures/a.png"}, 2, "Top"))
        .sheetShape(odsFrame({"Pictures/b.jpg"}, -1, "Unlayered"))
        .cellShape(2, 6, odsFrame({"Pictures/c.gif"}, 0, "Bottom"))
        .cellShape(1, 1, odsFrame({"Pictures/a.png"}, 1, "Middle"));
    b.table("'file:///data/other.ods'#Sheet1")
        .tableMarkup("<table:table-source xlink:href=\"file:///data/other.ods\"/>")
        .sheetShape(odsFrame({"Pictures/a.png"}, 0));
    b.table("Empty");
    return b;
}

}  // namespace

TEST(OdsPictures, FramesOnTheSheetAndInCellsComeInDrawingOrder) {
    const OdsBuilder b = layeredSpreadsheet();
    const std::vector<std::pair<const char*, Bytes>> forms = {
        {"package", b.bytes()},
        {"package with stored entries", b.package(ZipBuilder::Method::Store).bytes()},
        {"flat document", bytesOf(b.flat())},
    };
    for (const auto& [form, bytes] : forms) {
        SCOPED_TRACE(form);
        auto opened = openBytes(bytes);
        ASSERT_TRUE(opened) << opened.problem().describe();
        auto& book = *opened.value();
        EXPECT_TRUE(book.problems().empty());
        ASSERT_EQ(book.worksheets().size(), 2u);
        EXPECT_EQ(book.worksheets()[1].name, "Empty");
        EXPECT_TRUE(book.worksheets()[1].pictures.empty());
        const auto& pictures = book.worksheets()[0].pictures;
        ASSERT_EQ(pictures.size(), 4u);
        struct Want {
            const char* name;
            const char* cell;
            ImageFormat format;
            const Bytes& bytes;
        };
        const Want wants[] = {{"Bottom", "C7", ImageFormat::Gif, kGif},
                              {"Middle", "B2", ImageFormat::Png, kPng},
                              {"Top", "", ImageFormat::Png, kPng},
                              {"Unlayered", "", ImageFormat::Jpeg, kJpeg}};
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(wants[i].name);
            EXPECT_EQ(pictures[i].name, wants[i].name);
            EXPECT_EQ(pictures[i].description, std::string(wants[i].name) + " & more");
            EXPECT_EQ(pictures[i].cell, wants[i].cell);
            EXPECT_EQ(pictures[i].format, wants[i].format);
            EXPECT_FALSE(pictures[i].linked);
            EXPECT_EQ(book.readPictureBytes(0, i).value(), wants[i].bytes);
        }
        EXPECT_EQ(pictures[1].width, 6);
        EXPECT_EQ(pictures[3].height, 7);
        // One image shown twice is one image, in a package; a flat document holds it twice.
        EXPECT_EQ(pictures[1].imageId == pictures[2].imageId, form[0] == 'p');
        EXPECT_NE(pictures[0].imageId, pictures[1].imageId);
    }
}

TEST(OdsPictures, OnlyFramesShowingAnImageOfTheirOwnArePictures) {
    struct Row {
        const char* what;
        std::string shape;
        int pictures;
        ImageFormat format;
        const Bytes* bytes;          // the copy's bytes, when it copies
        std::string problem;         // the copy's problem, when it does not
        const char* link = nullptr;  // the link of a linked picture
    };
    const std::vector<Row> rows = {
        {"an SVG with its PNG rendering", odsFrame({"Pictures/s.svg", "Pictures/a.png"}), 1,
         ImageFormat::Png, &kPng, ""},
        {"an SVG alone", odsFrame({"Pictures/s.svg"}), 1, ImageFormat::Svg, &kSvg, ""},
        {"a path that starts at the package", odsFrame({"./Pictures/a.png"}), 1, ImageFormat::Png,
         &kPng, ""},
        {"a picture with a hyperlink",
         "<draw:a xlink:href=\"https://example.com/\">" + odsFrame({"Pictures/a.png"}) +
             "</draw:a>",
         1, ImageFormat::Png, &kPng, ""},
        {"a chart and its replacement", odsChartFrame("./ObjectReplacements/Object 1"), 0,
         ImageFormat::Unknown, nullptr, ""},
        {"an OLE object",
         "<draw:frame><draw:object-ole xlink:href=\"./Object 2\"/><draw:image "
         "xlink:href=\"Pictures/a.png\"/></draw:frame>",
         0, ImageFormat::Unknown, nullptr, ""},
        {"a text box",
         "<draw:frame><draw:text-box><text:p>hi</text:p></draw:text-box></draw:frame>", 0,
         ImageFormat::Unknown, nullptr, ""},
        {"pictures in a group",
         odsGroup({odsFrame({"Pictures/a.png"}), odsGroup({odsFrame({"Pictures/a.png"})})}), 0,
         ImageFormat::Unknown, nullptr, ""},
        {"a linked web image", odsFrame({"https://example.com/logo.png"}), 1, ImageFormat::Unknown,
         nullptr,
         "the picture is only linked and the workbook holds no image for it (content.xml: "
         "https://example.com/logo.png)",
         "https://example.com/logo.png"},
        {"a linked file beside the package", odsFrame({"../logo.png"}), 1, ImageFormat::Unknown,
         nullptr,
         "the picture is only linked and the workbook holds no image for it (content.xml: "
         "../logo.png)",
         "../logo.png"},
        {"an image the package lacks", odsFrame({"Pictures/gone.png"}), 1, ImageFormat::Unknown,
         nullptr, "the workbook is damaged (content.xml: the image Pictures/gone.png is missing)"},
        {"a frame whose image has no link",
         "<draw:frame draw:name=\"Empty\"><draw:image/></draw:frame>", 1, ImageFormat::Unknown,
         nullptr, "the workbook is damaged (content.xml: the picture 'Empty' has no image)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        OdsBuilder b;
        b.image("Pictures/a.png", kPng).image("Pictures/s.svg", kSvg);
        b.table("S").sheetShape(row.shape).cellShape(3, 3, odsFrame({"Pictures/a.png"}, -1));
        auto opened = openBytes(b.bytes());
        ASSERT_TRUE(opened) << opened.problem().describe();
        auto& book = *opened.value();
        const auto& pictures = book.worksheets()[0].pictures;
        // The frame in D4 always follows, so nothing ahead of it is miscounted.
        ASSERT_EQ(pictures.size(), std::size_t(row.pictures + 1));
        EXPECT_EQ(pictures.back().cell, "D4");
        if (row.pictures == 0) {
            continue;
        }
        EXPECT_EQ(pictures[0].format, row.format);
        EXPECT_EQ(pictures[0].linked, row.link != nullptr);
        EXPECT_EQ(pictures[0].link, row.link != nullptr ? row.link : "");
        auto copied = book.readPictureBytes(0, 0);
        if (row.bytes != nullptr) {
            EXPECT_EQ(copied.value(), *row.bytes);
        } else {
            ASSERT_FALSE(copied);
            EXPECT_EQ(copied.problem().describe(), row.problem);
        }
    }
}

TEST(OdsPackages, OtherDocumentsProtectionAndDamageAreTold) {
    struct Row {
        const char* what;
        std::function<Bytes()> make;
        std::string described;  // "opened", or what the user reads
    };
    auto cutContent = [](std::size_t keepTables) {
        OdsBuilder b = layeredSpreadsheet();
        std::string content = b.contentXml();
        std::size_t at = 0;
        for (std::size_t i = 0; i <= keepTables; ++i) {
            at = content.find("<table:table ", at + 1);
        }
        return b.package().replace("content.xml", content.substr(0, at + 40)).bytes();
    };
    const std::vector<Row> rows = {
        {"encrypted", [] { return layeredSpreadsheet().encrypted().bytes(); },
         "the workbook is password-protected"},
        {"text document",
         [] {
             return layeredSpreadsheet()
                 .mimetype("application/vnd.oasis.opendocument.text")
                 .bytes();
         },
         "the file is not a workbook (it is a word-processing document)"},
        {"presentation",
         [] {
             return layeredSpreadsheet()
                 .mimetype("application/vnd.oasis.opendocument.presentation")
                 .bytes();
         },
         "the file is not a workbook (it is a presentation)"},
        {"flat text document",
         [] {
             return bytesOf(
                 layeredSpreadsheet().mimetype("application/vnd.oasis.opendocument.text").flat());
         },
         "the file is not a workbook (it is a word-processing document)"},
        {"spreadsheet template",
         [] {
             return layeredSpreadsheet()
                 .mimetype("application/vnd.oasis.opendocument.spreadsheet-template")
                 .bytes();
         },
         "opened"},
        {"no mimetype entry",
         [] { return layeredSpreadsheet().package().remove("mimetype").bytes(); }, "opened"},
        {"other XML", [] { return bytesOf("<?xml version=\"1.0\"?><html><body/></html>"); },
         "the file is not a workbook (it is neither a zip package nor a compound file)"},
        {"content missing",
         [] { return layeredSpreadsheet().package().remove("content.xml").bytes(); },
         "the workbook is damaged (content.xml: the part is missing)"},
        {"content cut in the first table", [cutContent] { return cutContent(0); },
         "the workbook is damaged (content.xml: unexpected end of data)"},
        {"content with a stray end tag",
         [] {
             return layeredSpreadsheet()
                 .package()
                 .replace("content.xml", "<office:document-content></table:table>")
                 .bytes();
         },
         "the workbook is damaged (content.xml: an end tag that does not match its start tag at "
         "byte 25)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(describeOpen(row.make()), row.described);
    }
}

TEST(OdsPackages, DamageAfterWholeTablesKeepsThem) {
    OdsBuilder b = layeredSpreadsheet();
    std::string content = b.contentXml();
    content.resize(content.find("<table:table table:name=\"Empty\"") + 30);
    auto opened = openBytes(b.package().replace("content.xml", content).bytes());
    ASSERT_TRUE(opened) << opened.problem().describe();
    auto& book = *opened.value();
    ASSERT_EQ(book.worksheets().size(), 1u);
    EXPECT_EQ(book.worksheets()[0].pictures.size(), 4u);
    ASSERT_EQ(book.problems().size(), 1u);
    EXPECT_EQ(book.problems()[0].describe(),
              "the workbook is damaged (content.xml: unexpected end of data)");
    // A missing manifest is damage the package opens past.
    auto bare = openBytes(layeredSpreadsheet().package().remove("META-INF/manifest.xml").bytes());
    ASSERT_TRUE(bare);
    ASSERT_EQ(bare.value()->problems().size(), 1u);
    EXPECT_EQ(bare.value()->problems()[0].describe(),
              "the workbook is damaged (META-INF/manifest.xml: the part is missing)");
}
