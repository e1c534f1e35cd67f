#include "metafile/gdiplayer.h"

#include <algorithm>
#include <cmath>

#include "metafile/limits.h"

namespace metafile {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Stock objects ([MS-EMF] 2.1.31), named by OR-ing the high bit into an index.
constexpr std::uint32_t kStockObject = 0x80000000u;
enum Stock : std::uint32_t {
    kWhiteBrush = 0,
    kLightGreyBrush = 1,
    kGreyBrush = 2,
    kDarkGreyBrush = 3,
    kBlackBrush = 4,
    kNullBrush = 5,
    kWhitePen = 6,
    kBlackPen = 7,
    kNullPen = 8,
    kOemFixedFont = 10,
    kDefaultGuiFont = 17,
    kDefaultPalette = 15,
    kDcBrush = 18,
    kDcPen = 19,
};

constexpr int kPsNull = 5, kPsInsideFrame = 6;
constexpr int kBsSolid = 0, kBsNull = 1, kBsHatched = 2;
constexpr int kOpaque = 2;
constexpr int kWinding = 2;
constexpr int kEtoOpaque = 0x2, kEtoClipped = 0x4, kEtoGlyphIndex = 0x10;
constexpr int kTaUpdateCp = 0x1;

MetafileCanvas::ClipOp clipOpOf(int mode) {
    switch (mode) {
        case 1:
            return MetafileCanvas::ClipOp::Intersect;  // RGN_AND
        case 2:
            return MetafileCanvas::ClipOp::Unite;  // RGN_OR
        case 3:
            return MetafileCanvas::ClipOp::Xor;  // RGN_XOR
        case 4:
            return MetafileCanvas::ClipOp::Exclude;  // RGN_DIFF
        default:
            return MetafileCanvas::ClipOp::Replace;  // RGN_COPY
    }
}

RectL normalised(RectL r) {
    if (r.left > r.right) {
        std::swap(r.left, r.right);
    }
    if (r.top > r.bottom) {
        std::swap(r.top, r.bottom);
    }
    return r;
}

bool finite(PointF p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

}  // namespace

void PathData::moveTo(PointF p) {
    ops.push_back(Op::Move);
    points.push_back(p);
}

void PathData::lineTo(PointF p) {
    if (ops.empty()) {
        moveTo(p);
        return;
    }
    ops.push_back(Op::Line);
    points.push_back(p);
}

void PathData::cubicTo(PointF c1, PointF c2, PointF p) {
    if (ops.empty()) {
        moveTo(c1);
    }
    ops.push_back(Op::Cubic);
    points.push_back(c1);
    points.push_back(c2);
    points.push_back(p);
}

void PathData::close() {
    if (!ops.empty() && ops.back() != Op::Close) {
        ops.push_back(Op::Close);
    }
}

void PathData::append(const PathData& other) {
    ops.insert(ops.end(), other.ops.begin(), other.ops.end());
    points.insert(points.end(), other.points.begin(), other.points.end());
}

void MetafileProbe::include(PointF p) {
    if (!finite(p)) {
        return;
    }
    if (!drew) {
        bounds = {p.x, p.y, p.x, p.y};
        drew = true;
        return;
    }
    bounds.left = std::min(bounds.left, p.x);
    bounds.top = std::min(bounds.top, p.y);
    bounds.right = std::max(bounds.right, p.x);
    bounds.bottom = std::max(bounds.bottom, p.y);
}

GdiPlayer::GdiPlayer(Flavour flavour, MetafileCanvas* canvas, const MetafileLayout& layout,
                     MetafileProbe* probe)
    : m_flavour(flavour),
      m_canvas(probe != nullptr ? nullptr : canvas),
      m_layout(layout),
      m_probe(probe) {
    if (m_flavour == Flavour::Wmf) {
        // The picture's rectangle is the window until the metafile sets its own.
        m_dc.windowOrg = {layout.refX, layout.refY};
        m_dc.windowExt = {layout.refWidth != 0 ? layout.refWidth : 1,
                          layout.refHeight != 0 ? layout.refHeight : 1};
    }
}

void GdiPlayer::setDeviceResolution(double pxPerMmX, double pxPerMmY) {
    if (std::isfinite(pxPerMmX) && std::isfinite(pxPerMmY) && pxPerMmX > 0 && pxPerMmY > 0) {
        m_pxPerMmX = pxPerMmX;
        m_pxPerMmY = pxPerMmY;
    }
}

// --- objects ---------------------------------------------------------------------------------

bool GdiPlayer::setObject(std::size_t index, gdi::Object object) {
    if (index >= kMaxMetafileObjects) {
        return false;
    }
    if (index >= m_objects.size()) {
        m_objects.resize(index + 1);
    }
    m_objects[index] = std::move(object);
    return true;
}

bool GdiPlayer::addObject(gdi::Object object) {
    for (auto& slot : m_objects) {
        if (slot.kind == gdi::Object::Kind::Empty) {
            slot = std::move(object);
            return true;
        }
    }
    if (m_objects.size() >= kMaxMetafileObjects) {
        return false;
    }
    m_objects.push_back(std::move(object));
    return true;
}

void GdiPlayer::deleteObject(std::size_t index) {
    if (index < m_objects.size()) {
        m_objects[index] = gdi::Object{};
    }
}

const gdi::Object* GdiPlayer::object(std::size_t index) const {
    if (index >= m_objects.size() || m_objects[index].kind == gdi::Object::Kind::Empty) {
        return nullptr;
    }
    return &m_objects[index];
}

void GdiPlayer::selectObject(std::uint32_t index) {
    if ((index & kStockObject) != 0 && m_flavour == Flavour::Emf) {
        auto grey = [](std::uint8_t v) { return Rgb{v, v, v}; };
        switch (index & ~kStockObject) {
            case kWhiteBrush:
            case kDcBrush:
                m_dc.brush = gdi::solidBrush(grey(255), kBsSolid);
                break;
            case kLightGreyBrush:
                m_dc.brush = gdi::solidBrush(grey(192), kBsSolid);
                break;
            case kGreyBrush:
                m_dc.brush = gdi::solidBrush(grey(128), kBsSolid);
                break;
            case kDarkGreyBrush:
                m_dc.brush = gdi::solidBrush(grey(64), kBsSolid);
                break;
            case kBlackBrush:
                m_dc.brush = gdi::solidBrush(grey(0), kBsSolid);
                break;
            case kNullBrush:
                m_dc.brush = gdi::solidBrush(grey(0), kBsNull);
                break;
            case kWhitePen:
                m_dc.pen = gdi::cosmeticPen(0, grey(255));
                break;
            case kBlackPen:
            case kDcPen:
                m_dc.pen = gdi::cosmeticPen(0, grey(0));
                break;
            case kNullPen:
                m_dc.pen = gdi::cosmeticPen(kPsNull, grey(0));
                break;
            default:
                if ((index & ~kStockObject) >= kOemFixedFont &&
                    (index & ~kStockObject) <= kDefaultGuiFont) {
                    m_dc.font = gdi::Font{};
                }
                break;
        }
        return;
    }
    const gdi::Object* o = object(index);
    if (o == nullptr) {
        return;
    }
    switch (o->kind) {
        case gdi::Object::Kind::Pen:
            m_dc.pen = o->pen;
            break;
        case gdi::Object::Kind::Brush:
            m_dc.brush = o->brush;
            break;
        case gdi::Object::Kind::Font:
            m_dc.font = o->font;
            break;
        case gdi::Object::Kind::Region:
            // Selecting a region into a WMF's context makes it the clip.
            selectClipRegion(o->region.get(), 5, false);
            break;
        default:
            break;
    }
}

// --- state -----------------------------------------------------------------------------------

void GdiPlayer::saveDc() {
    applyPendingExcludes();
    if (m_saved.size() < kMaxMetafileSavedStates) {
        m_saved.push_back(m_dc);
    }
}

void GdiPlayer::restoreDc(int which) {
    const auto depth = std::int64_t(m_saved.size());
    // Negative counts back from the latest save; positive names a save from the first one.
    const std::int64_t target = which < 0 ? depth + which : std::int64_t(which) - 1;
    if (which == 0 || target < 0 || target >= depth) {
        return;
    }
    // Rectangles still to be excluded belonged to the state being left.
    m_pendingExcludes.clear();
    const bool clipChanged = m_saved[std::size_t(target)].clip != m_dc.clip;
    m_dc = m_saved[std::size_t(target)];
    m_saved.resize(std::size_t(target));
    if (clipChanged) {
        m_clipChanged = true;
    }
}

void GdiPlayer::setMapMode(int mode) {
    if (mode >= 1 && mode <= 8) {
        m_dc.mapMode = mode;
    }
}

void GdiPlayer::setWindowOrg(double x, double y) {
    m_dc.windowOrg = {x, y};
}

void GdiPlayer::setWindowExt(double x, double y) {
    // A zero extent would divide by zero; GDI refuses it too.
    if (x != 0 && y != 0) {
        m_dc.windowExt = {x, y};
        m_windowSet = true;
    }
}

void GdiPlayer::captureWindow(MetafileProbe& probe) const {
    probe.window = {m_dc.windowOrg.x, m_dc.windowOrg.y, m_dc.windowOrg.x + m_dc.windowExt.x,
                    m_dc.windowOrg.y + m_dc.windowExt.y};
    probe.windowSet = m_windowSet;
    probe.mapMode = m_dc.mapMode;
}

void GdiPlayer::setViewportOrg(double x, double y) {
    m_dc.viewportOrg = {x, y};
}

void GdiPlayer::setViewportExt(double x, double y) {
    if (x != 0 && y != 0) {
        m_dc.viewportExt = {x, y};
    }
}

void GdiPlayer::offsetWindowOrg(double dx, double dy) {
    m_dc.windowOrg = {m_dc.windowOrg.x + dx, m_dc.windowOrg.y + dy};
}

void GdiPlayer::offsetViewportOrg(double dx, double dy) {
    m_dc.viewportOrg = {m_dc.viewportOrg.x + dx, m_dc.viewportOrg.y + dy};
}

void GdiPlayer::scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom != 0 && yDenom != 0) {
        setWindowExt(m_dc.windowExt.x * xNum / xDenom, m_dc.windowExt.y * yNum / yDenom);
    }
}

