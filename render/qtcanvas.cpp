#include "render/qtcanvas.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImageReader>
#include <QStringDecoder>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/canvasfills.h"
#include "render/symbolfonts.h"
#include "workbook/bitmapinfo.h"
#include "workbook/limits.h"

namespace render {

namespace {

using metafile::Mix;

QPainterPath toPath(const metafile::PathData& data) {
    QPainterPath path;
    std::size_t at = 0;
    for (metafile::PathData::Op op : data.ops) {
        switch (op) {
            case metafile::PathData::Op::Move:
                path.moveTo(data.points[at].x, data.points[at].y);
                ++at;
                break;
            case metafile::PathData::Op::Line:
                path.lineTo(data.points[at].x, data.points[at].y);
                ++at;
                break;
            case metafile::PathData::Op::Cubic:
                path.cubicTo(data.points[at].x, data.points[at].y, data.points[at + 1].x,
                             data.points[at + 1].y, data.points[at + 2].x, data.points[at + 2].y);
                at += 3;
                break;
            case metafile::PathData::Op::Close:
                path.closeSubpath();
                break;
        }
    }
    return path;
}

QPainter::CompositionMode modeOf(Mix mix) {
    switch (mix) {
        case Mix::And:
            return QPainter::RasterOp_SourceAndDestination;
        case Mix::Or:
            return QPainter::RasterOp_SourceOrDestination;
        case Mix::Xor:
            return QPainter::RasterOp_SourceXorDestination;
        case Mix::NotDestination:
            return QPainter::RasterOp_NotDestination;
        case Mix::NotSource:
            return QPainter::RasterOp_NotSource;
        case Mix::SourceAndNotDestination:
            return QPainter::RasterOp_SourceAndNotDestination;
        case Mix::NotSourceAndNotDestination:
            return QPainter::RasterOp_NotSourceAndNotDestination;
        case Mix::NotSourceOrDestination:
            return QPainter::RasterOp_NotSourceOrDestination;
        case Mix::NotSourceAndDestination:
            return QPainter::RasterOp_NotSourceAndDestination;
        case Mix::NotSourceOrNotDestination:
            return QPainter::RasterOp_NotSourceOrNotDestination;
        case Mix::NotSourceXorDestination:
            return QPainter::RasterOp_NotSourceXorDestination;
        case Mix::SourceOrNotDestination:
            return QPainter::RasterOp_SourceOrNotDestination;
        case Mix::Copy:
            break;
    }
    return QPainter::CompositionMode_SourceOver;
}

// The code page of a font's character set, for text kept as bytes (LOGFONT's lfCharSet).
const char* encodingOf(int charset) {
    switch (charset) {
        case 77:
            return "macintosh";
        case 128:
            return "Shift_JIS";
        case 129:
            return "windows-949";
        case 134:
            return "GBK";
        case 136:
            return "Big5";
        case 161:
            return "windows-1253";
        case 162:
            return "windows-1254";
        case 163:
            return "windows-1258";
        case 177:
            return "windows-1255";
        case 178:
            return "windows-1256";
        case 186:
            return "windows-1257";
        case 204:
            return "windows-1251";
        case 222:
            return "windows-874";
        case 238:
            return "windows-1250";
        case 255:
            return "IBM437";
        default:
            return "windows-1252";
    }
}

QString textOf(const metafile::TextRun& run) {
    if (!run.wide.empty()) {
        return QString::fromUtf16(run.wide.data(), qsizetype(run.wide.size()));
    }
    QStringDecoder decoder(encodingOf(run.charset));
    if (!decoder.isValid()) {
        return QString::fromLatin1(run.narrow.data(), qsizetype(run.narrow.size()));
    }
    return decoder(QByteArrayView(run.narrow.data(), qsizetype(run.narrow.size())));
}

// A GDI font request as a Qt font at the painter's resolution: Windows face names reach the
// installed fonts through fontconfig's aliases (Liberation for Arial and Times New Roman).
QFont fontOf(const metafile::TextRun& run, const QPaintDevice* device) {
    QFont font(run.face.empty() ? QStringLiteral("Arial") : QString::fromStdString(run.face));
    const double pointsPerPixel = 72.0 / device->logicalDpiY();
    font.setPointSizeF(std::max(run.height, 0.5) * pointsPerPixel);
    font.setWeight(QFont::Weight(std::clamp(run.weight == 0 ? 400 : run.weight, 1, 1000)));
    font.setItalic(run.italic);
    font.setUnderline(run.underline);
    font.setStrikeOut(run.strikeOut);
    if (!run.emHeight) {
        // A positive height is the cell, ascent and descent together.
        QFontMetricsF metrics(font, device);
        const double cell = metrics.ascent() + metrics.descent();
        if (cell > 0) {
            font.setPointSizeF(std::max(run.height * run.height / cell, 0.5) * pointsPerPixel);
        }
    }
    if (run.averageWidth > 0) {
        QFontMetricsF metrics(font, device);
        const double average = metrics.averageCharWidth();
        if (average > 0) {
            font.setStretch(
                std::clamp(int(std::lround(100 * run.averageWidth / average)), 1, 4000));
        }
    }
    return font;
}

bool whole(double v) {
    return std::fabs(v - std::round(v)) < 1e-6;
}

// Clip operations other than intersection combine paths point by point; past this many points
// they would take too long, and the step is left out.
constexpr int kMaxCombinedClipPoints = 20'000;
constexpr double kMaxDashes = 1'000'000;
// Entries of a dash pattern that are kept.
constexpr std::size_t kMaxDashEntries = 64;
// Characters of a run laid out in one piece; longer runs are drawn glyph by glyph.
constexpr qsizetype kMaxTextLaidOutWhole = 512;
// Elements of an outline stroked in one piece; longer ones are stroked in pieces of this many,
// so that the play's time limit can stop them.
constexpr int kStrokePieceElements = 256;

// Qt's aliased rasteriser takes a pixel whose centre lies exactly on an edge when the edge is
// its right or bottom one; whole-pixel drawing takes it on the left and top edges instead (as
// GDI does), which moving the shape this little up and left gives, without moving any other
// pixel.
constexpr double kTopLeftNudge = 1.0 / 64;

QPainterPath nudged(const QPainterPath& path, bool antialias) {
    return antialias ? path : path.translated(-kTopLeftNudge, -kTopLeftNudge);
}

int elementCount(const QPainterPath& path) {
    return path.elementCount();
}

// The part of a segment inside a rectangle (Liang-Barsky), or nothing.
bool clipSegment(QPointF& a, QPointF& b, const QRectF& box) {
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(),
                         box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) {
                return false;
            }
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0) {
                t0 = std::max(t0, t);
            } else {
                t1 = std::min(t1, t);
            }
        }
    }
    if (t0 > t1) {
        return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx, dy) * t0;
    b = start + QPointF(dx, dy) * t1;
    return true;
}

}  // namespace

