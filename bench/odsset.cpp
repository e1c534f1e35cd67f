#include "odsset.h"

#include <map>
#include <stdexcept>

#include "zipentries.h"

namespace bench {
namespace {

// The value of the attribute in the element starting at from, or "".
std::string attribute(const std::string& xml, std::size_t from, const std::string& name) {
    std::size_t end = xml.find('>', from);
    std::size_t at = xml.find(" " + name + "=\"", from);
    if (at == std::string::npos || at > end) {
        return {};
    }
    at += name.size() + 3;
    return xml.substr(at, xml.find('"', at) - at);
}

// The number in the first <tag>...</tag> after from.
int numberAfter(const std::string& xml, std::size_t from, const std::string& tag) {
    std::size_t at = xml.find("<" + tag + ">", from);
    return at == std::string::npos ? 0 : std::stoi(xml.substr(at + tag.size() + 2));
}

// Relationship id -> target of a relationship part.
std::map<std::string, std::string> relationships(const std::string& xml) {
    std::map<std::string, std::string> out;
    for (std::size_t at = xml.find("<Relationship "); at != std::string::npos;
         at = xml.find("<Relationship ", at + 1)) {
        out[attribute(xml, at, "Id")] = attribute(xml, at, "Target");
    }
    return out;
}

std::string lastSegment(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

struct Frame {
    int row, column;
    std::string image;  // the Pictures/ entry
};

// A table whose frames sit in their cells, rows and columns between them as repeats.
std::string table(const std::string& name, std::map<std::pair<int, int>, Frame> frames) {
    std::string out = "<table:table table:name=\"" + name +
                      "\"><table:table-column table:number-columns-repeated=\"16384\"/>";
    int row = 0, z = 0;
    for (auto it = frames.begin(); it != frames.end();) {
        const int at = it->first.first;
        if (at > row) {
            out += "<table:table-row table:number-rows-repeated=\"" + std::to_string(at - row) +
                   "\"><table:table-cell/></table:table-row>";
        }
        out += "<table:table-row>";
        int column = 0;
        for (; it != frames.end() && it->first.first == at; ++it) {
            if (it->second.column > column) {
                out += "<table:table-cell table:number-columns-repeated=\"" +
                       std::to_string(it->second.column - column) + "\"/>";
            }
            out += "<table:table-cell><draw:frame draw:z-index=\"" + std::to_string(z++) +
                   "\" svg:width=\"4in\" svg:height=\"3in\"><draw:image xlink:href=\"" +
                   it->second.image + "\"/></draw:frame></table:table-cell>";
            column = it->second.column + 1;
        }
        out += "</table:table-row>";
        row = at + 1;
    }
    return out + "</table:table>";
}

}  // namespace

GeneratedSet convertToOds(const GeneratedSet& xlsx, const std::string& folder) {
    const std::string type = "application/vnd.oasis.opendocument.spreadsheet";
    GeneratedSet out = xlsx;
    out.paths.clear();
    for (std::size_t w = 0; w < xlsx.paths.size(); ++w) {
        std::map<std::string, std::string> parts;
        std::vector<ZipEntry> entries{{"mimetype", type, true}};
        for (ZipEntry& e : readZipEntries(xlsx.paths[w])) {
            if (e.name.rfind("xl/media/", 0) == 0) {
                entries.push_back(
                    {"Pictures/" + lastSegment(e.name), std::move(e.content), e.stored});
            } else {
                parts[e.name] = std::move(e.content);
            }
        }
        std::string body;
        const std::string& workbook = parts["xl/workbook.xml"];
        auto sheets = relationships(parts["xl/_rels/workbook.xml.rels"]);
        for (std::size_t at = workbook.find("<sheet "); at != std::string::npos;
             at = workbook.find("<sheet ", at + 1)) {
            const std::string sheet = lastSegment(sheets[attribute(workbook, at, "r:id")]);
            std::map<std::pair<int, int>, Frame> frames;
            auto drawings = relationships(parts["xl/worksheets/_rels/" + sheet + ".rels"]);
            for (const auto& [id, target] : drawings) {
                const std::string drawing = lastSegment(target);
                const std::string& xml = parts["xl/drawings/" + drawing];
                auto media = relationships(parts["xl/drawings/_rels/" + drawing + ".rels"]);
                for (std::size_t a = xml.find("<xdr:from>"); a != std::string::npos;
                     a = xml.find("<xdr:from>", a + 1)) {
                    std::size_t blip = xml.find("<a:blip ", a);
                    Frame f{numberAfter(xml, a, "xdr:row"), numberAfter(xml, a, "xdr:col"),
                            "Pictures/" + lastSegment(media[attribute(xml, blip, "r:embed")])};
                    frames[{f.row, f.column}] = f;
                }
            }
            body += table(attribute(workbook, at, "name"), std::move(frames));
        }
        entries.push_back(
            {"content.xml",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
             "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
             "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
             "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
             "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
             "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><office:body><office:spreadsheet>" +
                 body + "</office:spreadsheet></office:body></office:document-content>",
             false});
        entries.push_back({"META-INF/manifest.xml",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest "
                           "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                           "<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"" +
                               type + "\"/></manifest:manifest>",
                           false});
        const std::string path = folder + "/set" + std::to_string(w + 1) + ".ods";
        writeZipEntries(path, entries);
        out.paths.push_back(path);
    }
    return out;
}

}  // namespace bench
