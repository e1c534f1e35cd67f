#include <png.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builders/picturekinds.h"
#include "encode/bmpfile.h"
#include "encode/gdiplus.h"
#include "encode/jpegencoder.h"
#include "encode/outputnames.h"
#include "encode/outputpixels.h"
#include "encode/pixelbudget.h"
#include "encode/saveasjpg.h"
#include "encode/wholefile.h"
#include "platform/runtimeerror.h"
#include "render/renderer.h"

using encode::GpStatus;
using platform::Picture;

namespace {

Picture encodedPicture(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality));
    return Picture::fromBytes(bytes);
}

// Smooth colours with a few hard edges, like a chart or a photo of one.
QImage gradientImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int edge = (x > width / 2 && y > height / 2) ? 60 : 0;
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 200 - edge));
        }
    }
    return image;
}

// Transparent left third, half-transparent red middle third, opaque blue right third.
QImage alphaImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            QRgb p = x < width / 3       ? qRgba(0, 0, 0, 0)
                     : x < 2 * width / 3 ? qRgba(255, 0, 0, 128)
                                         : qRgba(0, 0, 255, 255);
            image.setPixel(x, y, p);
        }
    }
    return image;
}

// The source as the output must show it: straight alpha over white.
QImage ontoWhite(const QImage& source) {
    QImage in = source.convertToFormat(QImage::Format_ARGB32);
    QImage out(in.size(), QImage::Format_RGB32);
    for (int y = 0; y < in.height(); ++y) {
        for (int x = 0; x < in.width(); ++x) {
            QRgb p = in.pixel(x, y);
            auto mix = [&](int c) { return int(255 - (255 - c) * qAlpha(p) / 255.0 + 0.5); };
            out.setPixel(x, y, qRgb(mix(qRed(p)), mix(qGreen(p)), mix(qBlue(p))));
        }
    }
    return out;
}

struct PixelDifference {
    int max = 0;
    double mean = 0;
};

PixelDifference compare(const QImage& expected, const QString& writtenFile) {
    QImage written(writtenFile);
    EXPECT_EQ(written.size(), expected.size()) << writtenFile.toStdString();
    PixelDifference d;
    if (written.size() != expected.size()) {
        d.max = 255;
        return d;
    }
    double sum = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            QRgb a = expected.pixel(x, y), b = written.pixel(x, y);
            for (int delta : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) {
                d.max = std::max(d.max, std::abs(delta));
                sum += std::abs(delta);
            }
        }
    }
    d.mean = sum / (3.0 * expected.width() * expected.height());
    return d;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::vector<unsigned char> pngBytes(int width, int height, int colorType, bool interlaced,
                                    const std::vector<unsigned char>& pixels) {
    std::vector<unsigned char> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* v = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
            v->insert(v->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!pixels.empty()) {
        std::size_t rowBytes = png_get_rowbytes(png, info);
        std::vector<png_bytep> rows;
        for (int y = 0; y < height; ++y) {
            rows.push_back(const_cast<png_bytep>(pixels.data()) + std::size_t(y) * rowBytes);
        }
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return out;
}

Picture pictureOf(const std::vector<unsigned char>& bytes) {
    return Picture::fromBytes(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

// The JPEG file's marker segments by marker byte (the first of each kind).
std::map<int, QByteArray> jpegSegments(const QByteArray& jpeg) {
    std::map<int, QByteArray> segments;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF;) {
        int marker = uchar(jpeg[at + 1]);
        int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        segments.emplace(marker, jpeg.mid(at + 4, length - 2));
        if (marker == 0xDA) {
            break;
        }
        at += 2 + length;
    }
    return segments;
}

// A layer that records every call and fails the calls a test names with the status it names;
// the rest goes to the real layer.
class ScriptedGdiplus : public encode::GdiplusApi {
public:
    std::vector<std::string> calls;
    std::map<std::string, GpStatus> failing;
    encode::GdiplusStartupInput startupInput{};
    bool startupOutputNull = false;
    encode::CLSID encoder{};
    encode::EncoderParameter parameter{};
    std::uint32_t quality = 9999;
    bool badClassString = false;

    GpStatus GdiplusStartup(encode::ULONG_PTR* token, const encode::GdiplusStartupInput* input,
                            encode::GdiplusStartupOutput* output) override {
        startupInput = *input;
        startupOutputNull = output == nullptr;
        return result("GdiplusStartup", m_real.GdiplusStartup(token, input, output));
    }
    GpStatus GdipCreateBitmapFromHBITMAP(encode::HBITMAP hbm, encode::HPALETTE hpal,
                                         encode::GpBitmap** bitmap) override {
        if (failing.count("GdipCreateBitmapFromHBITMAP")) {
            return result("GdipCreateBitmapFromHBITMAP", GpStatus::Ok);
        }
        return result("GdipCreateBitmapFromHBITMAP",
                      m_real.GdipCreateBitmapFromHBITMAP(hbm, hpal, bitmap));
    }
    GpStatus GdipSaveImageToFile(encode::GpImage* image, const encode::WCHAR* filename,
                                 const encode::CLSID* clsid,
                                 const encode::EncoderParameters* params) override {
        encoder = *clsid;
        parameter = params->Parameter[0];
        quality = *static_cast<std::uint32_t*>(params->Parameter[0].Value);
        if (failing.count("GdipSaveImageToFile")) {
            return result("GdipSaveImageToFile", GpStatus::Ok);
        }
        return result("GdipSaveImageToFile",
                      m_real.GdipSaveImageToFile(image, filename, clsid, params));
    }
    GpStatus GdipDisposeImage(encode::GpImage* image) override {
        return result("GdipDisposeImage", m_real.GdipDisposeImage(image));
    }
    void GdiplusShutdown(encode::ULONG_PTR token) override {
        calls.push_back("GdiplusShutdown");
        m_real.GdiplusShutdown(token);
    }
    encode::HRESULT CLSIDFromString(const encode::WCHAR* text, encode::CLSID* clsid) override {
        calls.push_back("CLSIDFromString");
        return badClassString ? encode::kHResultClassStringError
                              : m_real.CLSIDFromString(text, clsid);
    }

private:
    GpStatus result(const std::string& call, GpStatus real) {
        calls.push_back(call);
        auto it = failing.find(call);
        return it == failing.end() ? real : it->second;
    }
    encode::TurboJpegGdiplus m_real;
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::RuntimeError& e) {
        return std::to_string(e.number()) + " " + e.description().toStdString();
    }
    return "no error";
}

// Keeps files below `bytes` for its lifetime, the way a full disk cuts a write short.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

const std::vector<std::string> kFullOrder = {"GdiplusStartup",      "GdipCreateBitmapFromHBITMAP",
                                             "CLSIDFromString",     "CLSIDFromString",
                                             "GdipSaveImageToFile", "GdipDisposeImage",
                                             "GdiplusShutdown"};

}  // namespace

