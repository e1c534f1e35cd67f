// EMF+ records played as GDI+ plays them, each case a small metafile built here and probed at
// a few pixels: fills and brushes, pens, transforms and containers, clipping, images, text,
// and which records a dual metafile draws.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <cstring>
#include <functional>

#include "platform/picture.h"
#include "render/renderer.h"

namespace {

QByteArray u32s(std::initializer_list<std::uint32_t> values) {
    QByteArray b;
    for (std::uint32_t v : values) {
        for (int i = 0; i < 4; ++i) {
            b.append(char((v >> (8 * i)) & 0xFF));
        }
    }
    return b;
}

std::uint32_t f32(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

QByteArray floats(std::initializer_list<float> values) {
    QByteArray b;
    for (float v : values) {
        b += u32s({f32(v)});
    }
    return b;
}

QByteArray u16s(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    }
    return b;
}

constexpr std::uint32_t kVersion = 0xDBC01002;
constexpr std::uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00;

// Object records: type in the high byte of the flags, the slot in the low one.
enum ObjectKind {
    kBrushObject = 1,
    kPenObject,
    kPathObject,
    kRegionObject,
    kImageObject,
    kFontObject,
    kFormatObject
};

// EMF+ records and EMF records in the order they are added, made into an EMF of 100 x 100
// pixels: a frame of 26.46 mm on a device of 96 dots an inch (1000 pixels on 264,583 um), so
// that a device pixel is a pixel of the picture.
struct Metafile {
    QByteArray records;
    int count = 0;
    QByteArray plus;  // EMF+ records waiting for their comment

    Metafile& header(bool dual = false) {
        return rec(0x4001, dual ? 1 : 0, u32s({kVersion, 1, 96, 96}))
            .rec(0x4030, 2, floats({1}))  // page in pixels
            .rec(0x4022, 4, {});          // pixel edges on whole coordinates
    }
    Metafile& rec(int type, int flags, QByteArray data) {
        while (data.size() % 4 != 0) {
            data.append('\0');
        }
        plus += u16s({type, flags}) +
                u32s({std::uint32_t(12 + data.size()), std::uint32_t(data.size())}) + data;
        return *this;
    }
    Metafile& object(ObjectKind kind, int id, const QByteArray& data) {
        return rec(0x4008, (kind << 8) | id, u32s({kVersion}) + data);
    }
    // Closes the EMF+ records so far into a comment.
    Metafile& flush() {
        if (!plus.isEmpty()) {
            emr(70, u32s({std::uint32_t(4 + plus.size()), 0x2B464D45}) + plus);
            plus.clear();
        }
        return *this;
    }
    Metafile& emr(std::uint32_t type, const QByteArray& payload) {
        records += u32s({type, std::uint32_t(8 + payload.size())}) + payload;
        ++count;
        return *this;
    }
    QByteArray bytes() {
        flush();
        const QByteArray eof = u32s({14, 20, 0, 16, 20});
        QByteArray b =
            u32s({1, 108, 0, 0, 99, 99, 0, 0, 2646, 2646, 0x464D4520, 0x10000,
                  std::uint32_t(108 + records.size() + eof.size()), std::uint32_t(count + 2)});
        b += u16s({16, 0}) + u32s({0, 0, 0, 1000, 1000, 265, 265, 0, 0, 0, 264583, 264583});
        return b + records + eof;
    }
};

QImage drawn(const QByteArray& bytes) {
    const render::Rendered r = render::renderPicture(platform::Picture::fromBytes(bytes));
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    return r.image.convertToFormat(QImage::Format_RGB32);
}

QByteArray solidBrush(std::uint32_t argb) {
    return u32s({0, argb});
}

QByteArray solidPen(float width, std::uint32_t argb, std::uint32_t flags = 0,
                    const QByteArray& optional = {}) {
    return u32s({0, flags, 0}) + floats({width}) + optional + u32s({kVersion}) + solidBrush(argb);
}

QByteArray rectF(float x, float y, float w, float h) {
    return floats({x, y, w, h});
}

// FillRects with a colour written in place.
QByteArray fillRect(std::uint32_t argb, float x, float y, float w, float h) {
    return u32s({argb, 1}) + rectF(x, y, w, h);
}

// A 32-bit ARGB bitmap of 2 x 2 pixels: red, green / blue, white.
QByteArray quadBitmap() {
    return u32s({1, 2, 2, 8, 0x0026200A, 0, kRed, kGreen, kBlue, 0xFFFFFFFF});
}

struct Probe {
    int x, y;
    QRgb colour;
};

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

struct Case {
    const char* name;
    std::function<void(Metafile&)> records;
    std::vector<Probe> probes;
    int tolerance = 0;
};

void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Metafile m;
        m.header();
        c.records(m);
        const QImage image = drawn(m.bytes());
        ASSERT_EQ(image.size(), QSize(100, 100));
        for (const Probe& p : c.probes) {
            const QRgb got = image.pixel(p.x, p.y);
            EXPECT_TRUE(near(got, p.colour, c.tolerance))
                << p.x << "," << p.y << ": " << std::hex << got << " not " << p.colour;
        }
    }
}

