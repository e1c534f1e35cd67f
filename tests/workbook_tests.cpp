// The workbook engine on packages built in code: which shapes are pictures, in what order,
// with which bytes; how the package is found; and what each kind of damage gives.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "workbook/workbook.h"

using namespace testing_support;
using workbook::ImageFormat;
using workbook::ProblemKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<workbook::Workbook> openOk(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    if (!opened) {
        ADD_FAILURE() << "did not open: " << opened.problem().describe();
        return nullptr;
    }
    return std::move(opened.value());
}

std::vector<std::string> pictureNames(const workbook::Workbook& book) {
    std::vector<std::string> names;
    for (const auto& sheet : book.worksheets()) {
        for (const auto& p : sheet.pictures) {
            names.push_back(sheet.name + ":" + p.name);
        }
    }
    return names;
}

// One worksheet whose drawing holds the anchors, with image relationships rId1 -> red PNG,
// rId2 -> blue PNG.
Bytes oneDrawing(const std::string& anchors) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(anchors),
                    {{"rId1", "../media/image1.png"}, {"rId2", "../media/image2.png"}},
                    {}};
    return packageWith({sheet})
        .addBytes("xl/media/image1.png", pngImage(4, 3, 0xff0000))
        .addBytes("xl/media/image2.png", pngImage(5, 6, 0x0000ff))
        .bytes();
}

std::string alternate(const std::string& choiceAttributes, const std::string& choice,
                      const std::string& fallback) {
    return "<mc:AlternateContent><mc:Choice " + choiceAttributes + ">" + choice +
           "</mc:Choice><mc:Fallback>" + fallback + "</mc:Fallback></mc:AlternateContent>";
}

std::string anchorAround(const std::string& inner) {
    return "<xdr:oneCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff>"
           "<xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx=\"1\" cy=\"1\"/>" +
           inner + "<xdr:clientData/></xdr:oneCellAnchor>";
}

const std::string kA14 = "xmlns:a14=\"http://schemas.microsoft.com/office/drawing/2010/main\"";

}  // namespace

TEST(WorkbookPictures, WorksheetsInOrderWithEveryPictureAsStored) {
    QTemporaryDir folder;
    Bytes png = pngImage(40, 30), jpeg = jpegImage(64, 48), gif = gifImage(), bmp = bmpImage(7, 5);
    Bytes bytes = XlsxBuilder()
                      .worksheet("First")
                      .picture(6, 2, png, "a chart of sales")
                      .picture(10, 0, jpeg)
                      .worksheet("Empty")
                      .chartsheet("Chart")
                      .worksheet("Hidden", true)
                      .picture(0, 0, gif)
                      .picture(1, 27, bmp)
                      .worksheet("Twice")
                      .picture(0, 0, png)
                      .picture(5, 5, png)
                      .bytes(folder.path().toStdString());
    auto book = openOk(bytes);
    ASSERT_TRUE(book);
    const auto& sheets = book->worksheets();
    ASSERT_EQ(sheets.size(), 4u);  // the chart sheet is not a worksheet
    EXPECT_EQ(sheets[0].name, "First");
    EXPECT_EQ(sheets[1].name, "Empty");
    EXPECT_EQ(sheets[2].name, "Hidden");
    EXPECT_EQ(sheets[3].name, "Twice");
    EXPECT_EQ(sheets[1].pictures.size(), 0u);

    const auto& first = sheets[0].pictures;
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].format, ImageFormat::Png);
    EXPECT_EQ(first[0].width, 40);
    EXPECT_EQ(first[0].height, 30);
    EXPECT_EQ(first[0].cell, "C7");
    EXPECT_EQ(first[0].description, "a chart of sales");
    EXPECT_EQ(first[0].byteCount, png.size());
    EXPECT_EQ(first[1].format, ImageFormat::Jpeg);
    EXPECT_EQ(first[1].width, 64);
    EXPECT_EQ(first[1].cell, "A11");
    ASSERT_EQ(sheets[2].pictures.size(), 2u);
    EXPECT_EQ(sheets[2].pictures[0].format, ImageFormat::Gif);
    EXPECT_EQ(sheets[2].pictures[1].format, ImageFormat::Bmp);
    EXPECT_EQ(sheets[2].pictures[1].cell, "AB2");

    EXPECT_EQ(book->readPictureBytes(0, 0).value(), png);
    EXPECT_EQ(book->readPictureBytes(0, 1).value(), jpeg);
    EXPECT_EQ(book->readPictureBytes(2, 0).value(), gif);
    EXPECT_EQ(book->readPictureBytes(2, 1).value(), bmp);
    // The same image twice is two pictures with the same bytes.
    ASSERT_EQ(sheets[3].pictures.size(), 2u);
    EXPECT_EQ(book->readPictureBytes(3, 0).value(), png);
    EXPECT_EQ(book->readPictureBytes(3, 1).value(), png);
}

