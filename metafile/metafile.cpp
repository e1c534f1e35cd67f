#include "metafile/metafile.h"

#include <algorithm>
#include <cmath>

#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "metafile/sharedcanvas.h"
#include "workbook/boundedcursor.h"
#include "workbook/utf8.h"

namespace metafile {

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kScreenDpi = 96;
constexpr double kScreenPxPerMm = kScreenDpi / kMillimetresPerInch;

RectL normalised(RectL r) {
    if (r.left > r.right) {
        std::swap(r.left, r.right);
    }
    if (r.top > r.bottom) {
        std::swap(r.top, r.bottom);
    }
    return r;
}

double widthOf(const RectL& r) {
    return r.right - r.left;
}
double heightOf(const RectL& r) {
    return r.bottom - r.top;
}

bool positive(const RectL& r) {
    return std::isfinite(widthOf(r)) && std::isfinite(heightOf(r)) && widthOf(r) > 0 &&
           heightOf(r) > 0;
}

// Whether a bitmap's destination covers the picture, give or take the rounding of writers that
// state the picture's edges inclusively.
bool covers(const RectL& dest, const RectL& picture) {
    const double tolerance = std::max(1.5, 0.01 * std::max(widthOf(picture), heightOf(picture)));
    return std::fabs(dest.left - picture.left) <= tolerance &&
           std::fabs(dest.top - picture.top) <= tolerance &&
           std::fabs(dest.right - picture.right) <= tolerance &&
           std::fabs(dest.bottom - picture.bottom) <= tolerance;
}

// The layout at a natural size of w x h pixels, drawn smaller when that is too many pixels,
// with its aspect kept.
MetafileLayout finish(MetafileLayout l, double w, double h) {
    if (!(std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0)) {
        return {};
    }
    double scale = 1;
    if (w * h > double(kMaxPicturePixels)) {
        scale = std::sqrt(double(kMaxPicturePixels) / (w * h));
    }
    scale = std::min({scale, kMaxPictureSide / w, kMaxPictureSide / h});
    double width = std::max(1.0, std::round(w * scale));
    double height = std::max(1.0, std::round(h * scale));
    if (scale < 1) {
        width = std::max(1.0, std::floor(w * scale));
        height = std::max(1.0, std::floor(h * scale));
    }
    l.width = int(std::min(width, double(kMaxPictureSide)));
    l.height = int(std::min(height, double(kMaxPictureSide)));
    const double sx = l.width / w, sy = l.height / h;
    l.outX *= sx;
    l.outWidth *= sx;
    l.outY *= sy;
    l.outHeight *= sy;
    return l;
}

MetafileLayout layoutOnto(const RectL& ref, double w, double h) {
    MetafileLayout l;
    l.refX = ref.left;
    l.refY = ref.top;
    l.refWidth = widthOf(ref);
    l.refHeight = heightOf(ref);
    l.outWidth = w;
    l.outHeight = h;
    return finish(l, w, h);
}

MetafileLayout wrappedLayout(const MetafileProbe& probe) {
    MetafileLayout l =
        layoutOnto(probe.firstBitmapDest, probe.firstBitmapWidth, probe.firstBitmapHeight);
    l.wrapsBitmap = l.usable();
    return l;
}

// Whether a picture's own size is the size of the one bitmap it wraps, give or take the
// rounding of its frame, so that the bitmap is better copied pixel for pixel.
bool sizedAsItsBitmap(const MetafileProbe& probe, double w, double h) {
    auto near = [](double size, int pixels) {
        return std::fabs(size - pixels) <= std::max(1.5, 0.02 * pixels);
    };
    return near(w, probe.firstBitmapWidth) && near(h, probe.firstBitmapHeight);
}

// An EMF's frame ([MS-EMF] 2.2.9 rclFrame, inclusive, in hundredths of a millimetre) is its
// picture's own size, the size it is shown at on a 96 dpi screen whatever device recorded it;
// the records draw in the recording device's pixels, so the frame in those pixels (through
// szlDevice and szlMillimeters, each axis apart) is what lands on the picture. A frame that
// states no area, or one so far from the bounds that it cannot be the same picture's, falls
// back to the bounds in device pixels, and those to the extent of what is drawn.
MetafileLayout emfLayout(const std::uint8_t* data, std::size_t size) {
    auto header = readEmfHeader(data, size);
    if (!header) {
        return {};
    }
    MetafileProbe probe;
    GdiPlayer player(GdiPlayer::Flavour::Emf, nullptr, MetafileLayout{}, &probe);
    readEmfRecords(data, size, player, ReadMode::Probe);
    const bool resolved = header->pxPerMmX > 0 && header->pxPerMmY > 0;
    const double pxX = resolved ? header->pxPerMmX : kScreenPxPerMm;
    const double pxY = resolved ? header->pxPerMmY : kScreenPxPerMm;
    const RectL frame{header->frame.left * pxX / 100, header->frame.top * pxY / 100,
                      header->frame.right * pxX / 100, header->frame.bottom * pxY / 100};
    // Bounds of all zeros are what a recorder that kept no bounds writes, not a one-pixel
    // picture.
    const RectL& b = header->bounds;
    const bool noBounds = b.left == 0 && b.top == 0 && b.right == 0 && b.bottom == 0;
    const RectL bounds = noBounds ? RectL{} : RectL{b.left, b.top, b.right + 1, b.bottom + 1};
    // Device pixels on a 96 dpi screen.
    const double toScreenX = kScreenPxPerMm / pxX, toScreenY = kScreenPxPerMm / pxY;
    auto farApart = [](double a, double b) { return a > 64 * b || b > 64 * a; };
    const bool frameFits = positive(frame) && widthOf(frame) * toScreenX >= 1 &&
                           heightOf(frame) * toScreenY >= 1 &&
                           (!positive(bounds) || !(farApart(widthOf(frame), widthOf(bounds)) &&
                                                   farApart(heightOf(frame), heightOf(bounds))));
    RectL picture;
    if (frameFits) {
        picture = frame;
    } else if (positive(bounds)) {
        picture = bounds;
    } else if (probe.drew && positive(probe.bounds)) {
        picture = probe.bounds;
    } else {
        return {};
    }
    const double w = widthOf(picture) * toScreenX, h = heightOf(picture) * toScreenY;
    if (probe.firstIsBitmap && covers(probe.firstBitmapDest, picture) &&
        sizedAsItsBitmap(probe, w, h)) {
        return wrappedLayout(probe);
    }
    return layoutOnto(picture, w, h);
}

// Logical units of the metric mapping modes in millimetres; 0 for the others.
double millimetresPerUnit(int mapMode) {
    switch (mapMode) {
        case 2:
            return 0.1;
        case 3:
            return 0.01;
        case 4:
            return 0.254;
        case 5:
            return 0.0254;
        case 6:
            return 25.4 / 1440;
        default:
            return 0;
    }
}

MetafileLayout wmfLayout(const std::uint8_t* data, std::size_t size) {
    auto header = readWmfHeader(data, size);
    if (!header) {
        return {};
    }
    const RectL& box = header->bbox;
    const bool placeable =
        header->placeable && header->unitsPerInch > 0 && widthOf(box) != 0 && heightOf(box) != 0;
    MetafileLayout start;
    if (placeable) {
        start.refX = box.left;
        start.refY = box.top;
        start.refWidth = widthOf(box);
        start.refHeight = heightOf(box);
    }
    MetafileProbe probe;
    GdiPlayer player(GdiPlayer::Flavour::Wmf, nullptr, start, &probe);
    player.setProbeWantsBounds(!placeable);
    readWmfRecords(data, size, *header, player, ReadMode::Probe);
    if (!probe.drew) {
        player.captureWindow(probe);
    }
    // The picture's own size: the placeable header's box at its units per inch, or the
    // window, its units pixels but for the metric mapping modes.
    double w = 0, h = 0;
    RectL ref;
    if (placeable) {
        const double scale = kScreenDpi / header->unitsPerInch;
        w = std::fabs(widthOf(box)) * scale;
        h = std::fabs(heightOf(box)) * scale;
    } else if (probe.windowSet) {
        ref = probe.window;
        w = std::fabs(widthOf(ref));
        h = std::fabs(heightOf(ref));
        const double mm = millimetresPerUnit(probe.mapMode);
        if (mm > 0) {
            w *= mm * kScreenPxPerMm;
            h *= mm * kScreenPxPerMm;
        }
    } else if (probe.drew && positive(probe.bounds)) {
        ref = probe.bounds;
        w = widthOf(ref);
        h = heightOf(ref);
    }
    if (probe.firstIsBitmap && (w == 0 || sizedAsItsBitmap(probe, w, h))) {
        const RectL window = normalised(probe.windowAtFirstBitmap);
        const RectL& dest = probe.firstBitmapDest;
        if (covers(dest, window) && widthOf(dest) > 0 && heightOf(dest) > 0) {
            // The window, wherever it lies, lands so that the bitmap's destination covers the
            // picture's pixels one to one.
            const double sx = probe.firstBitmapWidth / widthOf(dest);
            const double sy = probe.firstBitmapHeight / heightOf(dest);
            const RectL& win = probe.windowAtFirstBitmap;
            MetafileLayout l;
            l.refX = win.left;
            l.refY = win.top;
            l.refWidth = widthOf(win);
            l.refHeight = heightOf(win);
            l.outX = (win.left - dest.left) * sx;
            l.outY = (win.top - dest.top) * sy;
            l.outWidth = widthOf(win) * sx;
            l.outHeight = heightOf(win) * sy;
            l = finish(l, probe.firstBitmapWidth, probe.firstBitmapHeight);
            l.wrapsBitmap = l.usable();
            return l;
        }
    }
    if (placeable) {
        MetafileLayout l = start;
        l.outWidth = w;
        l.outHeight = h;
        return finish(l, w, h);
    }
    if (w == 0 || h == 0) {
        return {};
    }
    return layoutOnto(ref, w, h);
}

MetafileLayout pictLayout(const std::uint8_t* data, std::size_t size) {
    auto header = readPictHeader(data, size);
    if (!header) {
        return {};
    }
    MetafileProbe probe;
    readPictOpcodes(data, size, *header, MetafileLayout{}, nullptr, &probe, ReadMode::Probe);
    // QuickDraw's points are the pixels of a 72 dpi screen, which the frame counts in; an
    // extended header's opcodes draw in their own rectangle at their own resolution, and that
    // rectangle lands on the frame.
    const RectL frame = header->frame;
    const RectL ref = header->extended ? header->source : frame;
    double w = widthOf(frame), h = heightOf(frame);
    if (!positive(frame) && header->extended) {
        w = widthOf(ref) * 72 / header->hRes;
        h = heightOf(ref) * 72 / header->vRes;
    }
    // A bitmap that fills the picture gives it its pixels, one to one, where the picture keeps
    // QuickDraw's own resolution.
    const bool screenResolution = !header->extended || (std::fabs(header->hRes - 72) < 0.5 &&
                                                        std::fabs(header->vRes - 72) < 0.5);
    if (probe.firstIsBitmap && screenResolution &&
        (!positive(ref) || covers(probe.firstBitmapDest, ref))) {
        return wrappedLayout(probe);
    }
    if (!positive(ref)) {
        return {};
    }
    return layoutOnto(ref, w, h);
}

}  // namespace