QImage imageFromDib(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* bits,
                    std::size_t bitsSize) {
    auto info = workbook::readBitmapInfo(header, headerSize);
    if (!info || bits == nullptr) {
        return {};
    }
    QByteArray bytes;
    if (info->compression == workbook::BitmapInfo::kJpeg ||
        info->compression == workbook::BitmapInfo::kPng) {
        bytes = QByteArray(reinterpret_cast<const char*>(bits), qsizetype(bitsSize));
    } else {
        std::vector<std::uint8_t> file = workbook::bitmapFile(header, headerSize, bits, bitsSize);
        bytes = QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image;
    reader.read(&image);
    return image;
}

// The painter's rasteriser takes time in proportion to how far a path reaches, even outside the
// picture; what lies well outside is cut away first. The margin keeps wide outlines whole.
QRectF QtCanvas::reach(double margin) const {
    const double side = std::max(m_image.width(), m_image.height()) + margin;
    return QRectF(m_image.rect()).adjusted(-side, -side, side, side);
}

QPainterPath QtCanvas::fillable(QPainterPath path) const {
    const QRectF box = reach(0);
    if (box.contains(path.controlPointRect())) {
        return path;
    }
    QPainterPath limit;
    limit.addRect(box);
    return path.intersected(limit);
}

QPainterPath QtCanvas::strokable(const QPainterPath& path, double width) const {
    const QRectF box = reach(width);
    if (box.contains(path.controlPointRect())) {
        return path;
    }
    QPainterPath pieces;
    for (const QPolygonF& polygon : path.toSubpathPolygons()) {
        for (qsizetype i = 1; i < polygon.size(); ++i) {
            QPointF a = polygon[i - 1], b = polygon[i];
            if (!clipSegment(a, b, box)) {
                continue;
            }
            if (pieces.elementCount() == 0 || pieces.currentPosition() != a) {
                pieces.moveTo(a);
            }
            pieces.lineTo(b);
        }
    }
    return pieces;
}

QtCanvas::QtCanvas(QImage& image) : m_image(image), m_painter(&image) {
    m_painter.setRenderHint(QPainter::Antialiasing);
    m_painter.setRenderHint(QPainter::TextAntialiasing);
}

QtCanvas::~QtCanvas() {
    m_painter.end();
}

void QtCanvas::setMix(Mix mix, bool antialias) {
    m_painter.setCompositionMode(modeOf(mix));
    // Raster operations combine bits; blended edges would combine twice.
    m_painter.setRenderHint(QPainter::Antialiasing, antialias && mix == Mix::Copy);
}

// The part of the picture a path may touch, in whole pixels.
QRect QtCanvas::areaOf(const QPainterPath& path) const {
    return path.controlPointRect().toAlignedRect().adjusted(-1, -1, 1, 1) & m_image.rect();
}

void QtCanvas::paintFill(const QPainterPath& path, const metafile::BrushStyle& style) {
    using metafile::BrushStyle;
    const KeepGoing keepGoing = [this] { return !pastDeadline(); };
    if (style.gradient && style.gradient->kind == metafile::Gradient::Kind::Path) {
        const QRect area = areaOf(path);
        const QImage layer = pathGradientLayer(*style.gradient, style.transform, area, keepGoing);
        if (!layer.isNull()) {
            m_painter.save();
            m_painter.setClipPath(path, m_hasClip ? Qt::IntersectClip : Qt::ReplaceClip);
            m_painter.drawImage(area.topLeft(), layer);
            m_painter.restore();
        }
        return;
    }
    if (style.texture && style.wrap == BrushStyle::Wrap::Clamp) {
        const QImage image = imageOf(*style.texture);
        if (!image.isNull()) {
            m_painter.save();
            m_painter.setClipPath(path, m_hasClip ? Qt::IntersectClip : Qt::ReplaceClip);
            m_painter.setTransform(transformOf(style.transform), true);
            m_painter.setRenderHint(QPainter::SmoothPixmapTransform, style.antialias);
            m_painter.drawImage(QPointF(0, 0), image);
            m_painter.restore();
        }
        return;
    }
    const bool plainHatch = !style.texture && !style.gradient && !style.monoPattern &&
                            !style.pattern && style.hatch != BrushStyle::Hatch::None;
    if (plainHatch && style.opaqueHatch) {
        m_painter.fillPath(path, colourOf(style.background));
    }
    m_painter.fillPath(path, brushOf(style));
}

void QtCanvas::fillShadedTriangles(const std::vector<metafile::ShadedVertex>& vertices, Mix mix) {
    QPolygonF corners;
    for (const metafile::ShadedVertex& v : vertices) {
        if (std::isfinite(v.at.x) && std::isfinite(v.at.y)) {
            corners.append(QPointF(v.at.x, v.at.y));
        }
    }
    const QRect area =
        corners.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1) & m_image.rect();
    const QImage layer = shadedTrianglesLayer(vertices, area, [this] { return !pastDeadline(); });
    if (layer.isNull()) {
        return;
    }
    m_painter.save();
    setMix(mix, false);
    m_painter.drawImage(area.topLeft(), layer);
    m_painter.restore();
}

