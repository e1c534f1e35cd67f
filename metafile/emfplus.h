#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "metafile/gdiplayer.h"
#include "metafile/metafile.h"

// The graphics objects of EMF+ ([MS-EMFPLUS] 2.2.1) as the player keeps them, decoded from their
// serialised form, bounded, in world units.
namespace metafile::emfplus {

struct Argb {
    std::uint8_t a = 255, r = 0, g = 0, b = 0;
    friend bool operator==(const Argb&, const Argb&) = default;
};

struct RectF {
    double x = 0, y = 0, width = 0, height = 0;
};

// [MS-EMFPLUS] 2.1.1.32 UnitType.
enum class Unit { World = 0, Display, Pixel, Point, Inch, Document, Millimeter };

// GDI+ point types: the low three bits, then flags.
constexpr std::uint8_t kPointStart = 0, kPointLine = 1, kPointBezier = 3, kPointTypeMask = 7;
constexpr std::uint8_t kPointClose = 0x80;

struct Path {
    std::vector<PointF> points;
    std::vector<std::uint8_t> types;
    bool winding = false;
};

struct Image {
    enum class Kind { Pixels, Encoded, Metafile } kind = Kind::Pixels;
    // Pixels: 0xAARRGGBB rows from the top, not premultiplied. Encoded: PNG, JPEG, GIF, TIFF, BMP
    // or EXIF bytes as the record holds them, with the size the bitmap states where it states one.
    int width = 0, height = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> pixels;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    ImageFormat metafileFormat = ImageFormat::Unknown;
};

struct BlendStop {
    double position = 0;
    Argb colour;
};

struct Brush {
    enum class Kind { Solid, Hatch, Texture, PathGradient, LinearGradient } kind = Kind::Solid;
    // Solid colour, hatch foreground, gradient start or path gradient centre colour.
    Argb colour;
    // Hatch background or gradient end colour.
    Argb other;
    int hatch = 0;
    int wrap = 0;  // WrapMode: tile, flip x, flip y, flip both, clamp
    Affine transform;
    RectF rect;  // linear gradient
    // Preset colours, or blend factors (colour left empty, position and factor as the colour's
    // share of the end colour in a).
    std::vector<BlendStop> stops;
    std::vector<std::pair<double, double>> factors;
    // Path gradient.
    PointF centre;
    std::vector<Argb> surround;
    Path boundary;
    double focusX = 0, focusY = 0;
    std::shared_ptr<const Image> texture;
};

// A line cap of a shape of its own ([MS-EMFPLUS] 2.2.1.2), in units of the pen's width: the
// cap's y axis runs along the line, out past its end, and x across it.
struct CustomCap {
    bool arrow = false;  // GDI+'s adjustable arrow, else the paths below
    double width = 0, height = 0, middleInset = 0;
    bool filled = true;
    double widthScale = 1;
    Path fill, outline;
};

struct Pen {
    double width = 1;
    Unit unit = Unit::World;
    Affine transform;
    int startCap = 0, endCap = 0, dashCap = 0, join = 0;
    double miterLimit = 10;
    int lineStyle = 0;  // solid, dash, dot, dash-dot, dash-dot-dot, custom
    std::vector<double> dashes;
    double dashOffset = 0;
    std::shared_ptr<const CustomCap> customStart, customEnd;
    Brush brush;
};

// [MS-EMFPLUS] 2.1.1.17 LineCapType values that are not Qt's own.
constexpr int kCapTriangle = 3, kCapSquareAnchor = 0x11, kCapRoundAnchor = 0x12,
              kCapDiamondAnchor = 0x13, kCapArrowAnchor = 0x14, kCapCustom = 0xFF;

struct RegionNode {
    enum class Kind { And = 1, Or, Xor, Exclude, Complement, Rect, Path, Empty, Infinite };
    Kind kind = Kind::Empty;
    int left = -1, right = -1;  // children of a combining node
    RectF rect;
    Path path;
};

struct Region {
    std::vector<RegionNode> nodes;  // the root first
};

struct Font {
    double emSize = 0;
    Unit unit = Unit::World;
    bool bold = false, italic = false, underline = false, strikeOut = false;
    std::string family;  // UTF-8
};

struct StringFormat {
    std::uint32_t flags = 0;
    int align = 0, lineAlign = 0;  // near, centre, far
    double leadingMargin = 0, trailingMargin = 0, tracking = 1;
};

constexpr std::uint32_t kStringFormatVertical = 0x2, kStringFormatNoWrap = 0x1000,
                        kStringFormatNoClip = 0x4000, kStringFormatRightToLeft = 0x1;

using Object = std::variant<std::monostate, Brush, Pen, Path, Region, std::shared_ptr<const Image>,
                            Font, StringFormat>;

// [MS-EMFPLUS] 2.1.1.21 ObjectType.
enum class ObjectType {
    Invalid = 0,
    Brush,
    Pen,
    Path,
    Region,
    Image,
    Font,
    StringFormat,
    ImageAttributes,
    CustomLineCap
};

// Decodes one serialised object; nothing (monostate) when it is damaged, too large, or of a kind
// that draws nothing.
Object readObject(ObjectType type, const std::uint8_t* data, std::size_t size);

// The parts of the readers that drawing records share.
std::optional<Path> readPath(const std::uint8_t* data, std::size_t size);
Argb argbOf(std::uint32_t value);

}  // namespace metafile::emfplus