TEST(SaveJPG, CallsTheLayerInOrderWithTheFixedStructures) {
    QTemporaryDir dir;
    ScriptedGdiplus gdi;
    QString path = dir.filePath("a.jpg");
    encode::SaveJPG(encodedPicture(gradientImage(40, 30), "PNG"), path, 85, gdi);

    EXPECT_EQ(gdi.calls, kFullOrder);
    EXPECT_EQ(gdi.startupInput.GdiplusVersion, 1u);
    EXPECT_EQ(gdi.startupInput.DebugEventCallback, nullptr);
    EXPECT_EQ(gdi.startupInput.SuppressBackgroundThread, 0);
    EXPECT_EQ(gdi.startupInput.SuppressExternalCodecs, 0);
    EXPECT_TRUE(gdi.startupOutputNull);
    EXPECT_EQ(gdi.encoder,
              (encode::CLSID{
                  0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}));
    EXPECT_EQ(gdi.parameter.Guid,
              (encode::GUID{
                  0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}}));
    EXPECT_EQ(gdi.parameter.NumberOfValues, 1u);
    EXPECT_EQ(gdi.parameter.Type, 4u);
    EXPECT_EQ(gdi.quality, 85u);
    EXPECT_TRUE(QImage(path).size() == QSize(40, 30));
}

TEST(SaveJPG, EachFailingCallRaisesItsStatusAndShutsDownAsRequired) {
    struct Case {
        std::string call;
        GpStatus status;
        std::vector<std::string> calls;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"GdiplusStartup",
         GpStatus::UnsupportedGdiplusVersion,
         {"GdiplusStartup"},
         "5 Cannot save the image. GDI+ Error:17"},
        {"GdipCreateBitmapFromHBITMAP",
         GpStatus::OutOfMemory,
         {"GdiplusStartup", "GdipCreateBitmapFromHBITMAP", "GdiplusShutdown"},
         "5 Cannot save the image. GDI+ Error:3"},
        {"GdipSaveImageToFile", GpStatus::Win32Error, kFullOrder,
         "5 Cannot save the image. GDI+ Error:7"},
        {"GdipSaveImageToFile", GpStatus::FileNotFound, kFullOrder,
         "5 Cannot save the image. GDI+ Error:10"},
        // The dispose status is ignored: the file stands and no error is raised.
        {"GdipDisposeImage", GpStatus::GenericError, kFullOrder, "no error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call + " " + c.message);
        QTemporaryDir dir;
        ScriptedGdiplus gdi;
        gdi.failing[c.call] = c.status;
        QString path = dir.filePath("a.jpg");
        EXPECT_EQ(errorOf([&] {
                      encode::SaveJPG(encodedPicture(gradientImage(8, 8), "PNG"), path, 85, gdi);
                  }),
                  c.message);
        EXPECT_EQ(gdi.calls, c.calls);
        EXPECT_EQ(QFile::exists(path), c.message == "no error");
    }
}