void QtCanvas::setClipRects(const std::vector<metafile::PixelRect>* rects) {
    if (rects == nullptr) {
        resetClip();
        return;
    }
    QRegion region;
    for (const metafile::PixelRect& r : *rects) {
        region += QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
    }
    m_hasClip = true;
    m_painter.setClipping(true);
    m_painter.setClipRegion(region);
}

void QtCanvas::fillPath(const metafile::PathData& data, metafile::FillRule rule,
                        const metafile::BrushStyle& style) {
    QPainterPath path = toPath(data);
    path.setFillRule(rule == metafile::FillRule::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    path = nudged(fillable(std::move(path)), style.antialias);
    setMix(style.mix, style.antialias);
    paintFill(path, style);
}

void QtCanvas::strokePath(const metafile::PathData& data, const metafile::PenStyle& style) {
    QPen pen(style.fill ? brushOf(*style.fill) : QBrush(colourOf(style.colour, style.alpha)), 1);
    // A pen twice as wide as the picture covers all of it wherever it passes close by; wider
    // ones only make the outline's round joins vast and slow to fill.
    pen.setWidthF(std::min(style.width, 2.0 * std::max(m_image.width(), m_image.height())));
    switch (style.dash) {
        case metafile::PenStyle::Dash::Dash:
            pen.setStyle(Qt::DashLine);
            break;
        case metafile::PenStyle::Dash::Dot:
            pen.setStyle(Qt::DotLine);
            break;
        case metafile::PenStyle::Dash::DashDot:
            pen.setStyle(Qt::DashDotLine);
            break;
        case metafile::PenStyle::Dash::DashDotDot:
            pen.setStyle(Qt::DashDotDotLine);
            break;
        case metafile::PenStyle::Dash::Solid:
            break;
    }
    switch (style.cap) {
        case metafile::PenStyle::Cap::Round:
            pen.setCapStyle(Qt::RoundCap);
            break;
        case metafile::PenStyle::Cap::Square:
            pen.setCapStyle(Qt::SquareCap);
            break;
        case metafile::PenStyle::Cap::Flat:
            pen.setCapStyle(Qt::FlatCap);
            break;
    }
    switch (style.join) {
        case metafile::PenStyle::Join::Round:
            pen.setJoinStyle(Qt::RoundJoin);
            break;
        case metafile::PenStyle::Join::Bevel:
            pen.setJoinStyle(Qt::BevelJoin);
            break;
        case metafile::PenStyle::Join::Miter:
            pen.setJoinStyle(Qt::MiterJoin);
            break;
    }
    pen.setMiterLimit(style.miterLimit);
    if (style.onePixel) {
        // Qt's own one-pixel line with flat ends is GDI's: a walk from pixel centre to pixel
        // centre that leaves out the last point of an open figure.
        pen.setWidth(0);
        pen.setCapStyle(Qt::FlatCap);
    }
    const double unit = std::max(pen.widthF(), 1.0);
    if (!style.dashes.empty()) {
        QList<qreal> pattern;
        for (std::size_t i = 0; i < style.dashes.size() && i < kMaxDashEntries; ++i) {
            const double length = style.dashes[i];
            pattern.append(std::isfinite(length) ? std::clamp(length / unit, 1e-3, 1e6) : 1.0);
        }
        if (pattern.size() % 2 != 0) {
            pattern += pattern;
        }
        pen.setDashPattern(pattern);
        if (std::isfinite(style.dashOffset)) {
            pen.setDashOffset(style.dashOffset / unit);
        }
    }
    setMix(style.mix, style.antialias);
    const QPainterPath path =
        nudged(strokable(toPath(data), pen.widthF() * style.miterLimit), style.antialias);
    // Dashes are laid one by one along the whole outline; a dash pattern that would need
    // millions of them is drawn solid.
    if (pen.style() != Qt::SolidLine && path.length() / unit > kMaxDashes) {
        pen.setStyle(Qt::SolidLine);
    }
    std::vector<QPainterPath> pieces;
    if (path.elementCount() > kStrokePieceElements) {
        QPainterPath piece;
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            if (e.isMoveTo() || piece.elementCount() == 0) {
                piece.moveTo(e);
            } else if (e.isLineTo()) {
                piece.lineTo(e);
            } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
                piece.cubicTo(e, path.elementAt(i + 1), path.elementAt(i + 2));
                i += 2;
            }
            if (piece.elementCount() >= kStrokePieceElements) {
                const QPointF end = piece.currentPosition();
                pieces.push_back(std::move(piece));
                piece = QPainterPath();
                piece.moveTo(end);
            }
        }
        pieces.push_back(std::move(piece));
    } else {
        pieces.push_back(path);
    }
    for (const QPainterPath& piece : pieces) {
        if (pieces.size() > 1 && pastDeadline()) {
            break;
        }
        if (style.opaqueGaps && pen.style() != Qt::SolidLine) {
            QPen gaps = pen;
            gaps.setStyle(Qt::SolidLine);
            gaps.setBrush(colourOf(style.gapColour));
            m_painter.strokePath(piece, gaps);
        }
        m_painter.strokePath(piece, pen);
    }
}

