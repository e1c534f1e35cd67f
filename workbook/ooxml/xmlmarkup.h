#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Where the items of XML text end, for the streaming readers that take it in pieces.
namespace workbook::xmlmarkup {

// One past the end of `end` found in text at or after from; npos when it is not there (yet).
inline std::size_t closeAfter(std::string_view text, std::size_t from, std::string_view end) {
    const std::size_t at = from == std::string_view::npos ? from : text.find(end, from);
    return at == std::string_view::npos ? at : at + end.size();
}

// For text that starts with "<?" or "<!": one past the end of that declaration, comment or
// CDATA section; npos when text does not hold its end yet; nullopt when text is too short to
// tell a comment or CDATA section from another declaration.
inline std::optional<std::size_t> declarationEnd(std::string_view text) {
    if (text[1] == '?') {
        return closeAfter(text, 2, "?>");
    }
    constexpr std::string_view kComment = "<!--", kCdata = "<![CDATA[";
    auto startOf = [text](std::string_view full) {
        return text.size() < full.size() && full.substr(0, text.size()) == text;
    };
    if (startOf(kComment) || startOf(kCdata)) {
        return std::nullopt;
    }
    if (text.starts_with(kComment)) {
        return closeAfter(text, kComment.size(), "-->");
    }
    if (text.starts_with(kCdata)) {
        return closeAfter(text, kCdata.size(), "]]>");
    }
    const std::size_t bracket = text.find('[');
    const std::size_t gt = text.find('>');
    return bracket < gt ? closeAfter(text, text.find(']', bracket), ">") : closeAfter(text, 2, ">");
}

// For text that starts with a tag: one past its '>', which is never inside a quoted attribute
// value; npos when text does not hold it yet.
inline std::size_t tagEnd(std::string_view text) {
    char quote = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

}  // namespace workbook::xmlmarkup