TEST(SaveJPG, RealLayerReportsWhatGoesWrong) {
    QTemporaryDir dir;
    Picture picture = encodedPicture(gradientImage(8, 8), "PNG");
    // A folder that does not exist: the file cannot be created.
    EXPECT_EQ(errorOf([&] { encode::SaveJPG(picture, dir.filePath("none/a.jpg"), 85); }),
              "5 Cannot save the image. GDI+ Error:7");
    // A quality above 100 is refused, not clamped.
    EXPECT_EQ(errorOf([&] { encode::SaveJPG(picture, dir.filePath("a.jpg"), 101); }),
              "5 Cannot save the image. GDI+ Error:2");
    // Unparsed identifiers stay zero and the encoder is not found; the layer is still shut down.
    ScriptedGdiplus gdi;
    gdi.badClassString = true;
    EXPECT_EQ(errorOf([&] { encode::SaveJPG(picture, dir.filePath("b.jpg"), 85, gdi); }),
              "5 Cannot save the image. GDI+ Error:13");
    EXPECT_EQ(gdi.calls.back(), "GdiplusShutdown");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

TEST(SaveJPG, PictureThatDoesNotDecodeShutsDownAndSaysWhy) {
    QTemporaryDir dir;
    ScriptedGdiplus gdi;
    // A metafile header that states no size of its own records.
    QByteArray header(88, '\0');
    header[0] = 1;
    header.replace(40, 4, " EMF");
    Picture emf = Picture::fromBytes(header);
    std::string error = errorOf([&] { encode::SaveJPG(emf, dir.filePath("a.jpg"), 85, gdi); });
    EXPECT_EQ(
        error,
        "481 Cannot save the image: the picture cannot be drawn (emf): its header is damaged");
    EXPECT_EQ(gdi.calls, (std::vector<std::string>{"GdiplusStartup", "GdiplusShutdown"}));
    EXPECT_FALSE(QFile::exists(dir.filePath("a.jpg")));
}

TEST(SaveJPG, QualityZeroAndHundredReachTheEncoderUnchanged) {
    QTemporaryDir dir;
    Picture picture = encodedPicture(gradientImage(64, 48), "PNG");
    for (std::uint8_t quality : {std::uint8_t(0), std::uint8_t(100)}) {
        ScriptedGdiplus gdi;
        QString path = dir.filePath(QStringLiteral("q%1.jpg").arg(quality));
        encode::SaveJPG(picture, path, quality, gdi);
        EXPECT_EQ(gdi.quality, quality);

        auto segments = jpegSegments(readAll(path));
        // Quality 100 gives all-ones quantisers; 0 (read as the lowest) gives the coarsest.
        QByteArray table = segments[0xDB].mid(1, 64);
        ASSERT_EQ(table.size(), 64);
        for (char q : table) {
            if (quality == 100) {
                EXPECT_EQ(uchar(q), 1);
            } else {
                EXPECT_GE(uchar(q), 200);
            }
        }
        // 4:2:0: luma sampled 2x2, both chroma planes 1x1.
        QByteArray frame = segments[0xC0];
        ASSERT_EQ(frame.size(), 6 + 3 * 3);
        EXPECT_EQ(uchar(frame[7]), 0x22);
        EXPECT_EQ(uchar(frame[10]), 0x11);
        EXPECT_EQ(uchar(frame[13]), 0x11);
    }
}

TEST(OutputPixels, BmpIsAGenuine24BitBitmapEqualToTheSource) {
    QTemporaryDir dir;
    // Width 37 makes every row need padding; each source format takes its own decoder.
    QImage source = gradientImage(37, 23);
    for (const char* format : {"PNG", "TIFF", "BMP", "JPG"}) {
        SCOPED_TRACE(format);
        Picture picture = encodedPicture(source, format, 95);
        QString path = dir.filePath(QStringLiteral("%1.bmp").arg(format));
        encode::writeBmpFile(picture, path);

        QByteArray bmp = readAll(path);
        std::size_t stride = (37 * 3 + 3) & ~3;
        ASSERT_EQ(bmp.size(), qsizetype(54 + stride * 23));
        EXPECT_EQ(bmp.left(2), "BM");
        EXPECT_EQ(uchar(bmp[28]), 24);  // bits per pixel
        // What Qt makes of the same bytes is the reference: the output adds nothing of its own.
        QImage expected = ontoWhite(render::renderPicture(picture).image);
        EXPECT_EQ(compare(expected, path).max, 0);
    }
}

// The save reads JPEG and PNG itself for speed; what it makes of every kind of them must be
// what the preview shows, pixel for pixel, transparency on white.
TEST(OutputPixels, EveryKindReadDirectlyEqualsWhatThePreviewShows) {
    QTemporaryDir dir;
    const std::vector<testing_support::PictureKind> kinds = testing_support::pictureKinds();
    std::map<std::string, Picture> byName;
    for (const testing_support::PictureKind& kind : kinds) {
        byName[kind.name] = pictureOf(kind.bytes);
    }
    for (const testing_support::PictureKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const Picture& picture = byName[kind.name];
        const QString path = dir.filePath(QStringLiteral("kind.bmp"));
        encode::writeBmpFile(picture, path);
        // Qt's reader gets a 16-bit RGB picture with a transparent colour wrong; the save
        // follows the PNG rule: the picture without it, that colour (pixel (1, 0)) cleared.
        const bool qtDiffers = kind.name == "png rgb 16-bit tRNS";
        const render::Rendered shown =
            render::renderPicture(qtDiffers ? byName["png rgb 16-bit"] : picture);
        ASSERT_TRUE(shown.ok()) << shown.error.toStdString();
        QImage expected = ontoWhite(shown.image);
        if (qtDiffers) {
            expected.setPixel(1, 0, qRgb(255, 255, 255));
        }
        EXPECT_EQ(compare(expected, path).max, 0);
    }
}

// JPEG output goes a band of rows at a time from the decoder into the encoder; its bytes are
// those of the whole picture decoded, then encoded, at every quality and for every kind, with
// pictures shorter and taller than a band, and pictures damaged on the way.
TEST(OutputPixels, JpegMadeBandByBandIsTheWholePicturesJpeg) {
    std::vector<testing_support::PictureKind> kinds = testing_support::pictureKinds();
    for (testing_support::PictureKind& kind : testing_support::pictureKinds(67, 45)) {
        kinds.push_back({kind.name + " 67 x 45", std::move(kind.bytes)});
        // Cut short: the whole-picture road decides what comes of it, as before. (A BMP cut
        // short is left out: Qt's reader leaves the rows it did not get uninitialised.)
        if (kind.name.rfind("bmp", 0) == 0) {
            continue;
        }
        std::vector<std::uint8_t> cut(kinds.back().bytes.begin(),
                                      kinds.back().bytes.end() - kinds.back().bytes.size() / 3);
        kinds.push_back({kind.name + " 67 x 45 cut", std::move(cut)});
    }
    auto outcome = [](const std::function<std::optional<encode::JpegBytes>()>& encode) {
        try {
            std::optional<encode::JpegBytes> jpeg = encode();
            return jpeg ? std::string(reinterpret_cast<const char*>(jpeg->data()), jpeg->size())
                        : std::string("encoder failed");
        } catch (const platform::RuntimeError& e) {
            return "error " + e.description().toStdString();
        }
    };
    for (const testing_support::PictureKind& kind : kinds) {
        const Picture picture = pictureOf(kind.bytes);
        for (int quality : {0, 1, 50, 85, 95, 96, 100}) {
            SCOPED_TRACE(kind.name + " quality " + std::to_string(quality));
            const std::string whole = outcome([&] {
                return encode::encodeJpeg(
                    encode::decodeOntoWhite(picture, encode::ChannelOrder::Rgb), quality);
            });
            EXPECT_TRUE(whole == outcome([&] { return encode::encodeJpegFrom(picture, quality); }))
                << whole.substr(0, 120);
        }
    }
}

TEST(OutputPixels, JpegIsCloseToTheSource) {
    QTemporaryDir dir;
    QImage source = gradientImage(120, 80);
    // Each source format takes its own decoder; all must hand the encoder the same colours.
    for (const char* format : {"PNG", "JPG", "TIFF"}) {
        SCOPED_TRACE(format);
        QString path = dir.filePath(QStringLiteral("%1.jpg").arg(format));
        encode::SaveJPG(encodedPicture(source, format, 95), path, 90);
        PixelDifference d = compare(source, path);
        EXPECT_LT(d.mean, 2.0);
        EXPECT_LT(d.max, 40);
    }
}

TEST(OutputPixels, TransparencyBecomesWhiteInBothFormats) {
    QTemporaryDir dir;
    QImage source = alphaImage(48, 16);
    QImage expected = ontoWhite(source);
    ASSERT_EQ(expected.pixel(0, 0), qRgb(255, 255, 255));
    ASSERT_EQ(expected.pixel(24, 0), qRgb(255, 127, 127));

    std::vector<std::pair<std::string, Picture>> pictures = {
        {"png", encodedPicture(source, "PNG")},
        {"tiff", encodedPicture(source, "TIFF")},
    };
    // An interlaced PNG with alpha and a palette PNG with a transparent entry take other paths
    // through libpng.
    std::vector<unsigned char> rgba;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 48; ++x) {
            QRgb p = source.pixel(x, y);
            rgba.insert(rgba.end(),
                        {uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)), uchar(qAlpha(p))});
        }
    }
    pictures.emplace_back("interlaced png",
                          pictureOf(pngBytes(48, 16, PNG_COLOR_TYPE_RGBA, true, rgba)));

    for (const auto& [name, picture] : pictures) {
        SCOPED_TRACE(name);
        const QImage& reference = expected;
        QString bmp = dir.filePath(QString::fromStdString(name) + ".bmp");
        encode::writeBmpFile(picture, bmp);
        EXPECT_LE(compare(reference, bmp).max, 1);
        QString jpg = dir.filePath(QString::fromStdString(name) + ".jpg");
        encode::SaveJPG(picture, jpg, 95);
        EXPECT_GE(qGray(QImage(jpg).pixel(3, 8)), 250);  // white, not black
        EXPECT_LT(compare(reference, jpg).mean, 4.0);
    }
}

