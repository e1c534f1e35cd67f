// Regions of whole pixels and the QuickDraw shapes made of them (Inside Macintosh: Imaging With
// QuickDraw, chapter 3: the pen hangs below and to the right of the point it is at, and shapes
// cover the pixels inside their outline).
#include "metafile/qdregion.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "metafile/limits.h"
#include "metafile/metafile.h"
#include "workbook/boundedcursor.h"

namespace metafile::qd {

namespace {

// Steps between looks at the clock: a few milliseconds of work.
constexpr std::size_t kStepsBetweenClockChecks = 1 << 16;

// Mapped coordinates stay far inside int even for hostile scales.
constexpr double kFarAway = 1 << 28;

int roundToPixel(double v) {
    return int(std::clamp(std::floor(v + 0.5), -kFarAway, kFarAway));
}

// The first pixel whose centre lies at or right of x.
int firstPixelFrom(double x) {
    return int(std::clamp(std::ceil(x - 0.5), -kFarAway, kFarAway));
}

// a / b rounded up, b > 0.
std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// a / b rounded half up, b > 0.
std::int64_t roundDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t twice = 2 * a + b;
    const std::int64_t q = twice / (2 * b);
    return (twice % (2 * b) != 0 && twice < 0) ? q - 1 : q;
}

bool inside(bool a, bool b, SetOp op) {
    switch (op) {
        case SetOp::Union:
            return a || b;
        case SetOp::Intersect:
            return a && b;
        case SetOp::Difference:
            return a && !b;
        case SetOp::Xor:
            return a != b;
    }
    return false;
}

// The spans of one row combined; both lists sorted and disjoint.
std::vector<Span> mergeSpans(const Span* a, std::size_t na, const Span* b, std::size_t nb,
                             SetOp op) {
    std::vector<Span> out;
    auto edge = [](const Span* s, std::size_t k) {
        return k % 2 == 0 ? s[k / 2].left : s[k / 2].right;
    };
    std::size_t i = 0, j = 0;
    bool inA = false, inB = false, in = false;
    int start = 0;
    while (i < 2 * na || j < 2 * nb) {
        const int x =
            std::min(i < 2 * na ? edge(a, i) : INT_MAX, j < 2 * nb ? edge(b, j) : INT_MAX);
        while (i < 2 * na && edge(a, i) == x) {
            inA = !inA;
            ++i;
        }
        while (j < 2 * nb && edge(b, j) == x) {
            inB = !inB;
            ++j;
        }
        const bool now = inside(inA, inB, op);
        if (now && !in) {
            start = x;
        } else if (!now && in) {
            out.push_back({start, x});
        }
        in = now;
    }
    return out;
}

Span clipped(Span s, const IntRect& area) {
    return {std::max(s.left, area.left), std::min(s.right, area.right)};
}

// Columns to leave out at each end of row i (counted from the nearer edge) of an oval w x h.
int ovalInset(int i, int w, int h) {
    const double a = w / 2.0, b = h / 2.0;
    const double v = (b - (i + 0.5)) / b;
    if (v <= 0) {
        return 0;
    }
    const double half = a * std::sqrt(std::max(0.0, 1 - v * v));
    return std::max(0, int(std::ceil(a - half - 0.5 - 1e-9)));
}

}  // namespace

RasterBudget::RasterBudget()
    : m_left(kMaxPictRasterSteps),
      m_deadline(std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(kMaxMetafilePlayMillis)) {}

bool RasterBudget::spend(std::size_t steps) {
    if (m_spent || steps > m_left) {
        m_spent = true;
        m_left = 0;
        return false;
    }
    m_left -= steps;
    m_sinceClock += steps;
    if (m_sinceClock >= kStepsBetweenClockChecks) {
        m_sinceClock = 0;
        // A stop asked for ends the work as the time limit does.
        if (std::chrono::steady_clock::now() > m_deadline || PlayStop::requested()) {
            m_spent = m_timedOut = true;
            return false;
        }
    }
    return true;
}

