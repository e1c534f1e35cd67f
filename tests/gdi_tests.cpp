// Metafiles drawn as GDI draws them: their own size, and the pixels of GDI's documented rules,
// each from a minimal metafile built here.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QImage>
#include <cmath>
#include <cstring>
#include <functional>

#include "builders/metafilebuilder.h"
#include "metafile/metafile.h"
#include "metafile/pixelregion.h"
#include "platform/picture.h"
#include "render/renderer.h"
#include "workbook/workbook.h"

using namespace metafiletest;
using platform::Picture;

namespace {

constexpr QRgb kRed = qRgb(255, 0, 0);

QImage rendered(const QByteArray& bytes) {
    const render::Rendered r = render::renderPicture(Picture::fromBytes(bytes));
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    return r.image.convertToFormat(QImage::Format_RGB32);
}

// An EMF recorded on a device of the given pixels and millimetres, framed by frame (0.01 mm),
// whose one red rectangle covers the frame in device pixels and more.
QByteArray framedEmf(QSize pixels, QSize millimetres, QRect frame, QRect bounds) {
    Emf emf;
    emf.devicePixels = pixels;
    emf.deviceMillimetres = millimetres;
    const double sx = double(pixels.width()) / millimetres.width() / 100;
    const double sy = double(pixels.height()) / millimetres.height() / 100;
    emf.brush(1, rgb(255, 0, 0)).select(1).noPen();
    // Past the frame's right and bottom by a few pixels, as GDI leaves those edges out.
    emf.rectangle(int(frame.left() * sx), int(frame.top() * sy),
                  int((frame.x() + frame.width()) * sx * 1.05 + 2),
                  int((frame.y() + frame.height()) * sy * 1.05 + 2));
    return emf.bytes(bounds, frame);
}

}  // namespace

// An EMF is as large as its frame on a 96 dpi screen, whatever device recorded it, and its
// drawing fills that size; non-square device pixels do not stretch it. A frame that states no
// area or cannot be the picture's falls back to the bounds at the device's resolution. A WMF
// is its placeable box at 96 dpi, or its window.
TEST(GdiSize, MetafilesComeOutAtTheirOwnSize) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QSize size;
        bool filled;
    };
    Wmf placeable, bare, escaped;
    placeable.rec(0x020C, {720, 1440});
    bare.rec(0x0103, {8}).rec(0x020C, {2000, 3000});
    // As GDI writes a WMF made from an EMF: the EMF in escape records first.
    escaped.rec(0x0626, QByteArray(6000, '\0')).rec(0x0103, {8}).rec(0x020C, {2000, 3000});
    const QRect frame(0, 0, 2646, 1323);  // 100 x 50 pixels at 96 dpi
    const std::vector<Case> cases = {
        {"a 96 dpi screen",
         framedEmf({960, 960}, {254, 254}, frame, {0, 0, 100, 50}),
         {100, 50},
         true},
        {"a 1200 dpi printer",
         framedEmf({4724, 4724}, {100, 100}, frame, {0, 0, 1250, 625}),
         {100, 50},
         true},
        {"a 72 dpi screen",
         framedEmf({2835, 2835}, {1000, 1000}, frame, {0, 0, 75, 37}),
         {100, 50},
         true},
        {"pixels twice as tall as wide",
         framedEmf({2362, 1181}, {100, 100}, {0, 0, 2646, 2646}, {0, 0, 625, 312}),
         {100, 100},
         true},
        {"no frame: the bounds at 4 pixels a millimetre",
         framedEmf({1000, 1000}, {250, 250}, {0, 0, 0, 0}, {0, 0, 200, 100}),
         {189, 94},
         false},
        {"bounds of all zeros, as a recorder that kept none writes: the frame",
         framedEmf({960, 960}, {254, 254}, {0, 0, 5292, 2646}, {0, 0, 1, 1}),
         {200, 100},
         true},
        {"a frame a hundredth of the bounds",
         framedEmf({960, 960}, {254, 254}, {0, 0, 26, 13}, {0, 0, 100, 50}),
         {100, 50},
         false},
        {"a placeable WMF at 1440 units an inch",
         placeable.bytes(QRect(0, 0, 1440, 720)),
         {96, 48},
         false},
        {"a WMF without its placeable header: its window", bare.bytes(), {3000, 2000}, false},
        {"its window behind 6 KB of escape records", escaped.bytes(), {3000, 2000}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture picture = Picture::fromBytes(c.bytes);
        EXPECT_EQ(picture.size(), c.size);
        const QImage image = rendered(c.bytes);
        ASSERT_EQ(image.size(), c.size);
        if (c.filled) {
            for (QPoint p : {QPoint(0, 0), QPoint(c.size.width() - 1, c.size.height() - 1)}) {
                EXPECT_EQ(image.pixel(p), kRed) << p.x() << "," << p.y();
            }
        }
    }
}