TEST(WorkbookPictures, BackgroundAndHeaderImagesAreNotPictures) {
    QTemporaryDir folder;
    // The background sits on a worksheet of its own: libxlsxwriter 1.1.4 numbers the image
    // relationships wrongly when a background and pictures share a worksheet.
    Bytes bytes = XlsxBuilder()
                      .worksheet("Pictures")
                      .picture(2, 2, jpegImage(10, 10))
                      .worksheet("Header")
                      .headerImage(pngImage(9, 9, 0xff00ff))
                      .picture(1, 1, jpegImage(11, 11))
                      .worksheet("Background")
                      .background(pngImage(8, 8, 0x00ff00))
                      .bytes(folder.path().toStdString());
    auto book = openOk(bytes);
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets().size(), 3u);
    ASSERT_EQ(book->worksheets()[1].pictures.size(), 1u);
    EXPECT_EQ(book->worksheets()[1].pictures[0].width, 11);
    EXPECT_EQ(book->worksheets()[2].pictures.size(), 0u);
}

TEST(WorkbookPictures, OnlyTopLevelPictureShapesInDocumentOrderAcrossAnchorKinds) {
    std::string group =
        "<xdr:twoCellAnchor><xdr:from><xdr:col>0</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>0"
        "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:grpSp><xdr:grpSp>" +
        picElement("rId1", "nested") + "</xdr:grpSp>" + picElement("rId1", "grouped") +
        "</xdr:grpSp><xdr:clientData/></xdr:twoCellAnchor>";
    std::string chart =
        "<xdr:absoluteAnchor><xdr:pos x=\"0\" y=\"0\"/><xdr:ext cx=\"1\" cy=\"1\"/>"
        "<xdr:graphicFrame><a:graphic><a:graphicData uri=\"chart\"/></a:graphic>"
        "</xdr:graphicFrame><xdr:clientData/></xdr:absoluteAnchor>";
    std::string pictureFill =
        "<xdr:twoCellAnchor><xdr:from><xdr:col>0</xdr:col><xdr:row>0</xdr:row></xdr:from>"
        "<xdr:sp><xdr:spPr><a:blipFill><a:blip r:embed=\"rId1\"/></a:blipFill></xdr:spPr>"
        "</xdr:sp><xdr:clientData/></xdr:twoCellAnchor>";
    std::string absolute =
        "<xdr:absoluteAnchor><xdr:pos x=\"0\" y=\"0\"/><xdr:ext cx=\"1\" "
        "cy=\"1\"/>" +
        picElement("rId2", "absolute") + "<xdr:clientData/></xdr:absoluteAnchor>";
    std::string hidden = pictureAnchor(3, 3, "rId1", "hidden");
    hidden.replace(hidden.find("id=\"2\""), 6, "id=\"2\" hidden=\"1\"");
    auto book =
        openOk(oneDrawing(pictureAnchor(0, 0, "rId1", "first") + group + chart + pictureFill +
                          absolute + anchorAround(picElement("rId2", "one")) + hidden));
    ASSERT_TRUE(book);
    EXPECT_EQ(pictureNames(*book), (std::vector<std::string>{"Sheet1:first", "Sheet1:absolute",
                                                             "Sheet1:one", "Sheet1:hidden"}));
    const auto& pictures = book->worksheets()[0].pictures;
    EXPECT_EQ(pictures[1].cell, "");  // an absolute anchor has no cell
    EXPECT_EQ(pictures[2].cell, "B2");
    EXPECT_EQ(pictures[1].width, 5);
}