TEST(OutputPixels, RefusesPicturesThatAreTooLargeOrBroken) {
    QTemporaryDir dir;
    // Headers alone claiming 10001 x 10001 pixels: refused before any pixel memory is taken.
    Picture hugePng = pictureOf(pngBytes(10001, 10001, PNG_COLOR_TYPE_RGB, false, {}));
    QByteArray jpeg = encodedPicture(gradientImage(16, 16), "JPG").bytes();
    QByteArray frame = jpegSegments(jpeg)[0xC0];
    qsizetype at = jpeg.indexOf(frame) + 1;  // height and width follow the precision byte
    const char size[] = {char(0x27), char(0x11), char(0x27), char(0x11)};
    jpeg.replace(at, 4, size, 4);
    Picture hugeJpeg = Picture::fromBytes(jpeg);
    for (const Picture& huge : {hugePng, hugeJpeg}) {
        std::string error = errorOf([&] { encode::writeBmpFile(huge, dir.filePath("a.bmp")); });
        EXPECT_NE(error.find("too large to save (10001 x 10001 pixels"), std::string::npos)
            << error;
    }
    Picture truncated =
        Picture::fromBytes(encodedPicture(gradientImage(50, 50), "PNG").bytes().left(100));
    std::string error = errorOf([&] { encode::writeBmpFile(truncated, dir.filePath("b.bmp")); });
    EXPECT_NE(error.find("Cannot decode the picture (png)"), std::string::npos) << error;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

// Image data that end before the last row would save as grey filler: that is an error and no
// file, with an end marker after them or none. Warnings that leave every row decoded from the
// file's own data are no error, and the picture saves exactly as it would whole.
TEST(OutputPixels, JpegDataEndingBeforeTheLastRowIsDamageYetHarmlessWarningsSave) {
    const QByteArray whole = encodedPicture(gradientImage(160, 120), "JPG", 90).bytes();
    // A header that claims 4000 x 4000 pixels over 64 bytes of image data.
    QByteArray giant = encodedPicture(gradientImage(16, 16), "JPG").bytes();
    const qsizetype size = giant.indexOf(jpegSegments(giant)[0xC0]) + 1;
    giant.replace(size, 4, QByteArray("\x0F\xA0\x0F\xA0", 4));
    const qsizetype scan = giant.indexOf("\xFF\xDA");
    giant = giant.left(scan + 2 + ((uchar(giant[scan + 2]) << 8) | uchar(giant[scan + 3])) + 64) +
            "\xFF\xD9";
    QByteArray extraneous = whole;
    extraneous.insert(whole.indexOf("\xFF\xDB"), QByteArray(3, '\0'));

    QTemporaryDir dir;
    for (const QByteArray& damaged : {whole.left(whole.size() * 6 / 10), giant}) {
        const Picture picture = Picture::fromBytes(damaged);
        for (const std::string& error :
             {errorOf([&] { encode::writeBmpFile(picture, dir.filePath("a.bmp")); }),
              errorOf([&] { encode::SaveJPG(picture, dir.filePath("a.jpg"), 85); })}) {
            EXPECT_NE(error.find("the picture's data is damaged"), std::string::npos) << error;
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());

    encode::writeBmpFile(Picture::fromBytes(whole), dir.filePath("whole.bmp"));
    const QImage reference(dir.filePath("whole.bmp"));
    for (const QByteArray& warned : {whole.chopped(2), whole + "trailing bytes", extraneous}) {
        encode::writeBmpFile(Picture::fromBytes(warned), dir.filePath("warned.bmp"));
        EXPECT_EQ(compare(reference, dir.filePath("warned.bmp")).max, 0);
    }
}

// A PNG cut inside its image data stays an error; one whose every row is there saves, whatever
// is missing after them.
TEST(OutputPixels, PngCutAfterItsLastRowSavesAndCutBeforeItIsAnError) {
    std::vector<unsigned char> rgb;
    for (int i = 0; i < 60 * 40; ++i) {
        rgb.insert(rgb.end(), {uchar(i * 7), uchar(i * 13), uchar(i >> 3)});
    }
    QTemporaryDir dir;
    for (bool interlaced : {false, true}) {
        const QByteArray whole =
            pictureOf(pngBytes(60, 40, PNG_COLOR_TYPE_RGB, interlaced, rgb)).bytes();
        const qsizetype end = whole.indexOf("IEND") - 4;
        encode::writeBmpFile(Picture::fromBytes(whole), dir.filePath("whole.bmp"));
        for (const QByteArray& cut : {whole.left(end), whole.left(end + 6)}) {
            encode::writeBmpFile(Picture::fromBytes(cut), dir.filePath("cut.bmp"));
            EXPECT_EQ(compare(QImage(dir.filePath("whole.bmp")), dir.filePath("cut.bmp")).max, 0);
        }
        // In the words a JPEG cut short gives.
        EXPECT_NE(errorOf([&] {
                      encode::writeBmpFile(Picture::fromBytes(whole.left(end - 20)),
                                           dir.filePath("short.bmp"));
                  })
                      .find("Cannot decode the picture (png): the picture's data is damaged (it "
                            "ends before its last row)"),
                  std::string::npos);
        EXPECT_FALSE(QFile::exists(dir.filePath("short.bmp")));
    }
}

// A PNG our decoder refuses is not handed to a second one, whose libpng would print its own
// "libpng error" line on standard error before our message.
TEST(OutputPixels, DamagedPngIsToldOnceWithoutLibpngsOwnLine) {
    QTemporaryFile captured;
    ASSERT_TRUE(captured.open());
    const Picture cut =
        Picture::fromBytes(encodedPicture(gradientImage(50, 50), "PNG").bytes().left(100));
    std::fflush(stderr);
    const int savedErr = ::dup(2);
    ::dup2(captured.handle(), 2);
    const std::string error =
        errorOf([&] { (void)encode::decodeOntoWhite(cut, encode::ChannelOrder::Bgr); });
    std::fflush(stderr);
    ::dup2(savedErr, 2);
    ::close(savedErr);
    EXPECT_NE(error.find("the picture's data is damaged"), std::string::npos) << error;
    captured.seek(0);
    EXPECT_EQ(captured.readAll(), QByteArray());
}

TEST(OutputPixels, CmykJpegSavesAsTheJpegReaderShowsIt) {
    std::vector<unsigned char> cmyk(24 * 16 * 4, 0);
    for (std::size_t i = 0; i < cmyk.size(); i += 4) {
        cmyk[i] = 200;  // cyan
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, cmyk.data(), 24, 0, 16, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 90, 0),
              0);
    Picture picture = pictureOf(std::vector<unsigned char>(jpeg, jpeg + size));
    tjFree(jpeg);
    tjDestroy(tj);

    QTemporaryDir dir;
    encode::writeBmpFile(picture, dir.filePath("a.bmp"));
    EXPECT_EQ(compare(ontoWhite(render::renderPicture(picture).image), dir.filePath("a.bmp")).max,
              0);
}

// Damaged pictures, cut short or with a byte changed anywhere: each either saves or raises the
// save's error; nothing crashes, hangs or reads out of bounds (the sanitizer build watches).
TEST(OutputPixels, DamagedPicturesGiveAnErrorNotACrash) {
    std::vector<unsigned char> rgba;
    for (int i = 0; i < 20 * 12; ++i) {
        rgba.insert(rgba.end(), {uchar(i), uchar(i * 3), uchar(255 - i), uchar(i * 7)});
    }
    const std::vector<QByteArray> sources = {
        encodedPicture(gradientImage(20, 12), "PNG").bytes(),
        encodedPicture(gradientImage(20, 12), "JPG", 80).bytes(),
        pictureOf(pngBytes(20, 12, PNG_COLOR_TYPE_RGBA, true, rgba)).bytes(),
    };
    QTemporaryDir dir;
    int saved = 0, refused = 0;
    for (const QByteArray& good : sources) {
        std::vector<QByteArray> damaged;
        for (qsizetype cut = 0; cut < good.size();
             cut += std::max<qsizetype>(1, good.size() / 40)) {
            damaged.push_back(good.left(cut));
        }
        for (qsizetype at = 0; at < good.size(); at += std::max<qsizetype>(1, good.size() / 60)) {
            QByteArray flipped = good;
            flipped[at] = char(flipped[at] ^ 0x5A);
            damaged.push_back(flipped);
        }
        for (const QByteArray& bytes : damaged) {
            try {
                encode::writeBmpFile(Picture::fromBytes(bytes), dir.filePath("a.bmp"));
                encode::SaveJPG(Picture::fromBytes(bytes), dir.filePath("a.jpg"), 85);
                ++saved;
            } catch (const platform::RuntimeError&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(saved, 0);
    EXPECT_GT(refused, 0);
}

TEST(OutputFiles, FailedWriteLeavesNeitherPartialNorTemporaryFile) {
    QTemporaryDir dir;
    QImage noise(200, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 256, (x ^ y) & 255, x * y % 251));
        }
    }
    Picture picture = encodedPicture(noise, "PNG");
    QString bmp = dir.filePath("old.bmp");
    QString jpg = dir.filePath("old.jpg");
    for (const QString& path : {bmp, jpg}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("before");
    }
    {
        FileSizeLimit diskFull(1000);
        EXPECT_NE(errorOf([&] { encode::writeBmpFile(picture, bmp); }), "no error");
        EXPECT_EQ(errorOf([&] { encode::SaveJPG(picture, jpg, 100); }),
                  "5 Cannot save the image. GDI+ Error:7");
    }
    EXPECT_EQ(readAll(bmp), "before");
    EXPECT_EQ(readAll(jpg), "before");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"old.bmp", "old.jpg"}));

    std::string error = errorOf([&] { encode::writeBmpFile(picture, dir.filePath("no/a.bmp")); });
    EXPECT_NE(error.find("Cannot write '"), std::string::npos) << error;

    // A name at the file system's length limit is still written.
    QString longName = dir.filePath(QString(251, QLatin1Char('n')) + ".bmp");
    EXPECT_EQ(errorOf([&] { encode::writeBmpFile(picture, longName); }), "no error");
}