// Every EMF in the corpus's workbooks, whatever device recorded it, is listed and drawn at its
// frame on a 96 dpi screen, give or take the rounding of a pixel.
TEST(GdiSize, CorpusEmfsComeOutAtTheirFrames) {
    int emfs = 0;
    QDirIterator it(QStringLiteral(QUILLFEN_TEST_DATA_DIR "/corpus"), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        auto opened = workbook::openWorkbook(path.toStdString(), {metafile::sniffDrawnImage});
        if (!opened) {
            continue;
        }
        workbook::Workbook& book = *opened.value();
        for (std::size_t s = 0; s < book.worksheets().size(); ++s) {
            const auto& pictures = book.worksheets()[s].pictures;
            for (std::size_t p = 0; p < pictures.size(); ++p) {
                if (pictures[p].linked || pictures[p].format != workbook::ImageFormat::Emf) {
                    continue;
                }
                SCOPED_TRACE(path.toStdString() + " picture " + std::to_string(p + 1));
                auto read = book.readPictureBytes(s, p);
                ASSERT_TRUE(read);
                const std::vector<std::uint8_t>& bytes = read.value();
                ASSERT_GE(bytes.size(), 40u);
                std::int32_t frame[4];
                std::memcpy(frame, bytes.data() + 24, sizeof frame);
                const QSize want(int(std::lround((frame[2] - frame[0]) * 96 / 2540.0)),
                                 int(std::lround((frame[3] - frame[1]) * 96 / 2540.0)));
                const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                                      qsizetype(bytes.size()));
                const QSize listed(pictures[p].width, pictures[p].height);
                const QSize drawn = rendered(data).size();
                for (const QSize& got : {listed, drawn}) {
                    EXPECT_LE(std::abs(got.width() - want.width()), 1) << got.width();
                    EXPECT_LE(std::abs(got.height() - want.height()), 1) << got.height();
                }
                ++emfs;
            }
        }
    }
    EXPECT_GE(emfs, 4);
}

namespace {

constexpr QRgb kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0), kBlue = qRgb(0, 0, 255);

QByteArray font(std::uint32_t slot, int height, const char16_t* face, int charset = 0,
                int escapement = 0) {
    QByteArray f = dwords({slot, -height, 0, escapement, escapement, 400});
    f.append(char(0)).append(char(0)).append(char(0)).append(char(charset));
    f.append(QByteArray(4, '\0'));
    QByteArray name(reinterpret_cast<const char*>(face),
                    qsizetype(2 * std::char_traits<char16_t>::length(face)));
    name.resize(64, '\0');
    return f + name;
}

// EXTTEXTOUTA of bytes at (x, y), no rectangle.
QByteArray textOut(int x, int y, const QByteArray& text) {
    QByteArray p = dwords({0, 0, 0, 0, 1, 0, 0, x, y, text.size(), 76, 0, 0, 0, 0, 0, 0});
    return p + text;
}

// A 1-bit DIB of 8 x 8 without a colour table: rows from the bottom, four bytes each.
QByteArray monoDib(const std::uint8_t (&rows)[8]) {
    QByteArray dib = dwords({40, 8, 8}) + words({1, 1}) + dwords({0, 32, 0, 0, 0, 0});
    for (int y = 7; y >= 0; --y) {
        dib.append(char(rows[y])).append(QByteArray(3, '\0'));
    }
    return dib;
}

int inkIn(const QImage& image, QRect area) {
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ink += image.pixel(x, y) != kWhite;
        }
    }
    return ink;
}

}  // namespace

