#include "metafile/gdiobjects.h"

#include <algorithm>
#include <cstdint>

#include "metafile/metafilereaders.h"

namespace metafile::gdi {

using workbook::BoundedCursor;

namespace {

std::int32_t readInt(BoundedCursor& c, Fields fields) {
    return fields == Fields::Sixteen ? c.i16le() : c.i32le();
}

std::uint32_t readUInt(BoundedCursor& c, Fields fields) {
    return fields == Fields::Sixteen ? c.u16le() : c.u32le();
}

}  // namespace

Colour readColorRef(BoundedCursor& c) {
    Colour colour;
    colour.rgb.r = c.u8();
    colour.rgb.g = c.u8();
    colour.rgb.b = c.u8();
    // 0x01: PALETTEINDEX, the low 16 bits an index; 0x02 (PALETTERGB) is the colour itself.
    if (c.u8() == 0x01) {
        colour.paletteIndex = colour.rgb.r | colour.rgb.g << 8;
    }
    return colour;
}

const Palette& defaultPalette() {
    static const Palette kDefault{
        {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
         {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
         {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
         {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}}};
    return kDefault;
}

Pen readLogPen(BoundedCursor& c, Fields fields) {
    Pen pen;
    pen.style = int(readUInt(c, fields));
    pen.width = readInt(c, fields);
    readInt(c, fields);  // the point's y, unused
    pen.colour = readColorRef(c);
    pen.cosmetic = pen.width <= 0;
    return pen;
}

Brush readLogBrush(BoundedCursor& c, Fields fields) {
    Brush brush;
    brush.style = int(readUInt(c, fields));
    brush.colour = readColorRef(c);
    brush.hatch = int(readUInt(c, fields));
    return brush;
}

Font readLogFont(BoundedCursor& c, Fields fields) {
    Font font;
    font.height = readInt(c, fields);
    font.width = readInt(c, fields);
    font.escapement = readInt(c, fields);
    readInt(c, fields);  // orientation
    font.weight = readInt(c, fields);
    font.italic = c.u8() != 0;
    font.underline = c.u8() != 0;
    font.strikeOut = c.u8() != 0;
    font.charset = c.u8();
    c.skip(2);  // precisions
    font.quality = c.u8();
    c.u8();  // pitch and family
    if (fields == Fields::ThirtyTwo) {
        std::u16string face;
        for (int i = 0; i < 32 && c.remaining() >= 2; ++i) {
            const char16_t ch = char16_t(c.u16le());
            if (ch == 0) {
                break;
            }
            face.push_back(ch);
        }
        font.face = utf8FromUtf16(face);
        return font;
    }
    for (int i = 0; i < 32 && c.remaining() >= 1; ++i) {
        const char ch = char(c.u8());
        if (ch == 0) {
            break;
        }
        // Face names are ANSI; those of real fonts are plain ASCII, and the rest is dropped.
        if (std::uint8_t(ch) < 0x80) {
            font.face.push_back(ch);
        }
    }
    return font;
}

Palette readPaletteEntries(BoundedCursor& c) {
    Palette palette;
    const std::size_t count = std::min<std::size_t>(c.u16le(), c.remaining() / 4);
    palette.entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        palette.entries.push_back(readColorRef(c).rgb);
    }
    return palette;
}

Brush patternBrush(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* bits,
                   std::size_t bitsSize) {
    Brush brush = unreadablePatternBrush();
    auto pattern = std::make_shared<std::vector<std::uint8_t>>(header, header + headerSize);
    pattern->insert(pattern->end(), bits, bits + bitsSize);
    brush.pattern = std::move(pattern);
    return brush;
}

Brush unreadablePatternBrush() {
    Brush brush;
    brush.style = 5;  // BS_DIBPATTERN
    brush.colour = Rgb{128, 128, 128};
    return brush;
}

std::optional<Brush> monoPatternBrush(int width, int height, std::size_t stride, bool topDown,
                                      const std::uint8_t* bits, std::size_t bitsSize) {
    // Patterns are small; GDI itself uses the top-left 8 x 8 of larger ones on old systems.
    constexpr int kMaxPatternSide = 256;
    if (width <= 0 || height <= 0 || width > kMaxPatternSide || height > kMaxPatternSide ||
        bits == nullptr || stride < std::size_t(width + 7) / 8 ||
        bitsSize < stride * std::size_t(height)) {
        return std::nullopt;
    }
    auto pattern = std::make_shared<MonoPattern>();
    pattern->width = width;
    pattern->height = height;
    const std::size_t rowBytes = std::size_t(width + 7) / 8;
    pattern->bits.reserve(rowBytes * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bits + stride * std::size_t(topDown ? y : height - 1 - y);
        pattern->bits.insert(pattern->bits.end(), row, row + rowBytes);
    }
    Brush brush;
    brush.style = 3;  // BS_PATTERN
    brush.colour = Rgb{0, 0, 0};
    brush.mono = std::move(pattern);
    return brush;
}

std::optional<Brush> monoPatternBrushOfDib(const std::uint8_t* header, std::size_t headerSize,
                                           const std::uint8_t* bits, std::size_t bitsSize) {
    BoundedCursor c(header, headerSize);
    const std::uint32_t size = c.u32le();
    const std::int32_t width = c.i32le(), height = c.i32le();
    c.u16le();  // planes
    const std::uint16_t bitCount = c.u16le();
    const std::uint32_t compression = c.u32le();
    if (c.failed() || size < 40 || bitCount != 1 || compression != 0 || height == INT32_MIN) {
        return std::nullopt;
    }
    const std::size_t stride = (std::size_t(std::max(width, 0)) + 31) / 32 * 4;
    return monoPatternBrush(width, height < 0 ? -height : height, stride, height < 0, bits,
                            bitsSize);
}

Brush solidBrush(Colour colour, int style) {
    Brush brush;
    brush.style = style;
    brush.colour = colour;
    return brush;
}

Pen cosmeticPen(int style, Colour colour) {
    Pen pen;
    pen.style = style;
    pen.colour = colour;
    return pen;
}

Object penObject(const Pen& pen) {
    Object o;
    o.kind = Object::Kind::Pen;
    o.pen = pen;
    return o;
}

Object brushObject(const Brush& brush) {
    Object o;
    o.kind = Object::Kind::Brush;
    o.brush = brush;
    return o;
}

Object fontObject(const Font& font) {
    Object o;
    o.kind = Object::Kind::Font;
    o.font = font;
    return o;
}

Object paletteObject(Palette palette) {
    Object o;
    o.kind = Object::Kind::Palette;
    o.palette = std::make_shared<const Palette>(std::move(palette));
    return o;
}

Object regionObject(Region region) {
    Object o;
    o.kind = Object::Kind::Region;
    o.region = std::make_shared<const Region>(std::move(region));
    return o;
}

bool setBitmapSource(BitmapDraw& draw, const workbook::BitmapInfo& info, std::int64_t x,
                     std::int64_t y, std::int64_t w, std::int64_t h, bool yFromBottom) {
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    if (yFromBottom && !info.topDown) {
        y = info.height - (y + h);
    }
    const std::int64_t x0 = std::max<std::int64_t>(x, 0), y0 = std::max<std::int64_t>(y, 0);
    const std::int64_t x1 = std::min<std::int64_t>(x + w, info.width);
    const std::int64_t y1 = std::min<std::int64_t>(y + h, info.height);
    if (x1 <= x0 || y1 <= y0) {
        return false;
    }
    draw.srcX = int(x0);
    draw.srcY = int(y0);
    draw.srcWidth = int(x1 - x0);
    draw.srcHeight = int(y1 - y0);
    return true;
}

}  // namespace metafile::gdi