constexpr QRgb kWhitePx = qRgb(255, 255, 255), kRedPx = qRgb(255, 0, 0), kBluePx = qRgb(0, 0, 255),
               kGreenPx = qRgb(0, 255, 0);

}  // namespace

// Each brush and shape fills what GDI+ fills: colours in place and brush objects, alpha over
// the page, hatches, both gradients, textures, and the shapes' own outlines.
TEST(EmfPlus, FillsPaintWhatTheBrushGives) {
    const std::vector<Case> cases = {
        {"colour in place",
         [](Metafile& m) { m.rec(0x400A, 0x8000, fillRect(kRed, 10, 10, 30, 30)); },
         {{10, 10, kRedPx}, {39, 39, kRedPx}, {40, 40, kWhitePx}, {9, 9, kWhitePx}}},
        {"brush object and 16-bit rectangle",
         [](Metafile& m) {
             m.object(kBrushObject, 3, solidBrush(kBlue));
             m.rec(0x400A, 0x4000, u32s({3, 1}) + u16s({50, 50, 20, 20}));
         },
         {{55, 55, kBluePx}, {45, 45, kWhitePx}}},
        {"alpha over the page",
         [](Metafile& m) { m.rec(0x400A, 0x8000, fillRect(0x80FF0000, 0, 0, 100, 100)); },
         {{50, 50, qRgb(255, 127, 127)}},
         1},
        {"ellipse",
         [](Metafile& m) { m.rec(0x400E, 0x8000, u32s({kRed}) + rectF(0, 0, 100, 100)); },
         {{50, 50, kRedPx}, {3, 3, kWhitePx}, {96, 96, kWhitePx}}},
        {"pie from 0 through 90 degrees, clockwise",
         [](Metafile& m) {
             m.rec(0x4010, 0x8000, u32s({kRed}) + floats({0, 90}) + rectF(0, 0, 100, 100));
         },
         {{70, 70, kRedPx}, {70, 30, kWhitePx}, {30, 70, kWhitePx}}},
        {"polygon of relative points",
         [](Metafile& m) {
             // (10,10), then +80 across, then +80 down: 7-bit and 15-bit steps.
             QByteArray points;
             points.append(char(10)).append(char(10));
             points.append(char(0x80)).append(char(80)).append(char(0));
             points.append(char(0)).append(char(0x80)).append(char(80));
             m.rec(0x400C, 0x8800, u32s({kRed, 3}) + points);
         },
         {{80, 20, kRedPx}, {20, 80, kWhitePx}}},
        {"path object of 16-bit points",
         [](Metafile& m) {
             m.object(kPathObject, 1,
                      u32s({4, 0x4000}) + u16s({0, 0, 60, 0, 60, 60, 0, 60}) +
                          QByteArray("\x00\x01\x01\x81", 4));
             m.rec(0x4014, 0x8001, u32s({kBlue}));
         },
         {{30, 30, kBluePx}, {80, 80, kWhitePx}}},
        {"hatch: horizontal lines over the background",
         [](Metafile& m) {
             m.object(kBrushObject, 0, u32s({1, 0, kRed, kBlue}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 16, 16));
         },
         {{3, 0, kRedPx}, {3, 1, kBluePx}, {3, 8, kRedPx}, {3, 9, kBluePx}}},
        {"linear gradient from its start colour to its end colour",
         [](Metafile& m) {
             m.object(kBrushObject, 0,
                      u32s({4, 0, 4}) + rectF(0, 0, 100, 100) + u32s({kRed, kBlue, 0, 0}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{0, 50, kRedPx}, {99, 50, kBluePx}, {50, 10, qRgb(128, 0, 127)}},
         6},
        {"linear gradient tiles past its rectangle",
         [](Metafile& m) {
             m.object(kBrushObject, 0,
                      u32s({4, 0, 0}) + rectF(0, 0, 50, 50) + u32s({kRed, kBlue, 0, 0}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{50, 50, kRedPx}, {98, 50, kBluePx}},
         12},
        {"path gradient from the centre colour to the surround",
         [](Metafile& m) {
             m.object(kBrushObject, 0,
                      u32s({3, 0, 0, kRed}) + floats({50, 50}) + u32s({1, kBlue, 4}) +
                          floats({0, 0, 100, 0, 100, 100, 0, 100}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{50, 50, kRedPx}, {1, 50, kBluePx}, {25, 50, qRgb(128, 0, 127)}},
         16},
        {"texture tiles its bitmap from the origin",
         [](Metafile& m) {
             m.object(kBrushObject, 0, u32s({2, 0, 0, kVersion}) + quadBitmap());
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{0, 0, kRedPx}, {1, 0, kGreenPx}, {0, 1, kBluePx}, {2, 2, kRedPx}, {3, 2, kGreenPx}}},
        {"linear gradient through preset colours",
         [](Metafile& m) {
             m.object(kBrushObject, 0,
                      u32s({4, 4, 4}) + rectF(0, 0, 100, 100) + u32s({kRed, kBlue, 0, 0}) +
                          u32s({3}) + floats({0, 0.5f, 1}) + u32s({kRed, kGreen, kBlue}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{50, 50, kGreenPx}, {1, 50, kRedPx}, {98, 50, kBluePx}},
         10},
        {"linear gradient whose blend holds the start colour to the middle",
         [](Metafile& m) {
             m.object(kBrushObject, 0,
                      u32s({4, 8, 4}) + rectF(0, 0, 100, 100) + u32s({kRed, kBlue, 0, 0}) +
                          u32s({3}) + floats({0, 0.5f, 1}) + floats({0, 0, 1}));
             m.rec(0x400A, 0, u32s({0, 1}) + rectF(0, 0, 100, 100));
         },
         {{40, 50, kRedPx}, {98, 50, kBluePx}},
         10},
        {"an object slot defined again holds the new object",
         [](Metafile& m) {
             m.object(kBrushObject, 2, solidBrush(kRed));
             m.object(kBrushObject, 2, solidBrush(kGreen));
             m.rec(0x400A, 0, u32s({2, 1}) + rectF(0, 0, 100, 100));
         },
         {{50, 50, kGreenPx}}},
        {"clear paints everything",
         [](Metafile& m) { m.rec(0x4009, 0, u32s({kGreen})); },
         {{0, 0, kGreenPx}, {99, 99, kGreenPx}}},
    };
    runCases(cases);
}

// Transforms: world, page, containers and saved states put shapes where GDI+ puts them.
TEST(EmfPlus, TransformsAndStatesPlaceWhatIsDrawn) {
    auto square = [](Metafile& m) { m.rec(0x400A, 0x8000, fillRect(kRed, 0, 0, 20, 20)); };
    const std::vector<Case> cases = {
        {"world transform",
         [&](Metafile& m) {
             m.rec(0x402A, 0, floats({1, 0, 0, 1, 50, 40}));
             square(m);
         },
         {{55, 45, kRedPx}, {5, 5, kWhitePx}}},
        {"translate then scale, prepended",
         [&](Metafile& m) {
             m.rec(0x402D, 0, floats({10, 10}));
             m.rec(0x402E, 0, floats({3, 3}));  // scales before the translation
             square(m);
         },
         {{65, 65, kRedPx}, {75, 75, kWhitePx}, {5, 5, kWhitePx}}},
        {"rotation by 90 degrees about the origin",
         [&](Metafile& m) {
             m.rec(0x402D, 0, floats({50, 50}));
             m.rec(0x402F, 0, floats({90}));
             square(m);
         },
         {{40, 55, kRedPx}, {55, 55, kWhitePx}}},
        {"page in millimetres",
         [&](Metafile& m) {
             m.rec(0x4030, 6, floats({1}));  // 96 / 25.4 pixels a millimetre
             m.rec(0x400A, 0x8000, fillRect(kRed, 0, 0, 10, 10));
         },
         {{36, 36, kRedPx}, {39, 39, kWhitePx}}},
        {"container maps its source rectangle onto its destination",
         [&](Metafile& m) {
             m.rec(0x4027, 2 << 8, rectF(50, 50, 40, 40) + rectF(0, 0, 20, 20) + u32s({1}));
             square(m);
             m.rec(0x4029, 0, u32s({1}));
             m.rec(0x400A, 0x8000, fillRect(kBlue, 0, 0, 10, 10));
         },
         {{85, 85, kRedPx}, {45, 45, kWhitePx}, {5, 5, kBluePx}}},
        {"restore brings the saved transform back",
         [&](Metafile& m) {
             m.rec(0x4025, 0, u32s({7}));
             m.rec(0x402D, 0, floats({60, 60}));
             m.rec(0x4026, 0, u32s({7}));
             square(m);
         },
         {{5, 5, kRedPx}, {65, 65, kWhitePx}}},
    };
    runCases(cases);
}

// Clipping by rectangle, path and region under each combine mode, and its undoing.
TEST(EmfPlus, ClipsKeepDrawingInside) {
    auto fillAll = [](Metafile& m) { m.rec(0x400A, 0x8000, fillRect(kRed, 0, 0, 100, 100)); };
    auto rectRegion = [](float x, float y, float w, float h) {
        return u32s({1, 0x10000000}) + rectF(x, y, w, h);
    };
    const std::vector<Case> cases = {
        {"rectangle",
         [&](Metafile& m) {
             m.rec(0x4032, 0, rectF(0, 0, 50, 100));
             fillAll(m);
         },
         {{25, 50, kRedPx}, {75, 50, kWhitePx}}},
        {"rectangle excluded",
         [&](Metafile& m) {
             m.rec(0x4032, 4 << 8, rectF(40, 40, 20, 20));
             fillAll(m);
         },
         {{10, 10, kRedPx}, {50, 50, kWhitePx}}},
        {"union of two rectangles",
         [&](Metafile& m) {
             m.rec(0x4032, 0, rectF(0, 0, 20, 20));
             m.rec(0x4032, 2 << 8, rectF(80, 80, 20, 20));
             fillAll(m);
         },
         {{10, 10, kRedPx}, {90, 90, kRedPx}, {50, 50, kWhitePx}}},
        {"reset lifts the clip",
         [&](Metafile& m) {
             m.rec(0x4032, 0, rectF(0, 0, 10, 10));
             m.rec(0x4031, 0, {});
             fillAll(m);
         },
         {{80, 80, kRedPx}}},
        {"offset moves it",
         [&](Metafile& m) {
             m.rec(0x4032, 0, rectF(0, 0, 20, 20));
             m.rec(0x4035, 0, floats({50, 50}));
             fillAll(m);
         },
         {{60, 60, kRedPx}, {10, 10, kWhitePx}}},
        {"path",
         [&](Metafile& m) {
             m.object(
                 kPathObject, 2,
                 u32s({3, 0}) + floats({0, 0, 100, 0, 0, 100}) + QByteArray("\x00\x01\x81\x00", 4));
             m.rec(0x4033, 2, {});
             fillAll(m);
         },
         {{10, 10, kRedPx}, {90, 90, kWhitePx}}},
        {"region: a rectangle less another",
         [&](Metafile& m) {
             m.object(
                 kRegionObject, 4,
                 u32s({2, 4}) + rectRegion(0, 0, 100, 50).mid(4) + rectRegion(0, 0, 50, 50).mid(4));
             m.rec(0x4034, 4, {});
             fillAll(m);
         },
         {{75, 25, kRedPx}, {25, 25, kWhitePx}, {75, 75, kWhitePx}}},
        {"restore brings the saved clip back",
         [&](Metafile& m) {
             m.rec(0x4025, 0, u32s({1}));
             m.rec(0x4032, 0, rectF(0, 0, 10, 10));
             m.rec(0x4026, 0, u32s({1}));
             fillAll(m);
         },
         {{80, 80, kRedPx}}},
        {"region: the complement of a rectangle within another",
         [&](Metafile& m) {
             m.object(kRegionObject, 4,
                      u32s({2, 5}) + rectRegion(0, 0, 50, 100).mid(4) +
                          rectRegion(0, 0, 100, 100).mid(4));
             m.rec(0x4034, 4, {});
             fillAll(m);
         },
         {{75, 50, kRedPx}, {25, 50, kWhitePx}}},
        {"region: a rectangle united with an intersection of two",
         [&](Metafile& m) {
             m.object(kRegionObject, 4,
                      u32s({4, 2}) + rectRegion(0, 0, 20, 20).mid(4) + u32s({1}) +
                          rectRegion(50, 50, 50, 50).mid(4) + rectRegion(70, 0, 30, 100).mid(4));
             m.rec(0x4034, 4, {});
             fillAll(m);
         },
         {{10, 10, kRedPx}, {85, 75, kRedPx}, {60, 75, kWhitePx}, {85, 25, kWhitePx}}},
        {"a container's clip stays within the clip it began in, and ends with it",
         [&](Metafile& m) {
             m.rec(0x4032, 0, rectF(0, 0, 50, 100));
             m.rec(0x4028, 0, u32s({3}));
             m.rec(0x4032, 0, rectF(25, 0, 75, 50));  // a replacement, inside the container
             m.rec(0x400A, 0x8000, fillRect(kBlue, 0, 0, 100, 100));
             m.rec(0x4029, 0, u32s({3}));
             m.rec(0x400A, 0x8000, fillRect(kRed, 0, 60, 100, 40));
         },
         {{40, 25, kBluePx},
          {75, 25, kWhitePx},
          {10, 25, kWhitePx},
          {25, 80, kRedPx},
          {75, 80, kWhitePx}}},
        {"fill of a region",
         [&](Metafile& m) {
             m.object(kRegionObject, 5, rectRegion(20, 20, 10, 10));
             m.rec(0x4013, 0x8005, u32s({kBlue}));
         },
         {{25, 25, kBluePx}, {35, 35, kWhitePx}}},
    };
    runCases(cases);
}

// Pens: width in world units, dashes in pen widths, and the outline of each shape.
TEST(EmfPlus, PensDrawOutlines) {
    const std::vector<Case> cases = {
        {"lines of a wide pen",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(10, kBlue));
             m.rec(0x400D, 0, u32s({2}) + floats({0, 50, 100, 50}));
         },
         {{50, 46, kBluePx}, {50, 53, kBluePx}, {50, 40, kWhitePx}, {50, 60, kWhitePx}}},
        {"pen width scales with the world",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(2, kBlue));
             m.rec(0x402E, 0, floats({5, 5}));
             m.rec(0x400D, 0, u32s({2}) + floats({0, 10, 20, 10}));
         },
         {{50, 46, kBluePx}, {50, 53, kBluePx}, {50, 40, kWhitePx}}},
        {"dashes of three widths and gaps of one",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(10, kBlue, 0x20, u32s({1})));
             m.rec(0x400D, 0, u32s({2}) + floats({0, 50, 100, 50}));
         },
         {{15, 50, kBluePx}, {35, 50, kWhitePx}, {55, 50, kBluePx}}},
        {"a dash array of its own, whatever the style says",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(10, kBlue, 0x100, u32s({2}) + floats({3, 1})));
             m.rec(0x400D, 0, u32s({2}) + floats({0, 50, 100, 50}));
         },
         {{15, 50, kBluePx}, {35, 50, kWhitePx}}},
        {"arrow anchor at the end of the line",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(4, kRed, 0x4, u32s({0x14})));
             m.rec(0x400D, 0, u32s({2}) + floats({10, 50, 80, 50}));
         },
         {{74, 47, kRedPx}, {30, 46, kWhitePx}, {84, 50, kWhitePx}}},
        {"adjustable arrow of a custom cap",
         [](Metafile& m) {
             const QByteArray arrow = u32s({kVersion, 1}) + floats({3, 3, 0}) + u32s({1, 0, 0, 0}) +
                                      floats({10, 1, 0, 0, 0, 0});
             m.object(kPenObject, 0,
                      solidPen(4, kRed, 0x1004, u32s({0xFF, std::uint32_t(arrow.size())}) + arrow));
             m.rec(0x400D, 0, u32s({2}) + floats({10, 50, 80, 50}));
         },
         {{72, 47, kRedPx}, {30, 46, kWhitePx}, {84, 50, kWhitePx}}},
        {"rectangle outline",
         [](Metafile& m) {
             m.object(kPenObject, 1, solidPen(4, kRed));
             m.rec(0x400B, 1, u32s({1}) + rectF(20, 20, 60, 60));
         },
         {{20, 50, kRedPx}, {79, 50, kRedPx}, {50, 50, kWhitePx}}},
        {"Bézier chain",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(6, kRed));
             m.rec(0x4019, 0, u32s({4}) + floats({0, 50, 33, 50, 66, 50, 100, 50}));
         },
         {{50, 50, kRedPx}, {50, 30, kWhitePx}}},
        {"cardinal spline through its points",
         [](Metafile& m) {
             m.object(kPenObject, 0, solidPen(6, kRed));
             m.rec(0x4018, 0, floats({0.5f}) + u32s({0, 2, 3}) + floats({10, 80, 50, 20, 90, 80}));
         },
         {{50, 20, kRedPx}, {50, 50, kWhitePx}}},
    };
    runCases(cases);
}

