#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workbook/imageformat.h"

namespace metafile {

using workbook::ImageFormat;

// Metafiles (EMF, WMF) and Macintosh pictures (PICT) are lists of drawing records. The players
// here read them, bounded, and hand what they draw to a MetafileCanvas in the picture's own
// pixels; the canvas that turns it into pixels lives above the engine.

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct PointF {
    double x = 0, y = 0;
};

// x' = a x + c y + e, y' = b x + d y + f
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    PointF map(PointF p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // This transform applied after other.
    Affine after(const Affine& other) const;
    double determinant() const { return a * d - b * c; }
    bool identity() const { return a == 1 && b == 0 && c == 0 && d == 1 && e == 0 && f == 0; }
};

// A path in picture pixels: figures of straight and cubic segments.
struct PathData {
    enum class Op : std::uint8_t { Move, Line, Cubic, Close };
    std::vector<Op> ops;
    std::vector<PointF> points;  // one a Move or Line, three a Cubic, none a Close

    bool empty() const { return ops.empty(); }
    void moveTo(PointF p);
    void lineTo(PointF p);
    void cubicTo(PointF c1, PointF c2, PointF p);
    void close();
    void append(const PathData& other);
};

// How a drawn colour meets the pixel below: GDI's binary raster operations (but for black,
// white and no operation, which the players draw otherwise) and the ternary ones real
// metafiles use.
enum class Mix {
    Copy,
    And,
    Or,
    Xor,
    NotDestination,
    NotSource,
    SourceAndNotDestination,
    NotSourceAndNotDestination,
    NotSourceOrDestination,
    NotSourceAndDestination,
    NotSourceOrNotDestination,
    NotSourceXorDestination,
    SourceOrNotDestination
};

enum class FillRule { EvenOdd, Winding };

// A colour at a place along a gradient, from 0 to 1.
struct GradientStop {
    double position = 0;
    Rgb colour;
    std::uint8_t alpha = 255;
};

// Colours that vary across a fill, in the gradient's own space (BrushStyle::transform takes
// it to picture pixels).
struct Gradient {
    enum class Kind { Linear, Path } kind = Kind::Linear;
    // Linear: position 0 at start, 1 at end, the colour constant across the line between them.
    PointF start, end;
    // Outside 0..1: the end colours carried on, the ramp repeated, or repeated mirrored.
    enum class Spread { Pad, Repeat, Reflect } spread = Spread::Pad;
    std::vector<GradientStop> stops;  // ascending positions; at least one
    // Path: a closed boundary and a centre, each boundary point with its colour (one for all
    // when there is one), blending into the centre's colour; nothing is painted outside the
    // boundary. Where stops are given they run from the boundary (0) to the centre (1) and
    // replace these colours; blend maps the way in (0 at the boundary, 1 at the centre) to how
    // much of the centre colour shows, linear when empty.
    std::vector<PointF> boundary;
    std::vector<GradientStop> boundaryColours;
    PointF centre;
    GradientStop centreColour;
    std::vector<std::pair<double, double>> blend;
};

// An image that fills: encoded file bytes (PNG, JPEG, BMP, GIF, TIFF, ...), a packed DIB, or
// ready pixels (0xAARRGGBB rows from the top), whichever is set.
struct ImageSource {
    std::shared_ptr<const std::vector<std::uint8_t>> encoded;
    std::shared_ptr<const std::vector<std::uint8_t>> dib;
    std::shared_ptr<const std::vector<std::uint32_t>> pixels;
    int pixelsWidth = 0, pixelsHeight = 0;
};

// A two-colour bitmap that tiles a fill from the picture's origin, as GDI's hatches and
// monochrome pattern brushes and QuickDraw's patterns do.
struct MonoPattern {
    int width = 8, height = 8;
    // Rows from the top, (width + 7) / 8 bytes each, the leftmost pixel in the high bit; a set
    // bit shows the foreground.
    std::vector<std::uint8_t> bits;
    Rgb foreground, background{255, 255, 255};
    bool transparentBackground = false;
};

struct BrushStyle;

struct PenStyle {
    enum class Dash { Solid, Dash, Dot, DashDot, DashDotDot };
    enum class Cap { Round, Square, Flat };
    enum class Join { Round, Bevel, Miter };
    Rgb colour;
    double width = 1;  // picture pixels, at least one
    Dash dash = Dash::Solid;
    Cap cap = Cap::Round;
    Join join = Join::Round;
    double miterLimit = 10;
    Mix mix = Mix::Copy;
    std::uint8_t alpha = 255;
    // Lengths of dashes and gaps in turn, in picture pixels, in place of dash when not empty;
    // the pattern starts dashOffset pixels in.
    std::vector<double> dashes;
    double dashOffset = 0;
    // GDI's styled one-pixel lines show their gaps in this colour when set.
    bool opaqueGaps = false;
    Rgb gapColour{255, 255, 255};
    // Edges blended with what lies below (GDI+ when it asks), or whole pixels (GDI, QuickDraw).
    bool antialias = true;
    // GDI's one-pixel line: width is ignored, and each open figure leaves out its last point.
    bool onePixel = false;
    // Painted with this brush instead of colour when set.
    std::shared_ptr<const BrushStyle> fill;
};

struct BrushStyle {
    // Hatch patterns as GDI numbers them; None is a solid colour.
    enum class Hatch {
        None = -1,
        Horizontal,
        Vertical,
        ForwardDiagonal,
        BackwardDiagonal,
        Cross,
        DiagonalCross
    };
    Rgb colour;
    Hatch hatch = Hatch::None;
    // The gaps of a hatch show this colour when opaque, the picture below otherwise.
    bool opaqueHatch = false;
    Rgb background{255, 255, 255};
    // A bitmap that tiles the fill (a packed DIB), or empty.
    std::shared_ptr<const std::vector<std::uint8_t>> pattern;
    Mix mix = Mix::Copy;
    std::uint8_t alpha = 255;  // of colour, and of a hatch's lines
    // Whichever of these is set paints the fill in place of the colour, hatch and pattern.
    std::shared_ptr<const MonoPattern> monoPattern;
    std::shared_ptr<const Gradient> gradient;
    std::shared_ptr<const ImageSource> texture;
    // Outside the texture's own rectangle: tiled, tiled with every other copy mirrored across,
    // or nothing painted.
    enum class Wrap { Tile, FlipX, FlipY, FlipXY, Clamp } wrap = Wrap::Tile;
    // From the gradient's, texture's or pattern's own space to picture pixels.
    Affine transform;
    bool antialias = true;
};

// A corner of a shaded triangle: colours blend smoothly between the three.
struct ShadedVertex {
    PointF at;
    Rgb colour;
    std::uint8_t alpha = 255;
};

struct TextRun {
    // The characters: UTF-16 from wide records, bytes in the font's character set otherwise.
    std::u16string wide;
    std::string narrow;
    int charset = 0;  // LOGFONT's lfCharSet, for narrow text
    PointF origin;    // the reference point, picture pixels
    // The font: em height when emHeight, else the cell height (ascent plus descent).
    double height = 0;
    bool emHeight = true;
    double averageWidth = 0;  // 0: the font's own
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    std::string face;  // UTF-8
    // Counter-clockwise, degrees, on the picture as seen.
    double angle = 0;
    enum class HAlign { Left, Center, Right } hAlign = HAlign::Left;
    enum class VAlign { Top, Baseline, Bottom } vAlign = VAlign::Top;
    Rgb colour;
    bool opaque = false;  // fill the text's box with background first
    Rgb background{255, 255, 255};
    // Distance from each character's origin to the next one's along the baseline, in picture
    // pixels; empty for the font's own advances.
    std::vector<double> advances;
    // Text clipped to its own rectangle, within the clip; empty when it is not.
    PathData clipTo;
    std::uint8_t alpha = 255;
    bool antialias = true;
    // Painted with this brush instead of colour when set.
    std::shared_ptr<const BrushStyle> fill;
};

struct BitmapDraw {
    // A packed DIB (BITMAPINFO, then pixels), its two parts kept where the record holds them;
    // or, when pixels is set, ready pixels as 0xAARRGGBB rows from the top.
    const std::uint8_t* header = nullptr;
    std::size_t headerSize = 0;
    const std::uint8_t* bits = nullptr;
    std::size_t bitsSize = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> pixels;
    int pixelsWidth = 0, pixelsHeight = 0;
    // The part of the bitmap drawn, in its pixels counted from its top-left corner.
    int srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
    // Where the source's top-left, top-right and bottom-left corners land.
    PointF topLeft, topRight, bottomLeft;
    Mix mix = Mix::Copy;
    // AlphaBlend: a constant opacity, and whether the bitmap's own alpha counts.
    int constantAlpha = 255;
    bool sourceAlpha = false;
    // TransparentBlt: pixels of this colour are not drawn.
    bool hasTransparentColour = false;
    Rgb transparentColour;
    // In place of the DIB and pixels above when set: an image file's bytes, decoded by the
    // canvas; the source rectangle is then in the decoded image's pixels.
    std::shared_ptr<const ImageSource> image;
    // Resampled smoothly when scaled, or by nearest pixel.
    bool smooth = true;
};

// Text laid out in a box as GDI+ lays out a string: lines broken at the box's width, aligned in
// it, clipped to it; in the box's own space, which transform maps onto the picture.
struct TextBox {
    std::u16string text;
    std::string face;  // UTF-8
    double emHeight = 0;
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    // A width or height of zero leaves the box open that way: text lines up on its edge.
    double x = 0, y = 0, width = 0, height = 0;
    enum class Align { Near, Center, Far } align = Align::Near, lineAlign = Align::Near;
    bool wrap = true, clip = true, rightToLeft = false, vertical = false;
    Affine transform;
    Rgb colour;
    std::uint8_t alpha = 255;
    bool antialias = true;
};

// Disjoint rectangles of whole pixels; right and bottom are outside.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// While it lives, every metafile played on the thread that made it stops at its next record
// once *stop turns true (MetafileError::Kind::Stopped): the work in hand is abandoned, as when
// a run is interrupted or a preview is no longer wanted. Scopes nest; the inner one holds.
class PlayStop {
public:
    explicit PlayStop(const std::atomic<bool>* stop);
    ~PlayStop();
    PlayStop(const PlayStop&) = delete;
    PlayStop& operator=(const PlayStop&) = delete;

