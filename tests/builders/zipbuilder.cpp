#include "builders/zipbuilder.h"

#include <zip.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace testing_support {

ZipBuilder& ZipBuilder::add(std::string name, std::string content, Method method) {
    m_entries.push_back({std::move(name), std::move(content), method});
    return *this;
}

ZipBuilder& ZipBuilder::addBytes(std::string name, const std::vector<std::uint8_t>& content,
                                 Method method) {
    return add(std::move(name), std::string(content.begin(), content.end()), method);
}

ZipBuilder& ZipBuilder::remove(const std::string& name) {
    std::erase_if(m_entries, [&](const Entry& e) { return e.name == name; });
    return *this;
}

ZipBuilder& ZipBuilder::replace(const std::string& name, std::string content) {
    for (Entry& e : m_entries) {
        if (e.name == name) {
            e.content = std::move(content);
            return *this;
        }
    }
    throw std::runtime_error("ZipBuilder: no entry " + name);
}

ZipBuilder& ZipBuilder::transform(const std::function<std::string(std::string)>& rewrite) {
    for (Entry& e : m_entries) {
        e.content = rewrite(std::move(e.content));
    }
    return *this;
}

const std::string& ZipBuilder::content(const std::string& name) const {
    for (const Entry& e : m_entries) {
        if (e.name == name) {
            return e.content;
        }
    }
    throw std::runtime_error("ZipBuilder: no entry " + name);
}

std::vector<std::uint8_t> ZipBuilder::bytes() const {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        throw std::runtime_error("ZipBuilder: cannot start an archive");
    }
    for (const Entry& e : m_entries) {
        zip_source_t* source = zip_source_buffer(archive, e.content.data(), e.content.size(), 0);
        zip_int64_t index = zip_file_add(archive, e.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            throw std::runtime_error("ZipBuilder: cannot add " + e.name);
        }
        zip_set_file_compression(archive, zip_uint64_t(index),
                                 e.method == Method::Store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(archive) != 0) {
        throw std::runtime_error("ZipBuilder: cannot write the archive");
    }
    std::vector<std::uint8_t> out;
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    out.resize(std::size_t(zip_source_tell(buffer)));
    zip_source_seek(buffer, 0, SEEK_SET);
    zip_source_read(buffer, out.data(), out.size());
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return out;
}

void ZipBuilder::save(const std::string& path) const {
    std::vector<std::uint8_t> data = bytes();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!file) {
        throw std::runtime_error("ZipBuilder: cannot write " + path);
    }
}

namespace {

constexpr char kRelationships[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string relationship(const std::string& id, const std::string& type, const std::string& target,
                         bool external = false) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRelationships + "/" + type +
           "\" Target=\"" + target + "\"" + (external ? " TargetMode=\"External\"" : "") + "/>";
}

std::string relationshipsPart(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           body + "</Relationships>";
}

}  // namespace

ZipBuilder packageWith(const std::vector<SheetSpec>& sheets) {
    ZipBuilder zip;
    std::string overrides;
    std::string sheetList;
    std::string workbookRels;
    int drawings = 0;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const SheetSpec& s = sheets[i];
        std::string n = std::to_string(i + 1);
        std::string folder = s.kind == "chartsheet"    ? "chartsheets"
                             : s.kind == "dialogsheet" ? "dialogsheets"
                             : s.kind == "worksheet"   ? "worksheets"
                                                       : "macrosheets";
        std::string part = "xl/" + folder + "/sheet" + n + ".xml";
        sheetList += "<sheet name=\"" + s.name + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        workbookRels += relationship("rId" + n, s.kind, folder + "/sheet" + n + ".xml");
        std::string root = s.kind == "chartsheet"    ? "chartsheet"
                           : s.kind == "dialogsheet" ? "dialogsheet"
                                                     : "worksheet";
        std::string body = "<sheetData/>";
        if (!s.drawingXml.empty()) {
            std::string d = std::to_string(++drawings);
            std::string drawingPart = "xl/drawings/drawing" + d + ".xml";
            body += "<drawing r:id=\"rIdDrawing\"/>";
            zip.add("xl/" + folder + "/_rels/sheet" + n + ".xml.rels",
                    relationshipsPart(
                        relationship("rIdDrawing", "drawing", "../drawings/drawing" + d + ".xml")));
            zip.add(drawingPart, s.drawingXml);
            std::string rels;
            for (const auto& [id, target] : s.drawingRelationships) {
                bool external =
                    std::find(s.externalRelationships.begin(), s.externalRelationships.end(), id) !=
                    s.externalRelationships.end();
                rels += relationship(id, "image", target, external);
            }
            zip.add("xl/drawings/_rels/drawing" + d + ".xml.rels", relationshipsPart(rels));
        }
        zip.add(part, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
                          " xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"" +
                          kRelationships + "\">" + body + "</" + root + ">");
    }
    zip.add("[Content_Types].xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" "
            "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Default Extension=\"png\" ContentType=\"image/png\"/>"
            "<Override PartName=\"/xl/workbook.xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>" +
                overrides + "</Types>");
    zip.add("_rels/.rels",
            relationshipsPart(relationship("rId1", "officeDocument", "xl/workbook.xml")));
    zip.add("xl/workbook.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"" +
                std::string(kRelationships) + "\"><sheets>" + sheetList + "</sheets></workbook>");
    zip.add("xl/_rels/workbook.xml.rels", relationshipsPart(workbookRels));
    return zip;
}