// Every pixel format a bitmap object may hold unpacks to the colours it stands for: a 2 x 2
// bitmap of red, green / blue, white, rows from the top, each row padded to four bytes.
TEST(EmfPlus, BitmapPixelFormatsUnpackToTheirColours) {
    auto row = [](std::initializer_list<int> bytes) {
        QByteArray b;
        for (int v : bytes) {
            b.append(char(v));
        }
        while (b.size() % 4 != 0) {
            b.append('\0');
        }
        return b;
    };
    const QByteArray palette = u32s({0, 4, kRed, kGreen, kBlue, 0xFFFFFFFF});
    struct Format {
        const char* name;
        std::uint32_t format;
        QByteArray data;  // palette, then rows
    };
    const std::vector<Format> formats = {
        {"1 bit indexed", 0x00030101, u32s({0, 2, kRed, kBlue}) + row({0x40}) + row({0x00})},
        {"4 bit indexed", 0x00030402, palette + row({0x01}) + row({0x23})},
        {"8 bit indexed", 0x00030803, palette + row({0, 1}) + row({2, 3})},
        {"16 bit 5-6-5", 0x00021006, row({0x00, 0xF8, 0xE0, 0x07}) + row({0x1F, 0x00, 0xFF, 0xFF})},
        {"16 bit 5-5-5", 0x00021005, row({0x00, 0x7C, 0xE0, 0x03}) + row({0x1F, 0x00, 0xFF, 0x7F})},
        {"24 bit", 0x00021808, row({0, 0, 255, 0, 255, 0}) + row({255, 0, 0, 255, 255, 255})},
        {"32 bit premultiplied", 0x000E200B,
         row({0, 0, 255, 255, 0, 255, 0, 255}) + row({255, 0, 0, 255, 255, 255, 255, 255})},
        {"48 bit", 0x0010300C,
         row({0, 0, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0}) +
             row({255, 255, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255})},
    };
    for (const Format& f : formats) {
        SCOPED_TRACE(f.name);
        const bool oneBit = f.format == 0x00030101;
        const int bits = int((f.format >> 8) & 0xFF);
        const std::uint32_t stride = std::uint32_t((2 * bits + 31) / 32 * 4);
        Metafile m;
        m.header();
        m.object(kImageObject, 0, u32s({1, 2, 2, stride, f.format, 0}) + f.data);
        m.rec(0x4021, 5, {});
        m.rec(0x401A, 0, u32s({0, 2}) + rectF(0, 0, 2, 2) + rectF(0, 0, 100, 100));
        const QImage image = drawn(m.bytes());
        EXPECT_EQ(image.pixel(25, 25), kRedPx);
        EXPECT_EQ(image.pixel(75, 25), oneBit ? kBluePx : kGreenPx);
        EXPECT_EQ(image.pixel(25, 75), oneBit ? kRedPx : kBluePx);
        EXPECT_EQ(image.pixel(75, 75), oneBit ? kRedPx : kWhitePx);
    }
}