void GdiPlayer::scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom != 0 && yDenom != 0) {
        setViewportExt(m_dc.viewportExt.x * xNum / xDenom, m_dc.viewportExt.y * yNum / yDenom);
    }
}

void GdiPlayer::setWorldTransform(const Affine& world) {
    if (std::isfinite(world.a) && std::isfinite(world.b) && std::isfinite(world.c) &&
        std::isfinite(world.d) && std::isfinite(world.e) && std::isfinite(world.f) &&
        world.determinant() != 0) {
        m_dc.world = world;
    }
}

void GdiPlayer::modifyWorldTransform(const Affine& world, int mode) {
    switch (mode) {
        case 1:  // MWT_IDENTITY
            m_dc.world = Affine{};
            break;
        case 2:  // MWT_LEFTMULTIPLY: the new transform acts first
            setWorldTransform(m_dc.world.after(world));
            break;
        case 3:  // MWT_RIGHTMULTIPLY
            setWorldTransform(world.after(m_dc.world));
            break;
        case 4:  // MWT_SET
            setWorldTransform(world);
            break;
        default:
            break;
    }
}

Affine GdiPlayer::deviceToOutput() const {
    if (probing() || m_layout.refWidth == 0 || m_layout.refHeight == 0) {
        return Affine{};
    }
    const double sx = m_layout.outWidth / m_layout.refWidth;
    const double sy = m_layout.outHeight / m_layout.refHeight;
    return {sx, 0, 0, sy, m_layout.outX - m_layout.refX * sx, m_layout.outY - m_layout.refY * sy};
}

Affine GdiPlayer::logicalToOutput() const {
    if (m_flavour == Flavour::Wmf) {
        if (probing()) {
            return Affine{};
        }
        // The window lands on the picture's output rectangle, whatever the mapping mode.
        const double sx = m_layout.outWidth / m_dc.windowExt.x;
        const double sy = m_layout.outHeight / m_dc.windowExt.y;
        return {sx,
                0,
                0,
                sy,
                m_layout.outX - m_dc.windowOrg.x * sx,
                m_layout.outY - m_dc.windowOrg.y * sy};
    }
    double sx = 1, sy = 1;
    auto metric = [&](double mmPerUnit) {
        sx = m_pxPerMmX * mmPerUnit;
        sy = -m_pxPerMmY * mmPerUnit;
    };
    switch (m_dc.mapMode) {
        case 2:
            metric(0.1);
            break;  // MM_LOMETRIC
        case 3:
            metric(0.01);
            break;  // MM_HIMETRIC
        case 4:
            metric(0.254);
            break;  // MM_LOENGLISH
        case 5:
            metric(0.0254);
            break;  // MM_HIENGLISH
        case 6:
            metric(25.4 / 1440);
            break;  // MM_TWIPS
        case 7:     // MM_ISOTROPIC
        case 8: {   // MM_ANISOTROPIC
            sx = m_dc.viewportExt.x / m_dc.windowExt.x;
            sy = m_dc.viewportExt.y / m_dc.windowExt.y;
            if (m_dc.mapMode == 7) {
                const double s = std::min(std::fabs(sx), std::fabs(sy));
                sx = std::copysign(s, sx);
                sy = std::copysign(s, sy);
            }
            break;
        }
        default:
            break;
    }
    const Affine page{sx,
                      0,
                      0,
                      sy,
                      m_dc.viewportOrg.x - m_dc.windowOrg.x * sx,
                      m_dc.viewportOrg.y - m_dc.windowOrg.y * sy};
    return deviceToOutput().after(page.after(m_dc.world));
}

PointF GdiPlayer::out(PointF logical) const {
    if (m_boxMap) {
        return m_boxMap->map(logical);
    }
    const PointF p = exact(logical);
    if (m_canvas == nullptr) {
        return p;
    }
    return {std::floor(p.x + 0.5) + 0.5, std::floor(p.y + 0.5) + 0.5};
}

PointF GdiPlayer::edge(PointF logical) const {
    const PointF p = exact(logical);
    if (m_canvas == nullptr) {
        return p;
    }
    return {std::floor(p.x + 0.5), std::floor(p.y + 0.5)};
}

namespace {

// A pixel coordinate kept within what an int holds, far outside any picture.
int pixelCoordinate(double v) {
    return int(std::clamp(v, -1e9, 1e9));
}

bool turns(const Affine& m) {
    return m.b != 0 || m.c != 0;
}

}  // namespace

std::optional<PixelRect> GdiPlayer::pixelBox(const RectL& box) const {
    if (m_canvas == nullptr || turns(logicalToOutput())) {
        return std::nullopt;
    }
    const PointF a = edge({box.left, box.top}), b = edge({box.right, box.bottom});
    if (!finite(a) || !finite(b)) {
        return std::nullopt;
    }
    return PixelRect{pixelCoordinate(std::min(a.x, b.x)), pixelCoordinate(std::min(a.y, b.y)),
                     pixelCoordinate(std::max(a.x, b.x)), pixelCoordinate(std::max(a.y, b.y))};
}

