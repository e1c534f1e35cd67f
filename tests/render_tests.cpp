// Every picture becomes pixels: metafiles and PICT built here record by record, raster formats
// written by Qt, and the corpus's own pictures.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "encode/bmpfile.h"
#include "encode/saveasjpg.h"
#include "metafile/limits.h"
#include "metafile/metafile.h"
#include "platform/picturespill.h"
#include "platform/runtimeerror.h"
#include "render/qtcanvas.h"
#include "render/renderer.h"
#include "workbook/workbook.h"

using platform::Picture;

namespace {

void le16(QByteArray& b, int v) {
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void le32(QByteArray& b, std::uint32_t v) {
    le16(b, int(v & 0xFFFF));
    le16(b, int(v >> 16));
}
void be16(QByteArray& b, int v) {
    b.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
}
void be32(QByteArray& b, std::uint32_t v) {
    be16(b, int(v >> 16));
    be16(b, int(v & 0xFFFF));
}
QByteArray le32s(std::initializer_list<std::int32_t> values) {
    QByteArray b;
    for (std::int32_t v : values) {
        le32(b, std::uint32_t(v));
    }
    return b;
}
QByteArray le16s(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        le16(b, v);
    }
    return b;
}

// A bottom-up DIB of the given depth whose pixels are known: a palette of distinct colours for
// the indexed depths, 5-5-5 for 16 bits. expected receives the image it must decode to.
QByteArray makeDib(int width, int height, int bits, QImage* expected) {
    const int colours = bits <= 8 ? 1 << bits : 0;
    auto paletteColour = [](int i) { return qRgb(i * 37 % 256, i * 91 % 256, 255 - i * 53 % 256); };
    QByteArray dib;
    le32(dib, 40);
    le32(dib, std::uint32_t(width));
    le32(dib, std::uint32_t(height));
    le16(dib, 1);
    le16(dib, bits);
    dib.append(le32s({0, 0, 3780, 3780, colours, 0}));
    for (int i = 0; i < colours; ++i) {
        const QRgb c = paletteColour(i);
        dib.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append('\0');
    }
    *expected = QImage(width, height, QImage::Format_RGB32);
    const int stride = (width * bits + 31) / 32 * 4;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            QRgb c;
            if (bits <= 8) {
                const int index = (x * 3 + y * 5) % colours;
                c = paletteColour(index);
                const int bit = x * bits;
                row[bit / 8] = char(row[bit / 8] | (index << (8 - bits - bit % 8)));
            } else if (bits == 16) {
                const int r = (x * 7 + y) % 32, g = (y * 3) % 32, b = (x + 2 * y) % 32;
                const int v = (r << 10) | (g << 5) | b;
                row[2 * x] = char(v & 0xFF);
                row[2 * x + 1] = char(v >> 8);
                // Five bits widened as GDI widens them, by shifting.
                c = qRgb(r << 3, g << 3, b << 3);
            } else {
                c = qRgb(x * 40 % 256, y * 60 % 256, (x + y) * 25 % 256);
                const int at = x * bits / 8;
                row[at] = char(qBlue(c));
                row[at + 1] = char(qGreen(c));
                row[at + 2] = char(qRed(c));
            }
            expected->setPixel(x, y, c);
        }
        dib.append(row);
    }
    return dib;
}

constexpr int kDibHeaderBytes = 40;
int dibHeaderBytes(int bits) {
    return kDibHeaderBytes + (bits <= 8 ? 4 << bits : 0);
}

// An enhanced metafile: the header (bounds, frame in hundredths of a millimetre, a reference
// device of 1000 x 1000 pixels on 250 x 250 mm, so 4 pixels a millimetre, unless set), the
// records, EOF.
struct Emf {
    QByteArray records;
    int count = 0;
    QSize devicePixels{1000, 1000}, deviceMillimetres{250, 250};
    // A device of 96 dots per inch, whose pixels are those of the picture.
    Emf& screen() {
        devicePixels = {960, 960};
        deviceMillimetres = {254, 254};
        return *this;
    }
    void rec(std::uint32_t type, QByteArray payload) {
        while (payload.size() % 4 != 0) {
            payload.append('\0');
        }
        le32(records, type);
        le32(records, std::uint32_t(8 + payload.size()));
        records.append(payload);
        ++count;
    }
    QByteArray bytes(QRect bounds, QRect frame) const {
        QByteArray eof = le32s({14, 20, 0, 16, 20});
        QByteArray b = le32s({1, 88, bounds.left(), bounds.top(), bounds.right(), bounds.bottom(),
                              frame.x(), frame.y(), frame.x() + frame.width(),
                              frame.y() + frame.height(), 0x464D4520, 0x10000});
        le32(b, std::uint32_t(88 + records.size() + eof.size()));
        le32(b, std::uint32_t(count + 2));
        b.append(le16s({16, 0}));
        b.append(le32s({0, 0, 0, devicePixels.width(), devicePixels.height(),
                        deviceMillimetres.width(), deviceMillimetres.height()}));
        return b + records + eof;
    }
};

