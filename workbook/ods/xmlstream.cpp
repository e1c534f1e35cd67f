#include "workbook/ods/xmlstream.h"

#include <algorithm>
#include <cstring>

#include "workbook/limits.h"
#include "workbook/ooxml/xmlmarkup.h"
#include "workbook/utf8.h"

namespace workbook::ods {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::uint64_t nameHash(std::string_view name) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (char c : name) {
        h = (h ^ std::uint8_t(c)) * 1099511628211ull;
    }
    return h;
}

std::string_view prefixOf(std::string_view qualified) {
    std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

std::string_view localOf(std::string_view qualified) {
    std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// A character reference's code point; one that no XML text may hold (NUL, a surrogate, past
// U+10FFFF) becomes U+FFFD.
void appendCharacter(std::string& out, std::uint32_t c) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
    }
    appendUtf8(out, c);
}

}  // namespace

std::string decodeXmlText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        std::size_t semicolon = raw[i] == '&' ? raw.find(';', i) : std::string_view::npos;
        if (semicolon == std::string_view::npos || semicolon - i > 12) {
            out += raw[i];
            continue;
        }
        std::string_view name = raw.substr(i + 1, semicolon - i - 1);
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool known = false;
        for (auto [entity, c] : kEntities) {
            if (name == entity) {
                out += c;
                known = true;
            }
        }
        if (!known && name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::uint32_t code = 0;
            known = name.size() > (hex ? 2u : 1u);
            for (char c : name.substr(hex ? 2 : 1)) {
                int digit = c >= '0' && c <= '9'          ? c - '0'
                            : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                            : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                          : -1;
                known = known && digit >= 0;
                code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + std::uint32_t(digit),
                                               0x110000);
            }
            if (known) {
                appendCharacter(out, code);
            }
        }
        if (known) {
            i = semicolon;
        } else {
            out += raw[i];
        }
    }
    return out;
}

std::optional<std::string> XmlStartTag::attribute(std::string_view uri,
                                                  std::string_view local) const {
    for (const Attribute& a : m_attributes) {
        if (a.local != local) {
            continue;
        }
        // An attribute without a prefix is in no namespace.
        std::string_view attributeUri =
            a.prefix.empty() ? std::string_view() : m_stream->namespaceOf(a.prefix);
        if (attributeUri == uri) {
            return decodeXmlText(a.rawValue);
        }
    }
    return std::nullopt;
}

XmlStream::XmlStream(std::string place, XmlHandler& handler, KnownPrefixes known)
    : m_place(std::move(place)), m_handler(handler), m_known(std::move(known)) {
    m_tag.m_stream = this;
}

bool XmlStream::fail(Problem problem) {
    if (!m_problem) {
        m_problem = std::move(problem);
    }
    return false;
}

std::string_view XmlStream::namespaceOf(std::string_view prefix) const {
    if (prefix == "xml") {
        return "http://www.w3.org/XML/1998/namespace";
    }
    for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it) {
        if (it->prefix == prefix) {
            return it->uri;
        }
    }
    for (const auto& [known, uri] : m_known) {
        if (!prefix.empty() && known == prefix) {
            return uri;
        }
    }
    return {};
}

bool XmlStream::feed(const char* data, std::size_t size) {
    if (m_problem || m_stopped) {
        return false;
    }
    m_pending.append(data, size);
    if (!m_started) {
        // The byte-order mark may arrive split over chunks.
        if (m_pending.size() < 3) {
            return true;
        }
        m_started = true;
        auto u = [&](std::size_t i) { return std::uint8_t(m_pending[i]); };
        if ((u(0) == 0xFF && u(1) == 0xFE) || (u(0) == 0xFE && u(1) == 0xFF)) {
            return fail(damaged(m_place, "the part is not UTF-8 text"));
        }
        if (u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
            m_pending.erase(0, 3);
            m_pendingOffset = 3;
        }
    }
    // An unfinished item is searched again only once what is pending has doubled, so that an
    // item arriving in many small pieces costs time in proportion to its length.
    if (m_pending.size() < m_scanAt && m_pending.size() <= kMaxMarkupItemBytes) {
        return true;
    }
    return scanPending();
}

bool XmlStream::scanPending() {
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
    m_pendingOffset += pos;
    m_scanAt = 2 * m_pending.size();
    // What is left is one unfinished tag, comment or similar.
    if (m_pending.size() > kMaxMarkupItemBytes) {
        return fail(tooLarge(m_place, "a markup item longer than " +
                                          std::to_string(kMaxMarkupItemBytes >> 20) + " MiB"));
    }
    return true;
}

