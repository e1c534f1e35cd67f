#include "metafile/sharedcanvas.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "metafile/limits.h"

namespace metafile {

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

MetafileCanvas& CanvasTurns::Turn::take() {
    if (m_owner.m_clipOf != this) {
        MetafileCanvas& canvas = m_owner.m_canvas;
        canvas.setClipRects(m_rects ? &*m_rects : nullptr);
        for (const auto& [path, op] : m_steps) {
            canvas.clip(path, op);
        }
        m_owner.m_clipOf = this;
    }
    return m_owner.m_canvas;
}

void CanvasTurns::Turn::fillPath(const PathData& path, FillRule rule, const BrushStyle& brush) {
    take().fillPath(path, rule, brush);
}

void CanvasTurns::Turn::strokePath(const PathData& path, const PenStyle& pen) {
    take().strokePath(path, pen);
}

void CanvasTurns::Turn::drawText(const TextRun& text) {
    take().drawText(text);
}

void CanvasTurns::Turn::drawBitmap(const BitmapDraw& bitmap) {
    take().drawBitmap(bitmap);
}

void CanvasTurns::Turn::drawTextBox(const TextBox& text) {
    take().drawTextBox(text);
}

void CanvasTurns::Turn::fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix) {
    take().fillShadedTriangles(vertices, mix);
}

void CanvasTurns::Turn::resetClip() {
    m_rects.reset();
    m_steps.clear();
    if (m_owner.m_clipOf == this) {
        m_owner.m_canvas.resetClip();
    }
}

void CanvasTurns::Turn::clip(const PathData& path, ClipOp op) {
    // The players rebuild their clip from a reset after every change, so this stays as long as
    // the clip each keeps.
    if (m_steps.size() >= kMaxMetafileClipSteps) {
        return;
    }
    m_steps.emplace_back(path, op);
    if (m_owner.m_clipOf == this) {
        m_owner.m_canvas.clip(path, op);
    }
}

void CanvasTurns::Turn::setClipRects(const std::vector<PixelRect>* rects) {
    m_steps.clear();
    if (rects != nullptr) {
        m_rects = *rects;
    } else {
        m_rects.reset();
    }
    if (m_owner.m_clipOf == this) {
        m_owner.m_canvas.setClipRects(rects);
    }
}

MappedCanvas::MappedCanvas(MetafileCanvas& canvas, const Affine& map, ClipSteps outerClip,
                           PathData bounds)
    : m_canvas(canvas), m_map(map), m_outer(std::move(outerClip)), m_bounds(std::move(bounds)) {
    resetClip();
}

PathData MappedCanvas::mapped(const PathData& path) const {
    PathData out = path;
    for (PointF& p : out.points) {
        p = m_map.map(p);
    }
    return out;
}

BrushStyle MappedCanvas::mapped(const BrushStyle& brush) const {
    BrushStyle style = brush;
    style.transform = m_map.after(brush.transform);
    return style;
}

double MappedCanvas::scale() const {
    const double s = std::sqrt(std::fabs(m_map.determinant()));
    return std::isfinite(s) ? s : 1;
}

void MappedCanvas::fillPath(const PathData& path, FillRule rule, const BrushStyle& brush) {
    m_canvas.fillPath(mapped(path), rule, mapped(brush));
}

void MappedCanvas::strokePath(const PathData& path, const PenStyle& pen) {
    PenStyle style = pen;
    const double s = scale();
    style.width = std::max(1.0, pen.width * s);
    for (double& d : style.dashes) {
        d *= s;
    }
    style.dashOffset *= s;
    if (pen.fill) {
        style.fill = std::make_shared<const BrushStyle>(mapped(*pen.fill));
    }
    m_canvas.strokePath(mapped(path), style);
}

void MappedCanvas::drawText(const TextRun& text) {
    TextRun run = text;
    const double s = scale();
    run.origin = m_map.map(text.origin);
    run.height = text.height * s;
    run.averageWidth = text.averageWidth * s;
    for (double& advance : run.advances) {
        advance *= s;
    }
    // The map's own turn, counter-clockwise as seen.
    run.angle = text.angle - std::atan2(m_map.b, m_map.a) * 180 / kPi;
    run.clipTo = mapped(text.clipTo);
    if (text.fill) {
        run.fill = std::make_shared<const BrushStyle>(mapped(*text.fill));
    }
    if (run.height > 0 && std::isfinite(run.height) && std::isfinite(run.angle)) {
        m_canvas.drawText(run);
    }
}

void MappedCanvas::drawBitmap(const BitmapDraw& bitmap) {
    BitmapDraw draw = bitmap;
    draw.topLeft = m_map.map(bitmap.topLeft);
    draw.topRight = m_map.map(bitmap.topRight);
    draw.bottomLeft = m_map.map(bitmap.bottomLeft);
    m_canvas.drawBitmap(draw);
}

void MappedCanvas::drawTextBox(const TextBox& text) {
    TextBox box = text;
    box.transform = m_map.after(text.transform);
    m_canvas.drawTextBox(box);
}

void MappedCanvas::fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix) {
    std::vector<ShadedVertex> out = vertices;
    for (ShadedVertex& v : out) {
        v.at = m_map.map(v.at);
    }
    m_canvas.fillShadedTriangles(out, mix);
}

// The outer clip's intersecting steps and the boundary, once more: what an inner step may add
// stays inside them.
void MappedCanvas::keepInside() {
    for (const auto& [path, op] : m_outer) {
        if (op == ClipOp::Intersect || op == ClipOp::Replace) {
            m_canvas.clip(path, ClipOp::Intersect);
        }
    }
    m_canvas.clip(m_bounds, ClipOp::Intersect);
}

void MappedCanvas::resetClip() {
    m_canvas.resetClip();
    for (const auto& [path, op] : m_outer) {
        m_canvas.clip(path, op);
    }
    m_canvas.clip(m_bounds, ClipOp::Intersect);
}

void MappedCanvas::clip(const PathData& path, ClipOp op) {
    // The inner metafile's clip starts from everything its boundary shows: a replacement is an
    // intersection here.
    if (op == ClipOp::Replace) {
        resetClip();
        op = ClipOp::Intersect;
    }
    m_canvas.clip(mapped(path), op);
    if (op == ClipOp::Unite || op == ClipOp::Xor) {
        keepInside();
    }
}

void MappedCanvas::setClipRects(const std::vector<PixelRect>* rects) {
    resetClip();
    if (rects == nullptr) {
        return;
    }
    PathData path;
    for (const PixelRect& r : *rects) {
        path.moveTo(m_map.map({double(r.left), double(r.top)}));
        path.lineTo(m_map.map({double(r.right), double(r.top)}));
        path.lineTo(m_map.map({double(r.right), double(r.bottom)}));
        path.lineTo(m_map.map({double(r.left), double(r.bottom)}));
        path.close();
    }
    m_canvas.clip(path, ClipOp::Intersect);
}

}  // namespace metafile