// STRETCHDIBITS of a whole DIB into a logical rectangle.
QByteArray stretchDiBits(const QByteArray& dib, int bits, int width, int height, QRect dest) {
    const int headerBytes = dibHeaderBytes(bits);
    QByteArray p =
        le32s({dest.left(), dest.top(), dest.right(), dest.bottom(), dest.left(), dest.top(), 0, 0,
               width, height, 80, headerBytes, 80 + headerBytes, int(dib.size()) - headerBytes, 0,
               0x00CC0020, dest.width(), dest.height()});
    return p + dib;
}

// BITBLT (or STRETCHBLT) of a whole DIB, source rows counted from the top.
QByteArray bitBlt(const QByteArray& dib, int bits, int width, int height, QRect dest,
                  bool stretch) {
    const int headerBytes = dibHeaderBytes(bits);
    const int fixed = stretch ? 108 : 100;
    QByteArray p = le32s({dest.left(), dest.top(), dest.right(), dest.bottom(), dest.left(),
                          dest.top(), dest.width(), dest.height(), 0x00CC0020, 0, 0});
    p.append(le32s({0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0}));  // identity, background, usage
    p.append(le32s({fixed, headerBytes, fixed + headerBytes, int(dib.size()) - headerBytes}));
    if (stretch) {
        p.append(le32s({width, height}));
    }
    return p + dib;
}

// A Windows metafile, with its placeable header when a bounding box is given.
struct Wmf {
    QByteArray records;
    void rec(int function, const QByteArray& params) {
        le32(records, std::uint32_t(3 + params.size() / 2));
        le16(records, function);
        records.append(params);
    }
    QByteArray bytes(std::optional<QRect> box = std::nullopt, int inch = 1440) const {
        QByteArray b;
        if (box) {
            le32(b, 0x9AC6CDD7u);
            b.append(le16s(
                {0, box->x(), box->y(), box->x() + box->width(), box->y() + box->height(), inch}));
            b.append(le32s({0}));
            le16(b, 0);
        }
        const int words = 9 + records.size() / 2 + 3;
        b.append(le16s({1, 9, 0x0300}));
        le32(b, std::uint32_t(words));
        le16(b, 4);
        le32(b, 64);
        le16(b, 0);
        return b + records + le16s({3, 0, 0});
    }
};

// A version 2 PICT without the 512-byte file header, framed by frame, its opcodes after the
// extended header.
QByteArray pict(QRect frame, const QByteArray& opcodes) {
    QByteArray b;
    be16(b, 0);
    for (int v : {frame.top(), frame.left(), frame.bottom() + 1, frame.right() + 1}) {
        be16(b, v);
    }
    be32(b, 0x001102FF);
    be16(b, 0x0C00);
    be16(b, -2);
    be16(b, 0);
    be32(b, 72u << 16);
    be32(b, 72u << 16);
    for (int v : {frame.top(), frame.left(), frame.bottom() + 1, frame.right() + 1}) {
        be16(b, v);
    }
    be32(b, 0);
    b.append(opcodes);
    if (b.size() % 2 != 0) {
        b.append('\0');
    }
    be16(b, 0x00FF);
    return b;
}

QByteArray packBits(const QByteArray& row) {
    QByteArray out;
    for (qsizetype i = 0; i < row.size(); i += 128) {
        const QByteArray run = row.mid(i, 128);
        out.append(char(run.size() - 1)).append(run);
    }
    return out;
}

QByteArray pictPixMap(int rowBytes, int width, int height, int packType, int pixelSize,
                      int components) {
    QByteArray b;
    be16(b, 0x8000 | rowBytes);
    for (int v : {0, 0, height, width}) {
        be16(b, v);
    }
    be16(b, 0);
    be16(b, packType);
    be32(b, 0);
    be32(b, 72u << 16);
    be32(b, 72u << 16);
    be16(b, pixelSize > 8 ? 16 : 0);
    be16(b, pixelSize);
    be16(b, components);
    be16(b, pixelSize > 8 ? 8 : pixelSize);
    be32(b, 0);
    be32(b, 0);
    be32(b, 0);
    return b;
}

QByteArray rects(QRect src, QRect dst) {
    QByteArray b;
    for (QRect r : {src, dst}) {
        for (int v : {r.top(), r.left(), r.bottom() + 1, r.right() + 1}) {
            be16(b, v);
        }
    }
    be16(b, 0);  // srcCopy
    return b;
}

