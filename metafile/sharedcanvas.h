#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "metafile/metafile.h"

namespace metafile {

// One canvas drawn on in turns by two players that each keep a clip of their own (GDI records
// and EMF+ records of one metafile): before a player draws, the clip it last set is put back.
class CanvasTurns {
public:
    explicit CanvasTurns(MetafileCanvas& canvas)
        : m_canvas(canvas), m_first(*this), m_second(*this) {}
    MetafileCanvas& first() { return m_first; }
    MetafileCanvas& second() { return m_second; }

private:
    class Turn : public MetafileCanvas {
    public:
        explicit Turn(CanvasTurns& owner) : m_owner(owner) {}
        void fillPath(const PathData& path, FillRule rule, const BrushStyle& brush) override;
        void strokePath(const PathData& path, const PenStyle& pen) override;
        void drawText(const TextRun& text) override;
        void drawBitmap(const BitmapDraw& bitmap) override;
        void drawTextBox(const TextBox& text) override;
        void fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix) override;
        void resetClip() override;
        void clip(const PathData& path, ClipOp op) override;
        void setClipRects(const std::vector<PixelRect>* rects) override;

    private:
        MetafileCanvas& take();
        CanvasTurns& m_owner;
        // The clip as this player last built it: whole pixels, then steps.
        std::optional<std::vector<PixelRect>> m_rects;
        std::vector<std::pair<PathData, ClipOp>> m_steps;
    };

    MetafileCanvas& m_canvas;
    Turn m_first, m_second;
    const Turn* m_clipOf = nullptr;  // whose clip the canvas holds
};

// Draws onto another canvas through an affine map, inside the clip that canvas had and a
// boundary of its own: a metafile drawn as an image inside another.
class MappedCanvas : public MetafileCanvas {
public:
    using ClipSteps = std::vector<std::pair<PathData, ClipOp>>;
    MappedCanvas(MetafileCanvas& canvas, const Affine& map, ClipSteps outerClip, PathData bounds);

    void fillPath(const PathData& path, FillRule rule, const BrushStyle& brush) override;
    void strokePath(const PathData& path, const PenStyle& pen) override;
    void drawText(const TextRun& text) override;
    void drawBitmap(const BitmapDraw& bitmap) override;
    void drawTextBox(const TextBox& text) override;
    void fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix) override;
    void resetClip() override;
    void clip(const PathData& path, ClipOp op) override;
    void setClipRects(const std::vector<PixelRect>* rects) override;

private:
    PathData mapped(const PathData& path) const;
    BrushStyle mapped(const BrushStyle& brush) const;
    double scale() const;
    void keepInside();

    MetafileCanvas& m_canvas;
    Affine m_map;
    ClipSteps m_outer;
    PathData m_bounds;
};

}  // namespace metafile
