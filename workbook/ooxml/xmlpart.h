#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/problem.h"

namespace workbook {

// One parsed XML part with the buffer it was parsed in place from.
struct XmlPart {
    std::vector<std::uint8_t> buffer;
    pugi::xml_document document;

    pugi::xml_node root() const { return document.document_element(); }
};

// Parses the bytes of a part (any encoding with or without a BOM); a problem names the part.
Result<std::unique_ptr<XmlPart>> parseXmlPart(std::vector<std::uint8_t> bytes,
                                              const std::string& place);

// Namespace-aware helpers over pugixml, which keeps qualified names as written.
std::string_view localName(const char* qualifiedName);
std::string_view prefixOf(const char* qualifiedName);
// The namespace URI bound to the node's prefix (or to an attribute's prefix, given as
// qualified name) in scope at node; empty when none is declared.
std::string_view namespaceOf(pugi::xml_node node, std::string_view prefix);
std::string_view elementNamespace(pugi::xml_node node);
// The first child element with the given local name.
pugi::xml_node childNamed(pugi::xml_node node, std::string_view local);
// The value of the attribute with the given local name in one of the relationship
// namespaces (r:id, r:embed, r:link); empty when absent.
std::string_view relationshipAttribute(pugi::xml_node node, std::string_view local);
// Whether a namespace URI is the relationships namespace, transitional or strict.
bool isRelationshipsNamespace(std::string_view uri);
// An unsigned number written in XML text or an attribute, leading white space allowed.
std::optional<std::uint32_t> xmlNumber(std::string_view text);

}  // namespace workbook