IntRect Region::bounds() const {
    if (m_bands.empty()) {
        return {};
    }
    IntRect r{INT_MAX, m_bands.front().top, INT_MIN, m_bands.back().bottom};
    for (const Band& band : m_bands) {
        r.left = std::min(r.left, spans(band)[0].left);
        r.right = std::max(r.right, spans(band)[band.count - 1].right);
    }
    return r;
}

bool Region::contains(int x, int y) const {
    auto band = std::upper_bound(m_bands.begin(), m_bands.end(), y,
                                 [](int v, const Band& b) { return v < b.bottom; });
    if (band == m_bands.end() || y < band->top) {
        return false;
    }
    const Span* s = spans(*band);
    return std::any_of(s, s + band->count,
                       [&](const Span& p) { return x >= p.left && x < p.right; });
}

Region Region::rect(const IntRect& r) {
    Region region;
    if (!r.empty()) {
        region.m_bands.push_back({r.top, r.bottom, 0, 1});
        region.m_spans.push_back({r.left, r.right});
    }
    return region;
}

Region Region::mapped(double sx, double dx, double sy, double dy, RasterBudget& budget) const {
    RegionBuilder out(budget);
    for (const Band& band : m_bands) {
        std::vector<Span> row;
        row.reserve(band.count);
        for (std::uint32_t k = 0; k < band.count; ++k) {
            const Span s = spans(band)[k];
            row.push_back({roundToPixel(s.left * sx + dx), roundToPixel(s.right * sx + dx)});
        }
        out.add(roundToPixel(band.top * sy + dy), roundToPixel(band.bottom * sy + dy), row);
    }
    return out.finish();
}

PathData Region::path() const {
    std::vector<PathData> one = paths(m_spans.size());
    return one.empty() ? PathData{} : std::move(one.front());
}

std::vector<PathData> Region::paths(std::size_t spansEach) const {
    std::vector<PathData> out;
    std::size_t inLast = spansEach;
    for (const Band& band : m_bands) {
        for (std::uint32_t k = 0; k < band.count; ++k) {
            if (inLast >= spansEach) {
                out.emplace_back();
                inLast = 0;
            }
            PathData& path = out.back();
            const Span s = spans(band)[k];
            path.moveTo({double(s.left), double(band.top)});
            path.lineTo({double(s.right), double(band.top)});
            path.lineTo({double(s.right), double(band.bottom)});
            path.lineTo({double(s.left), double(band.bottom)});
            path.close();
            ++inLast;
        }
    }
    return out;
}

void RegionBuilder::add(int top, int bottom, Span span) {
    m_merged.clear();
    if (span.right > span.left) {
        m_merged.push_back(span);
    }
    addSorted(top, bottom);
}

void RegionBuilder::add(int top, int bottom, const std::vector<Span>& spans) {
    m_merged.clear();
    if (std::is_sorted(spans.begin(), spans.end(),
                       [](const Span& a, const Span& b) { return a.left < b.left; })) {
        for (const Span& s : spans) {
            if (s.right <= s.left) {
                continue;
            }
            if (!m_merged.empty() && s.left <= m_merged.back().right) {
                m_merged.back().right = std::max(m_merged.back().right, s.right);
            } else {
                m_merged.push_back(s);
            }
        }
    } else {
        std::vector<Span> sorted = spans;
        std::sort(sorted.begin(), sorted.end(),
                  [](const Span& a, const Span& b) { return a.left < b.left; });
        add(top, bottom, sorted);
        return;
    }
    addSorted(top, bottom);
}

// Adds m_merged, sorted and disjoint, as the rows top to bottom.
void RegionBuilder::addSorted(int top, int bottom) {
    if (m_budget.spent() || !m_budget.spend(m_merged.size() + 1)) {
        return;
    }
    auto& bands = m_region.m_bands;
    if (!bands.empty()) {
        top = std::max(top, bands.back().bottom);
    }
    if (top >= bottom || m_merged.empty()) {
        return;
    }
    auto& kept = m_region.m_spans;
    if (!bands.empty() && bands.back().bottom == top && bands.back().count == m_merged.size() &&
        std::equal(m_merged.begin(), m_merged.end(), kept.begin() + bands.back().first)) {
        bands.back().bottom = bottom;
        return;
    }
    if (kept.size() + m_merged.size() > kMaxPictRegionSpans) {
        m_budget.spend(kMaxPictRasterSteps + 1);
        return;
    }
    bands.push_back({top, bottom, std::uint32_t(kept.size()), std::uint32_t(m_merged.size())});
    kept.insert(kept.end(), m_merged.begin(), m_merged.end());
}

