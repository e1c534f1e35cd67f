#pragma once

#include <string>
#include <string_view>

// Paths and other texts as the tool writes them. A file name on Linux is bytes and need not be
// UTF-8, while JSON and the terminal want valid text, so each output escapes what it cannot
// carry in a way that is written down in the manual:
// - JSON: valid UTF-8 as it is; a byte that is not part of valid UTF-8 becomes the escape
//   "\udcNN" (the "surrogateescape" convention: Python's os.fsencode() of the decoded value
//   gives the original bytes back).
// - CSV: a backslash is written "\\", and a byte that is not part of valid UTF-8 or a control
//   character "\xNN"; a field holding a comma or a quote is quoted.
// - Messages: bad bytes and control characters "\xNN", everything else as it is.
namespace batch {

// The JSON string literal, quotes included.
std::string jsonString(std::string_view text);

// One CSV field, quoted when it needs to be.
std::string csvField(std::string_view text);

// The text for a message line on the terminal.
std::string displayText(std::string_view text);

// Whether the bytes are valid UTF-8 throughout.
bool isUtf8(std::string_view text);

}  // namespace batch