XmlStream::Step XmlStream::scanOne(std::size_t& pos) {
    const char* base = m_pending.data();
    const std::size_t size = m_pending.size();
    const void* lt = pos < size ? std::memchr(base + pos, '<', size - pos) : nullptr;
    const std::size_t textEnd =
        lt != nullptr ? std::size_t(static_cast<const char*>(lt) - base) : size;
    if (textEnd > pos) {
        if (!m_open.empty() &&
            !m_handler.text(std::string_view(base + pos, textEnd - pos), m_pendingOffset + pos)) {
            m_stopped = true;
            return Step::Stop;
        }
        pos = textEnd;
    }
    if (lt == nullptr) {
        return Step::NeedMore;
    }
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
    } else {
        end = xmlmarkup::tagEnd(rest);
        if (end != std::string_view::npos) {
            std::string_view tag = rest.substr(0, end);
            m_tagOffset = m_pendingOffset + pos;
            if (!(rest[1] == '/' ? endTag(tag) : startTag(tag))) {
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

bool XmlStream::startTag(std::string_view tag) {
    const bool selfClosing = tag.size() >= 3 && tag[tag.size() - 2] == '/';
    std::string_view body = tag.substr(1, tag.size() - (selfClosing ? 3 : 2));
    std::size_t i = 0;
    while (i < body.size() && !isSpace(body[i])) {
        ++i;
    }
    const std::string_view name = body.substr(0, i);
    auto where = [&] { return " at byte " + std::to_string(m_tagOffset); };
    if (name.empty()) {
        return fail(damaged(m_place, "a tag without a name" + where()));
    }
    const int depth = int(m_open.size()) + 1;
    if (depth > kMaxXmlDepth) {
        return fail(tooLarge(
            m_place, "elements nested more than " + std::to_string(kMaxXmlDepth) + " deep"));
    }
    if (m_open.empty()) {
        if (m_sawRoot) {
            return fail(damaged(m_place, "more than one root element"));
        }
        m_sawRoot = true;
    }
    m_tag.m_attributes.clear();
    while (i < body.size()) {
        while (i < body.size() && isSpace(body[i])) {
            ++i;
        }
        if (i >= body.size()) {
            break;
        }
        std::size_t nameStart = i;
        while (i < body.size() && body[i] != '=' && !isSpace(body[i])) {
            ++i;
        }
        std::string_view attribute = body.substr(nameStart, i - nameStart);
        while (i < body.size() && isSpace(body[i])) {
            ++i;
        }
        if (attribute.empty() || i >= body.size() || body[i] != '=') {
            return fail(damaged(m_place, "a malformed attribute" + where()));
        }
        ++i;
        while (i < body.size() && isSpace(body[i])) {
            ++i;
        }
        if (i >= body.size() || (body[i] != '"' && body[i] != '\'')) {
            return fail(damaged(m_place, "a malformed attribute" + where()));
        }
        const char quote = body[i++];
        const std::size_t valueEnd = body.find(quote, i);
        if (valueEnd == std::string_view::npos) {
            return fail(damaged(m_place, "a malformed attribute" + where()));
        }
        std::string_view value = body.substr(i, valueEnd - i);
        i = valueEnd + 1;
        if (m_tag.m_attributes.size() >= kMaxXmlAttributes) {
            return fail(tooLarge(m_place, "an element with more than " +
                                              std::to_string(kMaxXmlAttributes) + " attributes"));
        }
        if (attribute == "xmlns" || prefixOf(attribute) == "xmlns") {
            Binding binding{
                std::string(attribute == "xmlns" ? std::string_view() : localOf(attribute)),
                decodeXmlText(value), depth};
            m_bindingBytes += binding.prefix.size() + binding.uri.size();
            if (m_bindingBytes > kMaxXmlNamespaceBytes) {
                return fail(tooLarge(m_place, "more than " +
                                                  std::to_string(kMaxXmlNamespaceBytes >> 10) +
                                                  " KiB of namespace declarations"));
            }
            m_bindings.push_back(std::move(binding));
            continue;
        }
        m_tag.m_attributes.push_back({prefixOf(attribute), localOf(attribute), value});
    }
    m_tag.m_uri = namespaceOf(prefixOf(name));
    m_tag.m_local = localOf(name);
    m_open.push_back(nameHash(name));
    if (!m_handler.startElement(m_tag)) {
        m_stopped = true;
        return false;
    }
    return !selfClosing || closeElement(m_open.back());
}

bool XmlStream::endTag(std::string_view tag) {
    std::string_view name = tag.substr(2, tag.size() - 3);
    while (!name.empty() && isSpace(name.back())) {
        name.remove_suffix(1);
    }
    return closeElement(nameHash(name));
}

bool XmlStream::closeElement(std::uint64_t hash) {
    if (m_open.empty()) {
        return fail(damaged(m_place, "an end tag without a start tag"));
    }
    if (m_open.back() != hash) {
        return fail(damaged(m_place, "an end tag that does not match its start tag at byte " +
                                         std::to_string(m_tagOffset)));
    }
    const int depth = int(m_open.size());
    m_open.pop_back();
    while (!m_bindings.empty() && m_bindings.back().depth == depth) {
        m_bindingBytes -= m_bindings.back().prefix.size() + m_bindings.back().uri.size();
        m_bindings.pop_back();
    }
    if (!m_handler.endElement()) {
        m_stopped = true;
        return false;
    }
    return true;
}

void XmlStream::finish() {
    if (m_problem || m_stopped) {
        return;
    }
    // Fewer than three bytes in all are too short for a mark.
    m_started = true;
    if (!scanPending()) {
        return;
    }
    if (m_pending.find('<') != std::string::npos || !m_open.empty()) {
        fail(damaged(m_place, "unexpected end of data"));
    } else if (!m_sawRoot) {
        fail(damaged(m_place, "no root element"));
    }
}

}  // namespace workbook::ods