Region RegionBuilder::finish() {
    if (m_budget.spent()) {
        return {};
    }
    return std::move(m_region);
}

Region combine(const Region& a, const Region& b, SetOp op, RasterBudget& budget) {
    std::vector<int> edges;
    edges.reserve(2 * (a.bands().size() + b.bands().size()));
    for (const Region* r : {&a, &b}) {
        for (const Region::Band& band : r->bands()) {
            edges.push_back(band.top);
            edges.push_back(band.bottom);
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    RegionBuilder out(budget);
    std::size_t ia = 0, ib = 0;
    const auto& ba = a.bands();
    const auto& bb = b.bands();
    for (std::size_t k = 0; k + 1 < edges.size() && !budget.spent(); ++k) {
        const int y = edges[k];
        while (ia < ba.size() && ba[ia].bottom <= y) {
            ++ia;
        }
        while (ib < bb.size() && bb[ib].bottom <= y) {
            ++ib;
        }
        const bool hasA = ia < ba.size() && ba[ia].top <= y;
        const bool hasB = ib < bb.size() && bb[ib].top <= y;
        const std::size_t na = hasA ? ba[ia].count : 0, nb = hasB ? bb[ib].count : 0;
        if (!budget.spend(na + nb)) {
            break;
        }
        out.add(y, edges[k + 1],
                mergeSpans(hasA ? a.spans(ba[ia]) : nullptr, na, hasB ? b.spans(bb[ib]) : nullptr,
                           nb, op));
    }
    return out.finish();
}

Region ovalRegion(const IntRect& r, const IntRect& area, RasterBudget& budget) {
    RegionBuilder out(budget);
    if (r.empty()) {
        return {};
    }
    for (int y = std::max(r.top, area.top); y < std::min(r.bottom, area.bottom); ++y) {
        const int inset = ovalInset(std::min(y - r.top, r.bottom - 1 - y), r.width(), r.height());
        out.add(y, y + 1, clipped({r.left + inset, r.right - inset}, area));
    }
    return out.finish();
}

Region roundRectRegion(const IntRect& r, int ovalWidth, int ovalHeight, const IntRect& area,
                       RasterBudget& budget) {
    if (r.empty()) {
        return {};
    }
    const int w = std::min(ovalWidth, r.width()), h = std::min(ovalHeight, r.height());
    RegionBuilder out(budget);
    for (int y = std::max(r.top, area.top); y < std::min(r.bottom, area.bottom); ++y) {
        const int i = std::min(y - r.top, r.bottom - 1 - y);
        const int inset = w > 0 && h > 0 && i < (h + 1) / 2 ? ovalInset(i, w, h) : 0;
        out.add(y, y + 1, clipped({r.left + inset, r.right - inset}, area));
    }
    return out.finish();
}

Region wedgeOf(const Region& shape, const IntRect& oval, int startAngle, int arcAngle,
               RasterBudget& budget) {
    if (arcAngle == 0 || oval.empty()) {
        return {};
    }
    if (std::abs(arcAngle) >= 360) {
        return shape;
    }
    if (arcAngle < 0) {
        startAngle += arcAngle;
        arcAngle = -arcAngle;
    }
    startAngle = ((startAngle % 360) + 360) % 360;
    const double cx = (oval.left + oval.right) / 2.0, cy = (oval.top + oval.bottom) / 2.0;
    const double a = oval.width() / 2.0, b = oval.height() / 2.0;
    auto inWedge = [&](int x, int y) {
        const double u = (x + 0.5 - cx) / a, v = (y + 0.5 - cy) / b;
        double angle = std::atan2(u, -v) * 180 / M_PI;
        if (angle < 0) {
            angle += 360;
        }
        const double d = std::fmod(angle - startAngle + 720, 360.0);
        return d <= arcAngle + 1e-9;
    };
    // Along one row the angle moves one way, so whether a pixel is in the wedge changes only
    // where the row meets the wedge's two edges, or passes the centre.
    struct Edge {
        double sine, cosine;
    };
    const Edge edges[2] = {{std::sin(startAngle * M_PI / 180), std::cos(startAngle * M_PI / 180)},
                           {std::sin((startAngle + arcAngle) * M_PI / 180),
                            std::cos((startAngle + arcAngle) * M_PI / 180)}};
    std::vector<int> cuts;
    auto cutsOf = [&](int y) {
        cuts.clear();
        const double v = (y + 0.5 - cy) / b;
        for (const Edge& e : edges) {
            if (std::fabs(e.cosine) > 1e-12 && -v / e.cosine >= 0) {
                cuts.push_back(firstPixelFrom(cx + e.sine * (-v / e.cosine) * a));
            }
        }
        cuts.push_back(firstPixelFrom(cx));
        std::sort(cuts.begin(), cuts.end());
    };
    RegionBuilder out(budget);
    std::vector<Span> row;
    for (const Region::Band& band : shape.bands()) {
        for (int y = band.top; y < band.bottom; ++y) {
            if (!budget.spend(band.count)) {
                return {};
            }
            cutsOf(y);
            row.clear();
            for (std::uint32_t k = 0; k < band.count; ++k) {
                const Span s = shape.spans(band)[k];
                int from = s.left;
                for (std::size_t c = 0; c <= cuts.size(); ++c) {
                    const int to = c < cuts.size() ? std::clamp(cuts[c], from, s.right) : s.right;
                    if (to > from && inWedge(from, y)) {
                        row.push_back({from, to});
                    }
                    from = std::max(from, to);
                }
            }
            out.add(y, y + 1, row);
        }
    }
    return out.finish();
}

Region polygonRegion(const std::vector<PointF>& points, const IntRect& area, RasterBudget& budget) {
    struct Edge {
        double top, bottom, x, slope;
    };
    std::vector<Edge> edges;
    double top = kFarAway, bottom = -kFarAway;
    for (std::size_t i = 0; i < points.size(); ++i) {
        PointF p = points[i], q = points[(i + 1) % points.size()];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(q.x) ||
            !std::isfinite(q.y)) {
            return {};
        }
        if (p.y == q.y) {
            continue;
        }
        if (p.y > q.y) {
            std::swap(p, q);
        }
        edges.push_back({p.y, q.y, p.x, (q.x - p.x) / (q.y - p.y)});
        top = std::min(top, p.y);
        bottom = std::max(bottom, q.y);
    }
    if (edges.size() < 2 || !budget.spend(edges.size())) {
        return {};
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& e, const Edge& f) { return e.top < f.top; });
    RegionBuilder out(budget);
    // The edges crossing the row, kept in order of where they cross it: from one row to the
    // next that order barely changes, so an insertion sort keeps it in little more than a pass.
    struct Crossing {
        const Edge* edge;
        double x;
    };
    std::vector<Crossing> active;
    std::vector<Span> row;
    std::size_t next = 0;
    const int first = std::max(area.top, int(std::clamp(std::floor(top), -kFarAway, kFarAway)));
    const int last = std::min(area.bottom, int(std::clamp(std::ceil(bottom), -kFarAway, kFarAway)));
    for (int y = first; y < last; ++y) {
        const double centre = y + 0.5;
        while (next < edges.size() && edges[next].top <= centre) {
            active.push_back({&edges[next++], 0});
        }
        std::erase_if(active, [&](const Crossing& c) { return c.edge->bottom <= centre; });
        std::size_t moves = 0;
        for (std::size_t i = 0; i < active.size(); ++i) {
            Crossing c = active[i];
            c.x = c.edge->x + (centre - c.edge->top) * c.edge->slope;
            std::size_t j = i;
            for (; j > 0 && active[j - 1].x > c.x; --j) {
                active[j] = active[j - 1];
            }
            moves += i - j;
            active[j] = c;
        }
        if (!budget.spend(active.size() + moves + 1)) {
            return {};
        }
        row.clear();
        for (std::size_t k = 0; k + 1 < active.size(); k += 2) {
            row.push_back(
                clipped({firstPixelFrom(active[k].x), firstPixelFrom(active[k + 1].x)}, area));
        }
        out.add(y, y + 1, row);
    }
    return out.finish();
}

