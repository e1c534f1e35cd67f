#include "workbook/ooxml/sheetscanner.h"

#include <cstring>

#include "workbook/limits.h"

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
    if (lt == nullptr) {
        pos = size;
        return Step::NeedMore;
    }
    pos = std::size_t(static_cast<const char*>(lt) - base);
    std::string_view rest(base + pos, size - pos);
    auto closeAfter = [&](std::size_t from, std::string_view end) -> std::size_t {
        std::size_t at = rest.find(end, from);
        return at == std::string_view::npos ? at : at + end.size();
    };
    if (rest.size() < 2) {
        return Step::NeedMore;
    }
    std::size_t end = std::string_view::npos;
    if (rest[1] == '?') {
        end = closeAfter(2, "?>");
    } else if (rest[1] == '!') {
        constexpr std::string_view kComment = "<!--", kCdata = "<![CDATA[";
        auto startOf = [&](std::string_view full) {
            return rest.size() < full.size() && full.substr(0, rest.size()) == rest;
        };
        if (startOf(kComment) || startOf(kCdata)) {
            return Step::NeedMore;
        }
        if (rest.starts_with(kComment)) {
            end = closeAfter(kComment.size(), "-->");
        } else if (rest.starts_with(kCdata)) {
            end = closeAfter(kCdata.size(), "]]>");
        } else {
            std::size_t bracket = rest.find('[');
            std::size_t gt = rest.find('>');
            end = bracket < gt ? closeAfter(rest.find(']', bracket), ">") : closeAfter(2, ">");
        }
    } else if (rest[1] == '/') {
        end = closeAfter(2, ">");
        if (end != std::string_view::npos) {
            if (--m_depth < 0) {
                fail(damaged(m_place, "an end tag without a start tag"));
                return Step::Stop;
            }
        }
    } else {
        char quote = 0;
        for (std::size_t i = 1; i < rest.size(); ++i) {
            char c = rest[i];
            if (quote != 0) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                end = i + 1;
                break;
            }
        }
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
        // Attributes: name="value" pairs; the prefixed "id" is the relationship id.
        std::size_t i = nameEnd;
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
                break;
            }
            char quote = tag[i++];
            std::size_t valueEnd = tag.find(quote, i);
            if (valueEnd == std::string_view::npos) {
                break;
            }
            std::string_view value = tag.substr(i, valueEnd - i);
            i = valueEnd + 1;
            std::size_t c = attribute.find(':');
            if (c != std::string_view::npos && attribute.substr(0, c) != "xmlns" &&
                attribute.substr(c + 1) == "id") {
                m_drawingId = decodeEntities(value);
                return;
            }
        }
        m_drawingId = std::string();
        return;
    }
    if (!selfClosing && ++m_depth > kMaxXmlDepth) {
        fail(tooLarge(m_place,
                      "elements nested more than " + std::to_string(kMaxXmlDepth) + " deep"));
    }
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