void QtCanvas::drawText(const metafile::TextRun& run) {
    SymbolRun symbols;
    const bool symbolic = symbolRun(run, symbols);
    const QString text = symbolic ? symbols.text : textOf(run);
    if (text.isEmpty()) {
        return;
    }
    m_painter.save();
    setMix(Mix::Copy, run.antialias);
    m_painter.setRenderHint(QPainter::TextAntialiasing, run.antialias);
    // A glyph taller than twice the picture covers it anyway, and far larger ones are slow.
    metafile::TextRun sized = run;
    sized.height = std::min(run.height, 2.0 * std::max(m_image.width(), m_image.height()));
    if (symbolic) {
        sized.face = symbols.family.toStdString();
    }
    const QFont font = fontOf(sized, &m_image);
    m_painter.setFont(font);
    const QFontMetricsF metrics(font, &m_image);
    // Character origins: the metafile's own spacing where it gives one for every character.
    std::vector<double> offsets;
    double width = 0;
    if (!run.advances.empty() && run.advances.size() == std::size_t(text.size())) {
        for (double advance : run.advances) {
            offsets.push_back(width);
            width += advance;
        }
    } else if (text.size() > kMaxTextLaidOutWhole) {
        // A long run is laid glyph by glyph, so that what lies off the picture is not drawn.
        for (QChar c : text) {
            offsets.push_back(width);
            width += metrics.horizontalAdvance(c);
        }
    } else {
        width = metrics.horizontalAdvance(text);
    }
    // Text that cannot reach the picture is not laid out at all.
    if (!reach(std::fabs(width) + 4 * sized.height).contains(QPointF(run.origin.x, run.origin.y))) {
        m_painter.restore();
        return;
    }
    double x = 0, y = 0;
    switch (run.hAlign) {
        case metafile::TextRun::HAlign::Center:
            x = -width / 2;
            break;
        case metafile::TextRun::HAlign::Right:
            x = -width;
            break;
        case metafile::TextRun::HAlign::Left:
            break;
    }
    switch (run.vAlign) {
        case metafile::TextRun::VAlign::Top:
            y = metrics.ascent();
            break;
        case metafile::TextRun::VAlign::Bottom:
            y = -metrics.descent();
            break;
        case metafile::TextRun::VAlign::Baseline:
            break;
    }
    if (!run.clipTo.empty()) {
        m_painter.setClipPath(fillable(toPath(run.clipTo)),
                              m_hasClip ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    m_painter.translate(run.origin.x, run.origin.y);
    m_painter.rotate(-run.angle);
    if (run.opaque) {
        m_painter.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()),
                           colourOf(run.background));
    }
    m_painter.setPen(colourOf(run.colour, run.alpha));
    // Text painted with a brush is filled as outlines.
    const QBrush fill = run.fill ? brushOf(*run.fill) : QBrush();
    auto draw = [&](QPointF at, const QString& piece) {
        if (!run.fill) {
            m_painter.drawText(at, piece);
            return;
        }
        QPainterPath outline;
        outline.addText(at, m_painter.font(), piece);
        m_painter.fillPath(outline, fill);
    };
    if (offsets.empty()) {
        draw(QPointF(x, y), text);
    } else {
        // Only glyphs that reach the picture are drawn, and a long run at a large size stops
        // once the play's time is up.
        const QTransform toPicture = m_painter.transform();
        const QRectF glyphReach = reach(2 * sized.height);
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (i % 64 == 63 && pastDeadline()) {
                break;
            }
            const QPointF at(x + offsets[std::size_t(i)], y);
            if (glyphReach.contains(toPicture.map(at))) {
                draw(at, QString(text[i]));
            }
        }
    }
    m_painter.restore();
}