std::string drawingXml(const std::string& anchors) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<xdr:wsDr "
           "xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
           "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
           "xmlns:r=\"" +
           std::string(kRelationships) +
           "\" "
           "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">" +
           anchors + "</xdr:wsDr>";
}

std::string picElement(const std::string& rId, const std::string& name,
                       const std::string& blipAttribute) {
    return "<xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"2\" name=\"" + name + "\" descr=\"about " + name +
           "\"/><xdr:cNvPicPr/></xdr:nvPicPr>"
           "<xdr:blipFill><a:blip " +
           blipAttribute + "=\"" + rId +
           "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>"
           "<xdr:spPr><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>";
}

std::string pictureAnchor(int column, int row, const std::string& rId, const std::string& name) {
    return "<xdr:twoCellAnchor><xdr:from><xdr:col>" + std::to_string(column) +
           "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + std::to_string(row) +
           "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>" +
           std::to_string(column + 2) + "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" +
           std::to_string(row + 3) + "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to>" +
           picElement(rId, name) + "<xdr:clientData/></xdr:twoCellAnchor>";
}

namespace {

constexpr char kSpreadsheetMain[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// A relationship of any type (relationship() takes one of the office document's).
std::string cellRel(const std::string& id, const std::string& type, const std::string& target,
                    bool external = false) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"" +
           (external ? " TargetMode=\"External\"" : "") + "/>";
}

}  // namespace