TEST(OutputNames, BaseNameDropsOnlyTheLastExtension) {
    using encode::outputBaseName;
    EXPECT_EQ(outputBaseName("/data/book.xlsx", "2"), "book_2");
    EXPECT_EQ(outputBaseName("/data/report.final.xls", "1"), "report.final_1");
    EXPECT_EQ(outputBaseName("/data/sales.2014.xlsx", "3"), "sales.2014_3");
    EXPECT_EQ(outputBaseName("/data/noext", "1"), "noext_1");
    // A dot in a folder name is not an extension.
    EXPECT_EQ(outputBaseName("/data/v1.2/noext", "4"), "noext_4");
    EXPECT_EQ(outputBaseName("book.xlsb", "12"), "book_12");
}

TEST(OutputNames, FolderWithOrWithoutSlashGivesTheSameFile) {
    using encode::outputFilePath;
    EXPECT_EQ(outputFilePath("/out/", "book_2.bmp"), "/out/book_2.bmp");
    EXPECT_EQ(outputFilePath("/out", "book_2.bmp"), "/out/book_2.bmp");
    EXPECT_EQ(outputFilePath("/", "book_2.bmp"), "/book_2.bmp");
}

TEST(OutputNames, LaterRowsOfOneSaveNeverTakeAnEarlierRowsFile) {
    encode::OutputPaths paths;
    EXPECT_EQ(paths.claim("/out/", "book_1", ".jpg"), "/out/book_1.jpg");
    EXPECT_EQ(paths.claim("/out", "book_1", ".jpg"), "/out/book_1 (2).jpg");
    EXPECT_EQ(paths.claim("/out/", "book_1", ".jpg"), "/out/book_1 (3).jpg");
    EXPECT_EQ(paths.claim("/out/", "book_1", ".bmp"), "/out/book_1.bmp");
    EXPECT_EQ(paths.claim("/out/", "book_2", ".jpg"), "/out/book_2.jpg");
    // Names that differ only in case are one file on FAT, exFAT and most network shares.
    EXPECT_EQ(paths.claim("/out/", "Book_2", ".JPG"), "/out/Book_2 (2).JPG");
    // A later save starts afresh: its first row keeps the plain name.
    EXPECT_EQ(encode::OutputPaths().claim("/out/", "book_1", ".jpg"), "/out/book_1.jpg");
}

