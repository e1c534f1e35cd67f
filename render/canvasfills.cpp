#include "render/canvasfills.h"

#include <QBuffer>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "render/qtcanvas.h"
#include "workbook/bitmapinfo.h"
#include "workbook/limits.h"

namespace render {

namespace {

using metafile::GradientStop;

// Points of a path gradient's boundary that are shaded; real ones are flattened curves of a
// few hundred.
constexpr std::size_t kMaxGradientBoundaryPoints = 16'384;

// Stops Qt takes: positions within 0..1, ascending, at least one.
QGradientStops qtStops(const std::vector<GradientStop>& stops) {
    QGradientStops out;
    double last = 0;
    for (const GradientStop& s : stops) {
        const double at = std::isfinite(s.position) ? std::clamp(s.position, last, 1.0) : last;
        out.append({at, colourOf(s.colour, s.alpha)});
        last = at;
    }
    if (out.isEmpty()) {
        out.append({0.0, QColor(Qt::black)});
    }
    return out;
}

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

Rgba rgbaOf(const GradientStop& s) {
    return {double(s.colour.r), double(s.colour.g), double(s.colour.b), double(s.alpha)};
}

Rgba mixed(const Rgba& x, const Rgba& y, double t) {
    return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t,
            x.a + (y.a - x.a) * t};
}

// The colour of a ramp of stops at t, the end colours carried on beyond them.
Rgba rampAt(const std::vector<GradientStop>& stops, double t) {
    if (stops.empty()) {
        return {};
    }
    if (t <= stops.front().position) {
        return rgbaOf(stops.front());
    }
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].position) {
            const double span = stops[i].position - stops[i - 1].position;
            const double f = span > 0 ? (t - stops[i - 1].position) / span : 1;
            return mixed(rgbaOf(stops[i - 1]), rgbaOf(stops[i]), f);
        }
    }
    return rgbaOf(stops.back());
}

// A blend curve, piecewise linear through its (position, factor) points; t itself when empty.
double blendAt(const std::vector<std::pair<double, double>>& blend, double t) {
    if (blend.empty()) {
        return t;
    }
    if (t <= blend.front().first) {
        return blend.front().second;
    }
    for (std::size_t i = 1; i < blend.size(); ++i) {
        if (t <= blend[i].first) {
            const double span = blend[i].first - blend[i - 1].first;
            const double f = span > 0 ? (t - blend[i - 1].first) / span : 1;
            return blend[i - 1].second + (blend[i].second - blend[i - 1].second) * f;
        }
    }
    return blend.back().second;
}

QRgb premultiplied(const Rgba& c) {
    const auto channel = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
    return qPremultiply(qRgba(channel(c.r), channel(c.g), channel(c.b), channel(c.a)));
}