bool GdiPlayer::emptyBox(const RectL& box) const {
    const auto pixels = pixelBox(box);
    return pixels && (pixels->right <= pixels->left || pixels->bottom <= pixels->top);
}

std::optional<Affine> GdiPlayer::boxMap(const RectL& box, double inset) const {
    const Affine m = logicalToOutput();
    if (m_canvas == nullptr || turns(m)) {
        return std::nullopt;
    }
    // Along one axis: the box's first edge lands on the centre of its first pixel, the other
    // on the centre of its last, each moved in by the inset but never past the middle.
    auto axis = [&](double first, double second, double scale, double offset, double& s,
                    double& e) {
        const double d0 = std::floor(first * scale + offset + 0.5);
        const double d1 = std::floor(second * scale + offset + 0.5);
        if (!std::isfinite(d0) || !std::isfinite(d1) || d0 == d1 || first == second) {
            return false;
        }
        const double in = std::min(inset, (std::fabs(d1 - d0) - 1) / 2);
        const double from = d0 < d1 ? d0 + 0.5 + in : d0 - 0.5 - in;
        const double to = d0 < d1 ? d1 - 0.5 - in : d1 + 0.5 + in;
        s = (to - from) / (second - first);
        e = from - first * s;
        return true;
    };
    Affine map;
    if (!axis(box.left, box.right, m.a, m.e, map.a, map.e) ||
        !axis(box.top, box.bottom, m.d, m.f, map.d, map.f)) {
        return std::nullopt;
    }
    return map;
}

double GdiPlayer::lineScale() const {
    const double s = std::sqrt(std::fabs(logicalToOutput().determinant()));
    return std::isfinite(s) ? s : 1;
}

// --- styles ----------------------------------------------------------------------------------

Rgb GdiPlayer::rgbOf(const gdi::Colour& colour) const {
    if (colour.paletteIndex < 0) {
        return colour.rgb;
    }
    const gdi::Palette& palette = m_dc.palette ? *m_dc.palette : gdi::defaultPalette();
    // An index past the palette's end takes its first entry, as GDI does.
    if (palette.entries.empty()) {
        return {0, 0, 0};
    }
    return std::size_t(colour.paletteIndex) < palette.entries.size()
               ? palette.entries[std::size_t(colour.paletteIndex)]
               : palette.entries.front();
}

void GdiPlayer::selectPalette(std::uint32_t index) {
    if (index == (kStockObject | kDefaultPalette)) {
        m_dc.palette.reset();
        return;
    }
    const gdi::Object* o = object(index);
    if (o != nullptr && o->kind == gdi::Object::Kind::Palette) {
        m_dc.palette = o->palette;
    }
}

void GdiPlayer::setPaletteEntries(std::size_t index, std::size_t start,
                                  const std::vector<Rgb>& entries) {
    if (index >= m_objects.size() || m_objects[index].kind != gdi::Object::Kind::Palette ||
        !m_objects[index].palette) {
        return;
    }
    auto palette = std::make_shared<gdi::Palette>(*m_objects[index].palette);
    for (std::size_t i = 0; i < entries.size() && start + i < palette->entries.size(); ++i) {
        palette->entries[start + i] = entries[i];
    }
    if (m_dc.palette == m_objects[index].palette) {
        m_dc.palette = palette;
    }
    m_objects[index].palette = std::move(palette);
}

void GdiPlayer::resizePalette(std::size_t index, std::size_t entries) {
    if (index >= m_objects.size() || m_objects[index].kind != gdi::Object::Kind::Palette ||
        !m_objects[index].palette || entries > gdi::kMaxPaletteEntries) {
        return;
    }
    auto palette = std::make_shared<gdi::Palette>(*m_objects[index].palette);
    palette->entries.resize(entries);
    if (m_dc.palette == m_objects[index].palette) {
        m_dc.palette = palette;
    }
    m_objects[index].palette = std::move(palette);
}

Mix GdiPlayer::mix() const {
    // R2_BLACK and R2_WHITE draw in black or white, and R2_NOP draws nothing (see the styles).
    switch (m_dc.rop2) {
        case 2:
            return Mix::NotSourceAndNotDestination;  // R2_NOTMERGEPEN
        case 3:
            return Mix::NotSourceAndDestination;  // R2_MASKNOTPEN
        case 4:
            return Mix::NotSource;  // R2_NOTCOPYPEN
        case 5:
            return Mix::SourceAndNotDestination;  // R2_MASKPENNOT
        case 6:
            return Mix::NotDestination;  // R2_NOT
        case 7:
            return Mix::Xor;  // R2_XORPEN
        case 8:
            return Mix::NotSourceOrNotDestination;  // R2_NOTMASKPEN
        case 9:
            return Mix::And;  // R2_MASKPEN
        case 10:
            return Mix::NotSourceXorDestination;  // R2_NOTXORPEN
        case 12:
            return Mix::NotSourceOrDestination;  // R2_MERGENOTPEN
        case 14:
            return Mix::SourceOrNotDestination;  // R2_MERGEPENNOT
        case 15:
            return Mix::Or;  // R2_MERGEPEN
        default:
            return Mix::Copy;
    }
}

bool GdiPlayer::penDrawn() const {
    return (m_dc.pen.style & 0xF) != kPsNull && !nothingDrawnByRop();
}

FillRule GdiPlayer::fillRule() const {
    return m_dc.polyFillMode == kWinding ? FillRule::Winding : FillRule::EvenOdd;
}

// How far a PS_INSIDEFRAME pen moves a shape's outline in, so that it stays inside the box.
double GdiPlayer::frameInset() const {
    if ((m_dc.pen.style & 0xF) != kPsInsideFrame || m_dc.pen.cosmetic) {
        return 0;
    }
    const double width = std::round(m_dc.pen.width * lineScale());
    return std::isfinite(width) && width > 1 ? std::floor(width / 2) : 0;
}

