#include "workbook/ooxml/sheetscanner.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "workbook/limits.h"
#include "workbook/ooxml/cellpictures.h"
#include "workbook/ooxml/xmlmarkup.h"

namespace workbook {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string decodeEntities(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool matched = false;
        for (auto [name, c] : kEntities) {
            if (text.substr(i, name.size()) == name) {
                out += c;
                i += name.size() - 1;
                matched = true;
                break;
            }
        }
        if (!matched) {
            out += '&';
        }
    }
    return out;
}

// Calls visit(name, raw value) for each name="value" pair of a start tag, from the end of its
// name on, until visit returns false.
template <typename Visit>
void forEachAttribute(std::string_view tag, std::size_t i, Visit visit) {
    while (i < tag.size()) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        std::size_t nameStart = i;
        while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]) && tag[i] != '/' &&
               tag[i] != '>')
            ++i;
        std::string_view attribute = tag.substr(nameStart, i - nameStart);
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] != '=') {
            if (attribute.empty())
                ++i;
            continue;
        }
        ++i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) {
            return;
        }
        char quote = tag[i++];
        std::size_t valueEnd = tag.find(quote, i);
        if (valueEnd == std::string_view::npos) {
            return;
        }
        std::string_view value = tag.substr(i, valueEnd - i);
        i = valueEnd + 1;
        if (!visit(attribute, value)) {
            return;
        }
    }
}

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "B7" -> column 1, row 6; false for anything else.
bool parseCellReference(std::string_view r, std::uint32_t& outColumn, std::uint32_t& outRow) {
    std::uint64_t column = 0;
    std::size_t i = 0;
    for (; i < r.size() && i < 3; ++i) {
        char c = r[i];
        if (c >= 'a' && c <= 'z') {
            c = char(c - 'a' + 'A');
        }
        if (c < 'A' || c > 'Z') {
            break;
        }
        column = column * 26 + std::uint64_t(c - 'A' + 1);
    }
    auto row = parseNumber(r.substr(i));
    if (i == 0 || !row || *row == 0) {
        return false;
    }
    outColumn = std::uint32_t(column - 1);
    outRow = *row - 1;
    return true;
}

// A DISPIMG formula is a few dozen characters; a longer formula is not looked into.
constexpr std::size_t kMaxScannedFormulaBytes = 4096;

}  // namespace

bool SheetScanner::fail(Problem problem) {
    if (!m_problem) {
        m_problem = std::move(problem);
    }
    return false;
}

bool SheetScanner::feed(const char* data, std::size_t size) {
    if (m_problem || m_drawingId || m_needsTree) {
        return false;
    }
    m_pending.append(data, size);
    if (!m_started) {
        // The byte-order mark may arrive split over two chunks.
        if (m_pending.size() < 2) {
            return true;
        }
        m_started = true;
        auto u = [&](std::size_t i) { return std::uint8_t(m_pending[i]); };
        if ((u(0) == 0xFF && u(1) == 0xFE) || (u(0) == 0xFE && u(1) == 0xFF)) {
            m_needsTree = true;
            return false;
        }
    }
    std::size_t pos = 0;
    for (;;) {
        Step step = scanOne(pos);
        if (step == Step::Stop) {
            return false;
        }
        if (step == Step::NeedMore) {
            break;
        }
    }
    m_pending.erase(0, pos);
    // What is left is one unfinished tag, comment or similar; each feed searches it again.
    if (m_pending.size() > kMaxMarkupItemBytes) {
        return fail(tooLarge(m_place, "a markup item longer than " +
                                          std::to_string(kMaxMarkupItemBytes >> 20) + " MiB"));
    }
    return true;
}

SheetScanner::Step SheetScanner::scanOne(std::size_t& pos) {
    const char* base = m_pending.data();
    std::size_t size = m_pending.size();
    const void* lt = pos < size ? std::memchr(base + pos, '<', size - pos) : nullptr;
    const std::size_t textEnd = lt ? std::size_t(static_cast<const char*>(lt) - base) : size;
    if (m_inFormula && textEnd > pos) {
        keepFormulaText(std::string_view(base + pos, textEnd - pos));
    }
    if (lt == nullptr) {
        pos = size;
        return Step::NeedMore;
    }
    pos = textEnd;
    std::string_view rest(base + pos, size - pos);
    if (rest.size() < 2) {
        return Step::NeedMore;
    }
    std::size_t end = std::string_view::npos;
    if (rest[1] == '?' || rest[1] == '!') {
        const auto declared = xmlmarkup::declarationEnd(rest);
        if (!declared) {
            return Step::NeedMore;
        }
        end = *declared;
    } else if (rest[1] == '/') {
        end = xmlmarkup::closeAfter(rest, 2, ">");
        if (end != std::string_view::npos) {
            if (m_inFormula) {
                endFormula();
            }
            if (--m_depth < 0) {
                fail(damaged(m_place, "an end tag without a start tag"));
                return Step::Stop;
            }
        }
    } else {
        end = xmlmarkup::tagEnd(rest);
        if (end != std::string_view::npos) {
            startTag(rest.substr(0, end));
            if (m_problem || m_drawingId) {
                return Step::Stop;
            }
        }
    }
    if (end == std::string_view::npos) {
        return Step::NeedMore;
    }
    pos += end;
    return Step::Done;
}