// Images: bitmaps of pixels and of encoded bytes, into rectangles and parallelograms, and a
// metafile drawn inside this one.
TEST(EmfPlus, ImagesLandWhereTheyAreSent) {
    QImage png(2, 2, QImage::Format_RGB32);
    png.setPixel(0, 0, qRgb(255, 0, 0));
    png.setPixel(1, 0, qRgb(0, 255, 0));
    png.setPixel(0, 1, qRgb(0, 0, 255));
    png.setPixel(1, 1, qRgb(255, 255, 255));
    QByteArray pngBytes;
    QBuffer buffer(&pngBytes);
    buffer.open(QIODevice::WriteOnly);
    png.save(&buffer, "PNG");
    // A placeable WMF as GDI+ keeps one: its 22-byte header padded to 24, then the metafile,
    // whose size alone is counted. It fills its box of 100 x 100 units blue.
    QByteArray wmf = u16s({1, 9, 0x300}) + u32s({0}) + u16s({1}) + u32s({7}) + u16s({0});
    wmf += u32s({7}) + u16s({0x02FC, 0}) + u32s({0xFF0000}) + u16s({0});  // blue brush
    wmf += u32s({4}) + u16s({0x012D, 0});
    wmf += u32s({7}) + u16s({0x041B, 100, 100, 0, 0});
    wmf += u32s({3}) + u16s({0});
    wmf.replace(6, 4, u32s({std::uint32_t(wmf.size() / 2)}));
    const QByteArray placeable =
        u32s({0x9AC6CDD7}) + u16s({0, 0, 0, 100, 100, 96}) + u32s({0}) + u16s({0, 0});
    Metafile inner;
    inner.header();
    inner.rec(0x400A, 0x8000, fillRect(kBlue, 0, 0, 100, 100));
    const QByteArray innerEmf = inner.bytes();
    const std::vector<Case> cases = {
        {"bitmap into a rectangle",
         [](Metafile& m) {
             m.object(kImageObject, 0, quadBitmap());
             m.rec(0x4021, 5, {});  // nearest neighbour
             m.rec(0x401A, 0, u32s({0, 2}) + rectF(0, 0, 2, 2) + rectF(0, 0, 100, 100));
         },
         {{25, 25, kRedPx}, {75, 25, kGreenPx}, {25, 75, kBluePx}, {75, 75, kWhitePx}}},
        {"part of a bitmap",
         [](Metafile& m) {
             m.object(kImageObject, 0, quadBitmap());
             m.rec(0x4021, 5, {});
             m.rec(0x401A, 0, u32s({0, 2}) + rectF(1, 0, 1, 2) + rectF(0, 0, 100, 100));
         },
         {{25, 25, kGreenPx}, {75, 25, kGreenPx}, {25, 75, kWhitePx}}},
        {"bitmap onto three points: mirrored across",
         [](Metafile& m) {
             m.object(kImageObject, 0, quadBitmap());
             m.rec(0x4021, 5, {});
             m.rec(0x401B, 0,
                   u32s({0, 2}) + rectF(0, 0, 2, 2) + u32s({3}) + floats({100, 0, 0, 0, 100, 100}));
         },
         {{25, 25, kGreenPx}, {75, 25, kRedPx}}},
        {"encoded bitmap",
         [&](Metafile& m) {
             m.object(kImageObject, 1, u32s({1, 0, 0, 0, 0, 1}) + pngBytes);
             m.rec(0x4021, 5, {});
             m.rec(0x401A, 1, u32s({0, 2}) + rectF(0, 0, 2, 2) + rectF(0, 0, 100, 100));
         },
         {{25, 25, kRedPx}, {75, 25, kGreenPx}, {25, 75, kBluePx}}},
        {"placeable WMF inside the metafile",
         [&](Metafile& m) {
             m.object(kImageObject, 3, u32s({2, 2, std::uint32_t(wmf.size())}) + placeable + wmf);
             m.rec(0x401A, 3, u32s({0, 2}) + rectF(0, 0, 100, 100) + rectF(0, 0, 50, 50));
         },
         {{25, 25, kBluePx}, {75, 75, kWhitePx}},
         8},
        {"metafile inside the metafile",
         [&](Metafile& m) {
             m.object(kImageObject, 2, u32s({2, 3, std::uint32_t(innerEmf.size())}) + innerEmf);
             m.rec(0x401A, 2, u32s({0, 2}) + rectF(0, 0, 100, 100) + rectF(50, 50, 50, 50));
         },
         {{75, 75, kBluePx}, {25, 25, kWhitePx}},
         8},
    };
    runCases(cases);
}