std::optional<PenStyle> GdiPlayer::penStyle() const {
    const gdi::Pen& pen = m_dc.pen;
    const int kind = pen.style & 0xF;
    if (!penDrawn()) {
        return std::nullopt;
    }
    PenStyle style;
    style.colour = m_dc.rop2 == 1    ? Rgb{0, 0, 0}
                   : m_dc.rop2 == 16 ? Rgb{255, 255, 255}
                                     : rgbOf(pen.colour);
    style.mix = mix();
    style.antialias = false;
    // A cosmetic pen, or a geometric one no wider than a pixel where it lands, is GDI's
    // one-pixel line; a wider one is as wide as it lands, in whole pixels.
    const double width = pen.cosmetic ? 1 : std::round(pen.width * lineScale());
    style.width = std::isfinite(width) ? std::clamp(width, 1.0, 1e6) : 1.0;
    style.onePixel = style.width <= 1;
    // Dashes: a cosmetic pen's in pixels, a geometric pen's in its widths.
    static const std::vector<double> kDash = {18, 6}, kDot = {3, 3}, kDashDot = {9, 6, 3, 6},
                                     kDashDotDot = {9, 3, 3, 3, 3, 3}, kAlternate = {1, 1};
    static const std::vector<double> kWideDash = {3, 1}, kWideDot = {1, 1},
                                     kWideDashDot = {3, 1, 1, 1},
                                     kWideDashDotDot = {3, 1, 1, 1, 1, 1};
    const bool one = style.onePixel;
    switch (kind) {
        case 1:
            style.dashes = one ? kDash : kWideDash;
            break;
        case 2:
            style.dashes = one ? kDot : kWideDot;
            break;
        case 3:
            style.dashes = one ? kDashDot : kWideDashDot;
            break;
        case 4:
            style.dashes = one ? kDashDotDot : kWideDashDotDot;
            break;
        case 7:  // PS_USERSTYLE
            style.dashes = pen.userStyle.empty() ? kWideDash : pen.userStyle;
            for (double& d : style.dashes) {
                d *= pen.cosmetic ? 1 : lineScale() / style.width;
            }
            break;
        case 8:  // PS_ALTERNATE
            style.dashes = kAlternate;
            break;
        default:
            break;
    }
    if (!one) {
        for (double& d : style.dashes) {
            d *= style.width;
        }
    }
    // The gaps of a styled one-pixel line show the background where it is opaque.
    style.opaqueGaps = one && !style.dashes.empty() && m_dc.bkMode == kOpaque;
    style.gapColour = rgbOf(m_dc.bkColour);
    // A geometric pen's ends and joins are round unless it says otherwise.
    switch (pen.style & 0xF00) {
        case 0x100:
            style.cap = PenStyle::Cap::Square;
            break;
        case 0x200:
            style.cap = PenStyle::Cap::Flat;
            break;
        default:
            break;
    }
    switch (pen.style & 0xF000) {
        case 0x1000:
            style.join = PenStyle::Join::Bevel;
            break;
        case 0x2000:
            style.join = PenStyle::Join::Miter;
            break;
        default:
            break;
    }
    style.miterLimit = std::clamp(m_dc.miterLimit, 1.0, 100.0);
    return style;
}

