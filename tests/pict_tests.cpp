// QuickDraw pictures built here opcode by opcode, drawn, and checked at the pixels QuickDraw
// covers: the pen hangs below and right of its point, frames lie inside their shape, patterns
// tile from the picture's corner.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <cmath>
#include <functional>

#include "metafile/metafile.h"
#include "metafile/qdregion.h"
#include "platform/picture.h"
#include "render/renderer.h"

namespace {

void be16(QByteArray& b, int v) {
    b.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
}

// One version 2 opcode: its number and data, padded to a whole word as pictures keep them.
QByteArray op(int code, std::initializer_list<int> words = {}, const QByteArray& tail = {}) {
    QByteArray b;
    be16(b, code);
    for (int w : words) {
        be16(b, w);
    }
    b.append(tail);
    if (b.size() % 2 != 0) {
        b.append('\0');
    }
    return b;
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        b.append(char(v));
    }
    return b;
}

// An extended version 2 picture of frame (72 dpi) whose opcodes draw in source at dpi.
QByteArray picture(QRect frame, const QByteArray& ops, int dpi = 72, QRect source = {}) {
    if (source.isNull()) {
        source = frame;
    }
    QByteArray b;
    be16(b, 0);
    for (int v : {frame.top(), frame.left(), frame.bottom() + 1, frame.right() + 1}) {
        be16(b, v);
    }
    b.append(op(0x0011, {0x02FF}));
    b.append(op(0x0C00, {-2, 0, dpi, 0, dpi, 0, source.top(), source.left(), source.bottom() + 1,
                         source.right() + 1, 0, 0}));
    return b + ops + op(0x00FF);
}

// A version 1 picture: byte opcodes, no padding.
QByteArray pictureV1(QRect frame, const QByteArray& ops) {
    QByteArray b;
    be16(b, 0);
    for (int v : {frame.top(), frame.left(), frame.bottom() + 1, frame.right() + 1}) {
        be16(b, v);
    }
    return b + bytes({0x11, 0x01}) + ops + bytes({0xFF});
}

QImage drawn(const QByteArray& pict) {
    const render::Rendered r = render::renderPicture(platform::Picture::fromBytes(pict));
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    return r.image;
}

// A region as QuickDraw stores it: rows of inversion points.
QByteArray region(QRect box, const std::vector<std::vector<int>>& rows) {
    QByteArray data;
    for (const auto& row : rows) {
        for (int v : row) {
            be16(data, v);
        }
        be16(data, 0x7FFF);
    }
    if (!rows.empty()) {
        be16(data, 0x7FFF);
    }
    QByteArray b;
    be16(b, 10 + int(data.size()));
    for (int v : {box.top(), box.left(), box.bottom() + 1, box.right() + 1}) {
        be16(b, v);
    }
    return b + data;
}

QByteArray polygon(std::initializer_list<QPoint> points) {
    QByteArray b;
    be16(b, 10 + 4 * int(points.size()));
    for (int i = 0; i < 4; ++i) {
        be16(b, 0);
    }
    for (QPoint p : points) {
        be16(b, p.y());
        be16(b, p.x());
    }
    return b;
}

// A black-and-white 8 x 8 bitmap, every bit set, drawn over (0, 0)-(8, 8) through mask.
QByteArray maskedBitmap(const QByteArray& mask) {
    QByteArray b;
    for (int v : {2, 0, 0, 8, 8, 0, 0, 8, 8, 0, 0, 8, 8, 0}) {
        be16(b, v);  // rowBytes, bounds, source, destination, srcCopy
    }
    b.append(mask);
    for (int row = 0; row < 8; ++row) {
        b.append(bytes({0xFF, 0xFF}));
    }
    return b;
}

QByteArray jpegOf(QColor colour, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return data;
}