// Rich values: 0 and 1 local images (rel 0 -> red, rel 1 -> blue), 2 a data type (not a
// picture), 3 a web image. Value metadata k+1 names rich value k.
void addRichValueParts(ZipBuilder& zip, const std::string& folder) {
    std::string bk;
    for (int k = 0; k < 4; ++k) {
        bk += "<bk><rc t=\"1\" v=\"" + std::to_string(k) + "\"/></bk>";
    }
    std::string future;
    for (int k = 0; k < 4; ++k) {
        future += "<bk><extLst><ext uri=\"{3e2802c4-a4d2-4d8b-9148-e3be6c30e623}\"><xlrd:rvb i=\"" +
                  std::to_string(k) + "\"/></ext></extLst></bk>";
    }
    zip.add(folder + "metadata.xml",
            std::string("<metadata xmlns=\"") + kSpreadsheetMain +
                "\" xmlns:xlrd=\"http://schemas.microsoft.com/office/spreadsheetml/2017/"
                "richdata\"><metadataTypes count=\"1\"><metadataType name=\"XLRICHVALUE\"/>"
                "</metadataTypes><futureMetadata name=\"XLRICHVALUE\">" +
                future + "</futureMetadata><valueMetadata>" + bk + "</valueMetadata></metadata>");
    const std::string rd =
        "xmlns=\"http://schemas.microsoft.com/office/spreadsheetml/2017/richdata\"";
    zip.add(folder + "richData/rdrichvalue.xml",
            "<rvData " + rd +
                "><rv s=\"0\"><v>0</v><v>5</v></rv><rv s=\"0\"><v>1</v><v>5</v></rv>"
                "<rv s=\"1\"><v>Oslo</v></rv><rv s=\"2\"><v>0</v></rv></rvData>");
    zip.add(folder + "richData/rdrichvaluestructure.xml",
            "<rvStructures " + rd +
                "><s t=\"_localImage\"><k n=\"_rvRel:LocalImageIdentifier\" t=\"i\"/>"
                "<k n=\"CalcOrigin\" t=\"i\"/></s><s t=\"_entity\"><k n=\"_DisplayString\"/></s>"
                "<s t=\"_webimage\"><k n=\"WebImageIdentifier\" t=\"i\"/></s></rvStructures>");
    zip.add(folder + "richData/richValueRel.xml",
            std::string("<richValueRels xmlns=\"http://schemas.microsoft.com/office/"
                        "spreadsheetml/2022/richvaluerel\" xmlns:r=\"") +
                kRelationships + "\"><rel r:id=\"rId1\"/><rel r:id=\"rId2\"/></richValueRels>");
    zip.add(folder + "richData/_rels/richValueRel.xml.rels",
            relationshipsPart(
                cellRel("rId1", std::string(kRelationships) + "/image", "../media/red.png") +
                cellRel("rId2", std::string(kRelationships) + "/image", "../media/blue.png")));
    zip.add(folder + "richData/rdRichValueWebImage.xml",
            std::string("<webImagesSrd xmlns=\"http://schemas.microsoft.com/office/spreadsheetml/"
                        "2020/richdatawebimage\" xmlns:r=\"") +
                kRelationships + "\"><webImageSrd><address r:id=\"rId1\"/></webImageSrd>" +
                "</webImagesSrd>");
    zip.add(folder + "richData/_rels/rdRichValueWebImage.xml.rels",
            relationshipsPart(cellRel("rId1", std::string(kRelationships) + "/hyperlink",
                                      "https://example.com/cat.png", true)));
}

// WPS keeps DISPIMG images in cellimages.xml: ID_GREEN -> green.
void addCellImageParts(ZipBuilder& zip, const std::string& folder) {
    zip.add(folder + "cellimages.xml",
            std::string(
                "<etc:cellImages xmlns:etc=\"http://www.wps.cn/officeDocument/2017/etCustomData\" "
                "xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
                "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" xmlns:r=\"") +
                kRelationships +
                "\"><etc:cellImage><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"2\" name=\"ID_GREEN\" "
                "descr=\"leaf\"/></xdr:nvPicPr><xdr:blipFill><a:blip r:embed=\"rId1\"/>"
                "</xdr:blipFill></xdr:pic></etc:cellImage></etc:cellImages>");
    zip.add(folder + "_rels/cellimages.xml.rels",
            relationshipsPart(
                cellRel("rId1", std::string(kRelationships) + "/image", "media/green.png")));
}

// Rows 2..9 (1-based), written out of order and partly without references: D2 a DISPIMG, C3
// rich value 2 (blue), B3 rich value 3 (a data type), F4 a web image, A5 rich value 1 (red),
// the cell after A5 a DISPIMG of an image that is missing; 1 is the drawing's picture.
std::string worksheetWithPictureCells() {
    return std::string("<?xml version=\"1.0\"?><worksheet xmlns=\"") + kSpreadsheetMain +
           "\" xmlns:r=\"" + kRelationships +
           "\"><sheetData>"
           "<row r=\"5\"><c r=\"A5\" t=\"e\" vm=\"1\"><v>#VALUE!</v></c>"
           "<c t=\"str\"><f>_xlfn.DISPIMG(&quot;ID_GONE&quot;,1)</f><v>x</v></c></row>"
           "<row r=\"2\"><c r=\"D2\" t=\"str\"><f>_xlfn.DISPIMG(\"ID_GREEN\",1)</f>"
           "<v>=DISPIMG(\"ID_GREEN\",1)</v></c></row>"
           "<row r=\"3\"><c r=\"B3\" t=\"e\" vm=\"3\"><v>#VALUE!</v></c>"
           "<c r=\"C3\" t=\"e\" vm=\"2\"><v>#VALUE!</v></c></row>"
           "<row><c r=\"F4\" t=\"e\" vm=\"4\"/><c r=\"G4\"><f>SUM(A1:A3)</f></c></row>"
           "</sheetData><drawing r:id=\"rIdDrawing\"/></worksheet>";
}

}  // namespace testing_support