std::optional<BrushStyle> GdiPlayer::brushStyle(const gdi::Brush& brush) const {
    if (brush.style == kBsNull || nothingDrawnByRop()) {
        return std::nullopt;
    }
    BrushStyle style;
    style.colour = rgbOf(brush.colour);
    style.mix = mix();
    style.antialias = false;
    if (m_dc.rop2 == 1 || m_dc.rop2 == 16) {
        style.colour = m_dc.rop2 == 1 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
        return style;
    }
    if (brush.style == kBsHatched && brush.hatch >= 0 && brush.hatch <= 5) {
        // GDI's hatches are 8 x 8 pixel patterns laid from the device's origin; their gaps
        // show the background colour where the background is opaque.
        static const std::uint8_t kHatches[6][8] = {
            {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},  // HS_HORIZONTAL
            {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // HS_VERTICAL
            {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // HS_FDIAGONAL
            {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // HS_BDIAGONAL
            {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // HS_CROSS
            {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // HS_DIAGCROSS
        };
        auto pattern = std::make_shared<MonoPattern>();
        pattern->bits.assign(kHatches[brush.hatch], kHatches[brush.hatch] + 8);
        pattern->foreground = rgbOf(brush.colour);
        pattern->background = rgbOf(m_dc.bkColour);
        pattern->transparentBackground = m_dc.bkMode != kOpaque;
        style.monoPattern = std::move(pattern);
        style.hatch = BrushStyle::Hatch(brush.hatch);
    } else if (brush.mono) {
        // A monochrome pattern shows its cleared bits in the text colour and its set ones in
        // the background colour, whatever colours its bitmap names.
        auto pattern = std::make_shared<MonoPattern>(*brush.mono);
        for (std::uint8_t& byte : pattern->bits) {
            byte = std::uint8_t(~byte);
        }
        pattern->foreground = rgbOf(m_dc.textColour);
        pattern->background = rgbOf(m_dc.bkColour);
        style.monoPattern = std::move(pattern);
    } else if (brush.pattern) {
        style.pattern = brush.pattern;
    }
    return style;
}

// --- emitting --------------------------------------------------------------------------------

void GdiPlayer::noteDrawn(const PathData& path) {
    m_drew = true;
    if (m_probe != nullptr && !m_probe->drew) {
        captureWindow(*m_probe);
    }
    if (m_probe != nullptr) {
        for (const PointF& p : path.points) {
            m_probe->include(p);
        }
    }
}

void GdiPlayer::emitFill(const PathData& path, const gdi::Brush& brush) {
    auto style = brushStyle(brush);
    if (!style || path.empty()) {
        return;
    }
    noteDrawn(path);
    if (m_canvas == nullptr) {
        return;
    }
    flushClip();
    // A polygon of thousands of self-crossing edges fills slowly in a general rasteriser; its
    // pixels are found here, within the bound of work, and filled as runs.
    if (path.points.size() > kMaxCanvasFillPoints) {
        const PixelRegion pixels = regionOf(path, fillRule());
        PathData runs;
        for (const PixelRect& r : pixels.rects()) {
            runs.append(pixelRectPath(r));
        }
        if (!runs.empty()) {
            m_canvas->fillPath(runs, FillRule::Winding, *style);
        }
        return;
    }
    m_canvas->fillPath(path, fillRule(), *style);
}

void GdiPlayer::emitStroke(const PathData& path) {
    auto style = penStyle();
    if (!style || path.empty()) {
        return;
    }
    noteDrawn(path);
    if (m_canvas != nullptr) {
        flushClip();
        m_canvas->strokePath(path, *style);
    }
}

bool GdiPlayer::pathFull(std::size_t extra) const {
    return m_path.points.size() + extra > kMaxMetafilePathPoints;
}

void GdiPlayer::shape(const PathData& path, bool fill, bool stroke) {
    if (m_inPath) {
        if (!pathFull(path.points.size())) {
            m_path.append(path);
        }
        return;
    }
    if (fill) {
        emitFill(path, m_dc.brush);
    }
    if (stroke) {
        emitStroke(path);
    }
}

void GdiPlayer::openShape(const PathData& path) {
    shape(path, false, true);
}

PathData GdiPlayer::rectPath(const RectL& r) const {
    PathData path;
    path.moveTo(out({r.left, r.top}));
    path.lineTo(out({r.right, r.top}));
    path.lineTo(out({r.right, r.bottom}));
    path.lineTo(out({r.left, r.bottom}));
    path.close();
    return path;
}

PathData GdiPlayer::pixelRectPath(const PixelRect& r) {
    PathData path;
    path.moveTo({double(r.left), double(r.top)});
    path.lineTo({double(r.right), double(r.top)});
    path.lineTo({double(r.right), double(r.bottom)});
    path.lineTo({double(r.left), double(r.bottom)});
    path.close();
    return path;
}

// --- lines and shapes ------------------------------------------------------------------------

void GdiPlayer::moveTo(PointF p) {
    m_dc.position = p;
    if (m_inPath && !pathFull(1)) {
        m_path.moveTo(out(p));
    }
}

void GdiPlayer::lineTo(PointF p) {
    PathData line;
    line.moveTo(out(m_dc.position));
    line.lineTo(out(p));
    if (m_inPath) {
        if (!pathFull(1)) {
            if (m_path.empty() || m_path.ops.back() == PathData::Op::Close) {
                m_path.moveTo(line.points[0]);
            }
            m_path.lineTo(line.points[1]);
        }
    } else {
        emitStroke(line);
    }
    m_dc.position = p;
}

void GdiPlayer::polyline(const std::vector<PointF>& points) {
    if (points.empty()) {
        return;
    }
    PathData path;
    for (const PointF& p : points) {
        path.lineTo(out(p));
    }
    openShape(path);
}

void GdiPlayer::polylineTo(const std::vector<PointF>& points) {
    if (points.empty()) {
        return;
    }
    if (m_inPath) {
        for (const PointF& p : points) {
            lineTo(p);
        }
        return;
    }
    PathData path;
    path.moveTo(out(m_dc.position));
    for (const PointF& p : points) {
        path.lineTo(out(p));
    }
    openShape(path);
    m_dc.position = points.back();
}

void GdiPlayer::polygon(const std::vector<PointF>& points) {
    polyPolygon({points});
}

void GdiPlayer::polyPolygon(const std::vector<std::vector<PointF>>& polygons) {
    PathData path;
    for (const auto& polygon : polygons) {
        if (polygon.empty()) {
            continue;
        }
        path.moveTo(out(polygon[0]));
        for (std::size_t i = 1; i < polygon.size(); ++i) {
            path.lineTo(out(polygon[i]));
        }
        path.close();
    }
    shape(path, true, true);
}

void GdiPlayer::polyPolyline(const std::vector<std::vector<PointF>>& lines) {
    PathData path;
    for (const auto& line : lines) {
        if (line.empty()) {
            continue;
        }
        path.moveTo(out(line[0]));
        for (std::size_t i = 1; i < line.size(); ++i) {
            path.lineTo(out(line[i]));
        }
    }
    openShape(path);
}

void GdiPlayer::polyBezier(const std::vector<PointF>& points) {
    if (points.empty()) {
        return;
    }
    PathData path;
    path.moveTo(out(points[0]));
    for (std::size_t i = 1; i + 2 < points.size(); i += 3) {
        path.cubicTo(out(points[i]), out(points[i + 1]), out(points[i + 2]));
    }
    openShape(path);
}

void GdiPlayer::polyBezierTo(const std::vector<PointF>& points) {
    if (points.size() < 3) {
        return;
    }
    PathData path;
    path.moveTo(out(m_dc.position));
    std::size_t i = 0;
    for (; i + 2 < points.size(); i += 3) {
        path.cubicTo(out(points[i]), out(points[i + 1]), out(points[i + 2]));
    }
    m_dc.position = points[i - 1];
    if (m_inPath) {
        if (!pathFull(path.points.size())) {
            // Continues the figure under construction rather than starting one.
            if (m_path.empty() || m_path.ops.back() == PathData::Op::Close) {
                m_path.moveTo(path.points[0]);
            }
            m_path.ops.insert(m_path.ops.end(), path.ops.begin() + 1, path.ops.end());
            m_path.points.insert(m_path.points.end(), path.points.begin() + 1, path.points.end());
        }
        return;
    }
    emitStroke(path);
}

void GdiPlayer::polyDraw(const std::vector<PointF>& points,
                         const std::vector<std::uint8_t>& types) {
    constexpr std::uint8_t kClose = 1, kLine = 2, kBezier = 4, kMove = 6;
    PathData path;
    path.moveTo(out(m_dc.position));
    for (std::size_t i = 0; i < points.size() && i < types.size(); ++i) {
        const std::uint8_t type = types[i] & ~kClose;
        if (type == kMove) {
            path.moveTo(out(points[i]));
        } else if (type == kLine) {
            path.lineTo(out(points[i]));
        } else if (type == kBezier && i + 2 < points.size()) {
            path.cubicTo(out(points[i]), out(points[i + 1]), out(points[i + 2]));
            i += 2;
        }
        if ((types[std::min(i, types.size() - 1)] & kClose) != 0) {
            path.close();
        }
        m_dc.position = points[std::min(i, points.size() - 1)];
    }
    openShape(path);
}

void GdiPlayer::rectangle(const RectL& r) {
    const auto box = pixelBox(r);
    if (!box) {
        shape(rectPath(normalised(r)), true, true);
        return;
    }
    if (box->right <= box->left || box->bottom <= box->top) {
        return;
    }
    // The outline runs through the centres of the box's outer pixels; the brush fills what
    // lies inside it, and with no pen the box is a pixel narrower and shorter.
    const double inset = frameInset();
    PathData outline;
    const double l = box->left + 0.5 + inset, t = box->top + 0.5 + inset;
    const double r1 = std::max(l, box->right - 0.5 - inset);
    const double b1 = std::max(t, box->bottom - 0.5 - inset);
    outline.moveTo({l, t});
    outline.lineTo({r1, t});
    outline.lineTo({r1, b1});
    outline.lineTo({l, b1});
    outline.close();
    if (m_inPath) {
        shape(outline, true, true);
        return;
    }
    const int penIn = penDrawn() ? 1 : 0;
    const PixelRect inside{box->left + penIn, box->top + penIn, box->right - 1, box->bottom - 1};
    if (inside.right > inside.left && inside.bottom > inside.top) {
        emitFill(pixelRectPath(inside), m_dc.brush);
    }
    emitStroke(outline);
}

void GdiPlayer::appendEllipseSegment(PathData& path, PointF c, double rx, double ry, double t0,
                                     double sweep, bool moveFirst) const {
    const int segments = std::clamp(int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)), 1, 4);
    const double step = sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    auto at = [&](double t) { return PointF{c.x + rx * std::cos(t), c.y + ry * std::sin(t)}; };
    auto tangent = [&](double t) { return PointF{-rx * std::sin(t), ry * std::cos(t)}; };
    if (moveFirst) {
        path.moveTo(out(at(t0)));
    } else {
        path.lineTo(out(at(t0)));
    }
    double t = t0;
    for (int i = 0; i < segments; ++i) {
        const double t1 = t + step;
        const PointF p0 = at(t), p1 = at(t1), d0 = tangent(t), d1 = tangent(t1);
        path.cubicTo(out({p0.x + k * d0.x, p0.y + k * d0.y}),
                     out({p1.x - k * d1.x, p1.y - k * d1.y}), out(p1));
        t = t1;
    }
}

void GdiPlayer::ellipse(const RectL& box) {
    if (emptyBox(box)) {
        return;
    }
    const BoxScope scope(*this, box);
    const RectL r = normalised(box);
    const PointF c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    PathData path;
    appendEllipseSegment(path, c, (r.right - r.left) / 2, (r.bottom - r.top) / 2, 0, 2 * kPi, true);
    path.close();
    shape(path, true, true);
}

void GdiPlayer::roundRect(const RectL& box, double width, double height) {
    if (emptyBox(box)) {
        return;
    }
    const BoxScope scope(*this, box);
    const RectL r = normalised(box);
    const double rx = std::min(std::fabs(width) / 2, (r.right - r.left) / 2);
    const double ry = std::min(std::fabs(height) / 2, (r.bottom - r.top) / 2);
    PathData path;
    path.moveTo(out({r.left + rx, r.top}));
    appendEllipseSegment(path, {r.right - rx, r.top + ry}, rx, ry, -kPi / 2, kPi / 2, false);
    appendEllipseSegment(path, {r.right - rx, r.bottom - ry}, rx, ry, 0, kPi / 2, false);
    appendEllipseSegment(path, {r.left + rx, r.bottom - ry}, rx, ry, kPi / 2, kPi / 2, false);
    appendEllipseSegment(path, {r.left + rx, r.top + ry}, rx, ry, kPi, kPi / 2, false);
    path.close();
    shape(path, true, true);
}

void GdiPlayer::appendArc(PathData& path, const RectL& box, PointF start, PointF end,
                          bool moveFirst, double* endX, double* endY) const {
    const RectL r = normalised(box);
    const PointF c{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    const double rx = (r.right - r.left) / 2, ry = (r.bottom - r.top) / 2;
    if (rx <= 0 || ry <= 0) {
        return;
    }
    const double t0 = std::atan2((start.y - c.y) / ry, (start.x - c.x) / rx);
    const double t1 = std::atan2((end.y - c.y) / ry, (end.x - c.x) / rx);
    // Arcs run counter-clockwise as the picture is seen unless the metafile says otherwise; a
    // mapping that flips one axis turns the parameter's direction around.
    double direction = logicalToOutput().determinant() < 0 ? 1 : -1;
    if (m_dc.arcDirection == 2) {
        direction = -direction;
    }
    double sweep = t1 - t0;
    if (direction > 0) {
        while (sweep <= 1e-12) {
            sweep += 2 * kPi;
        }
    } else {
        while (sweep >= -1e-12) {
            sweep -= 2 * kPi;
        }
    }
    appendEllipseSegment(path, c, rx, ry, t0, sweep, moveFirst);
    if (endX != nullptr && endY != nullptr) {
        *endX = c.x + rx * std::cos(t0 + sweep);
        *endY = c.y + ry * std::sin(t0 + sweep);
    }
}

void GdiPlayer::arc(const RectL& box, PointF start, PointF end, ArcKind kind) {
    PathData path;
    if (kind == ArcKind::ArcTo) {
        path.moveTo(out(m_dc.position));
    }
    if (emptyBox(box)) {
        return;
    }
    const BoxScope scope(*this, box);
    double endX = 0, endY = 0;
    appendArc(path, box, start, end, kind != ArcKind::ArcTo, &endX, &endY);
    if (path.empty()) {
        return;
    }
    switch (kind) {
        case ArcKind::Arc:
            openShape(path);
            break;
        case ArcKind::ArcTo:
            m_dc.position = {endX, endY};
            openShape(path);
            break;
        case ArcKind::Chord:
            path.close();
            shape(path, true, true);
            break;
        case ArcKind::Pie: {
            const RectL r = normalised(box);
            path.lineTo(out({(r.left + r.right) / 2, (r.top + r.bottom) / 2}));
            path.close();
            shape(path, true, true);
            break;
        }
    }
}

void GdiPlayer::angleArc(PointF centre, double radius, double startDegrees, double sweepDegrees) {
    if (!(radius > 0) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) {
        return;
    }
    // Angles count counter-clockwise with y up, as the mathematics has it.
    const double t0 = -startDegrees * kPi / 180,
                 sweep = -std::fmod(sweepDegrees, 720.0) * kPi / 180;
    PathData path;
    path.moveTo(out(m_dc.position));
    appendEllipseSegment(path, centre, radius, radius, t0, sweep, false);
    m_dc.position = {centre.x + radius * std::cos(t0 + sweep),
                     centre.y + radius * std::sin(t0 + sweep)};
    openShape(path);
}

void GdiPlayer::setPixel(PointF p, gdi::Colour colour) {
    const PointF o = edge(p);
    PathData dot;
    dot.moveTo(o);
    dot.lineTo({o.x + 1, o.y});
    dot.lineTo({o.x + 1, o.y + 1});
    dot.lineTo({o.x, o.y + 1});
    dot.close();
    const gdi::Brush brush = gdi::solidBrush(colour);
    emitFill(dot, brush);
}

void GdiPlayer::gradientTriangles(std::vector<ShadedVertex> corners) {
    for (ShadedVertex& v : corners) {
        v.at = edge(v.at);
        if (m_probe != nullptr) {
            m_probe->include(v.at);
        }
    }
    m_drew = true;
    if (m_canvas != nullptr) {
        flushClip();
        m_canvas->fillShadedTriangles(corners, Mix::Copy);
    }
}

void GdiPlayer::gradientRect(const ShadedVertex& from, const ShadedVertex& to, bool down) {
    const RectL r{from.at.x, from.at.y, to.at.x, to.at.y};
    const auto box = pixelBox(r);
    const PathData path = box ? pixelRectPath(*box) : rectPath(normalised(r));
    if (box && (box->right <= box->left || box->bottom <= box->top)) {
        return;
    }
    noteDrawn(path);
    if (m_canvas == nullptr) {
        return;
    }
    // Each pixel takes the colour at its own place counted from the first edge, as GDI
    // shades: the ramp runs from the first pixel's centre to one past the last.
    const PointF a = edge(from.at), b = edge(to.at);
    auto gradient = std::make_shared<Gradient>();
    gradient->start = down ? PointF{0, a.y + 0.5} : PointF{a.x + 0.5, 0};
    gradient->end = down ? PointF{0, b.y + 0.5} : PointF{b.x + 0.5, 0};
    if (gradient->start.x == gradient->end.x && gradient->start.y == gradient->end.y) {
        gradient->end = {gradient->end.x + (down ? 0 : 1), gradient->end.y + (down ? 1 : 0)};
    }
    gradient->stops = {{0, from.colour, 255}, {1, to.colour, 255}};
    BrushStyle style;
    style.gradient = std::move(gradient);
    style.antialias = false;
    flushClip();
    m_canvas->fillPath(path, FillRule::Winding, style);
}

// --- paths -----------------------------------------------------------------------------------

void GdiPlayer::beginPath() {
    m_inPath = true;
    m_path = PathData{};
}

void GdiPlayer::endPath() {
    m_inPath = false;
}

void GdiPlayer::abortPath() {
    m_inPath = false;
    m_path = PathData{};
}

void GdiPlayer::closeFigure() {
    if (m_inPath) {
        m_path.close();
    }
}

void GdiPlayer::fillPath() {
    emitFill(m_path, m_dc.brush);
    m_path = PathData{};
}

void GdiPlayer::strokePath() {
    emitStroke(m_path);
    m_path = PathData{};
}

void GdiPlayer::strokeAndFillPath() {
    emitFill(m_path, m_dc.brush);
    emitStroke(m_path);
    m_path = PathData{};
}

void GdiPlayer::selectClipPath(int mode) {
    if (!m_path.empty() && m_canvas != nullptr) {
        combineClip(regionOf(m_path, fillRule()), clipOpOf(mode));
    }
    m_path = PathData{};
}

// --- clip ------------------------------------------------------------------------------------

void GdiPlayer::setClip(std::shared_ptr<const PixelRegion> clip) {
    m_dc.clip = std::move(clip);
    m_clipChanged = true;
}

void GdiPlayer::flushClip() {
    applyPendingExcludes();
    if (m_canvas == nullptr || !m_clipChanged) {
        return;
    }
    m_clipChanged = false;
    if (!m_dc.clip) {
        m_canvas->setClipRects(nullptr);
        return;
    }
    const std::vector<PixelRect> rects = m_dc.clip->rects();
    m_canvas->setClipRects(&rects);
}

void GdiPlayer::combineClip(const PixelRegion& region, MetafileCanvas::ClipOp op) {
    if (m_canvas == nullptr) {
        return;
    }
    applyPendingExcludes();
    using Op = MetafileCanvas::ClipOp;
    // No clip is the whole picture.
    const PixelRect all = pictureRect();
    const PixelRegion current =
        m_dc.clip ? *m_dc.clip : PixelRegion::rect(all.left, all.top, all.right, all.bottom);
    PixelRegion next;
    switch (op) {
        case Op::Replace:
            next = region;
            break;
        case Op::Intersect:
            next = current.combined(region, PixelRegion::Op::Intersect);
            break;
        case Op::Unite:
            if (!m_dc.clip) {
                return;
            }
            next = current.combined(region, PixelRegion::Op::Unite);
            break;
        case Op::Xor:
            next = current.combined(region, PixelRegion::Op::Xor);
            break;
        case Op::Exclude:
            next = current.combined(region, PixelRegion::Op::Exclude);
            break;
    }
    // A clip past the bound keeps the one before, as a region GDI could not make would.
    if (next.rectCount() > kMaxMetafileClipRects) {
        return;
    }
    setClip(std::make_shared<const PixelRegion>(std::move(next)));
}

PixelRegion GdiPlayer::regionOf(const PathData& path, FillRule rule) const {
    // Figures as polygons, curves flattened; a figure is closed where it ends.
    std::vector<std::vector<PointF>> polygons;
    std::size_t at = 0, points = 0;
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    auto add = [&](PointF p) {
        if (polygons.empty()) {
            polygons.emplace_back();
        }
        polygons.back().push_back(p);
        ++points;
        if (finite(p)) {
            left = std::min(left, p.x);
            top = std::min(top, p.y);
            right = std::max(right, p.x);
            bottom = std::max(bottom, p.y);
        }
    };
    for (PathData::Op op : path.ops) {
        if (points > kMaxMetafilePathPoints) {
            break;
        }
        switch (op) {
            case PathData::Op::Move:
                polygons.emplace_back();
                add(path.points[at++]);
                break;
            case PathData::Op::Line:
                add(path.points[at++]);
                break;
            case PathData::Op::Cubic: {
                const PointF p0 = polygons.empty() || polygons.back().empty()
                                      ? path.points[at]
                                      : polygons.back().back();
                const PointF c1 = path.points[at], c2 = path.points[at + 1],
                             p3 = path.points[at + 2];
                at += 3;
                constexpr int kSteps = 16;
                for (int i = 1; i <= kSteps; ++i) {
                    const double t = double(i) / kSteps, u = 1 - t;
                    add({u * u * u * p0.x + 3 * u * u * t * c1.x + 3 * u * t * t * c2.x +
                             t * t * t * p3.x,
                         u * u * u * p0.y + 3 * u * u * t * c1.y + 3 * u * t * t * c2.y +
                             t * t * t * p3.y});
                }
                break;
            }
            case PathData::Op::Close:
                break;
        }
    }
    auto region = PixelRegion::fromPolygons(polygons, rule, pictureRect(), kMaxMetafileClipWork);
    if (region) {
        return std::move(*region);
    }
    // Too intricate to follow pixel by pixel within the bound: the box around it.
    if (!(left <= right && top <= bottom)) {
        return {};
    }
    const PixelRect all = pictureRect();
    return PixelRegion::rect(
        pixelCoordinate(std::max(std::ceil(left - 0.5), double(all.left))),
        pixelCoordinate(std::max(std::ceil(top - 0.5), double(all.top))),
        pixelCoordinate(std::min(std::ceil(right - 0.5), double(all.right))),
        pixelCoordinate(std::min(std::ceil(bottom - 0.5), double(all.bottom))));
}

PixelRegion GdiPlayer::regionOf(const gdi::Region& region, bool deviceUnits) const {
    return regionOf(devicePathOf(region, deviceUnits), FillRule::Winding);
}

void GdiPlayer::intersectClipRect(const RectL& r) {
    if (m_canvas == nullptr) {
        return;
    }
    const auto box = pixelBox(r);
    combineClip(box ? PixelRegion::rect(box->left, box->top, box->right, box->bottom)
                    : regionOf(rectPath(normalised(r)), FillRule::Winding),
                MetafileCanvas::ClipOp::Intersect);
}

void GdiPlayer::excludeClipRect(const RectL& r) {
    if (m_canvas == nullptr) {
        return;
    }
    const auto box = pixelBox(r);
    if (box) {
        m_pendingExcludes.push_back(*box);
        if (m_pendingExcludes.size() >= kMaxMetafileClipRects) {
            applyPendingExcludes();
        }
        return;
    }
    combineClip(regionOf(rectPath(normalised(r)), FillRule::Winding),
                MetafileCanvas::ClipOp::Exclude);
}

void GdiPlayer::applyPendingExcludes() {
    if (m_pendingExcludes.empty()) {
        return;
    }
    std::vector<PixelRect> rects = std::move(m_pendingExcludes);
    m_pendingExcludes.clear();
    auto region = PixelRegion::fromRects(rects, pictureRect(), kMaxMetafileClipWork);
    if (region) {
        combineClip(*region, MetafileCanvas::ClipOp::Exclude);
        return;
    }
    // Too many at once to sweep within the bound: one by one, as many as the bound allows.
    for (std::size_t i = 0; i < rects.size() && i < kMaxMetafileClipSteps; ++i) {
        const PixelRect& r = rects[i];
        combineClip(PixelRegion::rect(r.left, r.top, r.right, r.bottom),
                    MetafileCanvas::ClipOp::Exclude);
    }
}

void GdiPlayer::offsetClip(double dx, double dy) {
    applyPendingExcludes();
    if (!m_dc.clip) {
        return;
    }
    const Affine m = logicalToOutput();
    const double ox = std::round(m.a * dx + m.c * dy), oy = std::round(m.b * dx + m.d * dy);
    if (!std::isfinite(ox) || !std::isfinite(oy) || std::fabs(ox) > 1e6 || std::fabs(oy) > 1e6) {
        return;
    }
    setClip(std::make_shared<const PixelRegion>(m_dc.clip->offset(int(ox), int(oy))));
}

PathData GdiPlayer::devicePathOf(const gdi::Region& region, bool deviceUnits) const {
    // A region's rectangles are whole pixels where they land.
    const Affine m = deviceUnits ? deviceToOutput() : logicalToOutput();
    const bool snap = m_canvas != nullptr && !turns(m);
    auto at = [&](double x, double y) {
        const PointF p = m.map({x, y});
        return snap ? PointF{std::floor(p.x + 0.5), std::floor(p.y + 0.5)} : p;
    };
    PathData path;
    for (const RectL& r : region.rects) {
        path.moveTo(at(r.left, r.top));
        path.lineTo(at(r.right, r.top));
        path.lineTo(at(r.right, r.bottom));
        path.lineTo(at(r.left, r.bottom));
        path.close();
    }
    return path;
}

void GdiPlayer::selectClipRegion(const gdi::Region* region, int mode, bool deviceUnits) {
    if (region == nullptr || region->rects.empty()) {
        // No region with RGN_COPY lifts the clip.
        if (mode == 5) {
            m_pendingExcludes.clear();
            if (m_dc.clip) {
                setClip(nullptr);
            }
        }
        return;
    }
    combineClip(regionOf(*region, deviceUnits), clipOpOf(mode));
}

void GdiPlayer::fillRegion(const gdi::Region& region, const gdi::Brush& brush, bool deviceUnits) {
    const int fillMode = m_dc.polyFillMode;
    m_dc.polyFillMode = kWinding;
    emitFill(devicePathOf(region, deviceUnits), brush);
    m_dc.polyFillMode = fillMode;
}

void GdiPlayer::frameRegion(const gdi::Region& region, const gdi::Brush& brush, double width,
                            double height) {
    const gdi::Pen pen = m_dc.pen;
    m_dc.pen = gdi::cosmeticPen(0, brush.colour);
    m_dc.pen.width = std::max(std::fabs(width), std::fabs(height));
    m_dc.pen.cosmetic = false;
    emitStroke(devicePathOf(region, false));
    m_dc.pen = pen;
}

// --- text ------------------------------------------------------------------------------------

void GdiPlayer::text(const Text& t) {
    if ((t.options & kEtoOpaque) != 0 && t.rect) {
        emitFill(rectPath(normalised(*t.rect)), gdi::solidBrush(m_dc.bkColour));
    }
    // Glyph indices name shapes of one particular font, not characters; drawn in another font
    // they would be nonsense, so such text is left out.
    if ((t.isWide ? t.wide.empty() : t.narrow.empty()) || nothingDrawnByRop() ||
        (t.options & kEtoGlyphIndex) != 0) {
        return;
    }
    const bool updateCp = (m_dc.textAlign & kTaUpdateCp) != 0;
    const PointF reference = updateCp ? m_dc.position : t.reference;
    const Affine m = logicalToOutput();
    const double xs = std::hypot(m.a, m.b), ys = std::hypot(m.c, m.d);
    const gdi::Font& font = m_dc.font;
    TextRun run;
    run.wide = t.wide.substr(0, kMaxMetafileTextChars);
    run.narrow = t.narrow.substr(0, kMaxMetafileTextChars);
    run.charset = font.charset;
    run.origin = m.map(reference);
    // A font of height 0 is the default size, twelve points on a 96 dpi device.
    run.height = font.height == 0 ? 16 * ys : std::fabs(double(font.height)) * ys;
    run.emHeight = font.height <= 0;
    run.averageWidth = std::fabs(double(font.width)) * xs;
    run.weight = font.weight;
    run.italic = font.italic;
    run.underline = font.underline;
    run.strikeOut = font.strikeOut;
    run.face = font.face;
    run.antialias = font.quality != 3;
    // GDI turns text by its escapement in logical units counted as if y ran down, so where the
    // mapping turns y up the text turns the other way on the page (the bounds GDI records for
    // such text in EMR_EXTTEXTOUTW, [MS-EMF] 2.3.5.8, lie that way).
    double angle = font.escapement / 10.0;
    if (m.d < 0 && m.a * m.d - m.b * m.c < 0) {
        angle = -angle;
    }
    if (std::fabs(m.b) > 1e-9 * std::fabs(m.a)) {
        angle += std::atan2(-m.b, m.a) * 180 / kPi;
    }
    run.angle = angle;
    switch (m_dc.textAlign & 6) {
        case 2:
            run.hAlign = TextRun::HAlign::Right;
            break;
        case 6:
            run.hAlign = TextRun::HAlign::Center;
            break;
        default:
            break;
    }
    switch (m_dc.textAlign & 24) {
        case 8:
            run.vAlign = TextRun::VAlign::Bottom;
            break;
        case 24:
            run.vAlign = TextRun::VAlign::Baseline;
            break;
        default:
            break;
    }
    run.colour = rgbOf(m_dc.textColour);
    run.opaque = m_dc.bkMode == kOpaque;
    run.background = rgbOf(m_dc.bkColour);
    double total = 0;
    const std::size_t count = t.isWide ? run.wide.size() : run.narrow.size();
    if (!t.dx.empty()) {
        run.advances.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double dx = i < t.dx.size() ? t.dx[i] : 0;
            total += dx;
            run.advances.push_back(dx * xs);
        }
    }
    if ((t.options & kEtoClipped) != 0 && t.rect) {
        run.clipTo = rectPath(normalised(*t.rect));
    }
    if (!std::isfinite(run.origin.x) || !std::isfinite(run.origin.y) ||
        !std::isfinite(run.height) || run.height <= 0) {
        return;
    }
    m_drew = true;
    if (m_probe != nullptr) {
        if (!m_probe->drew) {
            captureWindow(*m_probe);
        }
        m_probe->include(run.origin);
    }
    if (m_canvas != nullptr) {
        flushClip();
        m_canvas->drawText(run);
    }
    if (updateCp) {
        m_dc.position = {reference.x + total, reference.y};
    }
}

// --- bitmaps ---------------------------------------------------------------------------------

void GdiPlayer::patBlt(const RectL& dest, std::uint32_t rop) {
    // A blit covers whole pixels, the right and bottom edges outside.
    const auto box = pixelBox(dest);
    const PathData path = box ? pixelRectPath(*box) : rectPath(normalised(dest));
    const int savedRop = m_dc.rop2;
    gdi::Brush brush = m_dc.brush;
    switch ((rop >> 16) & 0xFF) {
        case 0x00:  // BLACKNESS
            brush = gdi::solidBrush(Rgb{0, 0, 0});
            m_dc.rop2 = 13;
            break;
        case 0xFF:  // WHITENESS
            brush = gdi::solidBrush(Rgb{255, 255, 255});
            m_dc.rop2 = 13;
            break;
        case 0xF0:  // PATCOPY
            m_dc.rop2 = 13;
            break;
        case 0x5A:  // PATINVERT
            m_dc.rop2 = 7;
            break;
        case 0x55:  // DSTINVERT
            m_dc.rop2 = 6;
            break;
        default:  // the destination itself, or operations no real metafile uses
            return;
    }
    emitFill(path, brush);
    m_dc.rop2 = savedRop;
}

void GdiPlayer::noteBitmap(const BitmapDraw& draw, const RectL& dest) {
    m_drew = true;
    if (m_probe == nullptr) {
        return;
    }
    if (!m_probe->drew) {
        captureWindow(*m_probe);
        m_probe->firstIsBitmap = true;
        const PointF a = exact({dest.left, dest.top}), b = exact({dest.right, dest.bottom});
        m_probe->firstBitmapDest = normalised({a.x, a.y, b.x, b.y});
        m_probe->firstBitmapWidth = draw.srcWidth;
        m_probe->firstBitmapHeight = draw.srcHeight;
        m_probe->windowAtFirstBitmap = {m_dc.windowOrg.x, m_dc.windowOrg.y,
                                        m_dc.windowOrg.x + m_dc.windowExt.x,
                                        m_dc.windowOrg.y + m_dc.windowExt.y};
    }
    m_probe->include(exact({dest.left, dest.top}));
    m_probe->include(exact({dest.right, dest.bottom}));
}

void GdiPlayer::bitmap(BitmapDraw draw, const RectL& dest, std::uint32_t rop) {
    switch ((rop >> 16) & 0xFF) {
        case 0xCC:
            draw.mix = Mix::Copy;
            break;  // SRCCOPY
        case 0xEE:
            draw.mix = Mix::Or;
            break;  // SRCPAINT
        case 0x88:
            draw.mix = Mix::And;
            break;  // SRCAND
        case 0x66:
            draw.mix = Mix::Xor;
            break;  // SRCINVERT
        case 0x44:
            draw.mix = Mix::SourceAndNotDestination;
            break;  // SRCERASE
        case 0x33:
            draw.mix = Mix::NotSource;
            break;  // NOTSRCCOPY
        case 0x11:
            draw.mix = Mix::NotSourceAndNotDestination;
            break;  // NOTSRCERASE
        case 0xBB:
            draw.mix = Mix::NotSourceOrDestination;
            break;  // MERGEPAINT
        case 0x00:
        case 0xFF:
        case 0xF0:
        case 0x5A:
        case 0x55:
        case 0xAA:
            patBlt(dest, rop);
            return;
        default:
            draw.mix = Mix::Copy;
            break;
    }
    if (draw.srcWidth <= 0 || draw.srcHeight <= 0) {
        return;
    }
    draw.topLeft = edge({dest.left, dest.top});
    draw.topRight = edge({dest.right, dest.top});
    draw.bottomLeft = edge({dest.left, dest.bottom});
    if (!finite(draw.topLeft) || !finite(draw.topRight) || !finite(draw.bottomLeft)) {
        return;
    }
    noteBitmap(draw, dest);
    if (m_canvas != nullptr) {
        flushClip();
        m_canvas->drawBitmap(draw);
    }
}

}  // namespace metafile
