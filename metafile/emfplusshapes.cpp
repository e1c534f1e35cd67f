// The shapes GDI+ draws, as paths in world units: rectangles, ellipses and their arcs and pies,
// polygons, Bézier chains and cardinal splines.
#include <algorithm>
#include <cmath>

#include "metafile/emfplusplayer.h"

namespace metafile::emfplus {

namespace {

constexpr double kPi = 3.14159265358979323846;

void add(Path& path, PointF p, std::uint8_t type) {
    path.points.push_back(p);
    path.types.push_back(type);
}

void closeFigure(Path& path) {
    if (!path.types.empty()) {
        path.types.back() |= kPointClose;
    }
}

// Cubic segments along an ellipse from parameter t0 through sweep (radians), the first point
// already in the path.
void appendEllipseArc(Path& path, PointF c, double rx, double ry, double t0, double sweep) {
    const int pieces = std::max(1, int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
    const double step = sweep / pieces;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    double t = t0;
    for (int i = 0; i < pieces; ++i) {
        const double c0 = std::cos(t), s0 = std::sin(t);
        const double c1 = std::cos(t + step), s1 = std::sin(t + step);
        add(path, {c.x + rx * (c0 - k * s0), c.y + ry * (s0 + k * c0)}, kPointBezier);
        add(path, {c.x + rx * (c1 + k * s1), c.y + ry * (s1 - k * c1)}, kPointBezier);
        add(path, {c.x + rx * c1, c.y + ry * s1}, kPointBezier);
        t += step;
    }
}

// GDI+ measures arc angles on the ellipse as drawn; the parameter of the point at that angle.
double parameterOf(double angle, double rx, double ry) {
    return std::atan2(rx * std::sin(angle), ry * std::cos(angle));
}

// The Bézier control points of a cardinal spline segment from p1 to p2: GDI+ pulls each along
// the line through its neighbours by three tenths of the tension.
void splineControls(PointF p0, PointF p1, PointF p2, PointF p3, double tension, PointF& c1,
                    PointF& c2) {
    const double t = tension * 0.3;
    c1 = {p1.x + t * (p2.x - p0.x), p1.y + t * (p2.y - p0.y)};
    c2 = {p2.x - t * (p3.x - p1.x), p2.y - t * (p3.y - p1.y)};
}

}  // namespace

Path rectanglePath(const RectF& r) {
    Path path;
    add(path, {r.x, r.y}, kPointStart);
    add(path, {r.x + r.width, r.y}, kPointLine);
    add(path, {r.x + r.width, r.y + r.height}, kPointLine);
    add(path, {r.x, r.y + r.height}, kPointLine);
    closeFigure(path);
    return path;
}

Path ellipsePath(const RectF& r) {
    Path path;
    const PointF c{r.x + r.width / 2, r.y + r.height / 2};
    add(path, {c.x + r.width / 2, c.y}, kPointStart);
    appendEllipseArc(path, c, r.width / 2, r.height / 2, 0, 2 * kPi);
    closeFigure(path);
    return path;
}

Path arcPath(const RectF& r, double startAngle, double sweepAngle, bool pie) {
    Path path;
    const double rx = r.width / 2, ry = r.height / 2;
    const PointF c{r.x + rx, r.y + ry};
    if (!std::isfinite(startAngle) || !std::isfinite(sweepAngle)) {
        return path;
    }
    sweepAngle = std::clamp(sweepAngle, -360.0, 360.0);
    const double a0 = startAngle * kPi / 180;
    double t0 = parameterOf(a0, rx, ry);
    double sweep;
    if (std::fabs(sweepAngle) >= 360) {
        sweep = sweepAngle > 0 ? 2 * kPi : -2 * kPi;
    } else {
        // The end's parameter, reached turning the way the sweep turns.
        const double t1 = parameterOf(a0 + sweepAngle * kPi / 180, rx, ry);
        sweep = t1 - t0;
        if (sweepAngle > 0) {
            while (sweep < 0) {
                sweep += 2 * kPi;
            }
        } else {
            while (sweep > 0) {
                sweep -= 2 * kPi;
            }
        }
    }
    if (pie) {
        add(path, c, kPointStart);
        add(path, {c.x + rx * std::cos(t0), c.y + ry * std::sin(t0)}, kPointLine);
    } else {
        add(path, {c.x + rx * std::cos(t0), c.y + ry * std::sin(t0)}, kPointStart);
    }
    if (sweep != 0) {
        appendEllipseArc(path, c, rx, ry, t0, sweep);
    }
    if (pie) {
        closeFigure(path);
    }
    return path;
}

Path polygonPath(const std::vector<PointF>& points, bool closed) {
    Path path;
    for (std::size_t i = 0; i < points.size(); ++i) {
        add(path, points[i], i == 0 ? kPointStart : kPointLine);
    }
    if (closed) {
        closeFigure(path);
    }
    return path;
}

Path bezierPath(const std::vector<PointF>& points) {
    Path path;
    if (points.empty()) {
        return path;
    }
    add(path, points[0], kPointStart);
    for (std::size_t i = 1; i + 2 < points.size(); i += 3) {
        add(path, points[i], kPointBezier);
        add(path, points[i + 1], kPointBezier);
        add(path, points[i + 2], kPointBezier);
    }
    return path;
}

Path curvePath(const std::vector<PointF>& points, double tension, std::size_t offset,
               std::size_t segments, bool closed) {
    Path path;
    const std::size_t n = points.size();
    if (n < 2 || !std::isfinite(tension)) {
        return path;
    }
    auto at = [&](std::ptrdiff_t i) -> PointF {
        if (closed) {
            return points[std::size_t((i % std::ptrdiff_t(n) + std::ptrdiff_t(n)) %
                                      std::ptrdiff_t(n))];
        }
        // An open curve's ends pull toward their one neighbour.
        return points[std::size_t(std::clamp<std::ptrdiff_t>(i, 0, std::ptrdiff_t(n) - 1))];
    };
    const std::size_t total = closed ? n : n - 1;
    if (closed) {
        offset = 0;
        segments = total;
    }
    if (offset >= total) {
        return path;
    }
    segments = std::min(segments, total - offset);
    add(path, at(std::ptrdiff_t(offset)), kPointStart);
    for (std::size_t s = offset; s < offset + segments; ++s) {
        const auto i = std::ptrdiff_t(s);
        PointF c1, c2;
        splineControls(at(i - 1), at(i), at(i + 1), at(i + 2), tension, c1, c2);
        add(path, c1, kPointBezier);
        add(path, c2, kPointBezier);
        add(path, at(i + 1), kPointBezier);
    }
    if (closed) {
        closeFigure(path);
    }
    return path;
}

}  // namespace metafile::emfplus
