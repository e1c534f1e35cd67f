// Pictures placed in cells: the rich values of "Place in Cell" and IMAGE(), and DISPIMG images,
// listed per worksheet after its drawing's pictures, in row-major cell order.
#include <gtest/gtest.h>

#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "workbook/workbook.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kOfficeRelationships[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string rels(const std::string& body) {
    return "<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           body + "</Relationships>";
}

std::string rel(const std::string& id, const std::string& type, const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
}

}  // namespace

TEST(CellPictures, AreListedAfterTheDrawingInRowMajorOrderAndReadOnFromItsIndexes) {
    struct Case {
        const char* name;
        bool related;  // parts found through the workbook's relationships at other names
        bool utf16;    // the worksheet part is UTF-16, read as a tree
    } cases[] = {{"usual names", false, false}, {"related parts, UTF-16 sheet", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SheetSpec sheet{"Cells",
                        "worksheet",
                        drawingXml(pictureAnchor(0, 0, "rId1", "floating")),
                        {{"rId1", "../media/red.png"}},
                        {}};
        ZipBuilder zip = packageWith({sheet});
        std::string content = worksheetWithPictureCells();
        zip.replace("xl/worksheets/sheet1.xml", c.utf16 ? utf16(content) : content);
        const std::string folder = c.related ? "xl/extra/" : "xl/";
        addRichValueParts(zip, folder);
        addCellImageParts(zip, folder);
        if (c.related) {
            const std::string ms = "http://schemas.microsoft.com/office/";
            zip.replace("xl/_rels/workbook.xml.rels",
                        rels(rel("rId1", std::string(kOfficeRelationships) + "/worksheet",
                                 "worksheets/sheet1.xml") +
                             rel("rId2", std::string(kOfficeRelationships) + "/sheetMetadata",
                                 "extra/metadata.xml") +
                             rel("rId3", ms + "2017/06/relationships/rdRichValue",
                                 "extra/richData/rdrichvalue.xml") +
                             rel("rId4", ms + "2017/06/relationships/rdRichValueStructure",
                                 "extra/richData/rdrichvaluestructure.xml") +
                             rel("rId5", ms + "2022/10/relationships/richValueRel",
                                 "extra/richData/richValueRel.xml") +
                             rel("rId6", ms + "2017/06/relationships/rdRichValueWebImage",
                                 "extra/richData/rdRichValueWebImage.xml") +
                             rel("rId7", "http://www.wps.cn/officeDocument/2020/cellImage",
                                 "extra/cellimages.xml")));
        }
        const Bytes red = pngImage(4, 3, 0xff0000), blue = pngImage(5, 6, 0x0000ff),
                    green = pngImage(7, 2, 0x00ff00);
        zip.addBytes("xl/media/red.png", red);
        if (c.related) {
            zip.addBytes(folder + "media/red.png", red);
        }
        zip.addBytes(folder + "media/blue.png", blue).addBytes(folder + "media/green.png", green);
        auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(zip.bytes()));
        ASSERT_TRUE(opened) << opened.problem().describe();
        auto& book = *opened.value();
        ASSERT_EQ(book.worksheets().size(), 1u);
        const workbook::Worksheet& ws = book.worksheets()[0];
        ASSERT_EQ(ws.pictures.size(), 1u);
        ASSERT_EQ(ws.cellPictures.size(), 5u);
        struct Want {
            const char* cell;
            int width;
            bool linked;
            const Bytes* bytes;
        } want[] = {{"D2", 7, false, &green},
                    {"C3", 5, false, &blue},
                    {"F4", 0, true, nullptr},
                    {"A5", 4, false, &red},
                    {"B5", 0, false, nullptr}};
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(want[i].cell);
            const workbook::PictureInfo& info = ws.cellPictures[i];
            EXPECT_EQ(info.cell, want[i].cell);
            EXPECT_EQ(info.width, want[i].width);
            EXPECT_EQ(info.linked, want[i].linked);
            auto bytes = book.readPictureBytes(0, 1 + i);
            if (want[i].bytes) {
                ASSERT_TRUE(bytes) << bytes.problem().describe();
                EXPECT_EQ(bytes.value(), *want[i].bytes);
            } else {
                ASSERT_FALSE(bytes);
                EXPECT_EQ(bytes.problem().kind, want[i].linked ? workbook::ProblemKind::LinkedImage
                                                               : workbook::ProblemKind::Damaged);
            }
        }
        EXPECT_EQ(ws.cellPictures[0].description, "leaf");
        EXPECT_EQ(ws.cellPictures[2].link, "https://example.com/cat.png");
        EXPECT_TRUE(book.problems().empty());
    }
}

TEST(CellPictures, AWorkbookWithoutThemListsNoneAndDamagedRichDataLosesOnlyThem) {
    SheetSpec sheet{"S",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/red.png"}},
                    {}};
    ZipBuilder zip = packageWith({sheet});
    zip.replace("xl/worksheets/sheet1.xml", worksheetWithPictureCells());
    zip.addBytes("xl/media/red.png", pngImage(4, 3, 0xff0000));
    {
        auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(zip.bytes()));
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened.value()->worksheets()[0].cellPictures.size(), 0u);
    }
    addRichValueParts(zip, "xl/");
    zip.replace("xl/richData/rdrichvalue.xml", "<rvData><rv s=\"0\"><v>0</v>");
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(zip.bytes()));
    ASSERT_TRUE(opened) << opened.problem().describe();
    EXPECT_EQ(opened.value()->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(opened.value()->worksheets()[0].cellPictures.size(), 0u);
    ASSERT_EQ(opened.value()->problems().size(), 1u);
    EXPECT_NE(opened.value()->problems()[0].describe().find("rdrichvalue.xml"), std::string::npos);
}
