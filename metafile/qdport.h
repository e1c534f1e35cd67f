#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metafile/metafile.h"
#include "metafile/qdregion.h"

namespace metafile::qd {

// An 8 x 8 pattern, whose set bits take the foreground colour and clear bits the background;
// or a colour pattern, whose own colour or tile of pixels it draws instead.
struct Pattern {
    std::array<std::uint8_t, 8> bits{};
    std::optional<Rgb> colour;
    std::shared_ptr<const ImageSource> tile;

    static Pattern black();
    static Pattern white();
};

// What the shape operations do with a shape: its outline with the pen, its inside with the
// pen's pattern, the background pattern, inverted, or the fill pattern.
enum class Verb { Frame, Paint, Erase, Invert, Fill };

struct Point {
    int h = 0, v = 0;
};

// A QuickDraw graphics port a picture is played into: the pen, patterns, colours, text and
// clip the opcodes set, and the drawing operations, which turn each shape into pixels of the
// picture and hand them to the canvas. Without a canvas it only notes that something was drawn.
class QdPort {
public:
    QdPort(MetafileCanvas* canvas, const MetafileLayout& layout);

    // The state the opcodes set.
    Point penSize{1, 1};
    int penMode = 8;  // patCopy
    Pattern penPattern = Pattern::black();
    Pattern fillPattern = Pattern::black();
    Pattern backPattern = Pattern::white();
    Rgb fore{0, 0, 0};
    Rgb back{255, 255, 255};
    Point ovalSize;
    int textFont = 0, textFace = 0, textSize = 0, textMode = 1;  // srcOr
    std::map<int, std::string> fontNames;

    void line(Point from, Point to);
    // Rectangles as QuickDraw stores them: top, left, bottom, right.
    void rect(Verb verb, const IntRect& r);
    void roundRect(Verb verb, const IntRect& r);
    void oval(Verb verb, const IntRect& r);
    void arc(Verb verb, const IntRect& r, int startAngle, int arcAngle);
    void polygon(Verb verb, const std::vector<Point>& points);
    void region(Verb verb, const Region& region);
    // Mac OS Roman text whose baseline starts at the point.
    void text(Point at, const std::string& bytes);
    void setClip(const Region& region);
    // What is drawn until endMask is also clipped to the region (a bitmap's mask).
    void beginMask(const Region& region);
    void endMask();

    bool drew() const { return m_drew; }
    void noteDrawn() { m_drew = true; }
    // Whether shapes took more work than a picture may cost; nothing more is drawn then.
    bool spent() const { return m_budget.spent(); }
    RasterBudget& budget() { return m_budget; }
    PointF toPicture(double h, double v) const;

private:
    IntRect deviceRect(const IntRect& r) const;
    Point devicePen() const;
    Region deviceRegion(const Region& region);
    void draw(const Region& pixels, Verb verb);
    void drawPart(const PathData& path, Verb verb);
    void paint(const PathData& path, const Pattern& pattern, int mode);
    void applyClip(const Region* mask);
    std::string fontFace() const;

    MetafileCanvas* m_canvas;
    MetafileLayout m_layout;
    double m_sx = 1, m_sy = 1;
    IntRect m_area;
    RasterBudget m_budget;
    std::optional<Region> m_clip;
    bool m_drew = false;
};

}  // namespace metafile::qd
