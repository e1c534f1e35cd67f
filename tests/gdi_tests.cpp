// Metafiles drawn as GDI draws them: their own size, and the pixels of GDI's documented rules,
// each from a minimal metafile built here.
#include <gtest/gtest.h>

#include <QImage>
#include <functional>

#include "builders/metafilebuilder.h"
#include "platform/picture.h"
#include "render/renderer.h"

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
// whose one red rectangle covers the frame in device pixels.
QByteArray framedEmf(QSize pixels, QSize millimetres, QRect frame, QRect bounds) {
    Emf emf;
    emf.devicePixels = pixels;
    emf.deviceMillimetres = millimetres;
    const double sx = double(pixels.width()) / millimetres.width() / 100;
    const double sy = double(pixels.height()) / millimetres.height() / 100;
    emf.brush(1, rgb(255, 0, 0)).select(1).noPen();
    emf.rectangle(int(frame.left() * sx), int(frame.top() * sy),
                  int((frame.x() + frame.width()) * sx + 1),
                  int((frame.y() + frame.height()) * sy + 1));
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
    Wmf placeable, bare;
    placeable.rec(0x020C, {720, 1440});
    bare.rec(0x0103, {8}).rec(0x020C, {2000, 3000});
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
        {"a frame a hundredth of the bounds",
         framedEmf({960, 960}, {254, 254}, {0, 0, 26, 13}, {0, 0, 100, 50}),
         {100, 50},
         false},
        {"a placeable WMF at 1440 units an inch",
         placeable.bytes(QRect(0, 0, 1440, 720)),
         {96, 48},
         false},
        {"a WMF without its placeable header: its window", bare.bytes(), {3000, 2000}, false},
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