// PackBitsRect of an 8-bit indexed bitmap, or DirectBitsRect of a 32-bit (packed by component)
// or 16-bit (packed by pixel) one, drawn into dest.
QByteArray pictBitmap(int bits, int width, int height, QRect dest, QImage* expected) {
    *expected = QImage(width, height, QImage::Format_RGB32);
    QByteArray b;
    if (bits == 8) {
        be16(b, 0x0098);
        const int rowBytes = std::max(8, width);
        b.append(pictPixMap(rowBytes, width, height, 0, 8, 1));
        be32(b, 0);
        be16(b, 0);
        be16(b, 15);
        for (int i = 0; i < 16; ++i) {
            for (int v : {i, i * 4000, 65535 - i * 4000, i * 1000}) {
                be16(b, v);
            }
        }
        b.append(rects(QRect(0, 0, width, height), dest));
        for (int y = 0; y < height; ++y) {
            QByteArray row(rowBytes, '\0');
            for (int x = 0; x < width; ++x) {
                const int i = (x + 2 * y) % 16;
                row[x] = char(i);
                expected->setPixel(x, y,
                                   qRgb((i * 4000) >> 8, (65535 - i * 4000) >> 8, (i * 1000) >> 8));
            }
            const QByteArray packed = packBits(row);
            b.append(char(packed.size())).append(packed);
        }
        return b;
    }
    be16(b, 0x009A);
    be32(b, 0xFF);
    b.append(pictPixMap(width * bits / 8, width, height, bits == 32 ? 4 : 3, bits, 3));
    b.append(rects(QRect(0, 0, width, height), dest));
    for (int y = 0; y < height; ++y) {
        QByteArray row;
        if (bits == 32) {
            QByteArray r, g, bl;
            for (int x = 0; x < width; ++x) {
                const QRgb c = qRgb(x * 30 % 256, y * 50 % 256, 90);
                r.append(char(qRed(c)));
                g.append(char(qGreen(c)));
                bl.append(char(qBlue(c)));
                expected->setPixel(x, y, c);
            }
            row = packBits(r + g + bl);
        } else {
            QByteArray words;
            for (int x = 0; x < width; ++x) {
                const int r = x % 32, g = y % 32, bl = (x + y) % 32;
                be16(words, (r << 10) | (g << 5) | bl);
                expected->setPixel(x, y, qRgb(r << 3 | r >> 2, g << 3 | g >> 2, bl << 3 | bl >> 2));
            }
            for (qsizetype i = 0; i < words.size(); i += 2 * 128) {
                const QByteArray run = words.mid(i, 2 * 128);
                row.append(char(run.size() / 2 - 1)).append(run);
            }
        }
        b.append(char(row.size())).append(row);
    }
    return b;
}

Picture pictureOf(const QByteArray& bytes) {
    return Picture::fromBytes(bytes);
}

// The largest difference of any channel between two images of the same size.
int maxDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return 256;
    }
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}

