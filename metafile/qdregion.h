#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "metafile/metafile.h"

namespace metafile::qd {

// QuickDraw turns every shape into a region, a set of whole pixels, before it draws it; so do
// we, in the picture's pixels, which makes frames, pens and fills cover exactly the pixels they
// cover on a Macintosh, whatever the canvas does with edges.

// The work of making regions that one picture may cost: rows and spans visited, and spans kept,
// and the play's time, which it checks every so many steps so that one opcode cannot run on.
// Once spent, every further region comes out empty and spent() stays true.
class RasterBudget {
public:
    RasterBudget();
    // False once the budget is spent.
    bool spend(std::size_t steps);
    bool spent() const { return m_spent; }
    bool timedOut() const { return m_timedOut; }
    std::chrono::steady_clock::time_point deadline() const { return m_deadline; }

private:
    std::size_t m_left;
    std::size_t m_sinceClock = 0;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_spent = false;
    bool m_timedOut = false;
};

struct IntRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

struct Span {
    int left = 0, right = 0;  // [left, right)
    friend bool operator==(const Span&, const Span&) = default;
};

// Rows from top to bottom, grouped in bands of equal rows, each a sorted list of disjoint spans.
class Region {
public:
    struct Band {
        int top = 0, bottom = 0;  // [top, bottom)
        std::uint32_t first = 0, count = 0;
    };

    bool empty() const { return m_bands.empty(); }
    const std::vector<Band>& bands() const { return m_bands; }
    const Span* spans(const Band& band) const { return m_spans.data() + band.first; }
    std::size_t spanCount() const { return m_spans.size(); }
    IntRect bounds() const;
    // Whether the pixel at (x, y) belongs to the region.
    bool contains(int x, int y) const;

    static Region rect(const IntRect& r);
    // Each edge moved by the mapping x' = x * sx + dx (and so for y), rounded to whole pixels;
    // the scales must be positive.
    Region mapped(double sx, double dx, double sy, double dy, RasterBudget& budget) const;
    // Every span as a closed rectangle, for a canvas: in one path, or in paths of at most
    // spansEach spans, which a rasteriser fills far faster than one path of them all.
    PathData path() const;
    std::vector<PathData> paths(std::size_t spansEach) const;

private:
    friend class RegionBuilder;
    std::vector<Band> m_bands;
    std::vector<Span> m_spans;
};

// Builds a region band by band, from the top down; spans may come unsorted, overlapping or
// empty, and a band like the one just above extends it.
class RegionBuilder {
public:
    explicit RegionBuilder(RasterBudget& budget) : m_budget(budget) {}
    void add(int top, int bottom, const std::vector<Span>& spans);
    void add(int top, int bottom, Span span);
    Region finish();

private:
    void addSorted(int top, int bottom);
    RasterBudget& m_budget;
    Region m_region;
    std::vector<Span> m_merged;
};

enum class SetOp { Union, Intersect, Difference, Xor };
Region combine(const Region& a, const Region& b, SetOp op, RasterBudget& budget);

// Shapes, clipped to area. An oval fills the pixels whose centres lie inside the ellipse that
// the rectangle bounds; corners of rounded rectangles are quarters of such an oval.
Region ovalRegion(const IntRect& r, const IntRect& area, RasterBudget& budget);
Region roundRectRegion(const IntRect& r, int ovalWidth, int ovalHeight, const IntRect& area,
                       RasterBudget& budget);
// The part of shape inside the wedge of oval from startAngle through arcAngle degrees: 0 is
// at twelve o'clock, positive clockwise, and 45 runs through the rectangle's corner.
Region wedgeOf(const Region& shape, const IntRect& oval, int startAngle, int arcAngle,
               RasterBudget& budget);
// Pixels whose centres lie inside the polygon, even-odd.
Region polygonRegion(const std::vector<PointF>& points, const IntRect& area, RasterBudget& budget);
// The pixels a pen of penWidth x penHeight covers, hanging below and right of each point of
// the line from a to b, both ends included.
Region lineRegion(int ax, int ay, int bx, int by, int penWidth, int penHeight, const IntRect& area,
                  RasterBudget& budget);
// The region with its outline moved inwards by dh and dv pixels (QuickDraw's InsetRgn).
Region insetRegion(const Region& region, int dh, int dv, RasterBudget& budget);

// A QuickDraw region as stored (rgnSize, rgnBBox, then rows of inversion points ended by
// 0x7FFF), in its own coordinates; false when the data is damaged.
bool readRegion(const std::uint8_t* data, std::size_t size, Region& out, RasterBudget& budget);

}  // namespace metafile::qd