// QuickTime's compressed picture opcode holding a JPEG of w x h placed at (x, y).
QByteArray quickTimeJpeg(const QByteArray& jpeg, int w, int h, int x, int y) {
    QByteArray d;
    be16(d, 0);  // version
    for (int v : {1, 0, 0, 0, 1, 0, x, y}) {
        be16(d, v);  // 16.16: the whole part, then the fraction
        be16(d, 0);
    }
    be16(d, 0x4000);  // w, 2.30
    be16(d, 0);
    d.append(QByteArray(4 + 8 + 2, '\0'));  // matte size, matte rectangle, mode
    for (int v : {0, 0, h, w}) {
        be16(d, v);
    }
    d.append(QByteArray(4 + 4, '\0'));  // accuracy, mask size
    QByteArray description;
    be16(description, 0);
    be16(description, 86);
    description.append("jpeg");
    description.append(QByteArray(24, '\0'));
    be16(description, w);
    be16(description, h);
    description.append(QByteArray(8, '\0'));
    be16(description, 0);
    be16(description, int(jpeg.size()));
    description.append(QByteArray(86 - description.size(), '\0'));
    d += description + jpeg;
    QByteArray b;
    be16(b, 0x8200);
    be16(b, 0);
    be16(b, int(d.size()));
    return op(0x8200, {int(d.size() >> 16), int(d.size() & 0xFFFF)}, d);
}

constexpr QRgb kBlack = 0xFF000000, kWhite = 0xFFFFFFFF, kRed = 0xFFFF0000;

struct Probe {
    int x, y;
    QRgb colour;
};

}  // namespace