bool singleColoured(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// A metafile that only wraps a bitmap comes out at the bitmap's size, pixel for pixel, however
// large the metafile says its picture is.
TEST(Metafile, BitmapWrappersComeOutAsTheirBitmapExactly) {
    struct Case {
        const char* name;
        std::function<QByteArray(QImage*)> make;
    };
    const std::vector<Case> cases = {
        {"emf stretchdibits 24",
         [](QImage* e) {
             Emf emf;
             emf.rec(81, stretchDiBits(makeDib(13, 7, 24, e), 24, 13, 7, QRect(0, 0, 14, 7)));
             // A frame of 13 x 7 pixels at 96 dpi: 13.8 x 7.4 pixels of the device.
             return emf.bytes(QRect(0, 0, 13, 6), QRect(0, 0, 344, 185));
         }},
        {"emf bitblt 8",
         [](QImage* e) {
             Emf emf;
             emf.rec(76, bitBlt(makeDib(9, 11, 8, e), 8, 9, 11, QRect(0, 0, 9, 11), false));
             return emf.bytes(QRect(0, 0, 8, 10), QRect(0, 0, 225, 275));
         }},
        {"emf stretchblt 32",
         [](QImage* e) {
             Emf emf;
             emf.rec(17, le32s({8}));  // MM_ANISOTROPIC: 10 logical units a device pixel
             emf.rec(9, le32s({10, 10}));
             emf.rec(11, le32s({1, 1}));
             emf.rec(77, bitBlt(makeDib(6, 5, 32, e), 32, 6, 5, QRect(0, 0, 60, 50), true));
             return emf.bytes(QRect(0, 0, 5, 4), QRect(0, 0, 159, 132));
         }},
        {"wmf stretchdib 4, placeable",
         [](QImage* e) {
             Wmf wmf;
             wmf.rec(0x020C, le16s({1000, 1700}));  // window extent y, x
             QByteArray p;
             le32(p, 0x00CC0020);
             p.append(le16s({0, 10, 17, 0, 0, 1000, 1700, 0, 0}));
             wmf.rec(0x0F43, p + makeDib(17, 10, 4, e));
             // 9600 units an inch: 17 x 10 pixels at 96 dpi.
             return wmf.bytes(QRect(0, 0, 1700, 1000), 9600);
         }},
        {"wmf dibstretchblt 1, as binary workbooks keep it",
         [](QImage* e) {
             Wmf wmf;
             wmf.rec(0x020C, le16s({12, 20}));
             QByteArray p;
             le32(p, 0x00CC0020);
             p.append(le16s({12, 20, 0, 0, 12, 20, 0, 0}));
             wmf.rec(0x0B41, p + makeDib(20, 12, 1, e));
             return wmf.bytes();
         }},
        {"wmf dibbitblt 16",
         [](QImage* e) {
             Wmf wmf;
             wmf.rec(0x020B, le16s({-5, -5}));  // window origin y, x
             wmf.rec(0x020C, le16s({9, 14}));
             QByteArray p;
             le32(p, 0x00CC0020);
             p.append(le16s({0, 0, 9, 14, -5, -5}));
             wmf.rec(0x0940, p + makeDib(14, 9, 16, e));
             return wmf.bytes(QRect(-5, -5, 14, 9), 96);
         }},
        {"pict packbitsrect 8",
         [](QImage* e) {
             return pict(QRect(0, 0, 40, 20), pictBitmap(8, 20, 10, QRect(0, 0, 40, 20), e));
         }},
        {"pict directbitsrect 32",
         [](QImage* e) {
             return pict(QRect(0, 0, 11, 6), pictBitmap(32, 11, 6, QRect(0, 0, 11, 6), e));
         }},
        {"pict directbitsrect 16",
         [](QImage* e) {
             return pict(QRect(0, 0, 30, 12), pictBitmap(16, 15, 6, QRect(0, 0, 30, 12), e));
         }},
    };
    QTemporaryDir root;
    const auto spill = platform::PictureSpill::create(root.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage expected;
        const Picture picture = pictureOf(c.make(&expected));
        EXPECT_EQ(picture.size(), expected.size());
        const render::Rendered rendered = render::renderPicture(picture);
        ASSERT_TRUE(rendered.ok()) << rendered.error.toStdString();
        EXPECT_EQ(maxDifference(rendered.image, expected), 0);
        // Kept in a run's spill, the picture reads its bytes back and comes out the same.
        const render::Rendered spilled = render::renderPicture(spill->keep(picture));
        ASSERT_TRUE(spilled.ok()) << spilled.error.toStdString();
        EXPECT_EQ(maxDifference(spilled.image, expected), 0);
    }
}

// Vector records land where the mapping puts them, in the metafile's orientation.
TEST(Metafile, VectorRecordsDrawWhereTheMappingPutsThem) {
    // A frame of 400 x 100 pixels at 96 dpi, recorded on a 96 dpi device; ten logical units a
    // pixel.
    Emf emf;
    emf.screen();
    emf.rec(17, le32s({8}));
    emf.rec(9, le32s({4000, 1000}));
    emf.rec(11, le32s({400, 100}));
    emf.rec(39, le32s({1, 0, 0x0000FF, 0}));  // a red brush
    emf.rec(37, le32s({1}));
    emf.rec(37, le32s({std::int32_t(0x80000008)}));  // no pen
    emf.rec(43, le32s({0, 0, 1000, 1000}));
    emf.rec(39, le32s({2, 0, 0xFF0000, 0}));  // blue
    emf.rec(37, le32s({2}));
    emf.rec(42, le32s({1200, 200, 1800, 800}));
    QByteArray font = le32s({3, -200, 0, 0, 0, 400, 0, 0});
    font.append(QByteArray(reinterpret_cast<const char*>(u"Arial"), 10))
        .append(QByteArray(54, '\0'));
    emf.rec(82, font);
    emf.rec(37, le32s({3}));
    emf.rec(18, le32s({1}));  // transparent background
    QByteArray text = le32s({0, 0, 0, 0, 1, 0, 0, 2200, 100, 2, 76, 0, 0, 0, 0, 0, 0});
    text.append(QByteArray(reinterpret_cast<const char*>(u"Hi"), 4));
    emf.rec(84, text);
    const Picture vector = pictureOf(emf.bytes(QRect(0, 0, 399, 99), QRect(0, 0, 10583, 2646)));
    ASSERT_EQ(vector.size(), QSize(400, 100));
    const QImage image = render::renderPicture(vector).image;
    ASSERT_EQ(image.size(), QSize(400, 100));
    EXPECT_EQ(image.pixel(50, 50), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(150, 50), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(185, 50), qRgb(255, 255, 255));
    EXPECT_FALSE(singleColoured(image.copy(220, 10, 40, 22)));  // the text
    EXPECT_TRUE(singleColoured(image.copy(300, 0, 100, 100)));

    // A WMF whose window runs upwards: the triangle at the logical origin sits bottom left. With
    // its placeable header, 1440 units an inch make 96 x 48 pixels; without it, as binary
    // workbooks keep metafiles outside their blips, a unit is a pixel.
    Wmf wmf;
    wmf.rec(0x020B, le16s({720, 0}));
    wmf.rec(0x020C, le16s({-720, 1440}));
    QByteArray brush = le16s({0});
    le32(brush, 0x00FF00);
    brush.append(le16s({0}));
    wmf.rec(0x02FC, brush);
    wmf.rec(0x012D, le16s({0}));
    wmf.rec(0x02FA, le16s({5, 0, 0, 0, 0}));
    wmf.rec(0x012D, le16s({1}));
    wmf.rec(0x0324, le16s({3, 0, 0, 720, 0, 0, 360}));
    const std::vector<std::pair<Picture, QSize>> wmfs = {
        {pictureOf(wmf.bytes(QRect(0, 0, 1440, 720))), QSize(96, 48)},
        {pictureOf(wmf.bytes()), QSize(1440, 720)},
    };
    for (const auto& [picture, size] : wmfs) {
        const QImage drawn = render::renderPicture(picture).image;
        ASSERT_EQ(picture.size(), size);
        ASSERT_EQ(drawn.size(), size);
        EXPECT_EQ(drawn.pixel(size.width() / 20, size.height() * 9 / 10), qRgb(0, 255, 0));
        EXPECT_EQ(drawn.pixel(size.width() / 20, size.height() / 10), qRgb(255, 255, 255));
        EXPECT_EQ(drawn.pixel(size.width() * 9 / 10, size.height() * 9 / 10), qRgb(255, 255, 255));
    }
}

// Drawing state records, each case probed at a few pixels of a 100 x 100 picture whose logical
// units are its pixels: clips and their saving, regions, paths, arcs counter-clockwise, world and
// metric mappings, raster operations, and a WMF's reuse of freed object slots.
TEST(Metafile, DrawingStateRecordsTakeEffect) {
    constexpr QRgb kRed = qRgb(255, 0, 0), kWhite = qRgb(255, 255, 255);
    auto redFill = [](Emf& e) {
        e.rec(39, le32s({1, 0, 0x0000FF, 0}));
        e.rec(37, le32s({1}));
        e.rec(37, le32s({std::int32_t(0x80000008)}));
    };
    auto region = [](QRect r) {
        return le32s({32, 1, 1, 16, r.left(), r.top(), r.right() + 1, r.bottom() + 1, r.left(),
                      r.top(), r.right() + 1, r.bottom() + 1});
    };
    struct Probe {
        int x, y;
        QRgb colour;
    };
    struct Case {
        const char* name;
        std::function<void(Emf&)> records;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {"intersect clip",
         [&](Emf& e) {
             redFill(e);
             e.rec(30, le32s({0, 0, 50, 100}));
             e.rec(43, le32s({0, 0, 100, 100}));
         },
         {{25, 50, kRed}, {75, 50, kWhite}}},
        {"exclude clip",
         [&](Emf& e) {
             redFill(e);
             e.rec(29, le32s({40, 40, 60, 60}));
             e.rec(43, le32s({0, 0, 100, 100}));
         },
         {{10, 10, kRed}, {50, 50, kWhite}}},
        {"restore lifts the clip",
         [&](Emf& e) {
             redFill(e);
             e.rec(33, {});
             e.rec(30, le32s({0, 0, 10, 10}));
             e.rec(34, le32s({-1}));
             e.rec(43, le32s({0, 0, 100, 100}));
         },
         {{80, 80, kRed}}},
        {"region clip",
         [&](Emf& e) {
             redFill(e);
             e.rec(75, le32s({48, 5}) + region(QRect(60, 0, 40, 100)));
             e.rec(43, le32s({0, 0, 100, 100}));
         },
         {{80, 50, kRed}, {20, 50, kWhite}}},
        {"filled path",
         [&](Emf& e) {
             redFill(e);
             e.rec(59, {});
             e.rec(86, le32s({0, 0, 0, 0, 3}) + le16s({0, 0, 100, 0, 0, 100}));
             e.rec(60, {});
             e.rec(62, le32s({0, 0, 0, 0}));
         },
         {{10, 10, kRed}, {90, 90, kWhite}}},
        {"pie runs counter-clockwise from its start",
         [&](Emf& e) {
             redFill(e);
             e.rec(47, le32s({0, 0, 100, 100, 100, 50, 50, 0}));  // east to north
         },
         {{75, 25, kRed}, {75, 75, kWhite}, {25, 25, kWhite}}},
        {"world transform",
         [&](Emf& e) {
             redFill(e);
             e.rec(35, le32s({0x3F800000, 0, 0, 0x3F800000, 0x42480000, 0}));  // 50 across
             e.rec(43, le32s({0, 0, 20, 20}));
         },
         {{60, 10, kRed}, {10, 10, kWhite}}},
        {"metric mapping runs upwards",
         [&](Emf& e) {
             redFill(e);
             e.rec(17, le32s({2}));  // MM_LOMETRIC: 0.1 mm, 96 dpi
             e.rec(43, le32s({0, 0, 100, -100}));
         },
         {{20, 20, kRed}, {60, 60, kWhite}}},
        {"no-operation pen mode draws nothing",
         [&](Emf& e) {
             redFill(e);
             e.rec(20, le32s({11}));
             e.rec(43, le32s({0, 0, 100, 100}));
         },
         {{50, 50, kWhite}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emf emf;
        emf.screen();
        c.records(emf);
        const QImage image = render::renderPicture(
                                 pictureOf(emf.bytes(QRect(0, 0, 99, 99), QRect(0, 0, 2646, 2646))))
                                 .image;
        ASSERT_EQ(image.size(), QSize(100, 100));
        for (const Probe& p : c.probes) {
            EXPECT_EQ(image.pixel(p.x, p.y), p.colour) << p.x << "," << p.y;
        }
    }

    // A WMF puts a new object in the lowest free slot: the third brush takes the first's.
    Wmf wmf;
    for (std::uint32_t colour : {0x0000FFu, 0x00FF00u}) {
        QByteArray brush = le16s({0});
        le32(brush, colour);
        wmf.rec(0x02FC, brush + le16s({0}));
    }
    wmf.rec(0x01F0, le16s({0}));
    QByteArray blue = le16s({0});
    le32(blue, 0xFF0000);
    wmf.rec(0x02FC, blue + le16s({0}));
    wmf.rec(0x012D, le16s({0}));
    wmf.rec(0x041B, le16s({100, 100, 0, 0}));
    const QImage image =
        render::renderPicture(pictureOf(wmf.bytes(QRect(0, 0, 100, 100), 96))).image;
    ASSERT_EQ(image.size(), QSize(100, 100));
    EXPECT_EQ(image.pixel(50, 50), qRgb(0, 0, 255));
}

// The size a metafile states, or a sensible one when it states none; a size beyond the pixel
// limit is drawn smaller with its aspect kept.
TEST(Metafile, SizeComesFromTheHeaderAndStaysWithinTheLimit) {
    Emf blank;
    blank.rec(18, le32s({1}));
    Wmf twips;
    twips.rec(0x0103, le16s({6}));  // MM_TWIPS
    twips.rec(0x020C, le16s({-720, 2880}));
    const std::vector<std::pair<QByteArray, QSize>> cases = {
        // 25 x 10 mm at 96 dpi.
        {blank.bytes(QRect(0, 0, 9, 9), QRect(0, 0, 2500, 1000)), QSize(94, 38)},
        // No frame: the inclusive bounds, 50 x 20 pixels of a device of 4 a millimetre.
        {blank.bytes(QRect(10, 10, 50, 20), QRect(0, 0, 0, 0)), QSize(47, 19)},
        {blank.bytes(QRect(0, 0, 2'000'000, 1'000'000), QRect(0, 0, 50'000'000, 25'000'000)),
         QSize(14142, 7071)},
        {twips.bytes(), QSize(192, 48)},
        {twips.bytes(QRect(0, 0, 720, 360), 720), QSize(96, 48)},
        // A PICT file keeps 512 bytes in front; its frame gives the size.
        {QByteArray(512, '\0') + pict(QRect(0, 0, 64, 32), {}), QSize(64, 32)},
    };
    for (const auto& [bytes, size] : cases) {
        EXPECT_EQ(pictureOf(bytes).size(), size);
    }
    EXPECT_LE(14142LL * 7071, Picture::kMaxDecodedPixels);
}

// A damaged or undrawable metafile is an error for that picture only, with the reason.
TEST(Metafile, DamagedOnesAreErrorsThatSayWhy) {
    Emf cut;
    cut.rec(18, le32s({1}));
    QByteArray cutBytes = cut.bytes(QRect(0, 0, 9, 9), QRect(0, 0, 250, 250));
    cutBytes[88 + 4] = char(200);  // the first record claims more than the file holds
    Wmf zeroSize;
    zeroSize.rec(0x0102, le16s({1}));
    QByteArray zeroBytes = zeroSize.bytes(QRect(0, 0, 100, 100));
    zeroBytes[22 + 18] = 0;  // a record of no words
    // A picture that only comments draws nothing.
    QByteArray commentOnly;
    be16(commentOnly, 0x00A0);
    be16(commentOnly, 100);
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {cutBytes, "(emf): record 2 runs past the end of the file"},
        {zeroBytes, "(wmf): record 1 has a bad size"},
        {pict(QRect(0, 0, 10, 10), commentOnly), "(pict)"},
    };
    QTemporaryDir dir;
    for (const auto& [bytes, reason] : cases) {
        SCOPED_TRACE(reason.toStdString());
        const render::Rendered rendered = render::renderPicture(pictureOf(bytes));
        EXPECT_FALSE(rendered.ok());
        EXPECT_EQ(rendered.error, "Cannot save the image: the picture cannot be drawn " + reason);
        // The save writes nothing for it, in either format.
        const QString bmp = dir.filePath("a.bmp"), jpg = dir.filePath("a.jpg");
        EXPECT_THROW(encode::writeBmpFile(pictureOf(bytes), bmp), platform::RuntimeError);
        EXPECT_THROW(encode::SaveJPG(pictureOf(bytes), jpg, 85), platform::RuntimeError);
        EXPECT_FALSE(QFile::exists(bmp) || QFile::exists(jpg));
    }
}

TEST(Metafile, RecordWalkStopsAtItsLimit) {
    Emf many;
    const QByteArray record = le32s({18, 12, 1});
    many.records = record.repeated(qsizetype(metafile::kMaxMetafileRecords) + 1);
    many.count = int(metafile::kMaxMetafileRecords) + 1;
    const render::Rendered r =
        render::renderPicture(pictureOf(many.bytes(QRect(0, 0, 9, 9), QRect(0, 0, 250, 250))));
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error.endsWith("it holds more than 2000000 records")) << r.error.toStdString();
}

// BMP of every depth, the same bits as a headerless DIB, and the formats Qt's plugins read:
// TIFF's first page, WebP, SVG.
TEST(Render, RasterFormatsDecodeAtTheirOwnSize) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        QImage expected;
        const QByteArray dib = makeDib(7, 5, bits, &expected);
        QByteArray bmp("BM");
        le32(bmp, std::uint32_t(14 + dib.size()));
        le32(bmp, 0);
        le32(bmp, std::uint32_t(14 + dibHeaderBytes(bits)));
        for (const QByteArray& bytes : {bmp + dib, dib}) {
            const Picture picture = pictureOf(bytes);
            EXPECT_EQ(picture.size(), QSize(7, 5));
            EXPECT_EQ(maxDifference(render::renderPicture(picture).image, expected), 0);
            // Cut short by two rows: the rows that are there stay, the missing ones (the top,
            // in a bottom-up bitmap) come out the same on every render, whatever the memory
            // the decoder was given held before.
            const Picture cut =
                pictureOf(bytes.left(bytes.size() - 2 * ((7 * bits + 31) / 32 * 4)));
            QImage first;
            for (int run = 0; run < 2; ++run) {
                std::vector<char> dirty(7 * 5 * 4 * 8, char(0x5A + run));
                dirty.clear();
                dirty.shrink_to_fit();
                const QImage image = render::renderPicture(cut).image;
                ASSERT_EQ(image.size(), QSize(7, 5));
                EXPECT_EQ(maxDifference(image.copy(0, 2, 7, 3), expected.copy(0, 2, 7, 3)), 0);
                if (run == 0) {
                    first = image;
                } else {
                    EXPECT_EQ(image, first);
                }
            }
        }
    }
    QImage page(30, 20, QImage::Format_RGB32);
    page.fill(QColor(10, 200, 30));
    QByteArray tiff;
    QBuffer buffer(&tiff);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    ASSERT_TRUE(writer.write(page));
    QByteArray webp;
    QBuffer webpBuffer(&webp);
    webpBuffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(page.save(&webpBuffer, "WEBP", 100));
    const QByteArray svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='30' height='20'>"
        "<rect width='30' height='20' fill='rgb(10,200,30)'/></svg>";
    for (const QByteArray& bytes : {tiff, webp, svg}) {
        const render::Rendered r = render::renderPicture(pictureOf(bytes));
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(r.image.size(), QSize(30, 20));
        EXPECT_LE(maxDifference(r.image.convertToFormat(QImage::Format_RGB32), page), 3);
    }
}