Affine Affine::after(const Affine& o) const {
    return {a * o.a + c * o.b, b * o.a + d * o.b,     a * o.c + c * o.d,
            b * o.c + d * o.d, a * o.e + c * o.f + e, b * o.e + d * o.f + f};
}

void MetafileCanvas::fillShadedTriangles(const std::vector<ShadedVertex>& vertices, Mix mix) {
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        PathData triangle;
        int r = 0, g = 0, b = 0;
        for (std::size_t k = i; k < i + 3; ++k) {
            triangle.lineTo(vertices[k].at);
            r += vertices[k].colour.r;
            g += vertices[k].colour.g;
            b += vertices[k].colour.b;
        }
        triangle.close();
        BrushStyle brush;
        brush.colour = {std::uint8_t(r / 3), std::uint8_t(g / 3), std::uint8_t(b / 3)};
        brush.mix = mix;
        fillPath(triangle, FillRule::Winding, brush);
    }
}

void MetafileCanvas::setClipRects(const std::vector<PixelRect>* rects) {
    resetClip();
    if (rects == nullptr) {
        return;
    }
    PathData path;
    for (const PixelRect& r : *rects) {
        path.moveTo({double(r.left), double(r.top)});
        path.lineTo({double(r.right), double(r.top)});
        path.lineTo({double(r.right), double(r.bottom)});
        path.lineTo({double(r.left), double(r.bottom)});
        path.close();
    }
    clip(path, ClipOp::Replace);
}
namespace {

// The deadline of the innermost play under way on this thread: a metafile drawn inside another
// keeps to the outer one's time.
thread_local std::chrono::steady_clock::time_point t_playDeadline =
    std::chrono::steady_clock::time_point::max();

}  // namespace

