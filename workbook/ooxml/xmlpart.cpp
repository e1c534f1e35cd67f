#include "workbook/ooxml/xmlpart.h"

#include <charconv>
#include <cstring>

#include "workbook/limits.h"

namespace workbook {
namespace {

// Finds the deepest nesting without recursion.
class DepthWalker : public pugi::xml_tree_walker {
public:
    bool for_each(pugi::xml_node& node) override {
        if (depth() > maxDepth) {
            maxDepth = depth();
        }
        std::size_t attributes = 0;
        for (pugi::xml_attribute a = node.first_attribute(); a && !tooManyAttributes;
             a = a.next_attribute()) {
            tooManyAttributes = ++attributes > kMaxXmlAttributes;
        }
        return maxDepth <= kMaxXmlDepth && !tooManyAttributes;
    }
    int maxDepth = 0;
    bool tooManyAttributes = false;
};

}  // namespace

Result<std::unique_ptr<XmlPart>> parseXmlPart(std::vector<std::uint8_t> bytes,
                                              const std::string& place) {
    auto part = std::make_unique<XmlPart>();
    part->buffer = std::move(bytes);
    std::size_t size = part->buffer.size();
    // Parsing in place overwrites the buffer, so look at how it ends first.
    std::size_t last = size;
    auto isSpace = [](std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (last > 0 && isSpace(part->buffer[last - 1])) {
        --last;
    }
    bool endsWithTag = last > 0 && part->buffer[last - 1] == '>';
    pugi::xml_parse_result parsed = part->document.load_buffer_inplace(
        part->buffer.data(), size, pugi::parse_default, pugi::encoding_auto);
    if (!parsed) {
        if (parsed.status == pugi::status_no_document_element) {
            return damaged(place, "no root element");
        }
        // A part cut short ends inside a tag or text, or with elements left open.
        bool cutShort = !endsWithTag || (parsed.status == pugi::status_end_element_mismatch &&
                                         std::size_t(parsed.offset) + 1 >= last);
        if (cutShort) {
            return damaged(place, "unexpected end of data");
        }
        return damaged(
            place, std::string(parsed.description()) + " at byte " + std::to_string(parsed.offset));
    }
    if (!part->root()) {
        return damaged(place, "no root element");
    }
    DepthWalker walker;
    part->document.traverse(walker);
    if (walker.maxDepth > kMaxXmlDepth) {
        return tooLarge(place,
                        "elements nested more than " + std::to_string(kMaxXmlDepth) + " deep");
    }
    if (walker.tooManyAttributes) {
        return tooLarge(place, "an element with more than " + std::to_string(kMaxXmlAttributes) +
                                   " attributes");
    }
    return part;
}

std::string_view localName(const char* qualifiedName) {
    std::string_view name(qualifiedName);
    std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view prefixOf(const char* qualifiedName) {
    std::string_view name(qualifiedName);
    std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view namespaceOf(pugi::xml_node node, std::string_view prefix) {
    std::string wanted = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent()) {
        if (pugi::xml_attribute a = n.attribute(wanted.c_str())) {
            return a.value();
        }
    }
    return {};
}

std::string_view elementNamespace(pugi::xml_node node) {
    return namespaceOf(node, prefixOf(node.name()));
}

pugi::xml_node childNamed(pugi::xml_node node, std::string_view local) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && localName(child.name()) == local) {
            return child;
        }
    }
    return {};
}

bool isRelationshipsNamespace(std::string_view uri) {
    return uri == "http://schemas.openxmlformats.org/officeDocument/2006/relationships" ||
           uri == "http://purl.oclc.org/ooxml/officeDocument/relationships";
}

std::optional<std::uint32_t> xmlNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                             text.front() == '\n')) {
        text.remove_prefix(1);
    }
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

std::string_view relationshipAttribute(pugi::xml_node node, std::string_view local) {
    pugi::xml_attribute fallback;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        std::string_view prefix = prefixOf(a.name());
        if (prefix.empty() || prefix == "xmlns" || localName(a.name()) != local) {
            continue;
        }
        if (isRelationshipsNamespace(namespaceOf(node, prefix))) {
            return a.value();
        }
        // An undeclared prefix is taken at its word, as long as nothing better turns up.
        if (!fallback && namespaceOf(node, prefix).empty()) {
            fallback = a;
        }
    }
    return fallback ? std::string_view(fallback.value()) : std::string_view();
}

}  // namespace workbook