Region lineRegion(int ax, int ay, int bx, int by, int penWidth, int penHeight, const IntRect& area,
                  RasterBudget& budget) {
    if (penWidth <= 0 || penHeight <= 0 || area.empty()) {
        return {};
    }
    // Pens taller or wider than the picture cover the same pixels of it as one just that size.
    penWidth = std::min(penWidth, area.width() + 1);
    penHeight = std::min(penHeight, area.height() + 1);
    if (ay > by) {
        std::swap(ax, bx);
        std::swap(ay, by);
    }
    const std::int64_t dx = std::int64_t(bx) - ax, dy = std::int64_t(by) - ay;
    const std::int64_t steps = std::max(std::abs(dx), dy);
    // The pen's positions along the line, one per step of the longer axis: the first and last
    // column at each row the line passes, kept for the rows that can reach the picture.
    const std::int64_t low = std::max<std::int64_t>(ay, std::int64_t(area.top) - penHeight + 1);
    const std::int64_t high = std::min<std::int64_t>(by, area.bottom - 1);
    if (low > high || !budget.spend(std::size_t(high - low + 1))) {
        return {};
    }
    std::vector<int> first(std::size_t(high - low + 1)), last(first.size());
    const std::int64_t sign = dx < 0 ? -1 : 1, run = std::abs(dx);
    for (std::int64_t y = low; y <= high; ++y) {
        const std::int64_t m = y - ay;
        std::int64_t k0 = m, k1 = m;
        if (run >= dy && dy > 0) {
            // The steps whose row, rounded, is m.
            k0 = std::max<std::int64_t>(0, ceilDiv(steps * (2 * m - 1), 2 * dy));
            k1 = std::min<std::int64_t>(steps, ceilDiv(steps * (2 * m + 1), 2 * dy) - 1);
        } else if (run >= dy) {
            k0 = 0;
            k1 = steps;
        }
        std::int64_t x0 = ax + sign * k0, x1 = ax + sign * k1;
        if (run < dy) {
            x0 = x1 = ax + sign * roundDiv(m * run, dy);
        }
        first[std::size_t(y - low)] = int(std::min(x0, x1));
        last[std::size_t(y - low)] = int(std::max(x0, x1));
    }
    // Each row takes every pen position from penHeight - 1 rows above it down to itself; the
    // columns move one way along a line, so the ends of that range give its extent.
    RegionBuilder out(budget);
    const std::int64_t rowFrom = std::max<std::int64_t>(ay, area.top);
    const std::int64_t rowTo = std::min<std::int64_t>(std::int64_t(by) + penHeight, area.bottom);
    for (std::int64_t y = rowFrom; y < rowTo; ++y) {
        const std::int64_t a = std::max<std::int64_t>(y - penHeight + 1, ay) - low;
        const std::int64_t b = std::min<std::int64_t>(y, by) - low;
        if (a < 0 || b < a || b >= std::int64_t(first.size())) {
            continue;
        }
        const int left = std::min(first[std::size_t(a)], first[std::size_t(b)]);
        const int right = std::max(last[std::size_t(a)], last[std::size_t(b)]) + penWidth;
        out.add(int(y), int(y) + 1, clipped({left, right}, area));
    }
    return out.finish();
}

