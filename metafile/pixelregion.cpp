#include "metafile/pixelregion.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

using Span = PixelRegion::Span;

// The runs where op holds of being in a and being in b.
template <typename Holds>
std::vector<Span> combineSpans(const std::vector<Span>& a, const std::vector<Span>& b,
                               const Holds& holds) {
    std::vector<Span> out;
    std::size_t i = 0, j = 0;
    bool inA = false, inB = false;
    int start = 0;
    bool open = false;
    while (i < 2 * a.size() || j < 2 * b.size()) {
        // The next edge of either list: a span's left, then its right.
        const int xa = i < 2 * a.size() ? (i % 2 == 0 ? a[i / 2].left : a[i / 2].right) : 0;
        const int xb = j < 2 * b.size() ? (j % 2 == 0 ? b[j / 2].left : b[j / 2].right) : 0;
        const bool takeA = j >= 2 * b.size() || (i < 2 * a.size() && xa <= xb);
        const int x = takeA ? xa : xb;
        // Every edge at x moves before the result is looked at.
        while (i < 2 * a.size() && (i % 2 == 0 ? a[i / 2].left : a[i / 2].right) == x) {
            inA = i % 2 == 0;
            ++i;
        }
        while (j < 2 * b.size() && (j % 2 == 0 ? b[j / 2].left : b[j / 2].right) == x) {
            inB = j % 2 == 0;
            ++j;
        }
        const bool now = holds(inA, inB);
        if (now && !open) {
            start = x;
            open = true;
        } else if (!now && open) {
            if (x > start) {
                out.push_back({start, x});
            }
            open = false;
        }
    }
    return out;
}

const std::vector<Span>* spansAt(const std::vector<PixelRegion::Band>& bands, std::size_t& at,
                                 int y) {
    while (at < bands.size() && bands[at].bottom <= y) {
        ++at;
    }
    if (at < bands.size() && bands[at].top <= y) {
        return &bands[at].spans;
    }
    return nullptr;
}

}  // namespace

PixelRegion PixelRegion::rect(int left, int top, int right, int bottom) {
    PixelRegion r;
    if (left < right && top < bottom) {
        r.m_bands.push_back({top, bottom, {{left, right}}});
    }
    return r;
}

void PixelRegion::append(int top, int bottom, std::vector<Span> spans) {
    if (spans.empty() || top >= bottom) {
        return;
    }
    if (!m_bands.empty() && m_bands.back().bottom == top && m_bands.back().spans == spans) {
        m_bands.back().bottom = bottom;
        return;
    }
    m_bands.push_back({top, bottom, std::move(spans)});
}

std::size_t PixelRegion::rectCount() const {
    std::size_t n = 0;
    for (const Band& b : m_bands) {
        n += b.spans.size();
    }
    return n;
}

std::vector<PixelRect> PixelRegion::rects() const {
    std::vector<PixelRect> out;
    out.reserve(rectCount());
    for (const Band& b : m_bands) {
        for (const Span& s : b.spans) {
            out.push_back({s.left, b.top, s.right, b.bottom});
        }
    }
    return out;
}

PixelRegion PixelRegion::combined(const PixelRegion& other, Op op) const {
    std::vector<int> ys;
    ys.reserve(2 * (m_bands.size() + other.m_bands.size()));
    for (const auto* bands : {&m_bands, &other.m_bands}) {
        for (const Band& b : *bands) {
            ys.push_back(b.top);
            ys.push_back(b.bottom);
        }
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    static const std::vector<Span> kNone;
    PixelRegion out;
    std::size_t i = 0, j = 0;
    for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
        const std::vector<Span>* a = spansAt(m_bands, i, ys[k]);
        const std::vector<Span>* b = spansAt(other.m_bands, j, ys[k]);
        const std::vector<Span>& sa = a ? *a : kNone;
        const std::vector<Span>& sb = b ? *b : kNone;
        std::vector<Span> spans;
        switch (op) {
            case Op::Intersect:
                spans = combineSpans(sa, sb, [](bool x, bool y) { return x && y; });
                break;
            case Op::Unite:
                spans = combineSpans(sa, sb, [](bool x, bool y) { return x || y; });
                break;
            case Op::Xor:
                spans = combineSpans(sa, sb, [](bool x, bool y) { return x != y; });
                break;
            case Op::Exclude:
                spans = combineSpans(sa, sb, [](bool x, bool y) { return x && !y; });
                break;
        }
        out.append(ys[k], ys[k + 1], std::move(spans));
    }
    return out;
}