TEST(WorkbookPictures, AlternateContentIsReadFromTheBranchTheEngineUnderstands) {
    const std::string unknown = "xmlns:zz=\"urn:example:unknown\" Requires=\"zz\"";
    struct Case {
        const char* what;
        std::string anchors;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"known choice around an anchor, prefix declared on the choice",
         alternate(kA14 + " Requires=\"a14\"", pictureAnchor(0, 0, "rId1", "choice"),
                   pictureAnchor(0, 0, "rId2", "fallback")),
         {"Sheet1:choice"}},
        {"unknown choice around an anchor",
         alternate(unknown, pictureAnchor(0, 0, "rId1", "choice"),
                   pictureAnchor(0, 0, "rId2", "fallback")),
         {"Sheet1:fallback"}},
        {"second choice known",
         "<mc:AlternateContent><mc:Choice " + unknown + ">" + pictureAnchor(0, 0, "rId1", "first") +
             "</mc:Choice><mc:Choice " + kA14 + " Requires=\"a14\">" +
             pictureAnchor(0, 0, "rId1", "second") +
             "</mc:Choice><mc:Fallback/></mc:AlternateContent>",
         {"Sheet1:second"}},
        {"unknown choice inside an anchor",
         anchorAround(
             alternate(unknown, picElement("rId1", "choice"), picElement("rId2", "fallback"))),
         {"Sheet1:fallback"}},
        {"camera picture: known choice, empty fallback",
         anchorAround(alternate(kA14 + " Requires=\"a14\"", picElement("rId1", "camera"), "")),
         {"Sheet1:camera"}},
        {"web add-in: the frame is shown, the fallback picture is not",
         anchorAround(alternate(
             "xmlns:we=\"http://schemas.microsoft.com/office/webextensions/webextension/2010/11\" "
             "Requires=\"we\"",
             "<xdr:graphicFrame/>", picElement("rId1", "addin"))),
         {}},
        {"no branch fits", alternate(unknown, pictureAnchor(0, 0, "rId1", "x"), ""), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto book = openOk(oneDrawing(c.anchors));
        ASSERT_TRUE(book);
        EXPECT_EQ(pictureNames(*book), c.expected);
    }
}

TEST(WorkbookPictures, BlipWithChildrenAndSvgGiveTheEmbeddedBitmap) {
    std::string svg = picElement("rId1", "svg");
    svg.replace(svg.find("\"/>", svg.find("<a:blip")), 3,
                "\"><a:extLst><a:ext uri=\"{96DAC541-7B7A-43D3-8B79-37D633B846F1}\">"
                "<asvg:svgBlip xmlns:asvg=\"http://schemas.microsoft.com/office/drawing/2016/"
                "SVG/main\" r:embed=\"rId2\"/></a:ext></a:extLst></a:blip>");
    auto book = openOk(oneDrawing(anchorAround(svg)));
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(book->readPictureBytes(0, 0).value(), pngImage(4, 3, 0xff0000));
}

TEST(WorkbookPictures, LinkedPictureCountsButHasNoBytes) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(anchorAround(picElement("rId1", "linked", "r:link"))),
                    {{"rId1", "https://example.org/a.png"}},
                    {"rId1"}};
    auto book = openOk(packageWith({sheet}).bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets()[0].pictures.size(), 1u);
    const auto& p = book->worksheets()[0].pictures[0];
    EXPECT_TRUE(p.linked);
    EXPECT_EQ(p.link, "https://example.org/a.png");
    auto bytes = book->readPictureBytes(0, 0);
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.problem().kind, ProblemKind::LinkedImage);
    EXPECT_NE(bytes.problem().describe().find("https://example.org/a.png"), std::string::npos);
}

TEST(WorkbookPictures, MissingImagesAreCountedAndFailToCopyWithTheirPlace) {
    SheetSpec sheet{
        "Sheet1",
        "worksheet",
        drawingXml(pictureAnchor(0, 0, "rId1", "gone") + pictureAnchor(0, 5, "rId9", "dangling") +
                   pictureAnchor(0, 9, "rId2", "fine")),
        {{"rId1", "../media/missing.png"}, {"rId2", "../media/image2.png"}},
        {}};
    auto book =
        openOk(packageWith({sheet}).addBytes("xl/media/image2.png", pngImage(2, 2)).bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets()[0].pictures.size(), 3u);
    auto gone = book->readPictureBytes(0, 0);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.problem().describe(),
              "the workbook is damaged (xl/drawings/drawing1.xml: the image "
              "xl/media/missing.png is missing)");
    auto dangling = book->readPictureBytes(0, 1);
    ASSERT_FALSE(dangling);
    EXPECT_EQ(dangling.problem().place, "xl/drawings/drawing1.xml");
    EXPECT_TRUE(book->readPictureBytes(0, 2));
}

