// The QPainter canvas the players draw on: whole-pixel shapes, patterns, gradients, images and
// pixel clips, each probed at a few pixels of a small white image.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <functional>

#include "metafile/metafile.h"
#include "render/qtcanvas.h"

namespace {

using metafile::PathData;
using metafile::PointF;

constexpr QRgb kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0);

PathData rectPath(double l, double t, double r, double b) {
    PathData p;
    p.moveTo({l, t});
    p.lineTo({r, t});
    p.lineTo({r, b});
    p.lineTo({l, b});
    p.close();
    return p;
}

metafile::BrushStyle aliased(metafile::Rgb colour = {0, 0, 0}) {
    metafile::BrushStyle b;
    b.colour = colour;
    b.antialias = false;
    return b;
}

std::shared_ptr<const std::vector<std::uint8_t>> pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::make_shared<std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
}

struct Probe {
    int x, y;
    QRgb colour;
};

}  // namespace

TEST(Canvas, DrawsWholePixelsPatternsGradientsAndImages) {
    QImage two(2, 1, QImage::Format_RGB32);
    two.setPixel(0, 0, qRgb(255, 0, 0));
    two.setPixel(1, 0, qRgb(0, 0, 255));
    struct Case {
        const char* name;
        std::function<void(metafile::MetafileCanvas&)> draw;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {"an aliased fill takes pixel centres on its left and top edges, not its right and bottom",
         [](auto& c) {
             c.fillPath(rectPath(2.5, 2.5, 6.5, 4.5), metafile::FillRule::Winding, aliased());
         },
         {{2, 2, kBlack}, {5, 3, kBlack}, {6, 3, kWhite}, {3, 4, kWhite}, {1, 2, kWhite}}},
        {"a one-pixel line leaves out its last point and steps where the line crosses",
         [](auto& c) {
             PathData line;
             line.moveTo({1.5, 1.5});
             line.lineTo({10.5, 2.5});
             metafile::PenStyle pen;
             pen.onePixel = true;
             pen.antialias = false;
             c.strokePath(line, pen);
         },
         {{1, 1, kBlack},
          {5, 1, kBlack},
          {6, 2, kBlack},
          {9, 2, kBlack},
          {10, 2, kWhite},
          {6, 1, kWhite}}},
        {"custom dashes in pixels with their gaps opaque",
         [](auto& c) {
             PathData line;
             line.moveTo({0.5, 5.5});
             line.lineTo({12.5, 5.5});
             metafile::PenStyle pen;
             pen.onePixel = true;
             pen.antialias = false;
             pen.dashes = {3, 2};
             pen.opaqueGaps = true;
             pen.gapColour = {0, 255, 0};
             c.strokePath(line, pen);
         },
         {{0, 5, kBlack}, {2, 5, kBlack}, {3, 5, qRgb(0, 255, 0)}, {5, 5, kBlack}}},
        {"a two-colour pattern tiles from the picture's origin",
         [](auto& c) {
             auto pattern = std::make_shared<metafile::MonoPattern>();
             pattern->width = pattern->height = 2;
             pattern->bits = {0x80, 0x40};  // the diagonal
             pattern->foreground = {255, 0, 0};
             pattern->background = {0, 0, 255};
             metafile::BrushStyle b = aliased();
             b.monoPattern = pattern;
             c.fillPath(rectPath(1, 1, 9, 9), metafile::FillRule::Winding, b);
         },
         {{2, 2, qRgb(255, 0, 0)},
          {3, 3, qRgb(255, 0, 0)},
          {3, 2, qRgb(0, 0, 255)},
          {0, 0, kWhite}}},
        {"a linear gradient, padded past its ends",
         [](auto& c) {
             auto g = std::make_shared<metafile::Gradient>();
             g->start = {2, 0};
             g->end = {12, 0};
             g->stops = {{0, {0, 0, 0}}, {1, {200, 100, 0}}};
             metafile::BrushStyle b = aliased();
             b.gradient = g;
             c.fillPath(rectPath(0, 0, 16, 2), metafile::FillRule::Winding, b);
         },
         {{0, 0, kBlack}, {15, 1, qRgb(200, 100, 0)}}},
        {"a path gradient runs from its boundary's colours to the centre's",
         [](auto& c) {
             auto g = std::make_shared<metafile::Gradient>();
             g->kind = metafile::Gradient::Kind::Path;
             g->boundary = {{0, 0}, {16, 0}, {16, 16}, {0, 16}};
             g->boundaryColours = {{0, {0, 0, 255}}};
             g->centre = {8, 8};
             g->centreColour = {0, {255, 0, 0}};
             metafile::BrushStyle b = aliased();
             b.gradient = g;
             c.fillPath(rectPath(0, 0, 16, 16), metafile::FillRule::Winding, b);
         },
         {{0, 0, qRgb(16, 0, 239)}, {15, 8, qRgb(16, 0, 239)}, {8, 8, qRgb(239, 0, 16)}}},
        {"shaded triangles blend their corners",
         [](auto& c) {
             c.fillShadedTriangles(
                 {{{0, 0}, {255, 0, 0}}, {{16, 0}, {255, 0, 0}}, {{0, 16}, {0, 0, 255}}},
                 metafile::Mix::Copy);
         },
         {{0, 0, qRgb(247, 0, 8)}, {0, 14, qRgb(24, 0, 231)}, {15, 15, kWhite}}},
        {"a texture from PNG bytes, scaled by its transform",
         [&](auto& c) {
             auto texture = std::make_shared<metafile::ImageSource>();
             texture->encoded = pngOf(two);
             metafile::BrushStyle b = aliased();
             b.texture = texture;
             b.transform = {4, 0, 0, 4, 0, 0};
             c.fillPath(rectPath(0, 0, 16, 4), metafile::FillRule::Winding, b);
         },
         {{1, 1, qRgb(255, 0, 0)}, {5, 1, qRgb(0, 0, 255)}, {9, 1, qRgb(255, 0, 0)}}},
        {"an image from PNG bytes",
         [&](auto& c) {
             metafile::BitmapDraw d;
             auto image = std::make_shared<metafile::ImageSource>();
             image->encoded = pngOf(two);
             d.image = image;
             d.srcWidth = 2;
             d.srcHeight = 1;
             d.topLeft = {4, 10};
             d.topRight = {6, 10};
             d.bottomLeft = {4, 11};
             c.drawBitmap(d);
         },
         {{4, 10, qRgb(255, 0, 0)}, {5, 10, qRgb(0, 0, 255)}, {6, 10, kWhite}}},
        {"a clip of whole pixels",
         [](auto& c) {
             const std::vector<metafile::PixelRect> rects = {{2, 2, 4, 4}, {8, 2, 9, 3}};
             c.setClipRects(&rects);
             c.fillPath(rectPath(0, 0, 16, 16), metafile::FillRule::Winding, aliased());
         },
         {{2, 2, kBlack}, {3, 3, kBlack}, {4, 3, kWhite}, {8, 2, kBlack}, {9, 2, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            render::QtCanvas canvas(image);
            c.draw(canvas);
        }
        for (const Probe& p : c.probes) {
            const QRgb got = image.pixel(p.x, p.y);
            EXPECT_LE(std::abs(qRed(got) - qRed(p.colour)) +
                          std::abs(qGreen(got) - qGreen(p.colour)) +
                          std::abs(qBlue(got) - qBlue(p.colour)),
                      6)
                << p.x << "," << p.y << " is " << std::hex << got;
        }
    }
}