    // Whether a play on the calling thread was asked to stop: for work inside one record that
    // may take long to look at as it goes.
    static bool requested();

private:
    const std::atomic<bool>* m_outer;
};

class MetafileCanvas {
public:
    virtual ~MetafileCanvas() = default;
    virtual void fillPath(const PathData& path, FillRule rule, const BrushStyle& brush) = 0;
    virtual void strokePath(const PathData& path, const PenStyle& pen) = 0;
    virtual void drawText(const TextRun& text) = 0;
    virtual void drawBitmap(const BitmapDraw& bitmap) = 0;
    // By default nothing: a canvas without text layout draws no boxed text.
    virtual void drawTextBox(const TextBox& text) { (void)text; }
    // The clip is rebuilt from scratch after every change: no clip, then each step in order.
    enum class ClipOp { Intersect, Unite, Xor, Exclude, Replace };
    virtual void resetClip() = 0;
    virtual void clip(const PathData& path, ClipOp op) = 0;

    // Triangles of three vertices each, their colours blended between the corners. By default
    // each is filled with the mean of its corners.
    virtual void fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix);
    // The clip as whole pixels, replacing any other; null lifts it. By default it becomes a
    // path clip.
    virtual void setClipRects(const std::vector<PixelRect>* rects);
    // Drawing inside one call stops once the play's time is up, or a PlayStop asks it to; see
    // pastDeadline().
    void setDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }

protected:
    bool pastDeadline() const {
        return PlayStop::requested() ||
               (m_deadline && std::chrono::steady_clock::now() > *m_deadline);
    }

private:
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
};

// Where a metafile's picture lies and the size it is drawn at.
struct MetafileLayout {
    int width = 0;
    int height = 0;
    // The rectangle that lands on the whole picture, in the metafile's own reference units
    // (EMF: device pixels of the recording device; WMF: logical units; PICT: QuickDraw
    // points), and where on the picture it lands. For a metafile that only wraps a bitmap, the
    // bitmap's destination lands on the picture's pixels one to one.
    double refX = 0, refY = 0, refWidth = 0, refHeight = 0;
    double outX = 0, outY = 0, outWidth = 0, outHeight = 0;
    bool wrapsBitmap = false;
    bool headerReadable = false;

    bool usable() const { return width > 0 && height > 0; }
};

// The layout of an EMF, WMF or PICT from its first kMetafileSizeScanBytes bytes; not usable
// when they state no size and draw nothing that gives one.
MetafileLayout metafileLayout(ImageFormat format, const std::uint8_t* data, std::size_t size);

// The same layout drawn at another size, as when the workbook states the picture's size; it is
// stretched to fill it.
MetafileLayout resizedLayout(MetafileLayout layout, int width, int height);

// The engine's sniff, with a metafile's size the size it is drawn at: the sniffer that the
// layers which draw pictures hand the engine (workbook::OpenOptions) and use themselves.
workbook::ImageInfo sniffDrawnImage(const std::uint8_t* data, std::size_t size);

// Why a metafile could not be drawn; empty when it was. Stopped: a PlayStop asked it to.
struct MetafileError {
    enum class Kind { None, Damaged, NothingToDraw, TooLarge, Stopped } kind = Kind::None;
    std::string detail;
    explicit operator bool() const { return kind != Kind::None; }
};


// Plays the whole metafile onto the canvas at the layout's size. A damaged record stops the
// play with an error; so do the record and time limits.
MetafileError playMetafile(ImageFormat format, const std::uint8_t* data, std::size_t size,
                           const MetafileLayout& layout, MetafileCanvas& canvas);

}  // namespace metafile