std::optional<PixelRegion> PixelRegion::fromRects(std::vector<PixelRect> rects,
                                                  const PixelRect& limit, std::size_t maxWork) {
    std::vector<int> ys;
    std::size_t kept = 0;
    for (PixelRect r : rects) {
        r.left = std::max(r.left, limit.left);
        r.top = std::max(r.top, limit.top);
        r.right = std::min(r.right, limit.right);
        r.bottom = std::min(r.bottom, limit.bottom);
        if (r.left < r.right && r.top < r.bottom) {
            rects[kept++] = r;
            ys.push_back(r.top);
            ys.push_back(r.bottom);
        }
    }
    rects.resize(kept);
    std::sort(rects.begin(), rects.end(),
              [](const PixelRect& a, const PixelRect& b) { return a.top < b.top; });
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    PixelRegion out;
    std::vector<PixelRect> active;
    std::vector<Span> runs;
    std::size_t next = 0, work = 0;
    for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
        const int y = ys[k];
        while (next < rects.size() && rects[next].top <= y) {
            active.push_back(rects[next++]);
        }
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const PixelRect& r) { return r.bottom <= y; }),
                     active.end());
        work += active.size();
        if (work > maxWork) {
            return std::nullopt;
        }
        runs.clear();
        for (const PixelRect& r : active) {
            runs.push_back({r.left, r.right});
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Span& a, const Span& b) { return a.left < b.left; });
        std::vector<Span> spans;
        for (const Span& s : runs) {
            if (!spans.empty() && s.left <= spans.back().right) {
                spans.back().right = std::max(spans.back().right, s.right);
            } else {
                spans.push_back(s);
            }
        }
        out.append(y, ys[k + 1], std::move(spans));
    }
    return out;
}

PixelRegion PixelRegion::offset(int dx, int dy) const {
    PixelRegion out = *this;
    for (Band& b : out.m_bands) {
        b.top += dy;
        b.bottom += dy;
        for (Span& s : b.spans) {
            s.left += dx;
            s.right += dx;
        }
    }
    return out;
}

std::optional<PixelRegion> PixelRegion::fromPolygons(
    const std::vector<std::vector<PointF>>& polygons, FillRule rule, const PixelRect& limit,
    std::size_t maxWork) {
    struct Edge {
        double top, bottom;  // rows of centres from top (inside) to bottom (outside)
        double x, slope;     // x at y = top, and per unit of y
        int direction;
    };
    std::vector<Edge> edges;
    for (const auto& polygon : polygons) {
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            PointF a = polygon[i], b = polygon[(i + 1) % polygon.size()];
            if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) ||
                !std::isfinite(b.y) || a.y == b.y) {
                continue;
            }
            int direction = 1;
            if (a.y > b.y) {
                std::swap(a, b);
                direction = -1;
            }
            const double slope = (b.x - a.x) / (b.y - a.y);
            edges.push_back({a.y, b.y, a.x, slope, direction});
        }
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& p, const Edge& q) { return p.top < q.top; });
    PixelRegion out;
    std::vector<const Edge*> active;
    std::vector<std::pair<double, int>> crossings;
    std::size_t next = 0, work = 0;
    const int firstRow =
        edges.empty()
            ? limit.bottom
            : std::max(limit.top, int(std::floor(std::clamp(edges[0].top, double(limit.top),
                                                            double(limit.bottom)))) -
                                      1);
    for (int y = firstRow; y < limit.bottom; ++y) {
        const double cy = y + 0.5;
        while (next < edges.size() && edges[next].top <= cy) {
            active.push_back(&edges[next++]);
        }
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [cy](const Edge* e) { return e->bottom <= cy; }),
                     active.end());
        if (active.empty()) {
            if (next >= edges.size()) {
                break;
            }
            continue;
        }
        work += active.size();
        if (work > maxWork) {
            return std::nullopt;
        }
        crossings.clear();
        for (const Edge* e : active) {
            if (e->top <= cy) {
                crossings.push_back({e->x + (cy - e->top) * e->slope, e->direction});
            }
        }
        std::sort(crossings.begin(), crossings.end());
        std::vector<Span> spans;
        int winding = 0;
        for (std::size_t k = 0; k + 1 < crossings.size(); ++k) {
            winding += rule == FillRule::EvenOdd ? 1 : crossings[k].second;
            const bool inside = rule == FillRule::EvenOdd ? winding % 2 != 0 : winding != 0;
            if (!inside) {
                continue;
            }
            const double from = std::clamp(std::ceil(crossings[k].first - 0.5), double(limit.left),
                                           double(limit.right));
            const double to = std::clamp(std::ceil(crossings[k + 1].first - 0.5),
                                         double(limit.left), double(limit.right));
            if (to > from) {
                if (!spans.empty() && spans.back().right >= int(from)) {
                    spans.back().right = std::max(spans.back().right, int(to));
                } else {
                    spans.push_back({int(from), int(to)});
                }
            }
        }
        out.append(y, y + 1, std::move(spans));
    }
    return out;
}

}  // namespace metafile