namespace {
thread_local const std::atomic<bool>* playStop = nullptr;
}  // namespace

PlayStop::PlayStop(const std::atomic<bool>* stop) : m_outer(playStop) {
    playStop = stop;
}

PlayStop::~PlayStop() {
    playStop = m_outer;
}

bool PlayStop::requested() {
    return playStop != nullptr && playStop->load(std::memory_order_relaxed);
}

RecordBudget::RecordBudget()
    : m_deadline(std::min(t_playDeadline, std::chrono::steady_clock::now() +
                                              std::chrono::milliseconds(kMaxMetafilePlayMillis))),
      m_outerDeadline(t_playDeadline) {
    t_playDeadline = m_deadline;
}

RecordBudget::~RecordBudget() {
    t_playDeadline = m_outerDeadline;
}

bool playTimeIsUp() {
    return t_playDeadline != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() > t_playDeadline;
}

bool RecordBudget::next(MetafileError& error) {
    if (++m_records > kMaxMetafileRecords) {
        error = {MetafileError::Kind::TooLarge,
                 "it holds more than " + std::to_string(kMaxMetafileRecords) + " records"};
        return false;
    }
    if (PlayStop::requested()) {
        error = {MetafileError::Kind::Stopped, "its drawing was stopped"};
        return false;
    }
    // Checked at every record: a metafile of a few records may still draw for hours.
    if (std::chrono::steady_clock::now() > m_deadline) {
        error = {MetafileError::Kind::TooLarge, "it takes too long to draw"};
        return false;
    }
    return true;
}

