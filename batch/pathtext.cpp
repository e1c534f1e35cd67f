#include "batch/pathtext.h"

#include <cstdint>
#include <cstdio>

namespace batch {
namespace {

// The length of the valid UTF-8 sequence that starts at text[at], or 0 when the byte there
// does not start one (overlong forms, surrogates and code points past U+10FFFF are invalid).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return std::uint8_t(text[at + i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::string hexEscape(const char* form, std::uint8_t byte) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, form, unsigned(byte));
    return buffer;
}

bool isControl(std::uint8_t byte) {
    return byte < 0x20 || byte == 0x7F;
}

// U+0080 to U+009F: the C1 controls, which a terminal may take as the start of an escape
// sequence as it takes ESC (U+009B is CSI).
bool isC1Control(std::string_view sequence) {
    return sequence.size() == 2 && std::uint8_t(sequence[0]) == 0xC2 &&
           std::uint8_t(sequence[1]) < 0xA0;
}

// Walks the text: valid sequences go to keep(), each bad byte to bad().
template <typename Keep, typename Bad>
void walkUtf8(std::string_view text, Keep keep, Bad bad) {
    for (std::size_t at = 0; at < text.size();) {
        if (std::size_t length = utf8SequenceLength(text, at)) {
            keep(text.substr(at, length));
            at += length;
        } else {
            bad(std::uint8_t(text[at]));
            ++at;
        }
    }
}

// Messages and CSV fields: bad bytes and control characters as \xNN.
std::string escapedText(std::string_view text, bool doubleBackslash) {
    std::string out;
    out.reserve(text.size());
    walkUtf8(
        text,
        [&](std::string_view sequence) {
            const auto first = std::uint8_t(sequence[0]);
            if (isControl(first)) {
                out += hexEscape("\\x%02X", first);
            } else if (isC1Control(sequence)) {
                out +=
                    hexEscape("\\x%02X", first) + hexEscape("\\x%02X", std::uint8_t(sequence[1]));
            } else if (doubleBackslash && first == '\\') {
                out += "\\\\";
            } else {
                out += sequence;
            }
        },
        [&](std::uint8_t byte) { out += hexEscape("\\x%02X", byte); });
    return out;
}

}  // namespace

bool isUtf8(std::string_view text) {
    bool valid = true;
    walkUtf8(
        text, [](std::string_view) {}, [&](std::uint8_t) { valid = false; });
    return valid;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    walkUtf8(
        text,
        [&](std::string_view sequence) {
            const auto first = std::uint8_t(sequence[0]);
            switch (first) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    out += first < 0x20 ? hexEscape("\\u%04x", first) : std::string(sequence);
            }
        },
        [&](std::uint8_t byte) { out += hexEscape("\\udc%02x", byte); });
    return out + "\"";
}

std::string csvField(std::string_view text) {
    std::string field = escapedText(text, true);
    if (field.find_first_of(",\"") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string displayText(std::string_view text) {
    return escapedText(text, false);
}

}  // namespace batch