// What a metafile leaves unpainted, like a PNG's transparent areas, is white in both outputs.
TEST(Render, UnpaintedMetafileAreasAreWhiteInBmpAndJpeg) {
    Emf emf;
    emf.screen();
    emf.rec(39, le32s({1, 0, 0x000000, 0}));
    emf.rec(37, le32s({1}));
    emf.rec(43, le32s({40, 40, 60, 60}));
    const Picture picture = pictureOf(emf.bytes(QRect(0, 0, 99, 99), QRect(0, 0, 2646, 2646)));
    QTemporaryDir dir;
    encode::writeBmpFile(picture, dir.filePath("m.bmp"));
    encode::SaveJPG(picture, dir.filePath("m.jpg"), 90);
    for (const char* name : {"m.bmp", "m.jpg"}) {
        const QImage saved(dir.filePath(name));
        ASSERT_EQ(saved.size(), QSize(100, 100)) << name;
        EXPECT_GE(qGray(saved.pixel(5, 5)), 250) << name;
        EXPECT_LE(qGray(saved.pixel(50, 50)), 10) << name;
    }
}

// Every metafile, PICT, DIB and other non-PNG/JPEG picture of the real workbooks the engine
// opens renders at the size the engine lists for it, and shows something.
TEST(Render, CorpusPicturesRenderAtTheirListedSize) {
    QFile file(QStringLiteral(QUILLFEN_TEST_DATA_DIR "/corpus/expected.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    int rendered = 0;
    for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array()) {
        const std::string name = entry.toObject().value("file").toString().toStdString();
        auto opened = workbook::openWorkbook(QUILLFEN_TEST_DATA_DIR "/corpus/" + name,
                                             {.sniff = metafile::sniffDrawnImage});
        if (!opened) {
            continue;
        }
        const auto& sheets = opened.value()->worksheets();
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            for (std::size_t p = 0; p < sheets[s].pictures.size(); ++p) {
                const workbook::PictureInfo& info = sheets[s].pictures[p];
                if (info.linked || info.format == workbook::ImageFormat::Png ||
                    info.format == workbook::ImageFormat::Jpeg) {
                    continue;
                }
                SCOPED_TRACE(name + " sheet " + std::to_string(s) + " picture " +
                             std::to_string(p));
                auto bytes = opened.value()->readPictureBytes(s, p);
                ASSERT_TRUE(bytes);
                // As the copy hands it on: a metafile at the size the workbook lists.
                const Picture picture = Picture::fromBytes(
                    QByteArray(reinterpret_cast<const char*>(bytes.value().data()),
                               qsizetype(bytes.value().size())),
                    QSize(info.width, info.height));
                const render::Rendered r = render::renderPicture(picture);
                ASSERT_TRUE(r.ok()) << r.error.toStdString();
                EXPECT_EQ(r.image.size(), QSize(info.width, info.height));
                EXPECT_EQ(r.image.size(), picture.size());
                // A metafile draws something; a raster picture may be one colour (the corpus
                // has plain red squares) but is not blank.
                const bool drawn = info.format == workbook::ImageFormat::Emf ||
                                   info.format == workbook::ImageFormat::Wmf ||
                                   info.format == workbook::ImageFormat::Pict;
                EXPECT_FALSE(drawn ? singleColoured(r.image)
                                   : r.image.pixel(0, 0) == qRgb(255, 255, 255) ||
                                         qAlpha(r.image.pixel(0, 0)) == 0);
                ++rendered;
            }
        }
    }
    EXPECT_GE(rendered, 7);
}