void SheetScanner::startTag(std::string_view tag) {
    bool selfClosing = tag.size() >= 2 && tag[tag.size() - 2] == '/';
    std::size_t nameEnd = 1;
    while (nameEnd < tag.size() && !isSpace(tag[nameEnd]) && tag[nameEnd] != '/' &&
           tag[nameEnd] != '>') {
        ++nameEnd;
    }
    std::string_view name = tag.substr(1, nameEnd - 1);
    std::size_t colon = name.find(':');
    std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
    if (m_depth == 0) {
        if (m_sawRoot) {
            fail(damaged(m_place, "more than one root element"));
            return;
        }
        m_sawRoot = true;
    }
    if (m_depth == 1 && local == "drawing") {
        // The prefixed "id" is the relationship id.
        forEachAttribute(tag, nameEnd, [&](std::string_view attribute, std::string_view value) {
            std::size_t c = attribute.find(':');
            if (c != std::string_view::npos && attribute.substr(0, c) != "xmlns" &&
                attribute.substr(c + 1) == "id") {
                m_drawingId = decodeEntities(value);
                return false;
            }
            return true;
        });
        if (!m_drawingId) {
            m_drawingId = std::string();
        }
        return;
    }
    if ((m_imageValueMetadata || m_dispimg) && m_depth >= 2 && m_depth <= 4) {
        cellTag(local, tag, nameEnd, selfClosing);
        if (m_problem) {
            return;
        }
    }
    if (!selfClosing && ++m_depth > kMaxXmlDepth) {
        fail(tooLarge(m_place,
                      "elements nested more than " + std::to_string(kMaxXmlDepth) + " deep"));
    }
}

// Rows and cells of sheetData, and a cell's formula; a row or cell without its reference
// follows the one before it.
void SheetScanner::cellTag(std::string_view local, std::string_view tag, std::size_t attributes,
                           bool selfClosing) {
    if (m_depth == 2 && local == "row") {
        std::optional<std::uint32_t> row;
        forEachAttribute(tag, attributes, [&](std::string_view name, std::string_view value) {
            if (name == "r") {
                row = parseNumber(value);
                return false;
            }
            return true;
        });
        m_row = row && *row > 0 ? std::int64_t(*row) - 1 : m_row + 1;
        m_column = -1;
        return;
    }
    if (m_depth == 3 && local == "c") {
        bool referenced = false;
        std::uint32_t column = 0, row = 0, vm = 0;
        forEachAttribute(tag, attributes, [&](std::string_view name, std::string_view value) {
            if (name == "r") {
                referenced = parseCellReference(value, column, row);
            } else if (name == "vm") {
                vm = parseNumber(value).value_or(0);
            }
            return true;
        });
        if (referenced) {
            m_column = column;
            m_row = row;
        } else {
            m_column = m_column + 1;
        }
        if (m_imageValueMetadata && vm > 0 && vm < m_imageValueMetadata->size() &&
            (*m_imageValueMetadata)[vm]) {
            if (m_cells.size() >= kMaxPictures) {
                fail(tooLarge(m_place,
                              "more than " + std::to_string(kMaxPictures) + " pictures in cells"));
                return;
            }
            m_cells.push_back({std::uint32_t(std::max<std::int64_t>(m_row, 0)),
                               std::uint32_t(std::max<std::int64_t>(m_column, 0)),
                               vm,
                               {}});
        }
        return;
    }
    if (m_depth == 4 && local == "f" && m_dispimg && !selfClosing) {
        m_inFormula = true;
        m_formulaTooLong = false;
        m_formula.clear();
    }
}

void SheetScanner::keepFormulaText(std::string_view text) {
    if (m_formula.size() + text.size() > kMaxScannedFormulaBytes) {
        m_formulaTooLong = true;
        return;
    }
    m_formula.append(text);
}

void SheetScanner::endFormula() {
    m_inFormula = false;
    if (m_formulaTooLong) {
        return;
    }
    std::string id = dispimgId(decodeEntities(m_formula));
    if (id.empty()) {
        return;
    }
    if (m_cells.size() >= kMaxPictures) {
        fail(tooLarge(m_place, "more than " + std::to_string(kMaxPictures) + " pictures in cells"));
        return;
    }
    m_cells.push_back({std::uint32_t(std::max<std::int64_t>(m_row, 0)),
                       std::uint32_t(std::max<std::int64_t>(m_column, 0)), 0, std::move(id)});
}

void SheetScanner::finish() {
    if (m_problem || m_drawingId || m_needsTree) {
        return;
    }
    if (m_pending.find('<') != std::string::npos || m_depth != 0) {
        fail(damaged(m_place, "unexpected end of data"));
    } else if (!m_sawRoot) {
        fail(damaged(m_place, "no root element"));
    }
}

}  // namespace workbook