TEST(WorkbookPictures, PicturesSharingAnImageSayItAndEachGivesItsBytes) {
    auto book = openOk(oneDrawing(pictureAnchor(0, 0, "rId1") + pictureAnchor(0, 4, "rId2") +
                                  pictureAnchor(0, 8, "rId1") + pictureAnchor(0, 12, "rId1")));
    ASSERT_TRUE(book);
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 4u);
    ASSERT_TRUE(pictures[0].imageId && pictures[1].imageId);
    EXPECT_NE(pictures[0].imageId, pictures[1].imageId);
    EXPECT_EQ(pictures[2].imageId, pictures[0].imageId);
    EXPECT_EQ(pictures[3].imageId, pictures[0].imageId);
    for (std::size_t p : {0u, 2u, 3u, 2u}) {
        auto bytes = book->readPictureBytes(0, p);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(bytes.value(), pngImage(4, 3, 0xff0000));
    }
}

TEST(WorkbookPackage, FormatComesFromTheBytesNotTheNameOrContentType) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    auto book =
        openOk(packageWith({sheet}).addBytes("xl/media/image1.png", jpegImage(12, 8)).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures[0].format, ImageFormat::Jpeg);
    EXPECT_EQ(book->worksheets()[0].pictures[0].width, 12);
}

TEST(WorkbookPackage, PartNamesMatchWithoutCaseWithBackslashesAndEscapes) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1", "a") + pictureAnchor(0, 4, "rId2", "b") +
                               pictureAnchor(0, 8, "rId3", "c")),
                    {{"rId1", "../Media/IMAGE1.PNG"},
                     {"rId2", "/xl/media/my%20image.png"},
                     {"rId3", "..\\media\\image3.png"}},
                    {}};
    ZipBuilder zip = packageWith({sheet});
    // The package relationship names the workbook by an absolute target.
    zip.replace("_rels/.rels",
                "\xEF\xBB\xBF<?xml version=\"1.0\"?><pr:Relationships xmlns:pr=\"http://schemas."
                "openxmlformats.org/package/2006/relationships\"><pr:Relationship Id=\"r\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                "officeDocument\" Target=\"/xl/workbook.xml\"/></pr:Relationships>");
    auto book = openOk(zip.addBytes("xl/media/image1.png", pngImage(1, 1))
                           .addBytes("xl/media/my image.png", pngImage(2, 2))
                           .addBytes("xl\\media\\image3.png", pngImage(3, 3))
                           .add("xl/media/", "")
                           .bytes());
    ASSERT_TRUE(book);
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(pictures[0].width, 1);
    EXPECT_EQ(pictures[1].width, 2);
    EXPECT_EQ(pictures[2].width, 3);
}

TEST(WorkbookPackage, SheetKindsComeFromRelationshipTypes) {
    std::string drawing = drawingXml(pictureAnchor(0, 0, "rId1"));
    std::vector<std::pair<std::string, std::string>> rels = {{"rId1", "../media/image1.png"}};
    ZipBuilder zip = packageWith({{"Work", "worksheet", drawing, rels, {}},
                                  {"Chart", "chartsheet", "", {}, {}},
                                  {"Dialog", "dialogsheet", "", {}, {}},
                                  {"Macro", "xlMacrosheet", "", {}, {}},
                                  {"Hidden", "worksheet", "", {}, {}}});
    std::string workbookXml =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
        "<sheet name=\"Work\" sheetId=\"1\" r:id=\"rId1\"/>"
        "<sheet name=\"Chart\" sheetId=\"2\" r:id=\"rId2\"/>"
        "<sheet name=\"Empty id\" sheetId=\"9\" r:id=\"\"/>"
        "<sheet name=\"Dangling\" sheetId=\"8\" r:id=\"rId77\"/>"
        "<sheet name=\"Dialog\" sheetId=\"3\" r:id=\"rId3\"/>"
        "<sheet name=\"Macro\" sheetId=\"4\" r:id=\"rId4\"/>"
        "<sheet name=\"Hidden\" sheetId=\"5\" state=\"veryHidden\" r:id=\"rId5\"/>"
        "</sheets></workbook>";
    zip.replace("xl/workbook.xml", workbookXml);
    auto book = openOk(zip.addBytes("xl/media/image1.png", pngImage(1, 1)).bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets().size(), 2u);
    EXPECT_EQ(book->worksheets()[0].name, "Work");
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(book->worksheets()[1].name, "Hidden");
}

