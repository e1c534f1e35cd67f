#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metafile/metafile.h"
#include "workbook/bitmapinfo.h"
#include "workbook/boundedcursor.h"

namespace metafile {

struct RectL {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// The graphics objects of a Windows metafile and their decoding. EMF and WMF define the same
// logical pens, brushes, fonts and palettes, EMF with 32-bit fields and WMF with 16-bit ones;
// both record readers decode them here.
namespace gdi {

enum class Fields { Sixteen, ThirtyTwo };

// A COLORREF as GDI keeps it: a colour, or (PALETTEINDEX) an entry of the palette selected
// when it is drawn.
struct Colour {
    Rgb rgb;
    int paletteIndex = -1;
    Colour() = default;
    Colour(Rgb c) : rgb(c) {}  // NOLINT: a plain colour is a COLORREF
};

struct Pen {
    int style = 0;     // PS_* with end cap, join and type bits
    double width = 0;  // logical units; 0 is one pixel
    bool cosmetic = true;
    Colour colour;
    std::vector<double> userStyle;  // PS_USERSTYLE dashes and gaps, logical units
};

struct Brush {
    int style = 0;  // BS_*
    Colour colour;
    int hatch = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> pattern;
    // A monochrome pattern, drawn in the text and background colours; its bits as the bitmap
    // has them, a set bit the background.
    std::shared_ptr<const MonoPattern> mono;
};

struct Font {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 0;
    int quality = 0;   // NONANTIALIASED_QUALITY (3) draws whole pixels
    std::string face;  // UTF-8
};

struct Palette {
    std::vector<Rgb> entries;
};

struct Region {
    std::vector<RectL> rects;
};

struct Object {
    enum class Kind { Empty, Pen, Brush, Font, Palette, Region } kind = Kind::Empty;
    Pen pen;
    Brush brush;
    Font font;
    std::shared_ptr<const Palette> palette;
    std::shared_ptr<const Region> region;
};

// Palette entries one logical palette may hold ([MS-WMF] 2.2.1.3: a 16-bit count).
constexpr std::size_t kMaxPaletteEntries = 65'535;

// A COLORREF: red, green, blue and a byte that says how the colour is meant.
Colour readColorRef(workbook::BoundedCursor& c);
// The twenty colours of the default palette (DEFAULT_PALETTE).
const Palette& defaultPalette();

// LOGPEN ([MS-EMF] 2.2.19, [MS-WMF] 2.2.1.4): style, width as a point, colour.
Pen readLogPen(workbook::BoundedCursor& c, Fields fields);
// LOGBRUSH ([MS-EMF] 2.2.12, [MS-WMF] 2.2.2.10): style, colour, hatch.
Brush readLogBrush(workbook::BoundedCursor& c, Fields fields);
// LOGFONT ([MS-EMF] 2.2.13, [MS-WMF] 2.2.1.2); EMF's face is UTF-16, WMF's is ANSI bytes.
Font readLogFont(workbook::BoundedCursor& c, Fields fields);
// The entries of LOGPALETTE ([MS-EMF] 2.2.17) and of WMF's Palette object ([MS-WMF] 2.2.1.3),
// after their first 16-bit field: the count, then red, green, blue and flags each.
Palette readPaletteEntries(workbook::BoundedCursor& c);

// A brush that tiles a packed DIB: header and pixels, copied, as the records free theirs.
Brush patternBrush(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* bits,
                   std::size_t bitsSize);
// A pattern brush whose bitmap could not be read: drawn grey, and its slot still taken.
Brush unreadablePatternBrush();
// A brush of a monochrome bitmap, rows of whole 32-bit (DIB, bottom-up unless topDown) or
// 16-bit (WMF's Bitmap16, top-down) units, which GDI draws in the text and background colours
// whatever colours a table names; nothing when it is not one bit a pixel or is cut short.
std::optional<Brush> monoPatternBrush(int width, int height, std::size_t stride, bool topDown,
                                      const std::uint8_t* bits, std::size_t bitsSize);
// The same from a DIB's BITMAPINFOHEADER, with or without its colour table.
std::optional<Brush> monoPatternBrushOfDib(const std::uint8_t* header, std::size_t headerSize,
                                           const std::uint8_t* bits, std::size_t bitsSize);

Brush solidBrush(Colour colour, int style = 0);
Pen cosmeticPen(int style, Colour colour);

Object penObject(const Pen& pen);
Object brushObject(const Brush& brush);
Object fontObject(const Font& font);
Object paletteObject(Palette palette);
Object regionObject(Region region);

// Keeps the source rectangle of a bitmap draw inside its bitmap; rows of a bottom-up DIB count
// from the bottom in the records that address it as a DIB. False when nothing is left.
bool setBitmapSource(BitmapDraw& draw, const workbook::BitmapInfo& info, std::int64_t x,
                     std::int64_t y, std::int64_t w, std::int64_t h, bool yFromBottom);

}  // namespace gdi

}  // namespace metafile