void RecordBudget::finish(MetafileError& error) const {
    // A last record cut short by a stop drew only part of the picture.
    if (!error && PlayStop::requested()) {
        error = {MetafileError::Kind::Stopped, "its drawing was stopped"};
    }
    if (!error && std::chrono::steady_clock::now() > m_deadline) {
        error = {MetafileError::Kind::TooLarge, "it takes too long to draw"};
    }
}

Affine readAffine(workbook::BoundedCursor& c) {
    Affine m;
    m.a = c.f32le();
    m.b = c.f32le();
    m.c = c.f32le();
    m.d = c.f32le();
    m.e = c.f32le();
    m.f = c.f32le();
    return m;
}

std::string utf8FromUtf16(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        workbook::appendUtf8(out, cp);
    }
    return out;
}

// The bytes of the escape records a WMF opens with: GDI writes a WMF made from an EMF with that
// EMF in META_ESCAPE records of ENHANCED_METAFILE comments first ([MS-WMF] 2.3.6), often more
// than the scan's bytes, and they draw nothing.
std::size_t leadingEscapeBytes(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint16_t kMetaEscape = 0x0626;
    const auto header = readWmfHeader(data, size);
    if (!header) {
        return 0;
    }
    std::size_t at = header->recordsAt, skipped = 0;
    while (size - at >= 6 && skipped < kMetafileLeadingEscapeBytes) {
        workbook::BoundedCursor c(data + at, 6);
        const std::uint64_t bytes = std::uint64_t(c.u32le()) * 2;
        if (c.u16le() != kMetaEscape || bytes < 6 || bytes > size - at) {
            break;
        }
        at += std::size_t(bytes);
        skipped += std::size_t(bytes);
    }
    return std::min(skipped, kMetafileLeadingEscapeBytes);
}

