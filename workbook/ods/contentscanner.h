#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workbook/ods/xmlstream.h"
#include "workbook/problem.h"

namespace workbook::ods {

// OpenDocument namespaces the readers look for.
inline constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view kDrawNs = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
inline constexpr std::string_view kDr3dNs = "urn:oasis:names:tc:opendocument:xmlns:dr3d:1.0";
inline constexpr std::string_view kSvgNs =
    "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0";
inline constexpr std::string_view kXlinkNs = "http://www.w3.org/1999/xlink";
inline constexpr std::string_view kManifestNs =
    "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";

// The usual prefixes of those namespaces, for documents that use them undeclared.
XmlStream::KnownPrefixes knownPrefixes();

// One image a picture's frame offers.
struct FrameImage {
    std::string href;  // as written; empty for an image given inline
    // A flat document's inline image: where its base64 text lies in the document.
    std::uint64_t dataOffset = 0;
    std::uint64_t dataEnd = 0;
};

struct ContentPicture {
    std::string name;
    std::string description;
    std::string cell;  // the anchor cell ("C7"); empty for a picture anchored to the sheet
    std::vector<FrameImage> images;  // the preferred image first, then its replacements
};

struct ContentTable {
    std::string name;
    std::vector<ContentPicture> pictures;  // in drawing order
};

// Reads the tables of a spreadsheet document and the pictures on each as the document streams
// past: content.xml of a package, or a flat document whole. A picture is a frame holding an
// image and no object, directly on the sheet (table:shapes) or in a cell; shapes in groups are
// the group's. Drawing order is ascending draw:z-index, frames without one after, in document
// order. Tables that only cache an external reference (a table:table-source) are left out.
class ContentScanner : public XmlHandler {
public:
    explicit ContentScanner(std::string place) : m_place(std::move(place)) {}

    bool startElement(const XmlStartTag& tag) override;
    bool endElement() override;
    bool text(std::string_view raw, std::uint64_t offset) override;

    // The worksheets read whole so far, in document order.
    const std::vector<ContentTable>& tables() const { return m_tables; }
    std::vector<ContentTable>& tables() { return m_tables; }
    // A bound reached; the scan stopped there.
    const std::optional<Problem>& problem() const { return m_problem; }
    // Whether the root is an OpenDocument document, and the office:mimetype it states (a flat
    // document says what it is there).
    bool sawRoot() const { return !m_stack.empty() || m_sawDocument; }
    bool sawDocument() const { return m_sawDocument; }
    const std::string& rootMimetype() const { return m_rootMimetype; }
    bool sawSpreadsheet() const { return m_sawSpreadsheet; }

private:
    enum class Kind : std::uint8_t {
        Skip,
        Root,
        Body,
        Spreadsheet,
        Table,
        Shapes,
        Rows,
        Row,
        Cell,
        Link,
        Frame,
        Image,
        BinaryData,
        Description,
    };
    struct Candidate {
        ContentPicture picture;
        std::optional<std::uint64_t> zIndex;
        std::uint64_t order = 0;
    };

    Kind childKind(Kind parent, const XmlStartTag& tag);
    void startFrame(const XmlStartTag& tag, bool inCell);
    bool endTable();
    bool fail(Problem problem);

    std::string m_place;
    std::vector<Kind> m_stack;
    std::vector<ContentTable> m_tables;
    std::optional<Problem> m_problem;
    std::string m_rootMimetype;
    bool m_sawDocument = false;
    bool m_sawSpreadsheet = false;

    // The table in hand.
    ContentTable m_table;
    bool m_external = false;
    std::vector<Candidate> m_candidates;
    std::uint64_t m_shapeOrder = 0;
    std::uint64_t m_row = 0;  // the row in hand and the cell's column, zero-based
    std::uint64_t m_rowRepeat = 1;
    std::uint64_t m_column = 0;
    std::uint64_t m_cellColumn = 0;
    std::uint64_t m_cellRepeat = 1;
    bool m_linkInCell = false;
    // The frame in hand.
    Candidate m_frame;
    bool m_frameHoldsObject = false;
    std::string m_description;
    std::size_t m_pictureCount = 0;
};

}  // namespace workbook::ods