bool finite(const QPointF& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Fills the pixels of the layer whose centres lie in the triangle with colourAt(weights), the
// weights those of the three corners at the pixel's centre. Rows are scanned between the
// edges, so the work is the triangle's rows and pixels, however thin it is.
template <typename ColourAt>
void shadeTriangle(QImage& layer, const QPoint& origin, const QPointF (&p)[3],
                   const ColourAt& colourAt) {
    if (!finite(p[0]) || !finite(p[1]) || !finite(p[2])) {
        return;
    }
    const double det = (p[1].x() - p[0].x()) * (p[2].y() - p[0].y()) -
                       (p[2].x() - p[0].x()) * (p[1].y() - p[0].y());
    if (std::fabs(det) < 1e-12) {
        return;
    }
    const double top = std::min({p[0].y(), p[1].y(), p[2].y()});
    const double bottom = std::max({p[0].y(), p[1].y(), p[2].y()});
    const int y0 = std::max(origin.y(), int(std::ceil(top - 0.5)));
    const int y1 = std::min(origin.y() + layer.height(), int(std::ceil(bottom - 0.5)));
    for (int y = y0; y < y1; ++y) {
        const double cy = y + 0.5;
        double left = INFINITY, right = -INFINITY;
        for (int e = 0; e < 3; ++e) {
            const QPointF& a = p[e];
            const QPointF& b = p[(e + 1) % 3];
            if ((a.y() <= cy && b.y() > cy) || (b.y() <= cy && a.y() > cy)) {
                const double x = a.x() + (cy - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        if (!(left < right)) {
            continue;
        }
        const int x0 = std::max(origin.x(), int(std::ceil(left - 0.5)));
        const int x1 = std::min(origin.x() + layer.width(), int(std::ceil(right - 0.5)));
        auto* line = reinterpret_cast<QRgb*>(layer.scanLine(y - origin.y()));
        for (int x = x0; x < x1; ++x) {
            const double cx = x + 0.5;
            const double w1 = ((cx - p[0].x()) * (p[2].y() - p[0].y()) -
                               (p[2].x() - p[0].x()) * (cy - p[0].y())) /
                              det;
            const double w2 = ((p[1].x() - p[0].x()) * (cy - p[0].y()) -
                               (cx - p[0].x()) * (p[1].y() - p[0].y())) /
                              det;
            const double c1 = std::clamp(w1, 0.0, 1.0), c2 = std::clamp(w2, 0.0, 1.0);
            const double c0 = std::max(0.0, 1 - c1 - c2);
            line[x - origin.x()] = colourAt(c0, c1, c2);
        }
    }
}

QImage transparentLayer(const QRect& area) {
    if (area.isEmpty() || qint64(area.width()) * area.height() > workbook::kMaxPicturePixels) {
        return {};
    }
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (!layer.isNull()) {
        layer.fill(Qt::transparent);
    }
    return layer;
}

// A tile that repeats with every other copy mirrored across, as a texture's flip modes ask.
QImage flippedTile(const QImage& image, bool flipX, bool flipY) {
    const int w = image.width(), h = image.height();
    QImage tile(flipX ? 2 * w : w, flipY ? 2 * h : h, QImage::Format_ARGB32_Premultiplied);
    if (tile.isNull()) {
        return image;
    }
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    p.drawImage(0, 0, image);
    if (flipX) {
        p.drawImage(w, 0, image.mirrored(true, false));
    }
    if (flipY) {
        p.drawImage(0, h, image.mirrored(false, true));
    }
    if (flipX && flipY) {
        p.drawImage(w, h, image.mirrored(true, true));
    }
    return tile;
}

QImage monoTile(const metafile::MonoPattern& pattern) {
    const int w = pattern.width, h = pattern.height;
    const std::size_t stride = std::size_t(w + 7) / 8;
    if (w <= 0 || h <= 0 || w > workbook::kMaxBitmapSide || h > workbook::kMaxBitmapSide ||
        pattern.bits.size() < stride * std::size_t(h)) {
        return {};
    }
    QImage tile(w, h, QImage::Format_ARGB32);
    const QRgb fore = colourOf(pattern.foreground).rgba();
    const QRgb back = pattern.transparentBackground ? 0 : colourOf(pattern.background).rgba();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(tile.scanLine(y));
        const std::uint8_t* row = pattern.bits.data() + stride * std::size_t(y);
        for (int x = 0; x < w; ++x) {
            line[x] = (row[x / 8] & (0x80 >> (x % 8))) != 0 ? fore : back;
        }
    }
    return tile;
}

// Encoded image bytes as pixels, refused past the picture limit.
QImage decodedImage(const std::vector<std::uint8_t>& encoded) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(encoded.data()),
                                               qsizetype(encoded.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > workbook::kMaxPicturePixels) {
        return {};
    }
    QImage image;
    reader.read(&image);
    return image;
}

}  // namespace

QColor colourOf(metafile::Rgb c, std::uint8_t alpha) {
    return QColor(c.r, c.g, c.b, alpha);
}

QTransform transformOf(const metafile::Affine& m) {
    return QTransform(m.a, m.b, m.c, m.d, m.e, m.f);
}

QImage imageOf(const metafile::ImageSource& source) {
    if (source.pixels) {
        const int w = source.pixelsWidth, h = source.pixelsHeight;
        if (w <= 0 || h <= 0 || source.pixels->size() != std::size_t(w) * std::size_t(h)) {
            return {};
        }
        return QImage(reinterpret_cast<const uchar*>(source.pixels->data()), w, h, qsizetype(w) * 4,
                      QImage::Format_ARGB32)
            .copy();
    }
    if (source.dib) {
        const auto& dib = *source.dib;
        auto info = workbook::readBitmapInfo(dib.data(), dib.size());
        if (!info || info->headerBytes > dib.size()) {
            return {};
        }
        return imageFromDib(dib.data(), info->headerBytes, dib.data() + info->headerBytes,
                            dib.size() - info->headerBytes);
    }
    if (source.encoded) {
        // A metafile draws one image many times over (a texture on every fill, the same
        // picture in many places): the last few are kept decoded, with the bytes they came
        // from, on the thread that draws.
        thread_local std::vector<
            std::pair<std::shared_ptr<const std::vector<std::uint8_t>>, QImage>>
            decoded;
        for (const auto& [kept, image] : decoded) {
            if (kept == source.encoded) {
                return image;
            }
        }
        QImage image = decodedImage(*source.encoded);
        // Small ones only: what is kept stays until other images push it out.
        constexpr std::size_t kKeptImages = 4;
        constexpr qsizetype kMaxKeptBytes = 16 << 20;
        if (image.sizeInBytes() <= kMaxKeptBytes &&
            source.encoded->size() <= std::size_t(kMaxKeptBytes)) {
            if (decoded.size() >= kKeptImages) {
                decoded.erase(decoded.begin());
            }
            decoded.emplace_back(source.encoded, image);
        }
        return image;
    }
    return {};
}

QBrush brushOf(const metafile::BrushStyle& style) {
    using metafile::BrushStyle;
    QBrush brush;
    if (style.texture) {
        const QImage image = imageOf(*style.texture);
        if (!image.isNull()) {
            const bool flipX =
                style.wrap == BrushStyle::Wrap::FlipX || style.wrap == BrushStyle::Wrap::FlipXY;
            const bool flipY =
                style.wrap == BrushStyle::Wrap::FlipY || style.wrap == BrushStyle::Wrap::FlipXY;
            brush = QBrush(flipX || flipY ? flippedTile(image, flipX, flipY) : image);
            brush.setTransform(transformOf(style.transform));
            return brush;
        }
    }
    if (style.gradient && style.gradient->kind == metafile::Gradient::Kind::Linear) {
        const metafile::Gradient& g = *style.gradient;
        QLinearGradient linear(QPointF(g.start.x, g.start.y), QPointF(g.end.x, g.end.y));
        linear.setStops(qtStops(g.stops));
        linear.setSpread(g.spread == metafile::Gradient::Spread::Repeat ? QGradient::RepeatSpread
                         : g.spread == metafile::Gradient::Spread::Reflect
                             ? QGradient::ReflectSpread
                             : QGradient::PadSpread);
        brush = QBrush(linear);
        brush.setTransform(transformOf(style.transform));
        return brush;
    }
    if (style.monoPattern) {
        const QImage tile = monoTile(*style.monoPattern);
        if (!tile.isNull()) {
            brush = QBrush(tile);
            brush.setTransform(transformOf(style.transform));
            return brush;
        }
    }
    if (style.pattern) {
        const auto& dib = *style.pattern;
        auto info = workbook::readBitmapInfo(dib.data(), dib.size());
        QImage tile =
            info && info->headerBytes <= dib.size()
                ? imageFromDib(dib.data(), info->headerBytes, dib.data() + info->headerBytes,
                               dib.size() - info->headerBytes)
                : QImage();
        if (!tile.isNull()) {
            return QBrush(tile);
        }
    }
    if (style.hatch != BrushStyle::Hatch::None) {
        static const Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                  Qt::FDiagPattern, Qt::BDiagPattern,
                                                  Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(colourOf(style.colour, style.alpha), kHatches[int(style.hatch)]);
    }
    return QBrush(colourOf(style.colour, style.alpha));
}

QImage pathGradientLayer(const metafile::Gradient& g, const metafile::Affine& transform,
                         const QRect& area, const KeepGoing& keepGoing) {
    QImage layer = transparentLayer(area);
    const std::size_t n = std::min(g.boundary.size(), kMaxGradientBoundaryPoints);
    if (layer.isNull() || n < 2) {
        return layer;
    }
    const QTransform m = transformOf(transform);
    const QPointF centre = m.map(QPointF(g.centre.x, g.centre.y));
    const Rgba centreColour = rgbaOf(g.centreColour);
    auto boundaryColour = [&](std::size_t i) {
        if (g.boundaryColours.empty()) {
            return centreColour;
        }
        return rgbaOf(g.boundaryColours[std::min(i, g.boundaryColours.size() - 1)]);
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 64 == 0 && !keepGoing()) {
            break;
        }
        const std::size_t j = (i + 1) % n;
        const QPointF corners[3] = {centre, m.map(QPointF(g.boundary[i].x, g.boundary[i].y)),
                                    m.map(QPointF(g.boundary[j].x, g.boundary[j].y))};
        const Rgba from = boundaryColour(i), to = boundaryColour(j);
        shadeTriangle(layer, area.topLeft(), corners, [&](double wc, double wi, double wj) {
            // wc runs from the boundary (0) to the centre (1).
            if (!g.stops.empty()) {
                return premultiplied(rampAt(g.stops, wc));
            }
            const double along = wi + wj > 0 ? wj / (wi + wj) : 0;
            return premultiplied(mixed(mixed(from, to, along), centreColour, blendAt(g.blend, wc)));
        });
    }
    return layer;
}