MetafileLayout metafileLayout(ImageFormat format, const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return {};
    }
    const std::size_t escapes = format == ImageFormat::Wmf ? leadingEscapeBytes(data, size) : 0;
    size = std::min(size, kMetafileSizeScanBytes + escapes);
    MetafileLayout layout;
    bool header = false;
    switch (format) {
        case ImageFormat::Emf:
            layout = emfLayout(data, size);
            header = readEmfHeader(data, size).has_value();
            break;
        case ImageFormat::Wmf:
            layout = wmfLayout(data, size);
            header = readWmfHeader(data, size).has_value();
            break;
        case ImageFormat::Pict:
            layout = pictLayout(data, size);
            header = readPictHeader(data, size).has_value();
            break;
        default:
            break;
    }
    layout.headerReadable = header;
    return layout;
}

MetafileError playMetafile(ImageFormat format, const std::uint8_t* data, std::size_t size,
                           const MetafileLayout& layout, MetafileCanvas& canvas) {
    return playNestedMetafile(format, data, size, layout, canvas, 0);
}

MetafileError playNestedMetafile(ImageFormat format, const std::uint8_t* data, std::size_t size,
                                 const MetafileLayout& layout, MetafileCanvas& canvas, int depth) {
    if (data == nullptr || !layout.usable()) {
        return {MetafileError::Kind::NothingToDraw, "it states no size"};
    }
    // The canvas stops long drawing inside one record once the play's time is up; the records
    // after it then stop the play.
    canvas.setDeadline(std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(kMaxMetafilePlayMillis));
    switch (format) {
        case ImageFormat::Emf: {
            // EMF records and EMF+ records take turns on the canvas, each with its own clip.
            CanvasTurns turns(canvas);
            GdiPlayer player(GdiPlayer::Flavour::Emf, &turns.first(), layout, nullptr);
            EmfPlusStream plus(&turns.second(), layout, depth);
            return readEmfRecords(data, size, player, ReadMode::Play, &plus);
        }
        case ImageFormat::Wmf: {
            auto header = readWmfHeader(data, size);
            if (!header) {
                return {MetafileError::Kind::Damaged, "the header is not a WMF header"};
            }
            GdiPlayer player(GdiPlayer::Flavour::Wmf, &canvas, layout, nullptr);
            return readWmfRecords(data, size, *header, player, ReadMode::Play);
        }
        case ImageFormat::Pict: {
            auto header = readPictHeader(data, size);
            if (!header) {
                return {MetafileError::Kind::Damaged, "the header is not a PICT header"};
            }
            return readPictOpcodes(data, size, *header, layout, &canvas, nullptr, ReadMode::Play);
        }
        default:
            return {MetafileError::Kind::NothingToDraw, "it is not a metafile"};
    }
}

MetafileLayout resizedLayout(MetafileLayout layout, int width, int height) {
    if (!layout.usable() || width <= 0 || height <= 0 ||
        (width == layout.width && height == layout.height)) {
        return layout;
    }
    const double sx = double(width) / layout.width, sy = double(height) / layout.height;
    layout.outX *= sx;
    layout.outWidth *= sx;
    layout.outY *= sy;
    layout.outHeight *= sy;
    layout.width = width;
    layout.height = height;
    layout.wrapsBitmap = false;
    return layout;
}

workbook::ImageInfo sniffDrawnImage(const std::uint8_t* data, std::size_t size) {
    workbook::ImageInfo info = workbook::sniffImage(data, size);
    if (info.format == ImageFormat::Emf || info.format == ImageFormat::Wmf ||
        info.format == ImageFormat::Pict) {
        MetafileLayout layout = metafileLayout(info.format, data, size);
        info.width = layout.width;
        info.height = layout.height;
    }
    return info;
}

}  // namespace metafile
