#include "metafile/emfplusplayer.h"

#include <algorithm>
#include <cmath>

#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "metafile/sharedcanvas.h"

namespace metafile::emfplus {

namespace {

using ClipOp = MetafileCanvas::ClipOp;

constexpr double kPi = 3.14159265358979323846;
// How often long drawing work looks at the clock, in units of work (shapes, rings, glyphs).
constexpr std::size_t kClockEvery = 64;

Rgb rgbOf(Argb c) {
    return {c.r, c.g, c.b};
}

Argb mixed(Argb a, Argb b, double t) {
    t = std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0);
    auto ch = [&](std::uint8_t x, std::uint8_t y) {
        return std::uint8_t(std::lround(x + (double(y) - x) * t));
    };
    return {ch(a.a, b.a), ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b)};
}

bool finite(const Affine& m) {
    return std::isfinite(m.a + m.b + m.c + m.d + m.e + m.f);
}

Affine translation(double dx, double dy) {
    return {1, 0, 0, 1, dx, dy};
}

// Stops of a gradient from its two colours and what its blend says, in order along it.
std::vector<GradientStop> gradientStops(const Brush& brush, Argb from, Argb to) {
    std::vector<GradientStop> stops;
    auto stop = [&](double position, Argb c) {
        if (std::isfinite(position)) {
            stops.push_back({std::clamp(position, 0.0, 1.0), rgbOf(c), c.a});
        }
    };
    if (!brush.stops.empty()) {
        for (const BlendStop& s : brush.stops) {
            stop(s.position, s.colour);
        }
    } else if (!brush.factors.empty()) {
        for (const auto& [position, factor] : brush.factors) {
            stop(position, mixed(from, to, factor));
        }
    }
    if (stops.empty()) {
        stop(0, from);
        stop(1, to);
    }
    std::stable_sort(stops.begin(), stops.end(), [](const GradientStop& a, const GradientStop& b) {
        return a.position < b.position;
    });
    return stops;
}

