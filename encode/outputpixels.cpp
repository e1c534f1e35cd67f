#include "encode/outputpixels.h"

#include <png.h>
#include <turbojpeg.h>

#include <QImage>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "platform/runtimeerror.h"
#include "render/renderer.h"

namespace encode {

namespace {

constexpr int kErrOutOfMemory = 7;

QString formatLabel(const platform::Picture& picture) {
    return QString::fromLatin1(workbook::formatName(picture.format()).data());
}

[[noreturn]] void throwUndecodable(const platform::Picture& picture, const QString& reason) {
    throw platform::RuntimeError(
        platform::err::kInvalidPicture,
        QStringLiteral("Cannot decode the picture (%1): %2").arg(formatLabel(picture), reason));
}

void checkPixelCount(std::int64_t width, std::int64_t height) {
    if (width * height > kMaxOutputPixels) {
        throw platform::RuntimeError(
            kErrOutOfMemory,
            QStringLiteral("The picture is too large to save (%1 x %2 pixels; the limit is %3 "
                           "megapixels)")
                .arg(width)
                .arg(height)
                .arg(kMaxOutputPixels / 1'000'000));
    }
}

// t / 255 rounded to nearest, exact for t up to 255 * 255.
inline unsigned divideBy255(unsigned t) {
    t += 128;
    return (t + (t >> 8)) >> 8;
}

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// TurboJPEG reads baseline and progressive JPEG in any sampling; CMYK and YCCK files, which it
// cannot turn into RGB, are left to Qt. A warning (a truncated file, say) still gives a
// picture, as every viewer shows one.
std::optional<PixelBuffer> decodeJpeg(const platform::Picture& picture, ChannelOrder order,
                                      QString* reason) {
    TjHandle handle(tjInitDecompress());
    if (!handle) {
        *reason = QStringLiteral("the JPEG decoder cannot start");
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(picture.bytes().constData());
    const auto size = static_cast<unsigned long>(picture.bytes().size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes, size, &width, &height, &subsampling,
                            &colorspace) != 0) {
        *reason = QString::fromUtf8(tjGetErrorStr2(handle.get()));
        return std::nullopt;
    }
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        return std::nullopt;
    }
    checkPixelCount(width, height);
    PixelBuffer out(width, height, order);
    if (tjDecompress2(handle.get(), bytes, size, out.data(), width, int(out.stride()), height,
                      order == ChannelOrder::Bgr ? TJPF_BGR : TJPF_RGB, TJFLAG_BOTTOMUP) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        *reason = QString::fromUtf8(tjGetErrorStr2(handle.get()));
        return std::nullopt;
    }
    return out;
}

// Everything a PNG read touches lives here, outside the function that calls setjmp, so a
// longjmp out of libpng skips no destructor and leaves no value indeterminate.
struct PngRead {
    PngRead(const QByteArray& bytes, ChannelOrder order) : data(bytes), order(order) {}
    ~PngRead() { png_destroy_read_struct(&png, &info, nullptr); }

    const QByteArray& data;
    ChannelOrder order;
    std::size_t offset = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::optional<PixelBuffer> out;
    std::unique_ptr<std::uint8_t[]> scratch;  // rows with alpha before they meet the white
    char message[200] = {};

    void allocate(int width, int height, bool alpha, bool interlaced) {
        checkPixelCount(width, height);
        out.emplace(width, height, order);
        if (alpha) {
            std::size_t rows = interlaced ? std::size_t(height) : 1;
            scratch.reset(new (std::nothrow) std::uint8_t[std::size_t(width) * 4 * rows]);
            if (!scratch) {
                throw std::bad_alloc();
            }
        }
    }
};

void pngReadData(png_structp png, png_bytep target, png_size_t length) {
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    if (length > std::size_t(read->data.size()) - read->offset) {
        png_error(png, "the file ends early");
    }
    std::memcpy(target, read->data.constData() + read->offset, length);
    read->offset += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    std::snprintf(read->message, sizeof read->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

enum class PngResult { Done, Failed, TooLarge };

// Only plain values live in this frame: libpng leaves it by longjmp on any error.
PngResult readPng(PngRead& read) {
    if (setjmp(png_jmpbuf(read.png))) {
        return PngResult::Failed;
    }
    png_set_read_fn(read.png, &read, pngReadData);
    png_read_info(read.png, read.info);
    png_uint_32 width = png_get_image_width(read.png, read.info);
    png_uint_32 height = png_get_image_height(read.png, read.info);
    if (std::int64_t(width) * std::int64_t(height) > kMaxOutputPixels) {
        return PngResult::TooLarge;
    }
    int colorType = png_get_color_type(read.png, read.info);
    bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 ||
                 png_get_valid(read.png, read.info, PNG_INFO_tRNS) != 0;
    png_set_expand(read.png);
    png_set_scale_16(read.png);
    png_set_gray_to_rgb(read.png);
    if (read.order == ChannelOrder::Bgr) {
        png_set_bgr(read.png);
    }
    int passes = png_set_interlace_handling(read.png);
    png_read_update_info(read.png, read.info);
    if (png_get_channels(read.png, read.info) != (alpha ? 4 : 3)) {
        png_error(read.png, "unexpected pixel layout");
    }
    bool interlaced = passes > 1;
    read.allocate(int(width), int(height), alpha, interlaced);
    PixelBuffer& out = *read.out;
    std::size_t scratchStride = std::size_t(width) * 4;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep target = !alpha       ? out.row(int(y))
                               : interlaced ? read.scratch.get() + y * scratchStride
                                            : read.scratch.get();
            png_read_row(read.png, target, nullptr);
            if (alpha && !interlaced) {
                compositeOntoWhite(target, out.row(int(y)), int(width));
            }
        }
    }
    if (alpha && interlaced) {
        for (png_uint_32 y = 0; y < height; ++y) {
            compositeOntoWhite(read.scratch.get() + y * scratchStride, out.row(int(y)), int(width));
        }
    }
    png_read_end(read.png, nullptr);
    return PngResult::Done;
}

std::optional<PixelBuffer> decodePng(const platform::Picture& picture, ChannelOrder order,
                                     QString* reason) {
    PngRead read(picture.bytes(), order);
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngError, pngWarning);
    if (read.png) {
        read.info = png_create_info_struct(read.png);
    }
    if (!read.png || !read.info) {
        *reason = QStringLiteral("the PNG decoder cannot start");
        return std::nullopt;
    }
    switch (readPng(read)) {
        case PngResult::Done:
            return std::move(read.out);
        case PngResult::TooLarge:
            checkPixelCount(png_get_image_width(read.png, read.info),
                            png_get_image_height(read.png, read.info));
            break;
        case PngResult::Failed:
            break;
    }
    *reason = QString::fromUtf8(read.message);
    return std::nullopt;
}

