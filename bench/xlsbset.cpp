#include "xlsbset.h"

#include <map>
#include <stdexcept>
#include <vector>

#include "zipentries.h"

namespace bench {
namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

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

std::string record(std::uint32_t type, const std::string& data = {}) {
    std::string out(1, char(type < 0x80 ? type : (type & 0x7F) | 0x80));
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

std::string u32(std::uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// XLWideString of ASCII text, which is all the generated names hold.
std::string wide(const std::string& ascii) {
    std::string out = u32(std::uint32_t(ascii.size()));
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// BrtBeginBook, BrtBeginBundleShs, a BrtBundleSh per <sheet>, BrtEndBundleShs, BrtEndBook.
std::string workbookPart(const std::string& xml) {
    std::string sheets;
    std::uint32_t tabId = 0;
    for (std::size_t at = xml.find("<sheet "); at != std::string::npos;
         at = xml.find("<sheet ", at + 1)) {
        sheets += record(0x9C, u32(0) + u32(++tabId) + wide(attribute(xml, at, "r:id")) +
                                   wide(attribute(xml, at, "name")));
    }
    return record(0x83) + record(0x8F) + sheets + record(0x90) + record(0x84);
}

// BrtBeginSheet, empty sheet data (as the generated sheets have), BrtDrawing, BrtEndSheet.
std::string worksheetPart(const std::string& xml) {
    std::size_t at = xml.find("<drawing ");
    std::string drawing =
        at == std::string::npos ? "" : record(0x226, wide(attribute(xml, at, "r:id")));
    return record(0x81) + record(0x91) + record(0x92) + drawing + record(0x82);
}

}  // namespace

GeneratedSet convertToXlsb(const GeneratedSet& xlsx, const std::string& folder) {
    GeneratedSet out = xlsx;
    out.paths.clear();
    for (std::size_t w = 0; w < xlsx.paths.size(); ++w) {
        std::vector<ZipEntry> entries = readZipEntries(xlsx.paths[w]);
        for (ZipEntry& e : entries) {
            const bool sheet = e.name.rfind("xl/worksheets/sheet", 0) == 0;
            if (e.name == "xl/workbook.xml") {
                e = {"xl/workbook.bin", workbookPart(e.content), false};
            } else if (sheet) {
                e = {e.name.substr(0, e.name.size() - 4) + ".bin", worksheetPart(e.content), false};
            } else if (e.name == "xl/_rels/workbook.xml.rels") {
                e.name = "xl/_rels/workbook.bin.rels";
                for (std::size_t at = e.content.find("worksheets/sheet"); at != std::string::npos;
                     at = e.content.find("worksheets/sheet", at + 1)) {
                    std::size_t dot = e.content.find(".xml\"", at);
                    if (dot != std::string::npos && dot < e.content.find('>', at)) {
                        e.content.replace(dot, 4, ".bin");
                    }
                }
            } else if (e.name.rfind("xl/worksheets/_rels/", 0) == 0) {
                replaceAll(e.name, ".xml.rels", ".bin.rels");
            } else if (e.name == "_rels/.rels") {
                replaceAll(e.content, "xl/workbook.xml", "xl/workbook.bin");
            } else if (e.name == "[Content_Types].xml") {
                replaceAll(e.content,
                           "/xl/workbook.xml\" ContentType=\"application/"
                           "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
                           "/xl/workbook.bin\" ContentType=\"application/"
                           "vnd.ms-excel.sheet.binary.macroEnabled.main");
                replaceAll(e.content,
                           ".xml\" ContentType=\"application/"
                           "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml",
                           ".bin\" ContentType=\"application/vnd.ms-excel.worksheet");
            }
        }
        std::string path = folder + "/set" + std::to_string(w + 1) + ".xlsb";
        writeZipEntries(path, entries);
        out.paths.push_back(path);
    }
    return out;
}

}  // namespace bench
