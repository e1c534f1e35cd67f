#include "workbook/ooxml/package.h"

#include <algorithm>

#include "workbook/limits.h"

namespace workbook {

std::string percentDecoded(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string_view Relationship::kind() const {
    std::string_view t(type);
    std::size_t slash = t.find_last_of('/');
    return slash == std::string_view::npos ? t : t.substr(slash + 1);
}

std::string relationshipsPartName(std::string_view sourcePart) {
    std::string part = normalizedPartName(sourcePart);
    std::size_t slash = part.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
    return folder + "_rels/" + file + ".rels";
}

std::string resolveTarget(std::string_view sourcePart, std::string_view target) {
    std::string t(target);
    std::replace(t.begin(), t.end(), '\\', '/');
    // A fragment or query never names a part.
    t = t.substr(0, t.find_first_of("#?"));
    std::string base;
    if (t.empty() || t.front() != '/') {
        std::string source = normalizedPartName(sourcePart);
        std::size_t slash = source.find_last_of('/');
        base = slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
    }
    std::vector<std::string> segments;
    std::string path = base + t;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& s : segments) {
        out += out.empty() ? s : "/" + s;
    }
    return out;
}

std::optional<Problem> Package::loadContentTypes() {
    if (!m_zip.find("[Content_Types].xml")) {
        return std::nullopt;
    }
    auto part = readXml("[Content_Types].xml");
    if (!part) {
        return part.problem();
    }
    for (pugi::xml_node n : part.value()->root().children()) {
        std::string_view local = localName(n.name());
        if (local == "Default") {
            m_defaults[asciiLower(n.attribute("Extension").value())] =
                n.attribute("ContentType").value();
        } else if (local == "Override") {
            m_overrides[asciiLower(normalizedPartName(n.attribute("PartName").value()))] =
                n.attribute("ContentType").value();
        }
    }
    return std::nullopt;
}

std::string Package::contentType(std::string_view partName) const {
    std::string folded = asciiLower(normalizedPartName(partName));
    if (auto it = m_overrides.find(folded); it != m_overrides.end()) {
        return it->second;
    }
    std::size_t dot = folded.find_last_of('.');
    std::size_t slash = folded.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        if (auto it = m_defaults.find(folded.substr(dot + 1)); it != m_defaults.end()) {
            return it->second;
        }
    }
    return {};
}

std::optional<std::uint64_t> Package::findPart(std::string_view partName) const {
    if (partName.empty()) {
        return std::nullopt;
    }
    if (auto index = m_zip.find(partName)) {
        return index;
    }
    if (partName.find('%') != std::string_view::npos) {
        return m_zip.find(percentDecoded(partName));
    }
    return std::nullopt;
}

Result<std::vector<Relationship>> Package::relationships(std::string_view sourcePart) {
    std::vector<Relationship> out;
    std::string relsName = relationshipsPartName(sourcePart);
    if (!findPart(relsName)) {
        return out;
    }
    auto part = readXml(relsName);
    if (!part) {
        return part.problem();
    }
    for (pugi::xml_node n : part.value()->root().children()) {
        if (localName(n.name()) != "Relationship") {
            continue;
        }
        Relationship r;
        r.id = n.attribute("Id").value();
        r.type = n.attribute("Type").value();
        std::string_view mode = n.attribute("TargetMode").value();
        r.external = mode == "External";
        std::string_view target = n.attribute("Target").value();
        r.target = r.external ? std::string(target) : resolveTarget(sourcePart, target);
        out.push_back(std::move(r));
    }
    return out;
}

Result<std::unique_ptr<XmlPart>> Package::readXml(std::string_view partName) {
    std::string place = normalizedPartName(partName);
    auto index = findPart(partName);
    if (!index) {
        return damaged(place, "the part is missing");
    }
    VectorSink sink;
    if (auto problem = m_zip.readAll(*index, kMaxXmlPartBytes, ZipReader::Budget::Open, sink)) {
        return *problem;
    }
    return parseXmlPart(std::move(sink.bytes), m_zip.name(*index));
}

}  // namespace workbook
