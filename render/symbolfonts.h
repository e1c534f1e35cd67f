#pragma once

#include <QString>

#include "metafile/metafile.h"

namespace render {

// Text in a symbol font (Symbol, Wingdings 1 to 3, Webdings, MT Extra): GDI draws the bytes
// 0x20 to 0xFF, or the code points U+F020 to U+F0FF, as that font's pictures. They are drawn
// here from the fonts that hold those pictures (the ones Debian's fonts-wine ships, found
// beside it), and otherwise as the Unicode characters that show the same thing in any font
// (OpenSymbol holds most); what neither has is left blank, never drawn as a letter.
struct SymbolRun {
    QString family;
    QString text;  // one character for each of the run's
};

// The run as a symbol font draws it; false when its font is not a symbol font.
bool symbolRun(const metafile::TextRun& run, SymbolRun& out);

}  // namespace render
