#include "builders/odsbuilder.h"

#include <QByteArray>

namespace testing_support {
namespace {

const char* const kNamespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
    " xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.3\"";

std::string zIndex(int z) {
    return z < 0 ? std::string() : " draw:z-index=\"" + std::to_string(z) + "\"";
}

}  // namespace

OdsBuilder& OdsBuilder::table(std::string name) {
    m_tables.push_back({std::move(name), {}, {}, {}});
    return *this;
}

OdsBuilder& OdsBuilder::sheetShape(std::string xml) {
    m_tables.back().sheetShapes.push_back(std::move(xml));
    return *this;
}

OdsBuilder& OdsBuilder::cellShape(int column, int row, std::string xml) {
    m_tables.back().cellShapes[{row, column}].push_back(std::move(xml));
    return *this;
}

OdsBuilder& OdsBuilder::tableMarkup(std::string xml) {
    m_tables.back().markup += xml;
    return *this;
}

OdsBuilder& OdsBuilder::image(std::string path, std::vector<std::uint8_t> bytes) {
    m_images.push_back({std::move(path), std::move(bytes)});
    return *this;
}

OdsBuilder& OdsBuilder::mimetype(std::string type) {
    m_mimetype = std::move(type);
    return *this;
}

OdsBuilder& OdsBuilder::encrypted() {
    m_encrypted = true;
    return *this;
}

std::string OdsBuilder::body(bool flat) const {
    std::string out = "<office:body><office:spreadsheet>";
    for (const Table& table : m_tables) {
        out += "<table:table table:name=\"" + table.name + "\">" + table.markup;
        if (!table.sheetShapes.empty()) {
            out += "<table:shapes>";
            for (const std::string& shape : table.sheetShapes) {
                out += shape;
            }
            out += "</table:shapes>";
        }
        out += "<table:table-column table:number-columns-repeated=\"1024\"/>";
        int row = 0;
        std::map<std::pair<int, int>, std::vector<std::string>>::const_iterator it =
            table.cellShapes.begin();
        while (it != table.cellShapes.end()) {
            const int at = it->first.first;
            if (at > row) {
                out += "<table:table-row table:number-rows-repeated=\"" + std::to_string(at - row) +
                       "\"><table:table-cell/></table:table-row>";
            }
            out += "<table:table-row>";
            int column = 0;
            for (; it != table.cellShapes.end() && it->first.first == at; ++it) {
                if (it->first.second > column) {
                    out += "<table:table-cell table:number-columns-repeated=\"" +
                           std::to_string(it->first.second - column) + "\"/>";
                }
                out += "<table:table-cell>";
                for (const std::string& shape : it->second) {
                    out += shape;
                }
                out += "<text:p>x</text:p></table:table-cell>";
                column = it->first.second + 1;
            }
            out += "</table:table-row>";
            row = at + 1;
        }
        out +=
            "<table:table-row table:number-rows-repeated=\"1048000\"><table:table-cell/>"
            "</table:table-row></table:table>";
    }
    out += "</office:spreadsheet></office:body>";
    if (flat) {
        // Images the package would hold go inline.
        for (const auto& [path, bytes] : m_images) {
            const std::string from = "xlink:href=\"" + path + "\"";
            const QByteArray base64 =
                QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
                    .toBase64();
            std::string text;
            for (qsizetype i = 0; i < base64.size(); i += 76) {
                text += base64.mid(i, 76).toStdString() + "\n";
            }
            for (std::size_t at = out.find(from); at != std::string::npos;
                 at = out.find(from, at)) {
                std::size_t close = out.find("</draw:image>", at);
                std::size_t open = out.find('>', at);
                out.replace(open + 1, close - open - 1,
                            "<office:binary-data>" + text + "</office:binary-data>");
                out.erase(at, from.size());
            }
        }
    }
    return out;
}

std::string OdsBuilder::contentXml() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content" +
           std::string(kNamespaces) + ">" + body(false) + "</office:document-content>";
}

ZipBuilder OdsBuilder::package(ZipBuilder::Method method) const {
    std::string manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest "
        "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
        "manifest:version=\"1.3\"><manifest:file-entry manifest:full-path=\"/\" "
        "manifest:media-type=\"" +
        m_mimetype + "\"/>";
    manifest +=
        "<manifest:file-entry manifest:full-path=\"content.xml\" "
        "manifest:media-type=\"text/xml\"";
    manifest += m_encrypted ? "><manifest:encryption-data manifest:checksum-type=\"SHA1/1K\" "
                              "manifest:checksum=\"AAAA\"><manifest:algorithm "
                              "manifest:algorithm-name=\"Blowfish CFB\" "
                              "manifest:initialisation-vector=\"AAAA\"/></manifest:encryption-data>"
                              "</manifest:file-entry>"
                            : "/>";
    for (const auto& [path, bytes] : m_images) {
        manifest += "<manifest:file-entry manifest:full-path=\"" + path +
                    "\" manifest:media-type=\"image/png\"/>";
    }
    manifest += "</manifest:manifest>";
    ZipBuilder zip;
    zip.add("mimetype", m_mimetype, ZipBuilder::Method::Store);
    zip.add("content.xml",
            m_encrypted ? std::string("\x9c\x13\xf7\x01\x88garbled\xff", 13) : contentXml(),
            method);
    for (const auto& [path, bytes] : m_images) {
        zip.addBytes(path, bytes, method);
    }
    zip.add("META-INF/manifest.xml", manifest, method);
    return zip;
}

std::vector<std::uint8_t> OdsBuilder::bytes() const {
    return package().bytes();
}

std::string OdsBuilder::flat() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document" +
           std::string(kNamespaces) + " office:mimetype=\"" + m_mimetype + "\">" + body(true) +
           "</office:document>";
}

std::string odsFrame(const std::vector<std::string>& hrefs, int z, const std::string& name) {
    std::string out = "<draw:frame" + zIndex(z) + " draw:name=\"" + name +
                      "\" svg:width=\"1in\" svg:height=\"1in\" svg:x=\"0in\" svg:y=\"0in\">";
    for (const std::string& href : hrefs) {
        out += "<draw:image xlink:href=\"" + href +
               "\" xlink:type=\"simple\" xlink:show=\"embed\" xlink:actuate=\"onLoad\"><text:p/>"
               "</draw:image>";
    }
    return out + "<svg:desc>" + name + " &amp; more</svg:desc></draw:frame>";
}

std::string odsChartFrame(const std::string& replacementHref, int z) {
    return "<draw:frame" + zIndex(z) +
           " draw:name=\"Chart\"><draw:object xlink:href=\"./Object 1\"/><draw:image "
           "xlink:href=\"" +
           replacementHref + "\"/></draw:frame>";
}

std::string odsGroup(const std::vector<std::string>& members, int z) {
    std::string out = "<draw:g" + zIndex(z) + ">";
    for (const std::string& member : members) {
        out += member;
    }
    return out + "</draw:g>";
}

}  // namespace testing_support
