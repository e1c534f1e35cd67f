#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workbook/ooxml/xmlpart.h"
#include "workbook/ooxml/zipreader.h"
#include "workbook/problem.h"

namespace workbook {

// A part name or link with its %XX escapes turned back into the bytes they stand for.
std::string percentDecoded(std::string_view text);

struct Relationship {
    std::string id;
    std::string type;    // the full relationship type URI
    std::string target;  // a part name (resolved, no leading "/") or, if external, as written
    bool external = false;

    // The last segment of the type ("worksheet", "drawing", "image"...), the same in the
    // transitional and strict vocabularies.
    std::string_view kind() const;
};

// An Open Packaging Conventions package over a zip archive: content types, relationships and
// parts by name.
class Package {
public:
    explicit Package(ZipReader& zip) : m_zip(zip) {}

    // Reads [Content_Types].xml when there is one; a package without it is still read.
    std::optional<Problem> loadContentTypes();
    // Override first, then Default by extension; empty when neither names the part.
    std::string contentType(std::string_view partName) const;

    // The zip entry of a part; targets are tried as written and with %XX escapes decoded.
    std::optional<std::uint64_t> findPart(std::string_view partName) const;
    // The relationships of a part ("" for the package itself); none when it has no
    // relationship part.
    Result<std::vector<Relationship>> relationships(std::string_view sourcePart);
    // A whole XML part, size-capped and depth-checked.
    Result<std::unique_ptr<XmlPart>> readXml(std::string_view partName);

    ZipReader& zip() { return m_zip; }

private:
    ZipReader& m_zip;
    std::unordered_map<std::string, std::string> m_defaults;   // extension -> type
    std::unordered_map<std::string, std::string> m_overrides;  // folded part name -> type
};

// "xl/worksheets/_rels/sheet1.xml.rels" for "xl/worksheets/sheet1.xml"; "_rels/.rels" for "".
std::string relationshipsPartName(std::string_view sourcePart);
// A relationship target resolved against the part that holds it: relative or absolute, "\"
// read as "/", "." and ".." applied.
std::string resolveTarget(std::string_view sourcePart, std::string_view target);

}  // namespace workbook