// Text is drawn in its layout box in the brush's colour, and nowhere else.
TEST(EmfPlus, StringsAreDrawnInTheirBox) {
    auto font = [](Metafile& m) {
        m.object(kFontObject, 0,
                 floats({30}) + u32s({2, 1, 0, 5}) + u16s({'A', 'r', 'i', 'a', 'l'}));
    };
    auto darkIn = [](const QImage& image, QRect area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
            }
        }
        return dark;
    };
    {
        Metafile m;
        m.header();
        font(m);
        m.rec(0x401C, 0x8000,
              u32s({0xFF000000, 0xFFFFFFFF, 2}) + rectF(10, 50, 80, 40) + u16s({'H', 'I'}));
        const QImage image = drawn(m.bytes());
        EXPECT_GT(darkIn(image, QRect(10, 50, 80, 40)), 40);
        EXPECT_EQ(darkIn(image, QRect(0, 0, 100, 48)), 0);
    }
    {
        // A font in pixels is scaled by the page's scale like everything else: at half scale
        // the same string keeps to the top half of its box.
        Metafile m;
        m.header();
        font(m);
        m.rec(0x4030, 2, floats({0.5f}));
        m.rec(0x401C, 0x8000,
              u32s({0xFF000000, 0xFFFFFFFF, 2}) + rectF(20, 100, 160, 80) + u16s({'H', 'I'}));
        const QImage image = drawn(m.bytes());
        EXPECT_GT(darkIn(image, QRect(10, 50, 80, 20)), 20);
        EXPECT_EQ(darkIn(image, QRect(0, 72, 100, 28)), 0);
    }
    {
        // Characters at their own origins on the baseline.
        Metafile m;
        m.header();
        font(m);
        m.rec(0x4036, 0x8000,
              u32s({0xFF000000, 1, 0, 2}) + u16s({'H', 'I'}) + floats({10, 40, 40, 40}));
        const QImage image = drawn(m.bytes());
        EXPECT_GT(darkIn(image, QRect(10, 15, 60, 25)), 40);
        EXPECT_EQ(darkIn(image, QRect(0, 45, 100, 55)), 0);
    }
}

