#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "metafile/emfplus.h"

namespace metafile::emfplus {

// Plays EMF+ drawing onto a canvas in the picture's pixels as GDI+ draws it: the object table,
// the graphics state with its saved states and containers, clipping, and every fill, outline,
// image and string in world units mapped through the world, page and device transforms.
class Player {
public:
    // depth: how many metafiles this one is drawn inside.
    Player(MetafileCanvas& canvas, const MetafileLayout& layout, int depth);

    void setDpi(double x, double y);
    void setObject(std::uint8_t id, Object object);

    // Rendering settings.
    void setAntialias(bool on) { m_state.antialias = on; }
    void setTextAntialias(bool on) { m_state.textAntialias = on; }
    void setPixelOffsetHalf(bool half) { m_state.halfPixel = half; }
    void setSmoothImages(bool smooth) { m_state.smoothImages = smooth; }

    // Transforms: the world transform of the current container, and the page unit and scale.
    void setWorld(const Affine& m) { m_state.world = m; }
    void multiplyWorld(const Affine& m, bool append);
    void setPage(Unit unit, double scale);

    // Saved states and containers share one stack; each entry is named by its id.
    void save(std::uint32_t id);
    void restore(std::uint32_t id);
    void beginContainer(std::uint32_t id);
    void beginContainer(const RectF& dest, const RectF& source, Unit unit, std::uint32_t id);
    void endContainer(std::uint32_t id) { restore(id); }

    // Clipping; mode is the CombineMode of [MS-EMFPLUS] 2.1.1.4.
    void resetClip();
    void setClipRect(const RectF& rect, int mode);
    void setClipPath(std::uint8_t pathId, int mode);
    void setClipRegion(std::uint8_t regionId, int mode);
    void offsetClip(double dx, double dy);

    // A brush named by a record: an object, or a solid colour written in place.
    struct BrushRef {
        bool isColour = false;
        std::uint32_t value = 0;
    };

    void clear(Argb colour);
    void fill(const BrushRef& brush, const Path& path);
    void draw(std::uint8_t penId, const Path& path);
    void fillPathObject(const BrushRef& brush, std::uint8_t pathId);
    void drawPathObject(std::uint8_t penId, std::uint8_t pathId);
    void fillRegion(const BrushRef& brush, std::uint8_t regionId);
    // dest: where the source's top-left, top-right and bottom-left corners land, world units.
    void drawImage(std::uint8_t imageId, const RectF& source, Unit sourceUnit,
                   const std::array<PointF, 3>& dest);
    void drawString(const BrushRef& brush, std::uint8_t fontId, std::uint32_t formatId,
                    const std::u16string& text, const RectF& layout);
    // Characters at their own origins (on the baseline), world units.
    void drawGlyphs(const BrushRef& brush, std::uint8_t fontId, const std::u16string& text,
                    const std::vector<PointF>& origins, bool realizedAdvance,
                    const Affine* glyphTransform);

    bool drewAnything() const { return m_drew; }

private:
    using ClipSteps = std::vector<std::pair<PathData, MetafileCanvas::ClipOp>>;
    struct State {
        Affine world;
        Affine container;  // the container's world to the page
        Unit pageUnit = Unit::Display;
        double pageScale = 1;
        std::shared_ptr<const ClipSteps> clip;           // none: everything
        std::shared_ptr<const ClipSteps> containerClip;  // the clip when the container began
        bool antialias = false, textAntialias = true, halfPixel = false, smoothImages = true;
    };
    struct Saved {
        std::uint32_t id;
        State state;
    };

    // World units to picture pixels, and the scale of a length there.
    Affine toOutput() const;
    double unitPixels(Unit unit, bool vertical) const;  // device pixels in one unit
    double unitToWorld(Unit unit, bool vertical) const;
    double lengthScale(const Affine& m) const;
    PathData outputPath(const Path& path) const;
    PathData outputPath(const Path& path, const Affine& m) const;

    const Object* object(std::uint8_t id) const;
    std::optional<BrushStyle> brushStyle(const Brush& brush, const Affine& m) const;
    std::optional<PenStyle> penStyle(const Pen& pen) const;
    Argb textColour(const BrushRef& ref) const;

    void boundaryOf(const Brush& brush, Gradient& gradient) const;
    void fillOutput(const PathData& path, bool winding, const BrushRef& brush);
    void drawCap(int type, const CustomCap* custom, PointF end, PointF before, const PenStyle& pen);
    void addClip(PathData path, MetafileCanvas::ClipOp op);
    void addClipSteps(const ClipSteps& steps, int mode);
    bool regionSteps(const Region& region, int node, ClipSteps& steps, int depth) const;
    void applyClip();
    void drawMetafile(const Image& image, const RectF& source, const std::array<PointF, 3>& dest);
    bool expired();

    MetafileCanvas& m_canvas;
    MetafileLayout m_layout;
    int m_depth;
    double m_dpiX = 96, m_dpiY = 96;
    State m_state;
    std::vector<Saved> m_stack;
    std::array<Object, 64> m_objects;
    bool m_drew = false;
    bool m_expired = false;
    std::size_t m_work = 0;
};

// Shapes of GDI+ in world units.
Path rectanglePath(const RectF& r);
Path ellipsePath(const RectF& r);
// Angles in degrees, clockwise from the x axis, measured on the ellipse as drawn.
Path arcPath(const RectF& r, double startAngle, double sweepAngle, bool pie);
Path polygonPath(const std::vector<PointF>& points, bool closed);
Path bezierPath(const std::vector<PointF>& points);
// A cardinal spline through the points: segments [offset, offset + segments) of it, or the
// closed curve through all of them.
Path curvePath(const std::vector<PointF>& points, double tension, std::size_t offset,
               std::size_t segments, bool closed);

}  // namespace metafile::emfplus