void QtCanvas::drawBitmap(const metafile::BitmapDraw& draw) {
    QImage image;
    if (draw.image) {
        image = imageOf(*draw.image);
    } else if (draw.pixels) {
        if (draw.pixels->size() != std::size_t(draw.pixelsWidth) * std::size_t(draw.pixelsHeight)) {
            return;
        }
        image = QImage(reinterpret_cast<const uchar*>(draw.pixels->data()), draw.pixelsWidth,
                       draw.pixelsHeight, qsizetype(draw.pixelsWidth) * 4, QImage::Format_ARGB32);
    } else if (draw.sourceAlpha) {
        // AlphaBlend with the bitmap's own alpha: its 32-bit pixels are premultiplied, which
        // a BMP reader would drop.
        auto info = workbook::readBitmapInfo(draw.header, draw.headerSize);
        if (!info || info->bitCount != 32 || info->compression != workbook::BitmapInfo::kRgb ||
            draw.bitsSize < info->pixelBytes) {
            image = imageFromDib(draw.header, draw.headerSize, draw.bits, draw.bitsSize);
        } else {
            image = QImage(info->width, info->height, QImage::Format_ARGB32_Premultiplied);
            if (image.isNull()) {
                return;
            }
            const std::size_t stride = std::size_t(info->width) * 4;
            for (int y = 0; y < info->height; ++y) {
                const int row = info->topDown ? y : info->height - 1 - y;
                std::memcpy(image.scanLine(y), draw.bits + std::size_t(row) * stride, stride);
            }
        }
    } else {
        image = imageFromDib(draw.header, draw.headerSize, draw.bits, draw.bitsSize);
    }
    if (image.isNull()) {
        return;
    }
    const QRect source = QRect(draw.srcX, draw.srcY, draw.srcWidth, draw.srcHeight) & image.rect();
    if (source.isEmpty()) {
        return;
    }
    if (draw.hasTransparentColour) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        const QRgb key =
            qRgb(draw.transparentColour.r, draw.transparentColour.g, draw.transparentColour.b);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if ((line[x] & 0xFFFFFFu) == (key & 0xFFFFFFu)) {
                    line[x] = 0;
                }
            }
        }
    }
    m_painter.save();
    setMix(draw.mix, draw.smooth);
    m_painter.setOpacity(std::clamp(draw.constantAlpha, 0, 255) / 255.0);
    const metafile::PointF tl = draw.topLeft, tr = draw.topRight, bl = draw.bottomLeft;
    const bool exact = tr.y == tl.y && bl.x == tl.x && whole(tl.x) && whole(tl.y) &&
                       std::fabs(tr.x - tl.x - source.width()) < 1e-6 &&
                       std::fabs(bl.y - tl.y - source.height()) < 1e-6;
    if (exact) {
        // Lands on whole pixels one to one: copied, not resampled.
        m_painter.drawImage(QPoint(int(std::lround(tl.x)), int(std::lround(tl.y))), image, source);
    } else {
        const QTransform map((tr.x - tl.x) / source.width(), (tr.y - tl.y) / source.width(),
                             (bl.x - tl.x) / source.height(), (bl.y - tl.y) / source.height(), tl.x,
                             tl.y);
        m_painter.setTransform(map, true);
        m_painter.setRenderHint(QPainter::SmoothPixmapTransform,
                                draw.smooth && draw.mix == Mix::Copy);
        m_painter.drawImage(QPointF(0, 0), image, source);
    }
    m_painter.restore();
}