// In a dual metafile EMF+ draws, and the EMF records beside it do not, but for those after a
// GetDC record; a metafile of EMF+ records alone is drawn too.
TEST(EmfPlus, DualMetafilesDrawTheirEmfPlusRecords) {
    const QByteArray blueBrush = u32s({1, 0, 0x00FF0000, 0});  // EMR_CREATEBRUSHINDIRECT
    auto gdiRect = [&](Metafile& m, int x) {
        m.emr(39, blueBrush);
        m.emr(37, u32s({1}));
        m.emr(37, u32s({0x80000008}));  // no outline
        m.emr(43, u32s({std::uint32_t(x), 0, std::uint32_t(x + 30), 100}));
    };
    Metafile dual;
    dual.header(true);
    dual.rec(0x400A, 0x8000, fillRect(kRed, 0, 0, 30, 100)).flush();
    gdiRect(dual, 0);  // the stand-in for the fill above
    dual.rec(0x4004, 0, {}).flush();
    gdiRect(dual, 60);  // after GetDC: drawn
    QImage image = drawn(dual.bytes());
    EXPECT_EQ(image.pixel(15, 50), kRedPx);
    EXPECT_EQ(image.pixel(75, 50), kBluePx);
    EXPECT_EQ(image.pixel(45, 50), kWhitePx);

    // The next EMF+ record ends the GetDC's reach.
    Metafile ended;
    ended.header();
    ended.rec(0x4004, 0, {}).rec(0x4003, 0, {}).flush();
    gdiRect(ended, 60);
    EXPECT_EQ(drawn(ended.bytes()).pixel(75, 50), kWhitePx);

    Metafile only;
    only.header();
    only.rec(0x400A, 0x8000, fillRect(kGreen, 0, 0, 100, 100));
    image = drawn(only.bytes());
    EXPECT_EQ(image.pixel(50, 50), kGreenPx);
}

