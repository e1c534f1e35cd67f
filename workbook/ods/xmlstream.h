#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/problem.h"

namespace workbook::ods {

// A start tag as it streams past, its names resolved against the namespaces in scope. Valid
// only during the call that hands it over.
class XmlStartTag {
public:
    std::string_view uri() const { return m_uri; }
    std::string_view local() const { return m_local; }
    bool is(std::string_view uri, std::string_view local) const {
        return m_local == local && m_uri == uri;
    }
    // The value of the attribute with that namespace and local name, entities decoded.
    std::optional<std::string> attribute(std::string_view uri, std::string_view local) const;

private:
    friend class XmlStream;
    struct Attribute {
        std::string_view prefix;
        std::string_view local;
        std::string_view rawValue;
    };
    std::string_view m_uri;
    std::string_view m_local;
    std::vector<Attribute> m_attributes;
    const class XmlStream* m_stream = nullptr;
};

// What a streamed document is handed to. Each call returns false to stop the stream.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual bool startElement(const XmlStartTag& tag) = 0;
    // The element opened last ends (right after its start for an empty element).
    virtual bool endElement() = 0;
    // Character data in pieces, as written (entities not decoded), with where each piece starts
    // in the stream. CDATA sections are passed over.
    virtual bool text(std::string_view raw, std::uint64_t offset) {
        (void)raw;
        (void)offset;
        return true;
    }
};

// Reads a UTF-8 XML document as it streams past, without building a tree, so that a part of
// hundreds of megabytes of cells costs no more memory than its longest tag. Checks that tags
// nest and that one root holds everything, and bounds every tag, the nesting and the
// namespace declarations in scope.
class XmlStream {
public:
    // Prefixes a document uses without declaring them are read as these namespaces.
    using KnownPrefixes = std::vector<std::pair<std::string_view, std::string_view>>;

    XmlStream(std::string place, XmlHandler& handler, KnownPrefixes known = {});

    // Takes the next bytes; false once the handler stopped or a problem was found.
    bool feed(const char* data, std::size_t size);
    // To be called at the end of the data, unless feed returned false.
    void finish();

    const std::optional<Problem>& problem() const { return m_problem; }
    // Whether the handler stopped the stream.
    bool stopped() const { return m_stopped; }

    // The namespace bound to a prefix where the stream is; empty when none.
    std::string_view namespaceOf(std::string_view prefix) const;

private:
    enum class Step { Done, NeedMore, Stop };
    bool scanPending();
    Step scanOne(std::size_t& pos);
    bool startTag(std::string_view tag);
    bool endTag(std::string_view tag);
    bool closeElement(std::uint64_t nameHash);
    bool fail(Problem problem);

    struct Binding {
        std::string prefix;
        std::string uri;
        int depth;
    };

    std::string m_place;
    XmlHandler& m_handler;
    KnownPrefixes m_known;
    std::string m_pending;
    std::uint64_t m_pendingOffset = 0;  // where m_pending starts in the stream
    std::uint64_t m_tagOffset = 0;      // where the tag in hand starts
    std::size_t m_scanAt = 0;           // the pending size at which to search again
    std::vector<std::uint64_t> m_open;  // a hash of each open element's name
    std::vector<Binding> m_bindings;
    std::size_t m_bindingBytes = 0;
    XmlStartTag m_tag;
    bool m_started = false;
    bool m_sawRoot = false;
    bool m_stopped = false;
    std::optional<Problem> m_problem;
};

// Text or an attribute value as written, its entity and character references decoded.
std::string decodeXmlText(std::string_view raw);

}  // namespace workbook::ods