// Inputs the fuzzer once found troublesome stay here: a byte choosing how the rest is read
// (sniffed, EMF, WMF, PICT), then the bytes. They are drawn through the real canvas.
TEST(Metafile, FuzzFindingsStayFixed) {
    const std::filesystem::path folder =
        std::filesystem::path(QUILLFEN_TEST_DATA_DIR) / "fuzz" / "metafile";
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        QFile f(QString::fromStdString(entry.path().string()));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ++found;
        if (bytes.isEmpty()) {
            continue;
        }
        static const workbook::ImageFormat kForced[] = {
            workbook::ImageFormat::Unknown, workbook::ImageFormat::Emf, workbook::ImageFormat::Wmf,
            workbook::ImageFormat::Pict};
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + 1;
        const std::size_t size = std::size_t(bytes.size()) - 1;
        workbook::ImageFormat format = kForced[std::uint8_t(bytes[0]) % 4];
        if (format == workbook::ImageFormat::Unknown) {
            format = workbook::sniffImage(data, size).format;
        }
        const metafile::MetafileLayout layout = metafile::metafileLayout(format, data, size);
        if (!layout.usable() || qint64(layout.width) * layout.height > 4'000'000) {
            continue;
        }
        QImage image(layout.width, layout.height, QImage::Format_RGB32);
        image.fill(Qt::white);
        render::QtCanvas canvas(image);
        metafile::playMetafile(format, data, size, layout, canvas);
    }
    EXPECT_GT(found, 0);
}