// Edges are blended only where the records ask for anti-aliasing: GDI+ starts without it.
TEST(EmfPlus, AntialiasingFollowsTheRecords) {
    for (const int mode : {-1, 6, 9}) {  // none set, off (smoothing none), on (anti-alias)
        SCOPED_TRACE(mode);
        Metafile m;
        m.header();
        if (mode >= 0) {
            m.rec(0x401E, mode, {});
        }
        m.rec(0x400E, 0x8000, u32s({0xFF000000}) + rectF(5, 5, 90, 90));
        const QImage image = drawn(m.bytes());
        int between = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const int g = qGray(image.pixel(x, y));
                between += g > 20 && g < 235 ? 1 : 0;
            }
        }
        if (mode == 9) {
            EXPECT_GT(between, 50);
        } else {
            EXPECT_EQ(between, 0);
        }
    }
}

// GDI+ puts pixel centres on whole coordinates unless told otherwise, so a one-pixel line on
// a whole coordinate covers one row; with half-pixel offsets it straddles two.
TEST(EmfPlus, PixelOffsetDecidesWhereThinLinesFall) {
    for (const bool half : {false, true}) {
        SCOPED_TRACE(half);
        Metafile m;
        m.rec(0x4001, 0, u32s({kVersion, 1, 96, 96})).rec(0x4030, 2, floats({1}));
        m.rec(0x4022, half ? 4 : 3, {});
        m.rec(0x401E, 9, {});  // anti-aliased
        m.object(kPenObject, 0, solidPen(1, 0xFF000000));
        m.rec(0x400D, 0, u32s({2}) + floats({0, 10, 100, 10}));
        const QImage image = drawn(m.bytes());
        if (half) {
            EXPECT_GT(qGray(image.pixel(50, 9)), 60);
            EXPECT_LT(qGray(image.pixel(50, 9)), 200);
        } else {
            EXPECT_TRUE(near(image.pixel(50, 10), qRgb(0, 0, 0), 8));
            EXPECT_TRUE(near(image.pixel(50, 9), kWhitePx, 8));
            EXPECT_TRUE(near(image.pixel(50, 11), kWhitePx, 8));
        }
    }
}