Region insetRegion(const Region& region, int dh, int dv, RasterBudget& budget) {
    dh = std::max(dh, 0);
    dv = std::max(dv, 0);
    // Narrowed first, row by row.
    RegionBuilder narrow(budget);
    for (const Region::Band& band : region.bands()) {
        std::vector<Span> row;
        for (std::uint32_t k = 0; k < band.count; ++k) {
            const Span s = region.spans(band)[k];
            if (std::int64_t(s.right) - s.left > 2 * std::int64_t(dh)) {
                row.push_back({s.left + dh, s.right - dh});
            }
        }
        narrow.add(band.top, band.bottom, row);
    }
    const Region h = narrow.finish();
    if (dv == 0) {
        return h;
    }
    // Then a row keeps what every row within dv of it holds. What rows see changes only where
    // a band's edge comes within dv.
    std::vector<int> edges;
    for (const Region::Band& band : h.bands()) {
        for (int e : {band.top, band.bottom}) {
            edges.push_back(e - dv);
            edges.push_back(e + dv);
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    const auto& bands = h.bands();
    RegionBuilder out(budget);
    std::size_t from = 0;
    for (std::size_t k = 0; k + 1 < edges.size() && !budget.spent(); ++k) {
        const std::int64_t y = edges[k];
        const std::int64_t windowTop = y - dv, windowBottom = y + dv + 1;
        while (from < bands.size() && bands[from].bottom <= windowTop) {
            ++from;
        }
        if (from == bands.size() || bands[from].top > windowTop) {
            continue;
        }
        std::vector<Span> row(h.spans(bands[from]), h.spans(bands[from]) + bands[from].count);
        std::size_t i = from;
        bool whole = true;
        while (bands[i].bottom < windowBottom) {
            if (i + 1 == bands.size() || bands[i + 1].top != bands[i].bottom) {
                whole = false;
                break;
            }
            ++i;
            if (!budget.spend(row.size() + bands[i].count)) {
                return {};
            }
            row = mergeSpans(row.data(), row.size(), h.spans(bands[i]), bands[i].count,
                             SetOp::Intersect);
        }
        if (whole) {
            out.add(int(y), edges[k + 1], row);
        }
    }
    return out.finish();
}

bool readRegion(const std::uint8_t* data, std::size_t size, Region& out, RasterBudget& budget) {
    workbook::BoundedCursor c(data, size);
    const std::size_t regionSize = c.u16be();
    IntRect box;
    box.top = c.i16be();
    box.left = c.i16be();
    box.bottom = c.i16be();
    box.right = c.i16be();
    if (c.failed() || regionSize < 10 || regionSize > size) {
        return false;
    }
    if (regionSize == 10) {
        out = Region::rect(box);
        return true;
    }
    // Rows of inversion points: a pixel lies inside when an odd number of points lie at or
    // above and left of it. Each row flips the columns it lists from the row before.
    workbook::BoundedCursor rows(data + 10, regionSize - 10);
    RegionBuilder builder(budget);
    std::vector<int> active, flips, merged;
    int lastY = INT_MIN;
    for (;;) {
        const int y = rows.i16be();
        if (rows.failed()) {
            return false;
        }
        if (y == 0x7FFF) {
            break;
        }
        if (y < lastY) {
            return false;
        }
        flips.clear();
        for (;;) {
            const int x = rows.i16be();
            if (rows.failed()) {
                return false;
            }
            if (x == 0x7FFF) {
                break;
            }
            flips.push_back(x);
        }
        if (lastY != INT_MIN) {
            std::vector<Span> spans;
            for (std::size_t k = 0; k + 1 < active.size(); k += 2) {
                spans.push_back({active[k], active[k + 1]});
            }
            builder.add(lastY, y, spans);
        }
        if (!budget.spend(active.size() + flips.size())) {
            return false;
        }
        std::sort(flips.begin(), flips.end());
        merged.clear();
        std::set_symmetric_difference(active.begin(), active.end(), flips.begin(), flips.end(),
                                      std::back_inserter(merged));
        active.swap(merged);
        lastY = y;
    }
    out = builder.finish();
    return !budget.spent();
}

}  // namespace metafile::qd
