// The drawing side of QuickDraw pictures (Inside Macintosh: Imaging With QuickDraw, chapters 3
// and 4): shapes become regions of pixels, drawn with the pattern and transfer mode their
// operation takes.
#include "metafile/qdport.h"

#include <algorithm>
#include <cmath>

namespace metafile::qd {

namespace {

constexpr int kSrcCopy = 0, kSrcBic = 3;
constexpr int kPatCopy = 8;
constexpr int kTransparent = 36, kHilite = 50;
constexpr int kDefaultTextSize = 12;
// Spans handed to the canvas in one fill (see Region::paths), and what filling one costs
// against the picture's work, in the steps of making regions: a canvas takes microseconds a
// span where making it takes some tens of nanoseconds.
constexpr std::size_t kSpansPerFill = 256;
constexpr std::size_t kStepsPerDrawnSpan = 100;
constexpr std::uint8_t kMacRomanCharset = 77;  // LOGFONT's MAC_CHARSET

// How a transfer mode meets the pixels below, reduced to its four kinds.
enum class Transfer { Copy, Or, Xor, Bic };

Transfer transferOf(int mode, bool& inverted) {
    inverted = false;
    if (mode >= 0 && mode < 16) {
        inverted = (mode & 4) != 0;
        return Transfer(mode & 3);
    }
    if (mode == kTransparent) {
        return Transfer::Or;
    }
    if (mode == kHilite) {
        return Transfer::Xor;
    }
    return Transfer::Copy;  // the arithmetic modes blend into what is there; copying is nearest
}

// The names of the fonts QuickDraw numbers itself.
const char* standardFontName(int id) {
    switch (id) {
        case 0:
            return "Chicago";
        case 1:
        case 3:
            return "Geneva";
        case 2:
            return "New York";
        case 4:
            return "Monaco";
        case 5:
            return "Venice";
        case 6:
            return "London";
        case 7:
            return "Athens";
        case 8:
            return "San Francisco";
        case 9:
            return "Toronto";
        case 11:
            return "Cairo";
        case 12:
            return "Los Angeles";
        case 20:
            return "Times";
        case 21:
            return "Helvetica";
        case 22:
            return "Courier";
        case 23:
            return "Symbol";
        default:
            return "Geneva";
    }
}

}  // namespace

Pattern Pattern::black() {
    Pattern p;
    p.bits.fill(0xFF);
    return p;
}

Pattern Pattern::white() {
    return {};
}

QdPort::QdPort(MetafileCanvas* canvas, const MetafileLayout& layout)
    : m_canvas(canvas), m_layout(layout), m_area{0, 0, layout.width, layout.height} {
    m_sx = layout.refWidth != 0 ? layout.outWidth / layout.refWidth : 1;
    m_sy = layout.refHeight != 0 ? layout.outHeight / layout.refHeight : 1;
    if (!(std::isfinite(m_sx) && m_sx > 0 && std::isfinite(m_sy) && m_sy > 0)) {
        m_sx = m_sy = 1;
    }
    if (m_canvas != nullptr) {
        // A fill the canvas finds slow stops at the same time as the shapes would.
        m_canvas->setDeadline(m_budget.deadline());
    }
}

PointF QdPort::toPicture(double h, double v) const {
    return {m_layout.outX + (h - m_layout.refX) * m_sx, m_layout.outY + (v - m_layout.refY) * m_sy};
}

IntRect QdPort::deviceRect(const IntRect& r) const {
    const PointF a = toPicture(r.left, r.top), b = toPicture(r.right, r.bottom);
    // Far enough off the picture to lie outside it, near enough that sizes fit an int.
    auto pixel = [](double v) { return int(std::clamp(std::floor(v + 0.5), -2.5e8, 2.5e8)); };
    return {pixel(a.x), pixel(a.y), pixel(b.x), pixel(b.y)};
}

Point QdPort::devicePen() const {
    auto scaled = [](int size, double scale) {
        return size <= 0 ? 0 : std::max(1, int(std::min(std::floor(size * scale + 0.5), 1e6)));
    };
    return {scaled(penSize.h, m_sx), scaled(penSize.v, m_sy)};
}

Region QdPort::deviceRegion(const Region& region) {
    const Region mapped = region.mapped(m_sx, m_layout.outX - m_layout.refX * m_sx, m_sy,
                                        m_layout.outY - m_layout.refY * m_sy, m_budget);
    return combine(mapped, Region::rect(m_area), SetOp::Intersect, m_budget);
}

void QdPort::line(Point from, Point to) {
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    const Point pen = devicePen();
    const IntRect a = deviceRect({from.h, from.v, from.h, from.v});
    const IntRect b = deviceRect({to.h, to.v, to.h, to.v});
    draw(lineRegion(a.left, a.top, b.left, b.top, pen.h, pen.v, m_area, m_budget), Verb::Frame);
}

void QdPort::rect(Verb verb, const IntRect& r) {
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    const IntRect d = deviceRect(r);
    const IntRect clipped{std::max(d.left, m_area.left), std::max(d.top, m_area.top),
                          std::min(d.right, m_area.right), std::min(d.bottom, m_area.bottom)};
    Region shape = Region::rect(clipped);
    if (verb == Verb::Frame) {
        const Point pen = devicePen();
        if (pen.h == 0 || pen.v == 0) {
            return;
        }
        const IntRect inner{d.left + pen.h, d.top + pen.v, d.right - pen.h, d.bottom - pen.v};
        shape = combine(shape, Region::rect(inner), SetOp::Difference, m_budget);
    }
    draw(shape, verb);
}

void QdPort::roundRect(Verb verb, const IntRect& r) {
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    const IntRect d = deviceRect(r);
    const IntRect oval = deviceRect({0, 0, ovalSize.h, ovalSize.v});
    Region shape = roundRectRegion(d, oval.width(), oval.height(), m_area, m_budget);
    if (verb == Verb::Frame) {
        const Point pen = devicePen();
        if (pen.h == 0 || pen.v == 0) {
            return;
        }
        const IntRect inner{d.left + pen.h, d.top + pen.v, d.right - pen.h, d.bottom - pen.v};
        shape = combine(shape,
                        roundRectRegion(inner, oval.width() - 2 * pen.h, oval.height() - 2 * pen.v,
                                        m_area, m_budget),
                        SetOp::Difference, m_budget);
    }
    draw(shape, verb);
}

void QdPort::oval(Verb verb, const IntRect& r) {
    arc(verb, r, 0, 360);
}

void QdPort::arc(Verb verb, const IntRect& r, int startAngle, int arcAngle) {
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    const IntRect d = deviceRect(r);
    Region shape = ovalRegion(d, m_area, m_budget);
    if (verb == Verb::Frame) {
        const Point pen = devicePen();
        if (pen.h == 0 || pen.v == 0) {
            return;
        }
        const IntRect inner{d.left + pen.h, d.top + pen.v, d.right - pen.h, d.bottom - pen.v};
        shape = combine(shape, ovalRegion(inner, m_area, m_budget), SetOp::Difference, m_budget);
    }
    if (std::abs(arcAngle) < 360) {
        shape = wedgeOf(shape, d, startAngle, arcAngle, m_budget);
    }
    draw(shape, verb);
}

void QdPort::polygon(Verb verb, const std::vector<Point>& points) {
    m_drew = true;
    if (m_canvas == nullptr || points.empty()) {
        return;
    }
    if (verb == Verb::Frame) {
        // A polygon's outline is the lines between its points, each drawn as LineTo draws it.
        if (points.size() == 1) {
            line(points[0], points[0]);
        }
        for (std::size_t i = 1; i < points.size() && !m_budget.spent(); ++i) {
            line(points[i - 1], points[i]);
        }
        return;
    }
    std::vector<PointF> device;
    device.reserve(points.size());
    for (const Point& p : points) {
        device.push_back(toPicture(p.h, p.v));
    }
    draw(polygonRegion(device, m_area, m_budget), verb);
}

void QdPort::region(Verb verb, const Region& region) {
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    Region shape = deviceRegion(region);
    if (verb == Verb::Frame) {
        const Point pen = devicePen();
        if (pen.h == 0 || pen.v == 0) {
            return;
        }
        shape =
            combine(shape, insetRegion(shape, pen.h, pen.v, m_budget), SetOp::Difference, m_budget);
    }
    draw(shape, verb);
}

std::string QdPort::fontFace() const {
    auto named = fontNames.find(textFont);
    const std::string name = named != fontNames.end() ? named->second : standardFontName(textFont);
    // The Macintosh's own screen fonts are found nowhere else; the faces that metric-compatible
    // free fonts stand in for come nearest.
    static const std::pair<const char*, const char*> kNearest[] = {
        {"Chicago", "Helvetica"},       {"Geneva", "Helvetica"}, {"Charcoal", "Helvetica"},
        {"Lucida Grande", "Helvetica"}, {"New York", "Times"},   {"Monaco", "Courier"}};
    for (const auto& [mac, nearest] : kNearest) {
        if (name == mac) {
            return nearest;
        }
    }
    return name;
}

void QdPort::text(Point at, const std::string& bytes) {
    if (bytes.empty()) {
        return;
    }
    m_drew = true;
    if (m_canvas == nullptr) {
        return;
    }
    TextRun run;
    run.narrow = bytes;
    run.charset = kMacRomanCharset;
    run.origin = toPicture(at.h, at.v);
    const int size = textSize > 0 ? textSize : kDefaultTextSize;
    run.height = std::clamp(size * m_sy, 1.0, 1e6);
    run.emHeight = true;
    run.face = fontFace();
    run.weight = (textFace & 1) != 0 ? 700 : 400;
    run.italic = (textFace & 2) != 0;
    run.underline = (textFace & 4) != 0;
    run.vAlign = TextRun::VAlign::Baseline;
    run.colour = (textMode & 7) == kSrcBic ? back : fore;
    run.opaque = textMode == kSrcCopy;
    run.background = back;
    m_canvas->drawText(run);
}

void QdPort::setClip(const Region& region) {
    if (m_canvas == nullptr) {
        return;
    }
    m_clip = deviceRegion(region);
    applyClip(nullptr);
}

void QdPort::beginMask(const Region& region) {
    if (m_canvas == nullptr) {
        return;
    }
    const Region mask = deviceRegion(region);
    applyClip(&mask);
}

void QdPort::endMask() {
    if (m_canvas != nullptr) {
        applyClip(nullptr);
    }
}

// The clip region, cut down to the mask when there is one, as whole pixels.
void QdPort::applyClip(const Region* mask) {
    if (!m_clip && mask == nullptr) {
        m_canvas->setClipRects(nullptr);
        return;
    }
    Region clip = m_clip && mask != nullptr ? combine(*m_clip, *mask, SetOp::Intersect, m_budget)
                  : m_clip                  ? *m_clip
                                            : *mask;
    if (!m_budget.spend(clip.spanCount() * kStepsPerDrawnSpan)) {
        return;
    }
    std::vector<PixelRect> rects;
    rects.reserve(clip.spanCount());
    for (const Region::Band& band : clip.bands()) {
        for (std::uint32_t k = 0; k < band.count; ++k) {
            const Span s = clip.spans(band)[k];
            rects.push_back({s.left, band.top, s.right, band.bottom});
        }
    }
    m_canvas->setClipRects(&rects);
}

void QdPort::draw(const Region& pixels, Verb verb) {
    if (pixels.empty() || !m_budget.spend(pixels.spanCount() * kStepsPerDrawnSpan)) {
        return;
    }
    // The spans of a region never overlap, so drawing them a part at a time changes nothing,
    // even where the drawing inverts.
    for (const PathData& path : pixels.paths(kSpansPerFill)) {
        drawPart(path, verb);
    }
}

void QdPort::drawPart(const PathData& path, Verb verb) {
    switch (verb) {
        case Verb::Invert: {
            BrushStyle brush;
            brush.antialias = false;
            brush.mix = Mix::NotDestination;
            m_canvas->fillPath(path, FillRule::Winding, brush);
            return;
        }
        case Verb::Erase:
            paint(path, backPattern, kPatCopy);
            return;
        case Verb::Fill:
            paint(path, fillPattern, kPatCopy);
            return;
        case Verb::Frame:
        case Verb::Paint:
            paint(path, penPattern, penMode);
            return;
    }
}

void QdPort::paint(const PathData& path, const Pattern& pattern, int mode) {
    BrushStyle brush;
    brush.antialias = false;
    if (pattern.tile) {
        brush.texture = pattern.tile;
        m_canvas->fillPath(path, FillRule::Winding, brush);
        return;
    }
    bool inverted = false;
    const Transfer transfer = transferOf(mode, inverted);
    std::array<std::uint8_t, 8> bits = pattern.bits;
    Rgb on = fore;
    if (pattern.colour) {
        bits.fill(0xFF);
        on = *pattern.colour;
    }
    if (inverted) {
        for (auto& row : bits) {
            row = std::uint8_t(~row);
        }
    }
    const bool all = std::all_of(bits.begin(), bits.end(), [](auto b) { return b == 0xFF; });
    const bool none = std::all_of(bits.begin(), bits.end(), [](auto b) { return b == 0; });
    auto tile = [&](Rgb set, Rgb clear, bool transparent) {
        auto p = std::make_shared<MonoPattern>();
        p->bits.assign(bits.begin(), bits.end());
        p->foreground = set;
        p->background = clear;
        p->transparentBackground = transparent;
        brush.monoPattern = std::move(p);
    };
    // The modes other than copy leave the pixels under clear bits as they are.
    switch (transfer) {
        case Transfer::Copy:
            if (all || none) {
                brush.colour = all ? on : back;
            } else {
                tile(on, back, false);
            }
            break;
        case Transfer::Or:
            if (none) {
                return;
            }
            if (all) {
                brush.colour = on;
            } else {
                tile(on, back, true);
            }
            break;
        case Transfer::Xor:
            if (none) {
                return;
            }
            if (all) {
                brush.mix = Mix::NotDestination;
            } else {
                // White where set, black where clear: exclusive-or inverts the set ones only.
                tile({255, 255, 255}, {0, 0, 0}, false);
                brush.mix = Mix::Xor;
            }
            break;
        case Transfer::Bic:
            if (none) {
                return;
            }
            if (all) {
                brush.colour = back;
            } else {
                tile(back, back, true);
            }
            break;
    }
    m_canvas->fillPath(path, FillRule::Winding, brush);
}

}  // namespace metafile::qd