void QtCanvas::drawTextBox(const metafile::TextBox& box) {
    const QString text = QString::fromUtf16(box.text.data(), qsizetype(box.text.size()));
    const QTransform map = transformOf(box.transform);
    const double scale = std::sqrt(std::fabs(map.determinant()));
    if (text.isEmpty() || !map.isInvertible() || !std::isfinite(scale) || scale <= 0) {
        return;
    }
    // Laid out at the picture's own scale, so that the font is hinted at the size it shows
    // at; a glyph taller than twice the picture covers it anyway.
    const double em =
        std::min(box.emHeight * scale, 2.0 * std::max(m_image.width(), m_image.height()));
    if (!(em > 0.05)) {
        return;
    }
    m_painter.save();
    setMix(Mix::Copy, box.antialias);
    m_painter.setRenderHint(QPainter::TextAntialiasing, box.antialias);
    m_painter.setTransform(QTransform::fromScale(1 / scale, 1 / scale) * map, true);
    QFont font(box.face.empty() ? QStringLiteral("Arial") : QString::fromStdString(box.face));
    font.setPointSizeF(em * 72.0 / m_image.logicalDpiY());
    font.setWeight(QFont::Weight(std::clamp(box.weight, 1, 1000)));
    font.setItalic(box.italic);
    font.setUnderline(box.underline);
    font.setStrikeOut(box.strikeOut);
    m_painter.setFont(font);
    m_painter.setPen(colourOf(box.colour, box.alpha));
    const QRectF rect(box.x * scale, box.y * scale, box.width * scale, box.height * scale);
    int flags = Qt::TextDontClip;
    switch (box.align) {
        case metafile::TextBox::Align::Near:
            flags |= box.rightToLeft ? Qt::AlignRight : Qt::AlignLeft;
            break;
        case metafile::TextBox::Align::Center:
            flags |= Qt::AlignHCenter;
            break;
        case metafile::TextBox::Align::Far:
            flags |= box.rightToLeft ? Qt::AlignLeft : Qt::AlignRight;
            break;
    }
    switch (box.lineAlign) {
        case metafile::TextBox::Align::Near:
            flags |= Qt::AlignTop;
            break;
        case metafile::TextBox::Align::Center:
            flags |= Qt::AlignVCenter;
            break;
        case metafile::TextBox::Align::Far:
            flags |= Qt::AlignBottom;
            break;
    }
    if (box.wrap && box.width > 0) {
        flags |= Qt::TextWordWrap;
    }
    if (box.clip && box.width > 0 && box.height > 0) {
        m_painter.setClipRect(rect, m_hasClip ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    m_painter.drawText(rect, flags, text);
    m_painter.restore();
}

void QtCanvas::resetClip() {
    m_hasClip = false;
    m_painter.setClipping(false);
}

void QtCanvas::clip(const metafile::PathData& data, ClipOp op) {
    QPainterPath path = toPath(data);
    path.setFillRule(Qt::WindingFill);
    path = fillable(std::move(path));
    // Replacing and intersecting are the painter's own, and cheap; the other operations work
    // on the clip as a path.
    if (op == ClipOp::Replace || op == ClipOp::Intersect) {
        m_painter.setClipPath(
            path, op == ClipOp::Intersect && m_hasClip ? Qt::IntersectClip : Qt::ReplaceClip);
        m_hasClip = true;
        return;
    }
    if (op == ClipOp::Unite && !m_hasClip) {
        return;  // the clip is already everything
    }
    QPainterPath current;
    if (m_hasClip) {
        current = m_painter.clipPath();
    } else {
        current.addRect(QRectF(m_image.rect()));
    }
    if (elementCount(current) + elementCount(path) > kMaxCombinedClipPoints) {
        return;
    }
    QPainterPath combined;
    switch (op) {
        case ClipOp::Unite:
            combined = current.united(path);
            break;
        case ClipOp::Exclude:
            combined = current.subtracted(path);
            break;
        default:  // Xor
            combined = current.united(path).subtracted(current.intersected(path));
            break;
    }
    m_hasClip = true;
    m_painter.setClipPath(combined, Qt::ReplaceClip);
}

}  // namespace render