// A workbook whose name is near the file system's limit still gives names that fit: its own
// part is cut at a character boundary, and the clash rule works on what is left.
TEST(OutputNames, LongWorkbookNamesAreShortenedToFitWithNumberSuffixAndExtension) {
    const QString ascii(250, QLatin1Char('a'));
    const QString camera = QString::fromUtf8("\xF0\x9F\x93\xB7");  // 4 bytes, 2 UTF-16 units
    const QString wide = QString(84, QChar(0x00E9)) + camera;      // 172 bytes
    struct Case {
        QString base, tail;
        qsizetype keptChars;  // of the workbook's part
    } cases[] = {
        {"book_1", ".jpg", 4},
        {ascii + "_12", ".jpg", 255 - 7},
        {ascii + "_12", " (2).jpg", 255 - 11},
        {wide + "_3", ".bmp", 84 + 2},                      // all of it fits
        {wide + wide + "_3", ".bmp", 84 + 2 + 38},          // 172 + 76 of 249 bytes
        {QString(245, 'a') + camera + "b_3", ".bmp", 247},  // 249 bytes: the camera fits
        {QString(246, 'a') + camera + "_3", ".bmp", 246},   // it is not split
    };
    for (const Case& c : cases) {
        const QString name = encode::fittedFileName(c.base, c.tail);
        SCOPED_TRACE(name.toStdString());
        EXPECT_LE(name.toUtf8().size(), encode::kMaxFileNameBytes);
        EXPECT_TRUE(name.endsWith(c.base.mid(c.base.lastIndexOf('_')) + c.tail));
        EXPECT_EQ(name.size() - (c.base.size() - c.base.lastIndexOf('_')) - c.tail.size(),
                  c.keptChars);
        EXPECT_TRUE(name.isValidUtf16());
    }
    // Two workbooks that shorten to one name: the second gets " (2)", and both files are made.
    QTemporaryDir dir;
    encode::OutputPaths paths;
    const QString first = paths.claim(dir.path(), ascii + "x_1", ".jpg");
    const QString second = paths.claim(dir.path(), ascii + "y_1", ".jpg");
    EXPECT_TRUE(second.endsWith(" (2).jpg"));
    for (const QString& path : {first, second}) {
        EXPECT_EQ(encode::writeWholeFile(path, {QByteArrayView("x")}), QString())
            << path.toStdString();
    }
}