// Each case draws onto a 20 x 20 picture and names pixels that must and must not be covered.
TEST(PictVectors, ShapesCoverThePixelsQuickDrawCovers) {
    struct Case {
        const char* name;
        QByteArray ops;
        std::vector<Probe> probes;
    };
    const QByteArray red = op(0x001A, {0xFFFF, 0, 0});
    const std::vector<Case> cases = {
        {"paint rect: left..right-1, top..bottom-1",
         op(0x0031, {3, 2, 6, 8}),
         {{2, 3, kBlack}, {7, 5, kBlack}, {8, 5, kWhite}, {7, 6, kWhite}, {1, 3, kWhite}}},
        {"frame rect lies inside it",
         op(0x0030, {3, 2, 6, 8}),
         {{2, 3, kBlack}, {7, 5, kBlack}, {4, 4, kWhite}, {8, 3, kWhite}, {2, 6, kWhite}}},
        {"frame rect with a 2 x 3 pen",
         op(0x0007, {3, 2}) + op(0x0030, {0, 0, 10, 10}),
         {{1, 4, kBlack},
          {2, 4, kWhite},
          {5, 2, kBlack},
          {5, 3, kWhite},
          {5, 7, kBlack},
          {5, 6, kWhite},
          {8, 5, kBlack},
          {7, 5, kWhite}}},
        {"line includes both ends",
         op(0x0020, {2, 2, 2, 8}),
         {{2, 2, kBlack}, {8, 2, kBlack}, {9, 2, kWhite}, {5, 3, kWhite}, {1, 2, kWhite}}},
        {"line pen hangs below and right",
         op(0x0007, {2, 3}) + op(0x0020, {2, 2, 8, 2}),
         {{4, 9, kBlack}, {5, 5, kWhite}, {2, 10, kWhite}, {3, 1, kWhite}, {1, 5, kWhite}}},
        {"diagonal line, short lines from the pen",
         op(0x0020, {0, 0, 9, 9}) + op(0x0023, {}, bytes({2, -3})),
         {{0, 0, kBlack},
          {5, 5, kBlack},
          {9, 9, kBlack},
          {5, 4, kWhite},
          {11, 6, kBlack},
          {12, 6, kWhite}}},
        {"paint oval fits its rectangle",
         op(0x0051, {0, 0, 10, 10}),
         {{0, 0, kWhite},
          {9, 9, kWhite},
          {5, 5, kBlack},
          {0, 4, kBlack},
          {9, 5, kBlack},
          {4, 0, kBlack},
          {5, 9, kBlack},
          {2, 0, kWhite},
          {10, 5, kWhite}}},
        {"frame oval is its ring",
         op(0x0050, {0, 0, 10, 10}),
         {{5, 5, kWhite}, {0, 4, kBlack}, {4, 0, kBlack}, {0, 0, kWhite}}},
        {"round rect corners",
         op(0x000B, {6, 6}) + op(0x0041, {0, 0, 10, 10}),
         {{0, 0, kWhite}, {1, 0, kBlack}, {0, 1, kBlack}, {9, 9, kWhite}, {5, 5, kBlack}}},
        {"arc: a quarter clockwise from twelve o'clock",
         op(0x0061, {0, 0, 20, 20, 0, 90}),
         {{15, 5, kBlack}, {11, 1, kBlack}, {5, 5, kWhite}, {15, 15, kWhite}, {5, 15, kWhite}}},
        {"arc with a negative angle runs the other way",
         op(0x0061, {0, 0, 20, 20, 0, -90}),
         {{5, 5, kBlack}, {15, 5, kWhite}}},
        {"paint polygon",
         op(0x0071, {}, polygon({{0, 0}, {10, 0}, {0, 10}, {0, 0}})),
         {{2, 2, kBlack}, {7, 7, kWhite}, {0, 0, kBlack}, {12, 1, kWhite}}},
        {"frame polygon draws its lines",
         op(0x0070, {}, polygon({{2, 2}, {12, 2}, {12, 12}})),
         {{2, 2, kBlack}, {12, 2, kBlack}, {12, 12, kBlack}, {6, 6, kWhite}, {2, 12, kWhite}}},
        {"paint region of inversion points",
         op(0x0081, {}, region({2, 2, 6, 4}, {{2, 2, 6}, {4, 4, 8}, {6, 2, 4, 6, 8}})),
         {{5, 3, kBlack},
          {5, 4, kWhite},
          {6, 4, kBlack},
          {2, 5, kBlack},
          {4, 4, kWhite},
          {2, 6, kWhite}}},
        {"frame region",
         op(0x0080, {}, region({0, 0, 10, 10}, {{0, 0, 10}, {10, 0, 10}})),
         {{0, 0, kBlack}, {9, 9, kBlack}, {5, 5, kWhite}, {10, 5, kWhite}}},
        {"fill with a checkered pattern tiles from the corner",
         op(0x000A, {0xAA55, 0xAA55, 0xAA55, 0xAA55}) + op(0x0034, {0, 0, 8, 8}),
         {{0, 0, kBlack}, {1, 0, kWhite}, {0, 1, kWhite}, {1, 1, kBlack}, {8, 8, kWhite}}},
        {"erase takes the background colour",
         op(0x0031, {0, 0, 10, 10}) + op(0x001B, {0xFFFF, 0, 0}) + op(0x0032, {2, 2, 8, 8}),
         {{5, 5, kRed}, {1, 1, kBlack}}},
        {"invert, and the same rectangle again",
         op(0x0031, {0, 0, 10, 10}) + op(0x0033, {0, 15, 5, 20}) + op(0x0033, {5, 5, 15, 15}) +
             op(0x003B),
         {{2, 2, kBlack}, {17, 2, kBlack}, {7, 7, kBlack}, {12, 12, kWhite}}},
        {"foreground colour, old and new",
         red + op(0x0031, {0, 0, 5, 5}) + op(0x000E, {0, 33}) + op(0x0031, {5, 5, 10, 10}),
         {{2, 2, kRed}, {7, 7, kBlack}}},
        {"patXor pen inverts where it paints",
         op(0x0031, {0, 0, 10, 10}) + op(0x0008, {10}) + op(0x0031, {5, 5, 15, 15}),
         {{2, 2, kBlack}, {7, 7, kWhite}, {12, 12, kBlack}}},
        {"clip region limits what follows",
         op(0x0001, {}, region({0, 0, 5, 5}, {})) + op(0x0031, {0, 0, 10, 10}),
         {{4, 4, kBlack}, {5, 5, kWhite}, {6, 2, kWhite}}},
        {"the clip moves with the origin",
         op(0x0001, {}, region({0, 0, 5, 5}, {})) + op(0x000C, {-5, -5}) +
             op(0x0031, {0, 0, 10, 10}),
         {{7, 7, kBlack}, {12, 12, kWhite}, {2, 2, kWhite}}},
        {"a bitmap's mask region lets through only its own pixels",
         op(0x0099, {}, maskedBitmap(region({2, 2, 4, 4}, {}))),
         {{3, 3, kBlack}, {1, 1, kWhite}, {6, 6, kWhite}}},
        {"origin moves later coordinates",
         op(0x000C, {-5, -5}) + op(0x0031, {0, 0, 5, 5}),
         {{7, 7, kBlack}, {2, 2, kWhite}}},
        {"patOr and patBic leave the clear bits alone",
         op(0x0031, {0, 0, 10, 10}) + red + op(0x0009, {0xAA55, 0xAA55, 0xAA55, 0xAA55}) +
             op(0x0008, {9}) + op(0x0031, {0, 0, 4, 4}) + op(0x0008, {11}) +
             op(0x0031, {4, 4, 8, 8}),
         {{0, 0, kRed}, {1, 0, kBlack}, {4, 4, kWhite}, {5, 4, kBlack}, {12, 12, kWhite}}},
        {"a colour pixel pattern tiles its own pixels",
         op(0x0014, {1, 0, 0, 0, 0, 0x8002, 0, 0, 2, 2, 0, 0, 0, 0,      72, 0, 72, 0, 0, 8,
                     1, 8, 0, 0, 0, 0,      0, 0, 0, 0, 0, 1, 0, 0xFFFF, 0,  0, 1,  0, 0, 0xFFFF},
            bytes({0, 1, 1, 0})) +
             op(0x0034, {0, 0, 4, 4}),
         {{0, 0, kRed}, {1, 0, 0xFF0000FF}, {0, 1, 0xFF0000FF}, {2, 2, kRed}, {4, 0, kWhite}}},
        {"an RGB pixel pattern fills in its colour",
         op(0x0014, {2, 0, 0, 0, 0, 0xFFFF, 0, 0}) + op(0x0034, {0, 0, 5, 5}),
         {{2, 2, kRed}}},
        {"opcodes that draw nothing are skipped by their lengths",
         op(0x00A1, {100, 3}, bytes({1, 2, 3})) + op(0x0024, {2, 7}) + op(0x00B0) +
             op(0x00D0, {0, 2, 0}) + op(0x0100, {0}) + op(0x8000) + op(0x8100, {0, 2, 0}) +
             op(0x002E, {8, 1, 2, 3, 4}) + op(0x0015, {0x8000}) + op(0x0031, {0, 0, 5, 5}),
         {{2, 2, kBlack}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = drawn(picture(QRect(0, 0, 20, 20), c.ops));
        ASSERT_EQ(image.size(), QSize(20, 20));
        for (const Probe& p : c.probes) {
            EXPECT_EQ(image.pixel(p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
        }
    }
}

TEST(PictVectors, VersionOnePicturesUseByteOpcodes) {
    const QImage image =
        drawn(pictureV1(QRect(0, 0, 10, 10),
                        bytes({0x07, 0, 2, 0, 2, 0x30, 0, 0, 0, 0, 0, 10, 0, 10, 0xA0, 0, 1})));
    EXPECT_EQ(image.pixel(1, 1), kBlack);
    EXPECT_EQ(image.pixel(2, 2), kWhite);
    EXPECT_EQ(image.pixel(9, 9), kBlack);
}

TEST(PictVectors, TextIsDrawnFromItsBaselineAndMovesByDeltas) {
    const QByteArray ops = op(0x000D, {14}) + op(0x0028, {20, 2}, bytes({3, 'H', 'H', 'H'})) +
                           op(0x002A, {}, bytes({20, 2, 'H', 'H'}));
    const QImage image = drawn(picture(QRect(0, 0, 60, 60), ops));
    auto darkIn = [&](QRect box) {
        int dark = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x) {
                dark += qGray(image.pixel(x, y)) < 128;
            }
        }
        return dark;
    };
    EXPECT_GT(darkIn(QRect(2, 8, 40, 12)), 20);   // caps above the first baseline
    EXPECT_GT(darkIn(QRect(2, 28, 40, 12)), 20);  // and above the second, 20 points lower
    EXPECT_EQ(darkIn(QRect(0, 21, 60, 6)), 0);    // nothing between them
    EXPECT_EQ(darkIn(QRect(45, 0, 15, 60)), 0);   // nor right of the text

    // srcCopy paints the text's box in the background colour first, even under spaces.
    const QImage opaque =
        drawn(picture(QRect(0, 0, 60, 30), op(0x001B, {0xFFFF, 0, 0}) + op(0x0005, {0}) +
                                               op(0x0028, {20, 2}, bytes({2, ' ', ' '}))));
    EXPECT_EQ(opaque.pixel(4, 16), kRed);
    EXPECT_EQ(opaque.pixel(3, 28), kWhite);
}

// A 360 dpi picture draws at its frame's size: its opcodes' coordinates are five times finer.
TEST(PictVectors, ExtendedHeaderResolutionGivesTheFramesSize) {
    const QByteArray bytes =
        picture(QRect(0, 0, 20, 10), op(0x0031, {25, 50, 50, 100}), 360, QRect(0, 0, 100, 50));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const workbook::ImageInfo sniffed = metafile::sniffDrawnImage(data, std::size_t(bytes.size()));
    EXPECT_EQ(sniffed.width, 20);
    EXPECT_EQ(sniffed.height, 10);
    const QImage image = drawn(bytes);
    ASSERT_EQ(image.size(), QSize(20, 10));
    EXPECT_EQ(image.pixel(10, 5), kBlack);
    EXPECT_EQ(image.pixel(19, 9), kBlack);
    EXPECT_EQ(image.pixel(9, 5), kWhite);
    EXPECT_EQ(image.pixel(10, 4), kWhite);
}

// The drawing that stands in for the image where QuickTime is missing is left out.
// At 144 dpi a two-point pen is one pixel of the picture.
TEST(PictVectors, PensScaleWithThePicture) {
    const QImage image =
        drawn(picture(QRect(0, 0, 10, 10), op(0x0007, {2, 2}) + op(0x0030, {0, 0, 20, 20}), 144,
                      QRect(0, 0, 20, 20)));
    ASSERT_EQ(image.size(), QSize(10, 10));
    for (QPoint p : {QPoint(0, 0), QPoint(9, 9), QPoint(0, 5), QPoint(5, 9)}) {
        EXPECT_EQ(image.pixel(p), kBlack) << p.x() << "," << p.y();
    }
    for (QPoint p : {QPoint(1, 1), QPoint(8, 8), QPoint(5, 5)}) {
        EXPECT_EQ(image.pixel(p), kWhite) << p.x() << "," << p.y();
    }
}

TEST(PictVectors, QuickTimeJpegIsDrawnWhereItsMatrixPlacesIt) {
    const QByteArray jpeg = jpegOf(Qt::red, 8, 8);
    const QByteArray standIn = op(0x0031, {6, 4, 14, 12});
    const QImage image = drawn(
        picture(QRect(0, 0, 20, 20), op(0x0031, {0, 0, 20, 20}) + quickTimeJpeg(jpeg, 8, 8, 4, 6) +
                                         op(0x0007, {0xAE, int(standIn.size())}) + standIn));
    const QRgb inside = image.pixel(7, 9);
    EXPECT_GT(qRed(inside), 200);
    EXPECT_LT(qGreen(inside), 60);
    EXPECT_EQ(image.pixel(2, 2), kBlack);
    EXPECT_EQ(image.pixel(13, 15), kBlack);
}

// Damage ends the walk where it is, keeping what was drawn; work without end is refused.
TEST(PictVectors, DamageStopsTheWalkAndWorkIsBounded) {
    const QByteArray first = op(0x0031, {0, 0, 5, 5});
    const std::vector<std::pair<const char*, QByteArray>> damaged = {
        {"region smaller than its header", op(0x0081, {4, 0, 0, 5, 5})},
        {"region rows out of order", op(0x0081, {}, region({0, 0, 9, 9}, {{6, 0, 9}, {2, 0, 9}}))},
        {"polygon past the end", op(0x0071, {400, 0, 0, 9, 9})},
        {"text past the end", op(0x0028, {9, 9}, bytes({200, 'A'}))},
        {"pixel pattern of an unknown kind", op(0x0013, {7, 0, 0, 0, 0})},
        {"length past the end", op(0x00FE, {0x7FFF, 0xFFFF})},
    };
    for (const auto& [name, ops] : damaged) {
        SCOPED_TRACE(name);
        const QImage image =
            drawn(picture(QRect(0, 0, 10, 10), first + ops + op(0x0031, {5, 5, 10, 10})));
        EXPECT_EQ(image.pixel(2, 2), kBlack);
        EXPECT_EQ(image.pixel(7, 7), kWhite);
    }

    // A star of thousands of spikes crosses each row many times, every row differently.
    QByteArray star;
    const int points = 8000;
    be16(star, 10 + 4 * points);
    star.append(QByteArray(8, '\0'));
    for (int i = 0; i < points; ++i) {
        const double radius = i % 2 == 0 ? 2000 : 1500, angle = 2 * M_PI * i / points;
        be16(star, int(2000 + radius * std::sin(angle)));
        be16(star, int(2000 + radius * std::cos(angle)));
    }
    const QByteArray bytes = picture(QRect(0, 0, 4000, 4000), op(0x0071, {}, star));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto layout =
        metafile::metafileLayout(workbook::ImageFormat::Pict, data, std::size_t(bytes.size()));
    struct Idle : metafile::MetafileCanvas {
        void fillPath(const metafile::PathData&, metafile::FillRule,
                      const metafile::BrushStyle&) override {}
        void strokePath(const metafile::PathData&, const metafile::PenStyle&) override {}
        void drawText(const metafile::TextRun&) override {}
        void drawBitmap(const metafile::BitmapDraw&) override {}
        void resetClip() override {}
        void clip(const metafile::PathData&, ClipOp) override {}
    } canvas;
    const metafile::MetafileError error = metafile::playMetafile(
        workbook::ImageFormat::Pict, data, std::size_t(bytes.size()), layout, canvas);
    EXPECT_EQ(error.kind, metafile::MetafileError::Kind::TooLarge);
    EXPECT_EQ(error.detail, "its shapes take too much work to draw");
}

// Region operations agree with the same operations done pixel by pixel.
TEST(QdRegion, OperationsAgreeWithPixelSets) {
    using metafile::qd::IntRect;
    using metafile::qd::Region;
    using metafile::qd::SetOp;
    metafile::qd::RasterBudget budget;
    auto shape = [&](std::initializer_list<IntRect> rects) {
        Region r;
        for (const IntRect& rect : rects) {
            r = metafile::qd::combine(r, Region::rect(rect), SetOp::Union, budget);
        }
        return r;
    };
    // An L with a hole beside it, and a cross that overlaps both.
    const Region a = shape({{1, 1, 9, 4}, {1, 4, 4, 12}, {10, 2, 14, 6}});
    const Region b = shape({{3, 0, 6, 14}, {0, 6, 15, 9}});
    const std::pair<SetOp, std::function<bool(bool, bool)>> ops[] = {
        {SetOp::Union, [](bool x, bool y) { return x || y; }},
        {SetOp::Intersect, [](bool x, bool y) { return x && y; }},
        {SetOp::Difference, [](bool x, bool y) { return x && !y; }},
        {SetOp::Xor, [](bool x, bool y) { return x != y; }},
    };
    for (const auto& [op, rule] : ops) {
        const Region r = metafile::qd::combine(a, b, op, budget);
        for (int y = -1; y < 16; ++y) {
            for (int x = -1; x < 16; ++x) {
                ASSERT_EQ(r.contains(x, y), rule(a.contains(x, y), b.contains(x, y)))
                    << int(op) << " at " << x << "," << y;
            }
        }
    }
    // Inset by (1, 2): what keeps every pixel within one column and two rows of it.
    const Region inset = metafile::qd::insetRegion(a, 1, 2, budget);
    for (int y = -1; y < 16; ++y) {
        for (int x = -1; x < 16; ++x) {
            bool all = true;
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    all = all && a.contains(x + dx, y + dy);
                }
            }
            ASSERT_EQ(inset.contains(x, y), all) << x << "," << y;
        }
    }
    EXPECT_FALSE(budget.spent());
}