// Objects too large for one record arrive in pieces and are whole again; damaged records and
// objects are passed over without harm, and a metafile that draws itself stops nesting.
TEST(EmfPlus, DamagedOrPiecemealRecordsStayBounded) {
    const QByteArray brush = u32s({kVersion}) + solidBrush(kBlue);
    Metafile pieces;
    pieces.header();
    pieces.rec(0x4008, 0x8000 | (kBrushObject << 8) | 1,
               u32s({std::uint32_t(brush.size())}) + brush.left(8));
    pieces.rec(0x4008, 0x8000 | (kBrushObject << 8) | 1,
               u32s({std::uint32_t(brush.size())}) + brush.mid(8));
    pieces.rec(0x400A, 1, u32s({1, 1}) + rectF(0, 0, 100, 100));
    EXPECT_EQ(drawn(pieces.bytes()).pixel(50, 50), kBluePx);

    const std::vector<std::pair<const char*, std::function<void(Metafile&)>>> damaged = {
        {"object claims 4 GB in pieces",
         [](Metafile& m) {
             m.rec(0x4008, 0x8000 | (kImageObject << 8), u32s({0xFFFFFFFF, 1}));
         }},
        {"more rectangles than bytes",
         [](Metafile& m) {
             m.rec(0x400A, 0x8000, u32s({kRed, 0x40000000}) + rectF(0, 0, 1, 1));
         }},
        {"path of more points than bytes",
         [](Metafile& m) {
             m.object(kPathObject, 0, u32s({0x7FFFFFFF, 0}));
         }},
        {"bitmap larger than its bytes",
         [](Metafile& m) {
             m.object(kImageObject, 0, u32s({1, 60000, 60000, 240000, 0x0026200A, 0}));
         }},
        {"region nested past any depth",
         [](Metafile& m) {
             QByteArray deep = u32s({0});
             for (int i = 0; i < 5000; ++i) {
                 deep += u32s({1});
             }
             m.object(kRegionObject, 0, deep);
             m.rec(0x4034, 0, {});
         }},
        {"record longer than its comment",
         [](Metafile& m) {
             m.plus += u16s({0x400A, 0x8000}) + u32s({0x10000, 0x10000 - 12});
         }},
        {"objects and pens that are not there",
         [](Metafile& m) {
             m.rec(0x4014, 0x0005, u32s({9}));
             m.rec(0x4015, 0x0007, u32s({63}));
             m.rec(0x401A, 0x0030, u32s({0, 2}) + rectF(0, 0, 1, 1) + rectF(0, 0, 9, 9));
         }},
    };
    for (const auto& [name, records] : damaged) {
        SCOPED_TRACE(name);
        Metafile m;
        m.header();
        records(m);
        m.flush();
        m.header();
        m.rec(0x400A, 0x8000, fillRect(kGreen, 90, 90, 10, 10));
        const QImage image = drawn(m.bytes());
        ASSERT_EQ(image.size(), QSize(100, 100));
        EXPECT_EQ(image.pixel(95, 95), kGreenPx);
    }

    // A metafile whose image is a metafile whose image is ... draws a few levels, then stops.
    QByteArray emf;
    for (int level = 0; level < 12; ++level) {
        Metafile m;
        m.header();
        m.rec(0x400A, 0x8000, fillRect(kRed, 0, 0, 100, 100));
        if (!emf.isEmpty()) {
            m.object(kImageObject, 0, u32s({2, 3, std::uint32_t(emf.size())}) + emf);
            m.rec(0x401A, 0, u32s({0, 2}) + rectF(0, 0, 100, 100) + rectF(10, 10, 80, 80));
        }
        emf = m.bytes();
    }
    EXPECT_EQ(drawn(emf).pixel(50, 50), kRedPx);
}