// A save killed mid-write leaves its hidden temporary file; the next save into that folder
// removes such leftovers of ours, and nothing else: not a user's file that merely looks like
// one, and not the temporary that another save into the same folder is writing now.
TEST(OutputNames, TheFirstPathInAFolderClearsOurOwnStaleTemporaries) {
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct {
        const char* name;
        qint64 age;  // seconds before now; negative: written after the save started
        bool kept;
        bool held = false;  // locked, as a write in progress holds it
    } files[] = {{".quillfen-0123456789abcdef.tmp", 3600, false},
                 {".quillfen-fedcba9876543210.tmp", -3600, true},
                 {".quillfen-00000000deadbeef.tmp", 3600, true, true},
                 {".notes.20231231.tmp", 3600, true},
                 {".thesis.docx.0badcafe.tmp", 3600, true},
                 {".book_1.bmp.0123abcd.tmp", 3600, true},
                 {".notes.tmp", 3600, true},
                 {"book.0123abcd.tmp", 3600, true},
                 {".quillfen-0123456789ABCDEF.tmp", 3600, true},
                 {".quillfen-0123456789abcde.tmp", 3600, true},
                 {"quillfen-0123456789abcdef.tmp", 3600, true}};
    std::vector<std::unique_ptr<QFile>> holders;
    for (const auto& file : files) {
        auto f = std::make_unique<QFile>(dir.filePath(file.name));
        ASSERT_TRUE(f->open(QIODevice::WriteOnly));
        f->setFileTime(now.addSecs(-file.age), QFileDevice::FileModificationTime);
        if (file.held) {
            ASSERT_EQ(::flock(f->handle(), LOCK_EX), 0);
            holders.push_back(std::move(f));
        }
    }
    encode::OutputPaths().claim(dir.path(), "book_1", ".bmp");
    for (const auto& file : files) {
        EXPECT_EQ(QFile::exists(dir.filePath(file.name)), file.kept) << file.name;
    }
}

