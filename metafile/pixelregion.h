#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "metafile/metafile.h"

namespace metafile {

// A set of whole pixels as GDI keeps a clipping region: bands of rows, each with the runs of
// pixels it holds. Combining two regions costs in proportion to their bands and runs, so a
// clip built from thousands of rectangles stays cheap.
class PixelRegion {
public:
    struct Span {
        int left = 0, right = 0;  // right is outside
        friend bool operator==(const Span&, const Span&) = default;
    };
    struct Band {
        int top = 0, bottom = 0;  // bottom is outside
        std::vector<Span> spans;  // ascending, apart
    };
    enum class Op { Intersect, Unite, Xor, Exclude };

    PixelRegion() = default;
    static PixelRegion rect(int left, int top, int right, int bottom);
    // The pixels whose centres lie inside the polygons (each closed), by the fill rule, within
    // limit; a centre on a left or top edge is inside, on a right or bottom one outside.
    // Nothing when the work would pass maxWork edge crossings in all.
    static std::optional<PixelRegion> fromPolygons(const std::vector<std::vector<PointF>>& polygons,
                                                   FillRule rule, const PixelRect& limit,
                                                   std::size_t maxWork);

    // The union of rectangles within limit, swept from the top down; nothing when the work
    // would pass maxWork rectangles looked at in all.
    static std::optional<PixelRegion> fromRects(std::vector<PixelRect> rects,
                                                const PixelRect& limit, std::size_t maxWork);

    bool empty() const { return m_bands.empty(); }
    std::size_t rectCount() const;
    const std::vector<Band>& bands() const { return m_bands; }
    std::vector<PixelRect> rects() const;

    PixelRegion combined(const PixelRegion& other, Op op) const;
    PixelRegion offset(int dx, int dy) const;

private:
    void append(int top, int bottom, std::vector<Span> spans);

    std::vector<Band> m_bands;  // top to bottom, apart, none empty
};

}  // namespace metafile
