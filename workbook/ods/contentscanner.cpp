#include "workbook/ods/contentscanner.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "workbook/limits.h"
#include "workbook/workbook.h"

namespace workbook::ods {
namespace {

constexpr std::uint64_t kMaxIndex = std::numeric_limits<std::uint32_t>::max();

// A non-negative count or index attribute; none when absent or not a number.
std::optional<std::uint64_t> numberAttribute(const XmlStartTag& tag, std::string_view uri,
                                             std::string_view local) {
    std::optional<std::string> text = tag.attribute(uri, local);
    if (!text) {
        return std::nullopt;
    }
    std::string_view digits = *text;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '+')) {
        digits.remove_prefix(1);
    }
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (error != std::errc() || end == digits.data()) {
        return std::nullopt;
    }
    return value;
}

// Rows and columns are counted without expanding repeats; past the largest cell they stay.
std::uint64_t advance(std::uint64_t index, std::uint64_t by) {
    return std::min(kMaxIndex, index + std::min(by, kMaxIndex));
}

}  // namespace

XmlStream::KnownPrefixes knownPrefixes() {
    return {{"office", kOfficeNs}, {"table", kTableNs}, {"draw", kDrawNs},        {"dr3d", kDr3dNs},
            {"svg", kSvgNs},       {"xlink", kXlinkNs}, {"manifest", kManifestNs}};
}

bool ContentScanner::fail(Problem problem) {
    if (!m_problem) {
        m_problem = std::move(problem);
    }
    return false;
}

ContentScanner::Kind ContentScanner::childKind(Kind parent, const XmlStartTag& tag) {
    const std::string_view uri = tag.uri();
    const std::string_view local = tag.local();
    switch (parent) {
        case Kind::Root:
            return tag.is(kOfficeNs, "body") ? Kind::Body : Kind::Skip;
        case Kind::Body:
            if (tag.is(kOfficeNs, "spreadsheet")) {
                m_sawSpreadsheet = true;
                return Kind::Spreadsheet;
            }
            return Kind::Skip;
        case Kind::Spreadsheet:
            return tag.is(kTableNs, "table") ? Kind::Table : Kind::Skip;
        case Kind::Table:
        case Kind::Rows:
            if (uri != kTableNs) {
                return Kind::Skip;
            }
            if (parent == Kind::Table && local == "table-source") {
                m_external = true;
                return Kind::Skip;
            }
            if (parent == Kind::Table && local == "shapes") {
                return Kind::Shapes;
            }
            if (local == "table-row-group" || local == "table-header-rows" ||
                local == "table-rows") {
                return Kind::Rows;
            }
            return local == "table-row" ? Kind::Row : Kind::Skip;
        case Kind::Row:
            return uri == kTableNs && (local == "table-cell" || local == "covered-table-cell")
                       ? Kind::Cell
                       : Kind::Skip;
        case Kind::Shapes:
        case Kind::Cell:
        case Kind::Link:
            // A shape with a hyperlink is wrapped in one.
            if (parent != Kind::Link && tag.is(kDrawNs, "a")) {
                m_linkInCell = parent == Kind::Cell;
                return Kind::Link;
            }
            // Every drawing element here is a shape on the sheet and takes its place in the
            // document order; only frames can be pictures, and a group's members are its own.
            if (uri == kDrawNs || uri == kDr3dNs) {
                ++m_shapeOrder;
                if (tag.is(kDrawNs, "frame")) {
                    startFrame(tag, parent == Kind::Cell || (parent == Kind::Link && m_linkInCell));
                    return Kind::Frame;
                }
            }
            return Kind::Skip;
        case Kind::Frame:
            if (tag.is(kDrawNs, "image")) {
                if (m_frame.picture.images.size() < kMaxOdsFrameImages) {
                    m_frame.picture.images.push_back(
                        {tag.attribute(kXlinkNs, "href").value_or(std::string()), 0, 0});
                    return Kind::Image;
                }
            } else if (tag.is(kDrawNs, "object") || tag.is(kDrawNs, "object-ole")) {
                // A chart or an embedded object; its image is only its replacement.
                m_frameHoldsObject = true;
            } else if (tag.is(kSvgNs, "desc")) {
                m_description.clear();
                return Kind::Description;
            }
            return Kind::Skip;
        case Kind::Image:
            return tag.is(kOfficeNs, "binary-data") ? Kind::BinaryData : Kind::Skip;
        default:
            return Kind::Skip;
    }
}

