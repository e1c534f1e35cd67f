#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metafile/gdiobjects.h"
#include "metafile/metafile.h"
#include "metafile/pixelregion.h"

namespace metafile {

// What the first bytes of a metafile draw, as seen by the layout: the bounds of everything and
// whether the first thing drawn is a bitmap, in the metafile's reference units.
struct MetafileProbe {
    bool drew = false;
    bool firstIsBitmap = false;
    RectL firstBitmapDest;  // normalised
    int firstBitmapWidth = 0, firstBitmapHeight = 0;
    RectL windowAtFirstBitmap;  // WMF only
    // WMF: the window (origin and extent, not normalised) when the first thing was drawn,
    // whether the metafile had set it, and the mapping mode then.
    RectL window;
    bool windowSet = false;
    int mapMode = 1;
    RectL bounds;
    void include(PointF p);
};

// The drawing state of a Windows metafile being played: objects, transforms, current position,
// path and clip. The EMF and WMF record readers translate records into calls on it; it turns
// them into canvas calls in picture pixels. With no canvas it only probes (see MetafileProbe).
class GdiPlayer {
public:
    enum class Flavour { Emf, Wmf };
    GdiPlayer(Flavour flavour, MetafileCanvas* canvas, const MetafileLayout& layout,
              MetafileProbe* probe);

    // EMF: the recording device's pixels per millimetre, for the metric mapping modes.
    void setDeviceResolution(double pxPerMmX, double pxPerMmY);

    // Objects. EMF names the slot; WMF takes the lowest free one.
    bool setObject(std::size_t index, gdi::Object object);
    bool addObject(gdi::Object object);  // false when the table is full
    void deleteObject(std::size_t index);
    void selectObject(std::uint32_t index);
    const gdi::Object* object(std::size_t index) const;

    // State.
    void saveDc();
    void restoreDc(int which);
    void setMapMode(int mode);
    void setWindowOrg(double x, double y);
    void setWindowExt(double x, double y);
    void setViewportOrg(double x, double y);
    void setViewportExt(double x, double y);
    void offsetWindowOrg(double dx, double dy);
    void offsetViewportOrg(double dx, double dy);
    void scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void setWorldTransform(const Affine& world);
    void modifyWorldTransform(const Affine& world, int mode);
    void setBkMode(int mode) { m_dc.bkMode = mode; }
    void setBkColour(gdi::Colour c) { m_dc.bkColour = c; }
    void setTextColour(gdi::Colour c) { m_dc.textColour = c; }
    // SelectPalette, and the changes of a palette's entries.
    void selectPalette(std::uint32_t index);
    void setPaletteEntries(std::size_t index, std::size_t start, const std::vector<Rgb>& entries);
    void resizePalette(std::size_t index, std::size_t entries);
    void setTextAlign(int align) { m_dc.textAlign = align; }
    void setPolyFillMode(int mode) { m_dc.polyFillMode = mode; }
    void setRop2(int rop) { m_dc.rop2 = rop; }
    void setArcDirection(int direction) { m_dc.arcDirection = direction; }
    void setMiterLimit(double limit) { m_dc.miterLimit = limit; }
    void setTextCharExtra(double extra) { m_dc.charExtra = extra; }

    // Drawing, in logical units.
    void moveTo(PointF p);
    void lineTo(PointF p);
    void polyline(const std::vector<PointF>& points);
    void polylineTo(const std::vector<PointF>& points);
    void polygon(const std::vector<PointF>& points);
    void polyPolygon(const std::vector<std::vector<PointF>>& polygons);
    void polyPolyline(const std::vector<std::vector<PointF>>& lines);
    void polyBezier(const std::vector<PointF>& points);
    void polyBezierTo(const std::vector<PointF>& points);
    void polyDraw(const std::vector<PointF>& points, const std::vector<std::uint8_t>& types);
    void rectangle(const RectL& r);
    void roundRect(const RectL& r, double width, double height);
    void ellipse(const RectL& r);
    enum class ArcKind { Arc, ArcTo, Chord, Pie };
    void arc(const RectL& box, PointF start, PointF end, ArcKind kind);
    void angleArc(PointF centre, double radius, double startDegrees, double sweepDegrees);
    void setPixel(PointF p, gdi::Colour colour);
    // GRADIENTFILL: triangles shaded between their corners, and rectangles shaded from the
    // first corner's colour at its edge to the second's, across or down.
    void gradientTriangles(std::vector<ShadedVertex> corners);
    void gradientRect(const ShadedVertex& from, const ShadedVertex& to, bool down);