TEST(WorkbookPackage, StrictNamespacesReadLikeTransitional) {
    auto strict = [](std::string s) {
        auto swap = [&](const std::string& from, const std::string& to) {
            for (std::size_t at = s.find(from); at != std::string::npos;
                 at = s.find(from, at + to.size())) {
                s.replace(at, from.size(), to);
            }
        };
        swap("http://schemas.openxmlformats.org/officeDocument/2006/relationships",
             "http://purl.oclc.org/ooxml/officeDocument/relationships");
        swap("http://schemas.openxmlformats.org/spreadsheetml/2006/main",
             "http://purl.oclc.org/ooxml/spreadsheetml/main");
        swap("http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing",
             "http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing");
        swap("http://schemas.openxmlformats.org/drawingml/2006/main",
             "http://purl.oclc.org/ooxml/drawingml/main");
        return s;
    };
    SheetSpec sheet{"Strict",
                    "worksheet",
                    drawingXml(pictureAnchor(1, 1, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    auto book = openOk(packageWith({sheet})
                           .transform(strict)
                           .addBytes("xl/media/image1.png", pngImage(3, 2))
                           .bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets().size(), 1u);
    ASSERT_EQ(book->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(book->worksheets()[0].pictures[0].cell, "B2");
}

TEST(WorkbookPackage, ReadsZip64HeadersAndDataDescriptors) {
    auto opened = workbook::openWorkbook(std::string(QUILLFEN_TEST_DATA_DIR) +
                                         "/zip64-data-descriptors.xlsx");
    ASSERT_TRUE(opened) << opened.problem().describe();
    ASSERT_EQ(opened.value()->worksheets().size(), 1u);
    ASSERT_EQ(opened.value()->worksheets()[0].pictures.size(), 1u);
    auto bytes = opened.value()->readPictureBytes(0, 0);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes.value().size(), 200u);
}

TEST(WorkbookPackage, WorksheetsSharingADrawingEachListItsPictures) {
    SheetSpec sheet{"One",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    ZipBuilder zip = packageWith({sheet, {"Two", "worksheet", "", {}, {}}});
    // The second sheet entry names the first worksheet part again.
    std::string rels = zip.content("xl/_rels/workbook.xml.rels");
    rels.replace(rels.find("worksheets/sheet2.xml"), 21, "worksheets/sheet1.xml");
    auto opened = workbook::openWorkbook(
        std::make_shared<const Bytes>(zip.replace("xl/_rels/workbook.xml.rels", rels)
                                          .addBytes("xl/media/image1.png", pngImage(2, 2))
                                          .bytes()));
    ASSERT_TRUE(opened) << opened.problem().describe();
    ASSERT_EQ(opened.value()->worksheets().size(), 2u);
    EXPECT_EQ(opened.value()->worksheets()[1].pictures.size(), 1u);
    EXPECT_TRUE(opened.value()->readPictureBytes(1, 0));
}

TEST(WorkbookPackage, ExactCaseWinsWhenEntriesDifferOnlyInCase) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/Image1.png"}},
                    {}};
    auto book = openOk(packageWith({sheet})
                           .addBytes("xl/media/image1.png", pngImage(1, 1))
                           .addBytes("xl/media/Image1.png", pngImage(2, 2))
                           .bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures[0].width, 2);
}

TEST(WorkbookPackage, Utf16WorksheetIsReadWhole) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    ZipBuilder zip = packageWith({sheet});
    std::string ascii = zip.content("xl/worksheets/sheet1.xml");
    ascii.replace(ascii.find("UTF-8"), 5, "UTF-16");
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii) {
        utf16 += c;
        utf16 += '\0';
    }
    auto book = openOk(zip.replace("xl/worksheets/sheet1.xml", utf16)
                           .addBytes("xl/media/image1.png", pngImage(3, 1))
                           .bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets()[0].pictures.size(), 1u);
}

TEST(WorkbookPackage, WorksheetMarkupAroundTheDrawingIsSkipped) {
    SheetSpec sheet{"Sheet1",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/image1.png"}},
                    {}};
    ZipBuilder zip = packageWith({sheet, {"Sheet2", "worksheet", "", {}, {}}});
    std::string xml = zip.content("xl/worksheets/sheet1.xml");
    // Comments, character data and attribute values that look like tags come before it.
    xml.replace(xml.find("<sheetData/>"), 12,
                "<!-- <drawing r:id=\"no\"/> --><sheetData><row r=\"1\"><c t=\"inlineStr\"><is>"
                "<t><![CDATA[<drawing r:id=\"no\"/>]]></t></is></c></row></sheetData>"
                "<x:ext a=\"<drawing r:id='no'/>\"/>");
    // A worksheet without a drawing is read to its end, where a short comment is complete.
    std::string second = zip.content("xl/worksheets/sheet2.xml") + "<!---->";
    auto book = openOk(zip.replace("xl/worksheets/sheet1.xml", xml)
                           .replace("xl/worksheets/sheet2.xml", second)
                           .addBytes("xl/media/image1.png", pngImage(3, 1))
                           .bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 1u);
}