void ContentScanner::startFrame(const XmlStartTag& tag, bool inCell) {
    m_frame = Candidate();
    m_frame.order = m_shapeOrder;
    m_frame.zIndex = numberAttribute(tag, kDrawNs, "z-index");
    m_frame.picture.name = tag.attribute(kDrawNs, "name").value_or(std::string());
    if (inCell) {
        m_frame.picture.cell = cellName(std::uint32_t(m_cellColumn), std::uint32_t(m_row));
    }
    m_frameHoldsObject = false;
    m_description.clear();
}

bool ContentScanner::startElement(const XmlStartTag& tag) {
    Kind kind = Kind::Skip;
    if (m_stack.empty()) {
        if (tag.is(kOfficeNs, "document-content") || tag.is(kOfficeNs, "document")) {
            m_sawDocument = true;
            m_rootMimetype = tag.attribute(kOfficeNs, "mimetype").value_or(std::string());
            kind = Kind::Root;
        }
    } else if (m_stack.back() != Kind::Skip) {
        kind = childKind(m_stack.back(), tag);
    }
    switch (kind) {
        case Kind::Table:
            if (m_tables.size() >= kMaxWorksheets) {
                return fail(
                    tooLarge(m_place, "more than " + std::to_string(kMaxWorksheets) + " tables"));
            }
            m_table = ContentTable{tag.attribute(kTableNs, "name").value_or(std::string()), {}};
            m_external = false;
            m_candidates.clear();
            m_shapeOrder = 0;
            m_row = 0;
            break;
        case Kind::Row:
            m_rowRepeat = numberAttribute(tag, kTableNs, "number-rows-repeated").value_or(1);
            m_column = 0;
            break;
        case Kind::Cell:
            m_cellColumn = m_column;
            m_cellRepeat = numberAttribute(tag, kTableNs, "number-columns-repeated").value_or(1);
            break;
        case Kind::BinaryData:
            m_frame.picture.images.back().dataOffset = 0;
            m_frame.picture.images.back().dataEnd = 0;
            break;
        default:
            break;
    }
    m_stack.push_back(kind);
    return true;
}

bool ContentScanner::text(std::string_view raw, std::uint64_t offset) {
    if (m_stack.empty()) {
        return true;
    }
    if (m_stack.back() == Kind::BinaryData) {
        FrameImage& image = m_frame.picture.images.back();
        if (image.dataEnd == 0) {
            image.dataOffset = offset;
        }
        image.dataEnd = offset + raw.size();
    } else if (m_stack.back() == Kind::Description &&
               m_description.size() + raw.size() <= kMaxOdsDescriptionBytes) {
        m_description.append(raw);
    }
    return true;
}

bool ContentScanner::endTable() {
    if (m_external) {
        return true;
    }
    std::stable_sort(m_candidates.begin(), m_candidates.end(),
                     [](const Candidate& a, const Candidate& b) {
                         if (a.zIndex.has_value() != b.zIndex.has_value()) {
                             return a.zIndex.has_value();
                         }
                         return a.zIndex.has_value() && *a.zIndex < *b.zIndex;
                     });
    for (Candidate& candidate : m_candidates) {
        m_table.pictures.push_back(std::move(candidate.picture));
    }
    m_candidates.clear();
    m_tables.push_back(std::move(m_table));
    return true;
}

bool ContentScanner::endElement() {
    if (m_stack.empty()) {
        return true;
    }
    const Kind kind = m_stack.back();
    m_stack.pop_back();
    switch (kind) {
        case Kind::Row:
            m_row = advance(m_row, m_rowRepeat);
            break;
        case Kind::Cell:
            m_column = advance(m_column, m_cellRepeat);
            break;
        case Kind::Description:
            m_frame.picture.description = decodeXmlText(m_description);
            break;
        case Kind::Frame: {
            if (m_frameHoldsObject || m_frame.picture.images.empty()) {
                break;
            }
            if (++m_pictureCount > kMaxPictures) {
                return fail(tooLarge(m_place, "more than " + std::to_string(kMaxPictures) +
                                                  " pictures in the workbook"));
            }
            m_candidates.push_back(std::move(m_frame));
            break;
        }
        case Kind::Table:
            return endTable();
        default:
            break;
    }
    return true;
}

}  // namespace workbook::ods