    // Paths (EMF).
    void beginPath();
    void endPath();
    void abortPath();
    void closeFigure();
    void fillPath();
    void strokePath();
    void strokeAndFillPath();
    void selectClipPath(int mode);

    // Clip. Rectangles in logical units; regions as the records give them.
    void intersectClipRect(const RectL& r);
    void excludeClipRect(const RectL& r);
    void offsetClip(double dx, double dy);
    // EMF regions are in device units; WMF regions in logical units.
    void selectClipRegion(const gdi::Region* region, int mode, bool deviceUnits);
    void fillRegion(const gdi::Region& region, const gdi::Brush& brush, bool deviceUnits);
    void frameRegion(const gdi::Region& region, const gdi::Brush& brush, double width,
                     double height);
    void paintRegion(const gdi::Region& region) { fillRegion(region, m_dc.brush, false); }

    // Text, at a reference point in logical units.
    struct Text {
        PointF reference;
        std::u16string wide;
        std::string narrow;
        bool isWide = false;
        std::vector<double> dx;  // logical units; empty for the font's own
        int options = 0;         // ETO_*
        std::optional<RectL> rect;
    };
    void text(const Text& text);

    // A bitmap (or none, for a pattern-only raster operation) into a logical rectangle.
    void bitmap(BitmapDraw draw, const RectL& dest, std::uint32_t rop);
    // A raster operation without a source over a logical rectangle.
    void patBlt(const RectL& dest, std::uint32_t rop);

    // Whether anything reached the canvas (or the probe).
    bool drewAnything() const { return m_drew; }
    // A probe may stop once it knows the first thing drawn.
    bool probeDone() const { return m_probe != nullptr && m_probe->drew && !m_wantBounds; }
    void setProbeWantsBounds(bool want) { m_wantBounds = want; }
    // Notes the window as it stands into the probe.
    void captureWindow(MetafileProbe& probe) const;

private:
    struct Dc {
        int mapMode = 1;  // MM_TEXT
        PointF windowOrg, windowExt{1, 1}, viewportOrg, viewportExt{1, 1};
        Affine world;
        gdi::Pen pen;
        gdi::Brush brush = gdi::solidBrush(Rgb{255, 255, 255});  // WHITE_BRUSH
        gdi::Font font;
        std::shared_ptr<const gdi::Palette> palette;  // none: DEFAULT_PALETTE
        gdi::Colour textColour = Rgb{0, 0, 0}, bkColour = Rgb{255, 255, 255};
        int bkMode = 2;  // OPAQUE
        int textAlign = 0;
        int polyFillMode = 1;  // ALTERNATE
        int rop2 = 13;         // R2_COPYPEN
        int arcDirection = 1;  // AD_COUNTERCLOCKWISE
        double miterLimit = 10;
        double charExtra = 0;
        PointF position;
        // The clip in the picture's pixels; none is the whole picture.
        std::shared_ptr<const PixelRegion> clip;
    };