QImage shadedTrianglesLayer(const std::vector<metafile::ShadedVertex>& vertices, const QRect& area,
                            const KeepGoing& keepGoing) {
    QImage layer = transparentLayer(area);
    if (layer.isNull()) {
        return layer;
    }
    for (std::size_t i = 0; i + 2 < vertices.size(); i += 3) {
        if (i % 192 == 0 && !keepGoing()) {
            break;
        }
        QPointF corners[3];
        Rgba colours[3];
        for (int k = 0; k < 3; ++k) {
            const metafile::ShadedVertex& v = vertices[i + std::size_t(k)];
            corners[k] = QPointF(v.at.x, v.at.y);
            colours[k] = {double(v.colour.r), double(v.colour.g), double(v.colour.b),
                          double(v.alpha)};
        }
        shadeTriangle(layer, area.topLeft(), corners, [&](double w0, double w1, double w2) {
            return premultiplied({colours[0].r * w0 + colours[1].r * w1 + colours[2].r * w2,
                                  colours[0].g * w0 + colours[1].g * w1 + colours[2].g * w2,
                                  colours[0].b * w0 + colours[1].b * w1 + colours[2].b * w2,
                                  colours[0].a * w0 + colours[1].a * w1 + colours[2].a * w2});
        });
    }
    return layer;
}

}  // namespace render