// Minimal metafiles on a 20 x 20 picture whose pixels are the device's, each probed where a
// documented GDI rule decides the pixel: lines leave out their last pixel, shapes their right
// and bottom edges, pens are whole pixels wide, raster operations and fill modes combine as
// GDI's do, clips are whole pixels, and the small faults stay fixed.
TEST(GdiRaster, PixelsFollowGdisRules) {
    struct Probe {
        int x, y;
        QRgb colour;
    };
    struct Case {
        const char* name;
        std::function<void(Emf&)> records;
        std::vector<Probe> probes;
    };
    const std::uint32_t red = rgb(255, 0, 0);
    const std::uint8_t rowsAlternating[8] = {0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF};
    const std::vector<Case> cases = {
        {"a one-pixel line covers its start and not its end, one row deep",
         [](Emf& e) { e.moveTo(2, 5).lineTo(12, 5); },
         {{2, 5, kBlack}, {11, 5, kBlack}, {12, 5, kWhite}, {6, 4, kWhite}, {6, 6, kWhite}}},
        {"a diagonal line steps one pixel at a time",
         [](Emf& e) { e.moveTo(0, 0).lineTo(10, 10); },
         {{0, 0, kBlack}, {5, 5, kBlack}, {9, 9, kBlack}, {10, 10, kWhite}, {5, 6, kWhite}}},
        {"a rectangle covers left to right - 1 with its pen around the brush",
         [&](Emf& e) { e.brush(1, red).select(1).rectangle(2, 2, 8, 6); },
         {{2, 2, kBlack}, {7, 5, kBlack}, {8, 5, kWhite}, {7, 6, kWhite}, {4, 3, kRed}}},
        {"without a pen a rectangle is a pixel narrower and shorter",
         [&](Emf& e) { e.brush(1, red).select(1).noPen().rectangle(2, 2, 8, 6); },
         {{2, 2, kRed}, {6, 4, kRed}, {7, 4, kWhite}, {4, 5, kWhite}}},
        {"an ellipse stays within its box",
         [&](Emf& e) {
             e.brush(1, red).select(1).rec(42, {2, 2, 13, 13});
         },
         {{7, 2, kBlack}, {7, 12, kBlack}, {7, 13, kWhite}, {13, 7, kWhite}, {7, 7, kRed}}},
        {"a geometric pen three pixels wide with flat ends",
         [](Emf& e) {
             e.rec(95, {1, 0, 0, 0, 0, 0x10200, 3, 0, 0, 0, 0}).select(1);
             e.moveTo(2, 10).lineTo(15, 10);
         },
         {{5, 9, kBlack},
          {5, 10, kBlack},
          {5, 11, kBlack},
          {5, 8, kWhite},
          {5, 12, kWhite},
          {1, 10, kWhite}}},
        {"R2_XORPEN drawn twice leaves the page as it was",
         [&](Emf& e) {
             e.brush(1, red).select(1).noPen().rec(20, {7});
             e.rectangle(2, 2, 10, 10).rectangle(2, 2, 10, 10);
         },
         {{5, 5, kWhite}}},
        {"R2_NOT inverts the page",
         [&](Emf& e) { e.noPen().rec(20, {6}).rectangle(2, 2, 10, 10); },
         {{5, 5, kBlack}, {12, 12, kWhite}}},
        {"alternate leaves a star's centre empty",
         [&](Emf& e) {
             e.brush(1, red).select(1).noPen().rec(19, {1});
             e.rec(86, dwords({0, 0, 0, 0, 5}) + words({10, 0, 16, 19, 0, 7, 19, 7, 3, 19}));
         },
         {{10, 10, kWhite}, {10, 3, kRed}}},
        {"winding fills a star's centre",
         [&](Emf& e) {
             e.brush(1, red).select(1).noPen().rec(19, {2});
             e.rec(86, dwords({0, 0, 0, 0, 5}) + words({10, 0, 16, 19, 0, 7, 19, 7, 3, 19}));
         },
         {{10, 10, kRed}, {10, 3, kRed}}},
        {"a polygon of thousands of self-crossing edges fills by its rule",
         [&](Emf& e) {
             // A star of 1,201 points, each joined to the one 600 on: its centre is wound
             // 600 times, so winding fills it and alternate would not.
             QByteArray points;
             for (int i = 0; i < 1201; ++i) {
                 const double a = 2 * 3.14159265358979 * i * 600 / 1201;
                 points += words({int(std::lround(10 + 9 * std::cos(a))),
                                  int(std::lround(10 + 9 * std::sin(a)))});
             }
             e.brush(1, red).select(1).noPen().rec(19, {2});
             e.rec(86, dwords({0, 0, 20, 20, 1201}) + points);
         },
         {{10, 10, kRed}, {0, 0, kWhite}}},
        {"thousands of excluded rectangles are whole pixels, and cheap",
         [&](Emf& e) {
             for (int i = 0; i < 5000; ++i) {
                 e.rec(29, {i % 10, 15, i % 10 + 1, 16});
             }
             e.brush(1, red).select(1).noPen().rectangle(0, 0, 21, 21);
         },
         {{3, 15, kWhite}, {9, 15, kWhite}, {10, 15, kRed}, {3, 14, kRed}, {3, 16, kRed}}},
        {"a hatch is GDI's 8 x 8 pattern from the origin, its gaps in the background colour",
         [](Emf& e) {
             e.brush(1, rgb(0, 0, 255), 2, 4).select(1).noPen();  // HS_CROSS
             e.rec(25, {rgb(0, 255, 0)}).rectangle(0, 0, 21, 21);
         },
         {{0, 3, kBlue}, {4, 0, kBlue}, {12, 11, kBlue}, {0, 0, qRgb(0, 255, 0)}}},
        {"a monochrome pattern brush shows the text and background colours",
         [&](Emf& e) {
             const QByteArray dib = monoDib(rowsAlternating);
             e.rec(93, dwords({1, 0, 32, 40, 72, 32}) + dib).select(1).noPen();
             e.rec(24, {red}).rec(25, {rgb(0, 0, 255)}).rectangle(0, 0, 21, 21);
         },
         {{3, 0, kRed}, {3, 1, kBlue}, {3, 2, kRed}}},
        {"PALETTEINDEX takes the selected palette's entry",
         [](Emf& e) {
             e.rec(49, dwords({2}) + words({0x300, 2}) + dwords({rgb(0, 255, 0), rgb(0, 0, 255)}));
             e.rec(48, {2}).brush(1, 0x01000001).select(1).noPen().rectangle(0, 0, 10, 10);
         },
         {{5, 5, kBlue}}},
        {"PALETTEINDEX without a palette takes the default palette's",
         [](Emf& e) { e.brush(1, 0x0100000D).select(1).noPen().rectangle(0, 0, 10, 10); },
         {{5, 5, kRed}}},
        {"the first brush is WHITE_BRUSH",
         [&](Emf& e) {
             e.rec(33).brush(1, red).select(1).noPen().rectangle(0, 0, 21, 21).rec(34, {-1});
             e.rectangle(4, 4, 12, 12);
         },
         {{6, 6, kWhite}, {2, 2, kRed}, {11, 11, kBlack}}},
        {"GRADIENTFILL shades a rectangle across, pixel by pixel",
         [](Emf& e) {
             e.rec(118, dwords({0, 0, 20, 20, 2, 1, 0}) + dwords({0, 0}) +
                            words({0xFF00, 0, 0, 0}) + dwords({20, 20}) + words({0, 0, 0xFF00, 0}) +
                            dwords({0, 1}));
         },
         {{0, 5, qRgb(255, 0, 0)}, {10, 5, qRgb(127, 0, 127)}, {19, 5, qRgb(13, 0, 242)}}},
        {"GRADIENTFILL shades triangles between their corners",
         [](Emf& e) {
             e.rec(118, dwords({0, 0, 20, 20, 3, 1, 2}) + dwords({0, 0}) +
                            words({0xFF00, 0, 0, 0}) + dwords({20, 0}) + words({0xFF00, 0, 0, 0}) +
                            dwords({0, 20}) + words({0, 0, 0xFF00, 0}) + dwords({0, 1, 2}));
         },
         {{1, 0, qRgb(249, 0, 6)}, {0, 18, qRgb(19, 0, 236)}, {19, 19, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf emf;
        c.records(emf);
        const QImage image = rendered(emf.bytes(20, 20));
        ASSERT_EQ(image.size(), QSize(20, 20));
        for (const Probe& p : c.probes) {
            const QRgb got = image.pixel(p.x, p.y);
            EXPECT_LE(std::abs(qRed(got) - qRed(p.colour)) +
                          std::abs(qGreen(got) - qGreen(p.colour)) +
                          std::abs(qBlue(got) - qBlue(p.colour)),
                      4)
                << p.x << "," << p.y << " is " << std::hex << got;
        }
    }
}

// Text: EMR_SMALLTEXTOUT draws, alignment puts the reference point where TA_* says, an opaque
// background fills the text's box, and symbol fonts draw their pictures, not letters.
TEST(GdiText, AlignmentBackgroundsAndSymbolFonts) {
    auto picture = [](const std::function<void(Emf&)>& records) {
        Emf emf;
        emf.rec(82, font(1, 20, u"Liberation Sans")).select(1).rec(18, {1});
        records(emf);
        return rendered(emf.bytes(60, 30));
    };
    // EMR_SMALLTEXTOUT with one-byte characters and no rectangle.
    const QImage small = picture([](Emf& e) {
        e.rec(108, dwords({5, 5, 2, 0x300, 1, 0, 0}) + QByteArray("Hi"));
    });
    EXPECT_GT(inkIn(small, QRect(0, 0, 60, 30)), 10);
    // TA_RIGHT: the text ends at the reference point.
    const QImage right = picture([](Emf& e) { e.rec(22, {2}).rec(83, textOut(40, 5, "Ml")); });
    EXPECT_GT(inkIn(right, QRect(10, 0, 30, 30)), 10);
    EXPECT_EQ(inkIn(right, QRect(41, 0, 19, 30)), 0);
    // OPAQUE background: the box behind the text in the background colour.
    const QImage opaque = picture(
        [](Emf& e) { e.rec(18, {2}).rec(25, {rgb(0, 0, 255)}).rec(83, textOut(5, 5, "i")); });
    EXPECT_EQ(opaque.pixel(5, 6), kBlue);
    // Escapement turns text counter-clockwise in logical units counted as if y ran down: 900
    // runs up the page, and 2700 too where the window turns y up, as a chart's axis title.
    auto turned = [](int escapement, bool yUp) {
        Emf emf;
        emf.rec(17, {8}).rec(11, {60, 60});
        if (yUp) {
            emf.rec(10, {0, 60}).rec(9, {60, -60});
        } else {
            emf.rec(9, {60, 60});
        }
        emf.rec(82, font(1, 12, u"Liberation Sans", 0, escapement)).select(1).rec(22, {24});
        emf.rec(83, textOut(30, 30, "MMMM"));
        return rendered(emf.bytes(60, 60));
    };
    for (const QImage& up : {turned(900, false), turned(2700, true)}) {
        EXPECT_GT(inkIn(up, QRect(15, 0, 16, 30)), 10);
        EXPECT_EQ(inkIn(up, QRect(0, 33, 60, 27)), 0);
    }
    // Symbol fonts: a byte draws the font's picture (a tick, a triangle, a capital pi), not
    // the letter a Latin font draws for it, and not nothing.
    auto glyph = [](const char16_t* face, int charset, char byte) {
        Emf emf;
        emf.rec(82, font(1, 24, face, charset)).select(1).rec(18, {1});
        emf.rec(83, textOut(4, 2, QByteArray(1, byte)));
        return rendered(emf.bytes(30, 30));
    };
    struct Symbolic {
        const char16_t* face;
        char byte;
    };
    for (const Symbolic& s : {Symbolic{u"Wingdings", char(0xFC)}, Symbolic{u"Wingdings 2", 'P'},
                              Symbolic{u"Wingdings 3", 'p'}, Symbolic{u"Symbol", 'P'}}) {
        SCOPED_TRACE(QString::fromUtf16(s.face).toStdString());
        const QImage symbol = glyph(s.face, 2, s.byte);
        EXPECT_GT(inkIn(symbol, QRect(0, 0, 30, 30)), 5);
        EXPECT_NE(symbol, glyph(u"Liberation Sans", 0, s.byte));
    }
}

// Regions of whole pixels combine as sets of pixels, and a path becomes the pixels whose
// centres it holds, within a bound of work.
TEST(GdiRegion, RegionsAreSetsOfWholePixels) {
    using metafile::PixelRegion;
    auto area = [](const PixelRegion& r) {
        long n = 0;
        for (const auto& rect : r.rects()) {
            n += long(rect.right - rect.left) * (rect.bottom - rect.top);
        }
        return n;
    };
    const PixelRegion a = PixelRegion::rect(0, 0, 10, 10), b = PixelRegion::rect(5, 5, 15, 15);
    struct Case {
        PixelRegion::Op op;
        long area;
        std::size_t rects;
    };
    for (const Case& c :
         {Case{PixelRegion::Op::Intersect, 25, 1}, Case{PixelRegion::Op::Unite, 175, 3},
          Case{PixelRegion::Op::Xor, 150, 4}, Case{PixelRegion::Op::Exclude, 75, 2}}) {
        const PixelRegion r = a.combined(b, c.op);
        EXPECT_EQ(area(r), c.area) << int(c.op);
        EXPECT_EQ(r.rectCount(), c.rects) << int(c.op);
    }
    // A triangle: a centre on its left edge is in, one on its right edge out.
    const auto triangle = PixelRegion::fromPolygons(
        {{{0, 0}, {4, 0}, {0, 4}}}, metafile::FillRule::EvenOdd, {0, 0, 10, 10}, 1000);
    ASSERT_TRUE(triangle);
    EXPECT_EQ(area(*triangle), 3 + 2 + 1);
    // Past the bound of work, nothing.
    EXPECT_FALSE(PixelRegion::fromPolygons({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}},
                                           metafile::FillRule::Winding, {0, 0, 10, 10}, 5));
}
