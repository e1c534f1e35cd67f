#include "builders/xlsbbuilder.h"

#include <QString>

namespace testing_support {
namespace {

constexpr char kRelationships[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string relationship(const std::string& id, const std::string& type, const std::string& target,
                         bool external = false) {
    std::string uri = type == "xlMacrosheet"
                          ? "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet"
                          : std::string(kRelationships) + "/" + type;
    return "<Relationship Id=\"" + id + "\" Type=\"" + uri + "\" Target=\"" + target + "\"" +
           (external ? " TargetMode=\"External\"" : "") + "/>";
}

std::string relationshipsPart(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           body + "</Relationships>";
}

}  // namespace

std::string xlsbRecord(std::uint32_t type, const std::string& data) {
    std::string out;
    out += char(type < 0x80 ? type : (type & 0x7F) | 0x80);
    if (type >= 0x80) {
        out += char(type >> 7);
    }
    std::size_t size = data.size();
    do {
        out += char((size & 0x7F) | (size > 0x7F ? 0x80 : 0));
        size >>= 7;
    } while (size > 0);
    return out + data;
}

std::string xlsbU32(std::uint32_t value) {
    return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

std::string xlsbWideString(const std::string& utf8) {
    QString text = QString::fromUtf8(utf8);
    std::string out = xlsbU32(std::uint32_t(text.size()));
    for (QChar c : text) {
        out += char(c.unicode() & 0xFF);
        out += char(c.unicode() >> 8);
    }
    return out;
}

std::string xlsbBundleSheet(const std::string& name, const std::string& relationshipId,
                            std::uint32_t tabId, bool beta) {
    return xlsbRecord(0x9C, xlsbU32(0) + (beta ? xlsbU32(0) : "") + xlsbU32(tabId) +
                                xlsbWideString(relationshipId) + xlsbWideString(name));
}

std::string xlsbBundleSheetWithoutId(const std::string& name) {
    return xlsbRecord(0x9C, xlsbU32(0) + xlsbU32(1) + xlsbU32(0xFFFFFFFF) + xlsbWideString(name));
}

std::string xlsbWorkbookPart(const std::string& bundleSheets) {
    // BrtBeginBook, BrtWbProp, BrtBeginBundleShs, the sheets, BrtEndBundleShs, BrtEndBook.
    return xlsbRecord(0x83) + xlsbRecord(0x99, std::string(12, '\0')) + xlsbRecord(0x8F) +
           bundleSheets + xlsbRecord(0x90) + xlsbRecord(0x84);
}

std::string xlsbWorksheetPart(const std::string& drawingId) {
    // BrtBeginSheet, BrtBeginSheetData, a row with a number cell, BrtEndSheetData, then the
    // drawing among the records that follow the cells, BrtEndSheet.
    std::string cells = xlsbRecord(0x91) + xlsbRecord(0x00, std::string(25, '\0')) +
                        xlsbRecord(0x02, std::string(12, '\x01')) + xlsbRecord(0x92);
    std::string drawing = drawingId.empty() ? "" : xlsbRecord(0x226, xlsbWideString(drawingId));
    return xlsbRecord(0x81) + cells + xlsbRecord(0x1DC, std::string(48, '\0')) + drawing +
           xlsbRecord(0x82);
}

ZipBuilder xlsbPackageWith(const std::vector<SheetSpec>& sheets, ZipBuilder::Method method) {
    ZipBuilder zip;
    std::string bundleSheets;
    std::string workbookRels;
    int drawings = 0;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const SheetSpec& s = sheets[i];
        std::string n = std::to_string(i + 1);
        std::string folder = s.kind == "chartsheet"    ? "chartsheets"
                             : s.kind == "dialogsheet" ? "dialogsheets"
                             : s.kind == "worksheet"   ? "worksheets"
                                                       : "macrosheets";
        bundleSheets += xlsbBundleSheet(s.name, "rId" + n, std::uint32_t(i + 1));
        workbookRels += relationship("rId" + n, s.kind, folder + "/sheet" + n + ".bin");
        std::string drawingId;
        if (!s.drawingXml.empty()) {
            std::string d = std::to_string(++drawings);
            drawingId = "rId" + std::to_string(10 + i);
            zip.add("xl/" + folder + "/_rels/sheet" + n + ".bin.rels",
                    relationshipsPart(
                        relationship(drawingId, "drawing", "../drawings/drawing" + d + ".xml")),
                    method);
            zip.add("xl/drawings/drawing" + d + ".xml", s.drawingXml, method);
            std::string rels;
            for (const auto& [id, target] : s.drawingRelationships) {
                bool external = false;
                for (const std::string& e : s.externalRelationships) {
                    external = external || e == id;
                }
                rels += relationship(id, "image", target, external);
            }
            zip.add("xl/drawings/_rels/drawing" + d + ".xml.rels", relationshipsPart(rels), method);
        }
        zip.add("xl/" + folder + "/sheet" + n + ".bin", xlsbWorksheetPart(drawingId), method);
    }
    zip.add("[Content_Types].xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" "
            "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Default Extension=\"bin\" ContentType=\"application/vnd.ms-excel.worksheet\"/>"
            "<Default Extension=\"png\" ContentType=\"image/png\"/>"
            "<Override PartName=\"/xl/workbook.bin\" "
            "ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/></Types>",
            method);
    zip.add("_rels/.rels",
            relationshipsPart(relationship("rId1", "officeDocument", "xl/workbook.bin")), method);
    zip.add("xl/workbook.bin", xlsbWorkbookPart(bundleSheets), method);
    zip.add("xl/_rels/workbook.bin.rels", relationshipsPart(workbookRels), method);
    return zip;
}

}  // namespace testing_support