    Affine logicalToOutput() const;
    Affine deviceToOutput() const;
    // A vertex of a line or shape: GDI draws from device pixel to device pixel, so a point
    // lands on the centre of the pixel it rounds to (a probe keeps it as it is). Within a shape
    // drawn in a box, the box's own mapping (see boxMap) takes its place.
    PointF out(PointF logical) const;
    // The point itself, and the pixel edge nearest to it (a bitmap's or a region's corner).
    PointF exact(PointF logical) const { return logicalToOutput().map(logical); }
    PointF edge(PointF logical) const;
    double lineScale() const;
    // How a shape's box (Rectangle, Ellipse, RoundRect, Arc, Chord, Pie) lands on pixels: GDI
    // leaves out its right and bottom edges, so its outline runs through the centres of the
    // first and the last pixel it covers, inset further by inset pixels. Nothing when the
    // mapping turns the box or the play only probes.
    std::optional<Affine> boxMap(const RectL& box, double inset) const;
    // The device pixels a box covers, left and top inside, right and bottom outside.
    std::optional<PixelRect> pixelBox(const RectL& box) const;
    // Whether a shape's box covers no pixel, so that GDI draws nothing.
    bool emptyBox(const RectL& box) const;
    // Sets the box's mapping for the shape being built, and lifts it after.
    class BoxScope {
    public:
        BoxScope(GdiPlayer& player, const RectL& box) : m_player(player) {
            player.m_boxMap = player.boxMap(box, player.frameInset());
        }
        ~BoxScope() { m_player.m_boxMap.reset(); }
        BoxScope(const BoxScope&) = delete;
        BoxScope& operator=(const BoxScope&) = delete;

    private:
        GdiPlayer& m_player;
    };

    void emitFill(const PathData& path, const gdi::Brush& brush);
    void emitStroke(const PathData& path);
    // Fill and/or outline of a closed shape, or its figures into the path under construction.
    void shape(const PathData& path, bool fill, bool stroke);
    void openShape(const PathData& path);
    PathData rectPath(const RectL& r) const;
    // A rectangle of whole pixels as a path along their edges.
    static PathData pixelRectPath(const PixelRect& r);
    PathData devicePathOf(const gdi::Region& region, bool deviceUnits) const;
    PixelRect pictureRect() const { return {0, 0, m_layout.width, m_layout.height}; }
    // The pixels of a path's figures, by the fill rule, within the picture.
    PixelRegion regionOf(const PathData& path, FillRule rule) const;
    PixelRegion regionOf(const gdi::Region& region, bool deviceUnits) const;
    void combineClip(const PixelRegion& region, MetafileCanvas::ClipOp op);
    // Excluded rectangles wait to be taken out of the clip together, in one sweep, so that
    // thousands of EXCLUDECLIPRECT records cost about as much as one.
    void applyPendingExcludes();
    void setClip(std::shared_ptr<const PixelRegion> clip);
    // Hands the canvas the clip before it draws, once it has changed.
    void flushClip();
    void appendArc(PathData& path, const RectL& box, PointF start, PointF end, bool moveFirst,
                   double* endX = nullptr, double* endY = nullptr) const;
    void appendEllipseSegment(PathData& path, PointF centre, double rx, double ry, double t0,
                              double sweep, bool moveFirst) const;
    std::optional<PenStyle> penStyle() const;
    FillRule fillRule() const;
    bool penDrawn() const;
    double frameInset() const;
    std::optional<BrushStyle> brushStyle(const gdi::Brush& brush) const;
    Mix mix() const;
    Rgb rgbOf(const gdi::Colour& colour) const;
    bool nothingDrawnByRop() const { return m_dc.rop2 == 11; }  // R2_NOP
    void noteDrawn(const PathData& path);
    void noteBitmap(const BitmapDraw& draw, const RectL& dest);
    bool probing() const { return m_probe != nullptr; }
    bool pathFull(std::size_t extra) const;

    Flavour m_flavour;
    MetafileCanvas* m_canvas;
    MetafileLayout m_layout;
    MetafileProbe* m_probe;
    bool m_wantBounds = false;
    double m_pxPerMmX = 96 / 25.4, m_pxPerMmY = 96 / 25.4;
    Dc m_dc;
    std::vector<Dc> m_saved;
    std::vector<gdi::Object> m_objects;
    bool m_windowSet = false;
    bool m_inPath = false;
    PathData m_path;
    bool m_drew = false;
    bool m_clipChanged = false;
    std::vector<PixelRect> m_pendingExcludes;
    std::optional<Affine> m_boxMap;  // see out()
};

}  // namespace metafile