TEST(OutputNames, FileFromBeforeTheSaveIsReplaced) {
    QTemporaryDir dir;
    QString old = dir.filePath("book_1.bmp");
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("an older file");
    f.close();

    encode::OutputPaths paths;
    QString path = paths.claim(dir.path(), encode::outputBaseName("/in/book.xlsx", "1"), ".bmp");
    ASSERT_EQ(path, old);
    encode::writeBmpFile(encodedPicture(gradientImage(5, 5), "PNG"), path);
    EXPECT_EQ(QImage(old).size(), QSize(5, 5));
}

// A workbook's pictures may come to the allowance and 64 pixels for every byte they store;
// the picture that goes past, and every one after it, is refused.
TEST(PixelBudget, AllowsTheAllowanceAndItsStoredBytesThenRefusesTheRest) {
    using encode::kPixelsPerStoredByte;
    using encode::kWorkbookPixelAllowance;
    const struct {
        const char* what;
        std::vector<std::pair<std::int64_t, std::int64_t>> pictures;  // pixels, stored bytes
        std::vector<bool> charged;
    } cases[] = {
        {"to the pixel", {{kWorkbookPixelAllowance, 0}, {0, 0}}, {true, true}},
        {"one past", {{kWorkbookPixelAllowance, 0}, {1, 0}, {0, 1'000'000}}, {true, false, false}},
        {"stored bytes widen it", {{kWorkbookPixelAllowance + 64, 1}, {1, 0}}, {true, false}},
        {"a photo brings its own",
         {{100'000'000, 6'000'000}, {kWorkbookPixelAllowance, 0}},
         {true, true}},
        {"hostile sizes do not wrap", {{INT64_MAX, 0}, {1, INT64_MAX}}, {false, false}},
        {"negative is nothing", {{-5, -5}, {kWorkbookPixelAllowance, 0}}, {true, true}},
    };
    for (const auto& c : cases) {
        encode::PixelBudget budget;
        std::vector<bool> charged;
        for (const auto& [pixels, stored] : c.pictures) {
            charged.push_back(budget.charge(pixels, stored));
        }
        EXPECT_EQ(charged, c.charged) << c.what;
    }
    static_assert(kPixelsPerStoredByte == 64);
}