// GDI+'s hatch styles ([MS-EMFPLUS] 2.1.1.13) as 8 x 8 tiles: set bits are the foreground.
// The six line patterns are exact; the others keep their density and direction.
std::array<std::uint8_t, 8> hatchTile(int style) {
    switch (style) {
        case 0:  // horizontal
            return {0xFF, 0, 0, 0, 0, 0, 0, 0};
        case 1:  // vertical
            return {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
        case 2:  // forward diagonal
            return {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
        case 3:  // backward diagonal
            return {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
        case 4:  // cross
            return {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
        case 5:  // diagonal cross
            return {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81};
        case 6:  // 5 %
            return {0x80, 0, 0, 0, 0x08, 0, 0, 0};
        case 7:  // 10 %
            return {0x80, 0, 0x08, 0, 0x80, 0, 0x08, 0};
        case 8:  // 20 %
            return {0x88, 0, 0x22, 0, 0x88, 0, 0x22, 0};
        case 9:  // 25 %
            return {0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22};
        case 10:  // 30 %
            return {0xAA, 0x44, 0xAA, 0x11, 0xAA, 0x44, 0xAA, 0x11};
        case 11:  // 40 %
            return {0xAA, 0x55, 0xAA, 0x51, 0xAA, 0x55, 0xAA, 0x15};
        case 12:  // 50 %
            return {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
        case 13:  // 60 %
            return {0xEE, 0x55, 0xBB, 0x55, 0xEE, 0x55, 0xBB, 0x55};
        case 14:  // 70 %
            return {0xEE, 0x77, 0xBB, 0xDD, 0xEE, 0x77, 0xBB, 0xDD};
        case 15:  // 75 %
            return {0xEE, 0xFF, 0xBB, 0xFF, 0xEE, 0xFF, 0xBB, 0xFF};
        case 16:  // 80 %
            return {0xF7, 0xFF, 0x7F, 0xFF, 0xF7, 0xFF, 0x7F, 0xFF};
        case 17:  // 90 %
            return {0xFF, 0xFF, 0xFF, 0xF7, 0xFF, 0xFF, 0xFF, 0x7F};
        case 18:  // light downward diagonal
        case 20:  // dark downward diagonal
        case 22:  // wide downward diagonal
            return {0x88, 0x44, 0x22, 0x11, 0x88, 0x44, 0x22, 0x11};
        case 19:  // light upward diagonal
        case 21:  // dark upward diagonal
        case 23:  // wide upward diagonal
            return {0x11, 0x22, 0x44, 0x88, 0x11, 0x22, 0x44, 0x88};
        case 24:  // light vertical
        case 26:  // dark vertical
        case 28:  // narrow vertical
            return {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88};
        case 25:  // light horizontal
        case 27:  // dark horizontal
        case 29:  // narrow horizontal
            return {0xFF, 0, 0, 0, 0xFF, 0, 0, 0};
        default:  // dashes, waves, bricks, checks and the rest: a cross of their scale
            return {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88};
    }
}

PathData rectOutput(double w, double h) {
    PathData p;
    p.moveTo({0, 0});
    p.lineTo({w, 0});
    p.lineTo({w, h});
    p.lineTo({0, h});
    p.close();
    return p;
}

}  // namespace

Player::Player(MetafileCanvas& canvas, const MetafileLayout& layout, int depth)
    : m_canvas(canvas), m_layout(layout), m_depth(depth) {}

void Player::setDpi(double x, double y) {
    if (std::isfinite(x) && std::isfinite(y) && x >= 1 && y >= 1 && x <= 1e5 && y <= 1e5) {
        m_dpiX = x;
        m_dpiY = y;
    }
}

void Player::setObject(std::uint8_t id, Object object) {
    if (id < m_objects.size()) {
        m_objects[id] = std::move(object);
    }
}

const Object* Player::object(std::uint8_t id) const {
    return id < m_objects.size() ? &m_objects[id] : nullptr;
}

bool Player::expired() {
    if (!m_expired && ++m_work % kClockEvery == 0) {
        m_expired = playTimeIsUp();
    }
    return m_expired;
}

// --- transforms ------------------------------------------------------------------------------

double Player::unitPixels(Unit unit, bool vertical) const {
    const double dpi = vertical ? m_dpiY : m_dpiX;
    switch (unit) {
        case Unit::Point:
            return dpi / 72;
        case Unit::Inch:
            return dpi;
        case Unit::Document:
            return dpi / 300;
        case Unit::Millimeter:
            return dpi / 25.4;
        case Unit::World:
        case Unit::Display:
        case Unit::Pixel:
            break;
    }
    return 1;
}

// World units in one of a unit: the page's scale applies to lengths given in any unit alike.
double Player::unitToWorld(Unit unit, bool vertical) const {
    return unit == Unit::World
               ? 1
               : unitPixels(unit, vertical) / unitPixels(m_state.pageUnit, vertical);
}

Affine Player::toOutput() const {
    Affine device;
    if (m_layout.refWidth != 0 && m_layout.refHeight != 0) {
        const double sx = m_layout.outWidth / m_layout.refWidth;
        const double sy = m_layout.outHeight / m_layout.refHeight;
        device = {
            sx, 0, 0, sy, m_layout.outX - m_layout.refX * sx, m_layout.outY - m_layout.refY * sy};
    }
    // With GDI+'s default pixel offset, pixel centres sit on whole coordinates.
    if (!m_state.halfPixel) {
        device = translation(0.5, 0.5).after(device);
    }
    const double px = unitPixels(m_state.pageUnit, false) * m_state.pageScale;
    const double py = unitPixels(m_state.pageUnit, true) * m_state.pageScale;
    const Affine page{px, 0, 0, py, 0, 0};
    return device.after(page.after(m_state.container.after(m_state.world)));
}

double Player::lengthScale(const Affine& m) const {
    const double s = std::sqrt(std::fabs(m.determinant()));
    return std::isfinite(s) ? s : 0;
}

void Player::multiplyWorld(const Affine& m, bool append) {
    if (!finite(m)) {
        return;
    }
    m_state.world = append ? m.after(m_state.world) : m_state.world.after(m);
}

void Player::setPage(Unit unit, double scale) {
    if (unit == Unit::World || !std::isfinite(scale) || scale <= 0 || scale > 1e6) {
        return;
    }
    m_state.pageUnit = unit;
    m_state.pageScale = scale;
}

// --- state stack -----------------------------------------------------------------------------

void Player::save(std::uint32_t id) {
    if (m_stack.size() < kMaxMetafileSavedStates) {
        m_stack.push_back({id, m_state});
    }
}

void Player::restore(std::uint32_t id) {
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        if (m_stack[i].id == id) {
            const bool clipChanged = m_stack[i].state.clip != m_state.clip;
            m_state = m_stack[i].state;
            m_stack.resize(i);
            if (clipChanged) {
                applyClip();
            }
            return;
        }
    }
}

void Player::beginContainer(std::uint32_t id) {
    save(id);
    m_state.container = m_state.container.after(m_state.world);
    m_state.world = Affine{};
    m_state.containerClip = m_state.clip;
}

void Player::beginContainer(const RectF& dest, const RectF& source, Unit unit, std::uint32_t id) {
    // The source rectangle, in its own unit, lands on the destination in world units.
    const double kx = unitToWorld(unit, false), ky = unitToWorld(unit, true);
    const double sw = source.width * kx, sh = source.height * ky;
    Affine map;
    if (sw != 0 && sh != 0 && std::isfinite(sw) && std::isfinite(sh)) {
        const double sx = dest.width / sw, sy = dest.height / sh;
        map = {sx, 0, 0, sy, dest.x - source.x * kx * sx, dest.y - source.y * ky * sy};
    }
    beginContainer(id);
    if (finite(map)) {
        m_state.container = m_state.container.after(map);
    }
}

// --- clip ------------------------------------------------------------------------------------

void Player::applyClip() {
    m_canvas.resetClip();
    if (m_state.clip) {
        for (const auto& [path, op] : *m_state.clip) {
            m_canvas.clip(path, op);
        }
    }
}

void Player::resetClip() {
    if (m_state.clip != m_state.containerClip) {
        m_state.clip = m_state.containerClip;
        applyClip();
    }
}

// Adds steps under a combine mode; a replacement starts again from the container's clip.
void Player::addClipSteps(const ClipSteps& steps, int mode) {
    auto next = std::make_shared<ClipSteps>();
    const bool replace = mode == 0;
    const std::shared_ptr<const ClipSteps>& from = replace ? m_state.containerClip : m_state.clip;
    if (from) {
        *next = *from;
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        auto [path, op] = steps[i];
        if (i == 0 && !replace) {
            switch (mode) {
                case 1:
                    op = ClipOp::Intersect;
                    break;
                case 2:
                    op = ClipOp::Unite;
                    break;
                case 3:
                    op = ClipOp::Xor;
                    break;
                case 4:
                    op = ClipOp::Exclude;
                    break;
                case 5:  // the new area less the old: what the union adds to the old one
                    next->emplace_back(path, ClipOp::Xor);
                    op = ClipOp::Intersect;
                    break;
                default:
                    return;
            }
        } else if (i == 0 && !next->empty()) {
            op = ClipOp::Intersect;  // within the container's clip
        }
        if (next->size() >= kMaxMetafileClipSteps) {
            return;
        }
        next->emplace_back(std::move(path), op);
    }
    m_state.clip = std::move(next);
    applyClip();
}

void Player::setClipRect(const RectF& rect, int mode) {
    addClipSteps({{outputPath(rectanglePath(rect)), ClipOp::Replace}}, mode);
}

void Player::setClipPath(std::uint8_t pathId, int mode) {
    const Object* o = object(pathId);
    if (o == nullptr || !std::holds_alternative<Path>(*o)) {
        return;
    }
    addClipSteps({{outputPath(std::get<Path>(*o)), ClipOp::Replace}}, mode);
}

// The steps that build a region from nothing clipped, as far as steps can: a chain of
// combinations whose right-hand sides are single shapes is exact.
bool Player::regionSteps(const Region& region, int index, ClipSteps& steps, int depth) const {
    if (index < 0 || std::size_t(index) >= region.nodes.size() || depth > 64 ||
        steps.size() >= kMaxMetafileClipSteps) {
        return false;
    }
    const RegionNode& node = region.nodes[std::size_t(index)];
    auto everywhere = [&] {
        const double side = 4.0 * std::max(m_layout.width, m_layout.height) + 16;
        PathData p;
        p.moveTo({-side, -side});
        p.lineTo({side, -side});
        p.lineTo({side, side});
        p.lineTo({-side, side});
        p.close();
        return p;
    };
    auto leaf = [&](const RegionNode& n) -> std::optional<PathData> {
        switch (n.kind) {
            case RegionNode::Kind::Rect:
                return outputPath(rectanglePath(n.rect));
            case RegionNode::Kind::Path:
                return outputPath(n.path);
            case RegionNode::Kind::Empty:
                return PathData{};
            case RegionNode::Kind::Infinite:
                return everywhere();
            default:
                return std::nullopt;
        }
    };
    if (auto path = leaf(node)) {
        if (node.kind != RegionNode::Kind::Infinite) {
            steps.emplace_back(std::move(*path), ClipOp::Replace);
        } else {
            steps.clear();
        }
        return true;
    }
    int left = node.left, right = node.right;
    auto leafAt = [&](int i) -> std::optional<PathData> {
        if (i < 0 || std::size_t(i) >= region.nodes.size()) {
            return std::nullopt;
        }
        return leaf(region.nodes[std::size_t(i)]);
    };
    std::optional<PathData> rightPath = leafAt(right);
    const bool symmetric = node.kind == RegionNode::Kind::And ||
                           node.kind == RegionNode::Kind::Or || node.kind == RegionNode::Kind::Xor;
    if (!rightPath && symmetric && leafAt(left)) {
        std::swap(left, right);
        rightPath = leafAt(right);
    }
    if (!regionSteps(region, left, steps, depth + 1)) {
        return false;
    }
    if (!rightPath) {
        // Two combined sides: the right-hand side's own shapes stand in for it.
        ClipSteps inner;
        if (!regionSteps(region, right, inner, depth + 1)) {
            return false;
        }
        PathData joined;
        for (const auto& step : inner) {
            if (step.second != ClipOp::Exclude) {
                joined.append(step.first);
            }
        }
        rightPath = std::move(joined);
    }
    if (steps.empty() && node.kind != RegionNode::Kind::And &&
        node.kind != RegionNode::Kind::Exclude) {
        // The left side is everything: uniting keeps it, the others leave the complement.
        if (node.kind == RegionNode::Kind::Or) {
            return true;
        }
        steps.emplace_back(everywhere(), ClipOp::Replace);
    }
    switch (node.kind) {
        case RegionNode::Kind::And:
            steps.emplace_back(std::move(*rightPath), ClipOp::Intersect);
            break;
        case RegionNode::Kind::Or:
            steps.emplace_back(std::move(*rightPath), ClipOp::Unite);
            break;
        case RegionNode::Kind::Xor:
            steps.emplace_back(std::move(*rightPath), ClipOp::Xor);
            break;
        case RegionNode::Kind::Exclude:
            steps.emplace_back(std::move(*rightPath), ClipOp::Exclude);
            break;
        case RegionNode::Kind::Complement:
            steps.emplace_back(*rightPath, ClipOp::Xor);
            steps.emplace_back(std::move(*rightPath), ClipOp::Intersect);
            break;
        default:
            return false;
    }
    return true;
}

void Player::setClipRegion(std::uint8_t regionId, int mode) {
    const Object* o = object(regionId);
    if (o == nullptr || !std::holds_alternative<Region>(*o)) {
        return;
    }
    ClipSteps steps;
    if (!regionSteps(std::get<Region>(*o), 0, steps, 0)) {
        return;
    }
    if (steps.empty()) {
        // An infinite region: replacing with it lifts the clip; intersecting changes nothing.
        if (mode == 0 || mode == 2) {
            m_state.clip = mode == 0 ? m_state.containerClip : nullptr;
            applyClip();
        }
        return;
    }
    addClipSteps(steps, mode);
}

void Player::offsetClip(double dx, double dy) {
    if (!m_state.clip || !std::isfinite(dx) || !std::isfinite(dy)) {
        return;
    }
    const Affine m = toOutput();
    const double ox = m.a * dx + m.c * dy, oy = m.b * dx + m.d * dy;
    auto steps = std::make_shared<ClipSteps>(*m_state.clip);
    const std::size_t kept = m_state.containerClip ? m_state.containerClip->size() : 0;
    for (std::size_t i = kept; i < steps->size(); ++i) {
        for (PointF& p : (*steps)[i].first.points) {
            p = {p.x + ox, p.y + oy};
        }
    }
    m_state.clip = std::move(steps);
    applyClip();
}

// --- styles ----------------------------------------------------------------------------------

PathData Player::outputPath(const Path& path) const {
    return outputPath(path, toOutput());
}

PathData Player::outputPath(const Path& path, const Affine& m) const {
    PathData out;
    const std::size_t n = std::min(path.points.size(), path.types.size());
    bool open = false;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t type = path.types[i] & kPointTypeMask;
        std::uint8_t flags = path.types[i];
        if (!open || type == kPointStart) {
            out.moveTo(m.map(path.points[i]));
            open = true;
        } else if (type == kPointBezier && i + 2 < n) {
            out.cubicTo(m.map(path.points[i]), m.map(path.points[i + 1]),
                        m.map(path.points[i + 2]));
            flags = path.types[i + 2];
            i += 2;
        } else {
            out.lineTo(m.map(path.points[i]));
        }
        if ((flags & kPointClose) != 0) {
            out.close();
            open = false;
        }
    }
    return out;
}

// A path gradient's boundary as a polygon in world units, each point with its colour: the
// surround colours belong to the path's points, and a curve between two takes the first's.
void Player::boundaryOf(const Brush& brush, Gradient& gradient) const {
    const Path& path = brush.boundary;
    const std::size_t n = std::min(path.points.size(), path.types.size());
    auto colourAt = [&](std::size_t i) -> GradientStop {
        if (brush.surround.empty()) {
            return {0, {255, 255, 255}, 255};
        }
        const Argb c = brush.surround[std::min(i, brush.surround.size() - 1)];
        return {0, rgbOf(c), c.a};
    };
    for (std::size_t i = 0; i < n && gradient.boundary.size() < kMaxMetafilePathPoints; ++i) {
        if ((path.types[i] & kPointTypeMask) == kPointBezier && i + 2 < n && i > 0) {
            const PointF p0 = path.points[i - 1], c1 = path.points[i], c2 = path.points[i + 1],
                         p3 = path.points[i + 2];
            for (int k = 1; k <= 8; ++k) {
                const double t = k / 8.0, u = 1 - t;
                gradient.boundary.push_back({u * u * u * p0.x + 3 * u * u * t * c1.x +
                                                 3 * u * t * t * c2.x + t * t * t * p3.x,
                                             u * u * u * p0.y + 3 * u * u * t * c1.y +
                                                 3 * u * t * t * c2.y + t * t * t * p3.y});
                gradient.boundaryColours.push_back(colourAt(k == 8 ? i + 2 : i - 1));
            }
            i += 2;
            continue;
        }
        gradient.boundary.push_back(path.points[i]);
        gradient.boundaryColours.push_back(colourAt(i));
    }
}

std::optional<BrushStyle> Player::brushStyle(const Brush& brush, const Affine& m) const {
    BrushStyle style;
    style.colour = rgbOf(brush.colour);
    style.alpha = brush.colour.a;
    style.antialias = m_state.antialias;
    switch (brush.kind) {
        case Brush::Kind::Solid:
            return style;
        case Brush::Kind::Hatch: {
            // Hatches keep to the picture's pixels whatever the transforms, as GDI+ draws them.
            auto pattern = std::make_shared<MonoPattern>();
            const auto rows = hatchTile(brush.hatch);
            pattern->bits.assign(rows.begin(), rows.end());
            pattern->foreground = rgbOf(brush.colour);
            pattern->background = rgbOf(brush.other);
            pattern->transparentBackground = brush.other.a == 0;
            style.monoPattern = std::move(pattern);
            return style;
        }
        case Brush::Kind::Texture: {
            if (!brush.texture || brush.texture->kind == Image::Kind::Metafile) {
                return std::nullopt;
            }
            auto source = std::make_shared<ImageSource>();
            if (brush.texture->kind == Image::Kind::Pixels) {
                source->pixels = brush.texture->pixels;
                source->pixelsWidth = brush.texture->width;
                source->pixelsHeight = brush.texture->height;
            } else {
                source->encoded = brush.texture->bytes;
            }
            style.texture = std::move(source);
            style.wrap = BrushStyle::Wrap(std::clamp(brush.wrap, 0, 4));
            style.transform = m.after(brush.transform);
            return finite(style.transform) ? std::optional<BrushStyle>(style) : std::nullopt;
        }
        case Brush::Kind::LinearGradient: {
            auto gradient = std::make_shared<Gradient>();
            gradient->start = {brush.rect.x, brush.rect.y};
            gradient->end = {brush.rect.x + brush.rect.width, brush.rect.y};
            gradient->stops = gradientStops(brush, brush.colour, brush.other);
            gradient->spread = brush.wrap == 4                      ? Gradient::Spread::Pad
                               : brush.wrap == 1 || brush.wrap == 3 ? Gradient::Spread::Reflect
                                                                    : Gradient::Spread::Repeat;
            style.transform = m.after(brush.transform);
            if (!finite(style.transform) || !(std::fabs(brush.rect.width) > 0) ||
                !std::isfinite(brush.rect.width)) {
                return style;  // no direction to run in: its first colour
            }
            style.gradient = std::move(gradient);
            return style;
        }
        case Brush::Kind::PathGradient: {
            auto gradient = std::make_shared<Gradient>();
            gradient->kind = Gradient::Kind::Path;
            boundaryOf(brush, *gradient);
            gradient->centre = brush.centre;
            gradient->centreColour = {1, rgbOf(brush.colour), brush.colour.a};
            if (!brush.stops.empty()) {
                gradient->stops = gradientStops(brush, brush.colour, brush.colour);
            }
            gradient->blend = brush.factors;
            // Focus scales keep the centre colour over an inner copy of the boundary: the way
            // in reaches the centre colour that much sooner.
            const double focus = std::clamp((brush.focusX + brush.focusY) / 2, 0.0, 0.99);
            if (focus > 0) {
                if (gradient->blend.empty()) {
                    gradient->blend = {{0, 0}, {1, 1}};
                }
                for (auto& [position, factor] : gradient->blend) {
                    position *= 1 - focus;
                }
                gradient->blend.emplace_back(1, gradient->blend.back().second);
            }
            style.transform = m.after(brush.transform);
            if (gradient->boundary.size() < 3 || !finite(style.transform)) {
                return std::nullopt;
            }
            style.gradient = std::move(gradient);
            return style;
        }
    }
    return std::nullopt;
}

std::optional<PenStyle> Player::penStyle(const Pen& pen) const {
    PenStyle style;
    const Affine m = toOutput();
    const Brush& brush = pen.brush;
    style.colour = rgbOf(brush.colour);
    style.alpha = brush.colour.a;
    style.antialias = m_state.antialias;
    if (brush.kind != Brush::Kind::Solid) {
        if (auto fill = brushStyle(brush, m)) {
            style.fill = std::make_shared<const BrushStyle>(std::move(*fill));
        }
    }
    // A pen's width is in world units, or in a unit of its own brought to world units.
    double scale = lengthScale(m) * lengthScale(pen.transform);
    scale *= unitToWorld(pen.unit, false);
    const double width = pen.width * scale;
    style.width = std::isfinite(width) ? std::clamp(width, 1.0, 1e6) : 1.0;
    switch (pen.join) {
        case 1:
            style.join = PenStyle::Join::Bevel;
            break;
        case 2:
            style.join = PenStyle::Join::Round;
            break;
        default:
            style.join = PenStyle::Join::Miter;
            break;
    }
    style.miterLimit = pen.miterLimit;
    auto capOf = [](int cap) {
        switch (cap) {
            case 1:
            case 0x11:
                return PenStyle::Cap::Square;
            case 2:
            case 0x12:
                return PenStyle::Cap::Round;
            default:
                return PenStyle::Cap::Flat;
        }
    };
    // Qt caps both ends alike: a plain cap at either end, flat under shapes drawn on their own.
    style.cap = capOf(pen.startCap < 4 ? pen.startCap : pen.endCap);
    // Dashes and gaps in pen widths, as GDI+ gives them.
    std::vector<double> pattern;
    switch (pen.lineStyle) {
        case 1:
            pattern = {3, 1};
            break;
        case 2:
            pattern = {1, 1};
            break;
        case 3:
            pattern = {3, 1, 1, 1};
            break;
        case 4:
            pattern = {3, 1, 1, 1, 1, 1};
            break;
        default:
            break;
    }
    // A dash array of its own makes a custom dash whatever the style says.
    if (!pen.dashes.empty()) {
        pattern = pen.dashes;
    }
    double total = 0;
    for (double d : pattern) {
        total += d;
    }
    if (!pattern.empty() && pattern.size() % 2 == 0 && pattern.size() <= 64 && total > 0 &&
        std::isfinite(total)) {
        for (double d : pattern) {
            style.dashes.push_back(d * style.width);
        }
        style.dashOffset = pen.dashOffset * style.width;
        style.cap = pen.dashCap == 2 ? PenStyle::Cap::Round : PenStyle::Cap::Flat;
    }
    return style;
}

// --- drawing ---------------------------------------------------------------------------------

void Player::fillOutput(const PathData& path, bool winding, const BrushRef& ref) {
    if (path.empty()) {
        return;
    }
    const FillRule rule = winding ? FillRule::Winding : FillRule::EvenOdd;
    const Affine m = toOutput();
    if (ref.isColour) {
        const Argb c = argbOf(ref.value);
        BrushStyle style;
        style.colour = rgbOf(c);
        style.alpha = c.a;
        style.antialias = m_state.antialias;
        m_canvas.fillPath(path, rule, style);
        m_drew = true;
        return;
    }
    const Object* o = object(std::uint8_t(ref.value));
    if (o == nullptr || !std::holds_alternative<Brush>(*o)) {
        return;
    }
    if (auto style = brushStyle(std::get<Brush>(*o), m)) {
        m_canvas.fillPath(path, rule, *style);
        m_drew = true;
    }
}

void Player::clear(Argb colour) {
    BrushStyle style;
    style.colour = rgbOf(colour);
    style.alpha = colour.a;
    m_canvas.fillPath(rectOutput(m_layout.width, m_layout.height), FillRule::Winding, style);
    m_drew = true;
}

void Player::fill(const BrushRef& brush, const Path& path) {
    if (!expired()) {
        fillOutput(outputPath(path), path.winding, brush);
    }
}

void Player::draw(std::uint8_t penId, const Path& path) {
    const Object* o = object(penId);
    if (expired() || o == nullptr || !std::holds_alternative<Pen>(*o)) {
        return;
    }
    const Pen& pen = std::get<Pen>(*o);
    auto style = penStyle(pen);
    PathData out = outputPath(path);
    if (!style || out.empty()) {
        return;
    }
    m_canvas.strokePath(out, *style);
    m_drew = true;
    // Caps that are shapes of their own go on each open figure's ends.
    const bool startShape = pen.startCap == kCapTriangle || pen.startCap > 0x10;
    const bool endShape = pen.endCap == kCapTriangle || pen.endCap > 0x10;
    if (!startShape && !endShape) {
        return;
    }
    std::size_t at = 0, first = 0;
    for (std::size_t i = 0; i < out.ops.size(); ++i) {
        const PathData::Op op = out.ops[i];
        if (op == PathData::Op::Move) {
            first = at;
        }
        at += op == PathData::Op::Cubic ? 3 : op == PathData::Op::Close ? 0 : 1;
        const bool figureEnds = i + 1 == out.ops.size() || out.ops[i + 1] == PathData::Op::Move;
        if (op == PathData::Op::Close || !figureEnds || at - first < 2) {
            continue;
        }
        if (startShape) {
            drawCap(pen.startCap, pen.customStart.get(), out.points[first], out.points[first + 1],
                    *style);
        }
        if (endShape) {
            drawCap(pen.endCap, pen.customEnd.get(), out.points[at - 1], out.points[at - 2],
                    *style);
        }
    }
}

// A cap at end, the line arriving from before: anchors are centred on the end, an arrow's tip
// is the end, all sized by the pen's width as GDI+ sizes them.
void Player::drawCap(int type, const CustomCap* custom, PointF end, PointF before,
                     const PenStyle& pen) {
    const double dx = end.x - before.x, dy = end.y - before.y;
    const double length = std::hypot(dx, dy);
    if (!(length > 0) || !std::isfinite(length) || expired()) {
        return;
    }
    // The cap's own space: y out along the line, x across it, one unit the pen's width.
    const double w = pen.width;
    const PointF along{dx / length, dy / length}, across{-along.y, along.x};
    auto capPoint = [&](double x, double y, double scale) {
        return PointF{end.x + (across.x * x + along.x * y) * w * scale,
                      end.y + (across.y * x + along.y * y) * w * scale};
    };
    auto polygon = [&](std::initializer_list<std::pair<double, double>> corners, double scale) {
        PathData p;
        for (const auto& [x, y] : corners) {
            p.lineTo(capPoint(x, y, scale));
        }
        p.close();
        return p;
    };
    BrushStyle fill;
    fill.colour = pen.colour;
    fill.alpha = pen.alpha;
    fill.antialias = pen.antialias;
    PathData shape;
    switch (type) {
        case kCapTriangle:
            shape = polygon({{-0.5, 0}, {0, 0.5}, {0.5, 0}}, 1);
            break;
        case kCapSquareAnchor:
            shape = polygon({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}, 0.75);
            break;
        case kCapDiamondAnchor:
            shape = polygon({{0, -1}, {1, 0}, {0, 1}, {-1, 0}}, 1);
            break;
        case kCapArrowAnchor:
            shape = polygon({{0, 0}, {-1, -2}, {1, -2}}, 1);
            break;
        case kCapRoundAnchor: {
            const Path circle = ellipsePath({-1, -1, 2, 2});
            Affine m{across.x * w, across.y * w, along.x * w, along.y * w, end.x, end.y};
            shape = outputPath(circle, m);
            break;
        }
        case kCapCustom: {
            if (custom == nullptr) {
                return;
            }
            const double scale = custom->widthScale > 0 ? custom->widthScale : 1;
            if (custom->arrow) {
                const double hw = custom->width / 2, h = custom->height;
                const double inset = std::clamp(custom->middleInset, 0.0, h);
                shape = polygon({{0, 0}, {-hw, -h}, {0, inset - h}, {hw, -h}}, scale);
                if (!custom->filled) {
                    m_canvas.strokePath(shape, pen);
                    return;
                }
                break;
            }
            const Affine m{across.x * w * scale,
                           across.y * w * scale,
                           along.x * w * scale,
                           along.y * w * scale,
                           end.x,
                           end.y};
            if (!custom->outline.points.empty()) {
                PenStyle outline = pen;
                outline.dashes.clear();
                m_canvas.strokePath(outputPath(custom->outline, m), outline);
            }
            shape = outputPath(custom->fill, m);
            break;
        }
        default:
            return;
    }
    if (!shape.empty()) {
        m_canvas.fillPath(shape, FillRule::Winding, fill);
    }
}

void Player::fillPathObject(const BrushRef& brush, std::uint8_t pathId) {
    const Object* o = object(pathId);
    if (o != nullptr && std::holds_alternative<Path>(*o)) {
        fill(brush, std::get<Path>(*o));
    }
}

void Player::drawPathObject(std::uint8_t penId, std::uint8_t pathId) {
    const Object* o = object(pathId);
    if (o != nullptr && std::holds_alternative<Path>(*o)) {
        draw(penId, std::get<Path>(*o));
    }
}

void Player::fillRegion(const BrushRef& brush, std::uint8_t regionId) {
    const Object* o = object(regionId);
    if (expired() || o == nullptr || !std::holds_alternative<Region>(*o)) {
        return;
    }
    ClipSteps steps;
    if (!regionSteps(std::get<Region>(*o), 0, steps, 0)) {
        return;
    }
    if (steps.size() == 1 && steps[0].second == ClipOp::Replace) {
        fillOutput(steps[0].first, true, brush);
        return;
    }
    // A combined region paints through the clip it makes, within the current one.
    const std::shared_ptr<const ClipSteps> saved = m_state.clip;
    auto clipped = std::make_shared<ClipSteps>(saved ? *saved : ClipSteps{});
    for (std::size_t i = 0; i < steps.size(); ++i) {
        clipped->emplace_back(steps[i].first, i == 0 && steps[i].second == ClipOp::Replace
                                                  ? ClipOp::Intersect
                                                  : steps[i].second);
    }
    m_state.clip = std::move(clipped);
    applyClip();
    fillOutput(rectOutput(m_layout.width, m_layout.height), true, brush);
    m_state.clip = saved;
    applyClip();
}

void Player::drawImage(std::uint8_t imageId, const RectF& source, Unit sourceUnit,
                       const std::array<PointF, 3>& dest) {
    const Object* o = object(imageId);
    if (expired() || o == nullptr || !std::holds_alternative<std::shared_ptr<const Image>>(*o)) {
        return;
    }
    const Image& image = *std::get<std::shared_ptr<const Image>>(*o);
    if (image.kind == Image::Kind::Metafile) {
        drawMetafile(image, source, dest);
        return;
    }
    // The source in the image's pixels, at 96 dots an inch for the physical units.
    double k = 1;
    switch (sourceUnit) {
        case Unit::Point:
            k = 96.0 / 72;
            break;
        case Unit::Inch:
            k = 96;
            break;
        case Unit::Document:
            k = 96.0 / 300;
            break;
        case Unit::Millimeter:
            k = 96 / 25.4;
            break;
        default:
            break;
    }
    const double sx = source.x * k, sy = source.y * k, sw = source.width * k,
                 sh = source.height * k;
    if (!(std::isfinite(sx + sy + sw + sh)) || sw == 0 || sh == 0) {
        return;
    }
    const double x0 = std::clamp(std::round(std::min(sx, sx + sw)), 0.0, double(image.width));
    const double x1 = std::clamp(std::round(std::max(sx, sx + sw)), 0.0, double(image.width));
    const double y0 = std::clamp(std::round(std::min(sy, sy + sh)), 0.0, double(image.height));
    const double y1 = std::clamp(std::round(std::max(sy, sy + sh)), 0.0, double(image.height));
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    // Where a point of the image lands, through the destination's parallelogram.
    const Affine m = toOutput();
    auto land = [&](double px, double py) {
        const double u = (px - sx) / sw, v = (py - sy) / sh;
        return m.map({dest[0].x + u * (dest[1].x - dest[0].x) + v * (dest[2].x - dest[0].x),
                      dest[0].y + u * (dest[1].y - dest[0].y) + v * (dest[2].y - dest[0].y)});
    };
    BitmapDraw draw;
    if (image.kind == Image::Kind::Pixels) {
        draw.pixels = image.pixels;
        draw.pixelsWidth = image.width;
        draw.pixelsHeight = image.height;
    } else {
        auto source = std::make_shared<ImageSource>();
        source->encoded = image.bytes;
        draw.image = std::move(source);
    }
    draw.srcX = int(x0);
    draw.srcY = int(y0);
    draw.srcWidth = int(x1 - x0);
    draw.srcHeight = int(y1 - y0);
    draw.topLeft = land(x0, y0);
    draw.topRight = land(x1, y0);
    draw.bottomLeft = land(x0, y1);
    draw.smooth = m_state.smoothImages;
    if (std::isfinite(draw.topLeft.x + draw.topLeft.y + draw.topRight.x + draw.topRight.y +
                      draw.bottomLeft.x + draw.bottomLeft.y)) {
        m_canvas.drawBitmap(draw);
        m_drew = true;
    }
}

void Player::drawMetafile(const Image& image, const RectF& source,
                          const std::array<PointF, 3>& dest) {
    if (m_depth + 1 > kMaxMetafileNesting || !image.bytes) {
        return;
    }
    const std::vector<std::uint8_t>& bytes = *image.bytes;
    const MetafileLayout inner = metafileLayout(image.metafileFormat, bytes.data(), bytes.size());
    if (!inner.usable() || inner.refWidth == 0 || inner.refHeight == 0) {
        return;
    }
    // The source names part of the inner picture in its own reference units; one that misses
    // the picture altogether is taken as all of it.
    RectF src = source;
    const bool overlaps = src.x < inner.refX + inner.refWidth && src.x + src.width > inner.refX &&
                          src.y < inner.refY + inner.refHeight && src.y + src.height > inner.refY;
    if (!overlaps || src.width <= 0 || src.height <= 0) {
        src = {inner.refX, inner.refY, inner.refWidth, inner.refHeight};
    }
    const double ix = inner.outWidth / inner.refWidth, iy = inner.outHeight / inner.refHeight;
    const double ox = inner.outX + (src.x - inner.refX) * ix;
    const double oy = inner.outY + (src.y - inner.refY) * iy;
    const double ow = src.width * ix, oh = src.height * iy;
    if (!(std::isfinite(ox + oy + ow + oh)) || ow == 0 || oh == 0) {
        return;
    }
    // Inner pixels to the destination's parallelogram, then to ours.
    const Affine toDest{(dest[1].x - dest[0].x) / ow,
                        (dest[1].y - dest[0].y) / ow,
                        (dest[2].x - dest[0].x) / oh,
                        (dest[2].y - dest[0].y) / oh,
                        0,
                        0};
    Affine placed = toDest;
    placed.e = dest[0].x - (toDest.a * ox + toDest.c * oy);
    placed.f = dest[0].y - (toDest.b * ox + toDest.d * oy);
    const Affine map = toOutput().after(placed);
    if (!finite(map) || map.determinant() == 0) {
        return;
    }
    const PointF d3{dest[1].x + dest[2].x - dest[0].x, dest[1].y + dest[2].y - dest[0].y};
    PathData bounds = outputPath(polygonPath({dest[0], dest[1], d3, dest[2]}, true));
    MappedCanvas mapped(m_canvas, map, m_state.clip ? *m_state.clip : ClipSteps{},
                        std::move(bounds));
    playNestedMetafile(image.metafileFormat, bytes.data(), bytes.size(), inner, mapped,
                       m_depth + 1);
    m_drew = true;
    applyClip();
}

Argb Player::textColour(const BrushRef& ref) const {
    if (ref.isColour) {
        return argbOf(ref.value);
    }
    const Object* o = object(std::uint8_t(ref.value));
    if (o == nullptr || !std::holds_alternative<Brush>(*o)) {
        return Argb{0, 0, 0, 0};
    }
    const Brush& brush = std::get<Brush>(*o);
    if (brush.kind == Brush::Kind::LinearGradient) {
        return mixed(brush.colour, brush.other, 0.5);
    }
    if (brush.kind == Brush::Kind::PathGradient && !brush.surround.empty()) {
        return mixed(brush.surround.front(), brush.colour, 0.5);
    }
    return brush.colour;
}

void Player::drawString(const BrushRef& brush, std::uint8_t fontId, std::uint32_t formatId,
                        const std::u16string& text, const RectF& layout) {
    const Object* f = object(fontId);
    if (expired() || f == nullptr || !std::holds_alternative<Font>(*f) || text.empty()) {
        return;
    }
    const Font& font = std::get<Font>(*f);
    TextBox box;
    box.text = text.substr(0, kMaxMetafileTextChars);
    box.face = font.family;
    box.emHeight = font.emSize * unitToWorld(font.unit, true);
    box.weight = font.bold ? 700 : 400;
    box.italic = font.italic;
    box.underline = font.underline;
    box.strikeOut = font.strikeOut;
    box.x = layout.x;
    box.y = layout.y;
    box.width = std::max(0.0, layout.width);
    box.height = std::max(0.0, layout.height);
    // GDI+ keeps a sixth of an em clear on either side unless the format says otherwise.
    double leading = 1.0 / 6, trailing = 1.0 / 6;
    const Object* fmt = formatId < m_objects.size() ? object(std::uint8_t(formatId)) : nullptr;
    if (fmt != nullptr && std::holds_alternative<StringFormat>(*fmt)) {
        const StringFormat& format = std::get<StringFormat>(*fmt);
        leading = std::clamp(format.leadingMargin, 0.0, 10.0);
        trailing = std::clamp(format.trailingMargin, 0.0, 10.0);
        box.align = TextBox::Align(std::clamp(format.align, 0, 2));
        box.lineAlign = TextBox::Align(std::clamp(format.lineAlign, 0, 2));
        box.wrap = (format.flags & kStringFormatNoWrap) == 0;
        box.clip = (format.flags & kStringFormatNoClip) == 0;
        box.rightToLeft = (format.flags & kStringFormatRightToLeft) != 0;
        box.vertical = (format.flags & kStringFormatVertical) != 0;
    }
    if (box.width > 0) {
        box.x += leading * box.emHeight;
        box.width = std::max(0.0, box.width - (leading + trailing) * box.emHeight);
    } else if (box.align == TextBox::Align::Near) {
        box.x += leading * box.emHeight;
    } else if (box.align == TextBox::Align::Far) {
        box.x -= trailing * box.emHeight;
    }
    if (box.width == 0 || box.height == 0) {
        box.clip = false;
    }
    box.transform = toOutput();
    const Argb colour = textColour(brush);
    box.colour = rgbOf(colour);
    box.alpha = colour.a;
    box.antialias = m_state.textAntialias;
    if (box.emHeight > 0 && std::isfinite(box.emHeight) && colour.a > 0 &&
        std::isfinite(box.x + box.y + box.width + box.height)) {
        m_canvas.drawTextBox(box);
        m_drew = true;
    }
}

void Player::drawGlyphs(const BrushRef& brush, std::uint8_t fontId, const std::u16string& text,
                        const std::vector<PointF>& origins, bool realizedAdvance,
                        const Affine* glyphTransform) {
    const Object* f = object(fontId);
    if (expired() || f == nullptr || !std::holds_alternative<Font>(*f) || text.empty() ||
        origins.empty()) {
        return;
    }
    const Font& font = std::get<Font>(*f);
    const double em = font.emSize * unitToWorld(font.unit, true);
    Affine m = toOutput();
    const Argb colour = textColour(brush);
    TextRun run;
    run.face = font.family;
    run.weight = font.bold ? 700 : 400;
    run.italic = font.italic;
    run.underline = font.underline;
    run.strikeOut = font.strikeOut;
    run.vAlign = TextRun::VAlign::Baseline;
    run.colour = rgbOf(colour);
    run.alpha = colour.a;
    run.antialias = m_state.textAntialias;
    // The glyphs' own transform turns and scales each about its origin.
    Affine glyph =
        glyphTransform != nullptr && finite(*glyphTransform) ? *glyphTransform : Affine{};
    glyph.e = glyph.f = 0;
    const Affine linear = m.after(glyph);
    const PointF across = {linear.a, linear.b}, down = {linear.c, linear.d};
    run.height = em * std::hypot(down.x, down.y);
    run.angle = -std::atan2(across.y, across.x) * 180 / kPi;
    if (!(run.height > 0) || !std::isfinite(run.height) || colour.a == 0) {
        return;
    }
    const std::size_t n = std::min(text.size(), kMaxMetafileTextChars);
    if (realizedAdvance) {
        run.wide = text.substr(0, n);
        run.origin = m.map(origins[0]);
        m_canvas.drawText(run);
        m_drew = true;
        return;
    }
    // Glyphs on one baseline go as one run with their spacing; a new line starts a new run.
    std::size_t start = 0;
    const std::size_t positioned = std::min(n, origins.size());
    for (std::size_t i = 1; i <= positioned && !expired(); ++i) {
        const bool endOfRun = i == positioned || origins[i].y != origins[start].y;
        if (!endOfRun) {
            continue;
        }
        run.wide = text.substr(start, i - start);
        run.origin = m.map(origins[start]);
        run.advances.clear();
        for (std::size_t j = start; j < i; ++j) {
            const PointF a = m.map(origins[j]);
            const PointF b = j + 1 < i ? m.map(origins[j + 1]) : a;
            run.advances.push_back(j + 1 < i ? std::hypot(b.x - a.x, b.y - a.y) : 0);
        }
        if (i - start == 1) {
            run.advances.clear();
        }
        m_canvas.drawText(run);
        m_drew = true;
        start = i;
    }
}

}  // namespace metafile::emfplus
