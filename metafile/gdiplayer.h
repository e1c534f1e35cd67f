#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metafile/gdiobjects.h"
#include "metafile/metafile.h"

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
    void setBkColour(Rgb c) { m_dc.bkColour = c; }
    void setTextColour(Rgb c) { m_dc.textColour = c; }
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
    void setPixel(PointF p, Rgb colour);
    // A polygon filled with a brush of its own and no outline.
    void fillPolygon(const std::vector<PointF>& points, const gdi::Brush& brush);

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
        gdi::Brush brush;
        gdi::Font font;
        Rgb textColour{0, 0, 0}, bkColour{255, 255, 255};
        int bkMode = 2;  // OPAQUE
        int textAlign = 0;
        int polyFillMode = 1;  // ALTERNATE
        int rop2 = 13;         // R2_COPYPEN
        int arcDirection = 1;  // AD_COUNTERCLOCKWISE
        double miterLimit = 10;
        double charExtra = 0;
        PointF position;
        using ClipSteps = std::vector<std::pair<PathData, MetafileCanvas::ClipOp>>;
        std::shared_ptr<const ClipSteps> clip;
    };

    Affine logicalToOutput() const;
    Affine deviceToOutput() const;
    PointF out(PointF logical) const { return logicalToOutput().map(logical); }
    double lineScale() const;

    void emitFill(const PathData& path, const gdi::Brush& brush);
    void emitStroke(const PathData& path);
    // Fill and/or outline of a closed shape, or its figures into the path under construction.
    void shape(const PathData& path, bool fill, bool stroke);
    void openShape(const PathData& path);
    PathData rectPath(const RectL& r) const;
    PathData devicePathOf(const gdi::Region& region, bool deviceUnits) const;
    void addClipStep(PathData path, MetafileCanvas::ClipOp op);
    void replayClip();
    void appendArc(PathData& path, const RectL& box, PointF start, PointF end, bool moveFirst,
                   double* endX = nullptr, double* endY = nullptr) const;
    void appendEllipseSegment(PathData& path, PointF centre, double rx, double ry, double t0,
                              double sweep, bool moveFirst) const;
    std::optional<PenStyle> penStyle() const;
    std::optional<BrushStyle> brushStyle(const gdi::Brush& brush) const;
    Mix mix() const;
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
};

}  // namespace metafile