// Everything but the fast path goes through the renderer, as the preview does, so what the
// user sees is what is saved.
PixelBuffer renderOntoWhite(const platform::Picture& picture, ChannelOrder order,
                            const QString& fastPathReason) {
    render::Rendered rendered = render::renderPicture(picture);
    if (!rendered.ok()) {
        if (!fastPathReason.isEmpty()) {
            throwUndecodable(picture, fastPathReason);
        }
        throw platform::RuntimeError(rendered.errorNumber, rendered.error);
    }
    QImage image = std::move(rendered.image);
    checkPixelCount(image.width(), image.height());
    // Both formats keep straight alpha; in memory they lie as B, G, R, A and R, G, B, A.
    image.convertTo(order == ChannelOrder::Bgr ? QImage::Format_ARGB32 : QImage::Format_RGBA8888);
    PixelBuffer out(image.width(), image.height(), order);
    for (int y = 0; y < image.height(); ++y) {
        compositeOntoWhite(image.constScanLine(y), out.row(y), image.width());
    }
    return out;
}

}  // namespace

PixelBuffer::PixelBuffer(int width, int height, ChannelOrder order)
    : m_order(order),
      m_width(width),
      m_height(height),
      m_stride((std::size_t(width) * 3 + 3) & ~std::size_t(3)) {
    if (width <= 0 || height <= 0) {
        throw platform::RuntimeError(platform::err::kInvalidPicture,
                                     QStringLiteral("The picture has no pixels"));
    }
    checkPixelCount(width, height);
    m_data.reset(new (std::nothrow) std::uint8_t[byteCount()]);
    if (!m_data) {
        throw platform::RuntimeError(
            kErrOutOfMemory, QStringLiteral("Not enough memory for a picture of %1 x %2 pixels")
                                 .arg(width)
                                 .arg(height));
    }
    std::size_t used = std::size_t(width) * 3;
    if (used != m_stride) {
        for (int y = 0; y < height; ++y) {
            std::memset(row(y) + used, 0, m_stride - used);
        }
    }
}

void compositeOntoWhite(const std::uint8_t* bgra, std::uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        unsigned alpha = bgra[3];
        // Graphics are mostly fully opaque or fully clear; only their edges need the sum.
        if (alpha == 255) {
            bgr[0] = bgra[0];
            bgr[1] = bgra[1];
            bgr[2] = bgra[2];
        } else if (alpha == 0) {
            bgr[0] = bgr[1] = bgr[2] = 255;
        } else {
            // Straight alpha over white: 255 - (255 - c) * a / 255.
            for (int c = 0; c < 3; ++c) {
                bgr[c] = std::uint8_t(255 - divideBy255((255u - bgra[c]) * alpha));
            }
        }
    }
}

PixelBuffer decodeOntoWhite(const platform::Picture& picture, ChannelOrder order) {
    if (picture.isNull()) {
        throw platform::RuntimeError(platform::err::kInvalidPicture,
                                     QStringLiteral("Cannot decode the picture: it is empty"));
    }
    // The header's size, where the sniffer reads it, refuses a giant before any decoder runs.
    if (!picture.size().isEmpty()) {
        checkPixelCount(picture.size().width(), picture.size().height());
    }
    QString reason;
    std::optional<PixelBuffer> pixels;
    try {
        if (picture.format() == workbook::ImageFormat::Jpeg) {
            pixels = decodeJpeg(picture, order, &reason);
        } else if (picture.format() == workbook::ImageFormat::Png) {
            pixels = decodePng(picture, order, &reason);
        }
    } catch (const std::bad_alloc&) {
        throw platform::RuntimeError(kErrOutOfMemory,
                                     QStringLiteral("Not enough memory to decode the picture"));
    }
    if (pixels) {
        return std::move(*pixels);
    }
    // What the fast path could not read (a CMYK JPEG, a PNG libpng rejects) still gets the
    // renderer's chance; the fast path's reason is the one the user reads when both fail.
    return renderOntoWhite(picture, order, reason);
}

}  // namespace encode
