#include "encode/outputpixels.h"

#include <png.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <QImage>
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "encode/jpegencoder.h"
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

// What a JPEG or PNG whose data end before its last row says, whichever its format.
const QString kCutShort =
    QStringLiteral("the picture's data is damaged (it ends before its last row)");

// t / 255 rounded to nearest, exact for t up to 255 * 255.
inline unsigned divideBy255(unsigned t) {
    t += 128;
    return (t + (t >> 8)) >> 8;
}

// One row of CMYK as a JPEG holds it (inverted, as Adobe writes it) to three channels, the way
// Qt's own reader shows it, so the save matches the preview.
void cmykOntoRgb(const std::uint8_t* cmyk, std::uint8_t* out, int width, ChannelOrder order) {
    const int red = order == ChannelOrder::Bgr ? 2 : 0;
    for (int x = 0; x < width; ++x, cmyk += 4, out += 3) {
        const unsigned k = cmyk[3];
        out[red] = std::uint8_t(k * cmyk[0] / 255);
        out[1] = std::uint8_t(k * cmyk[1] / 255);
        out[2 - red] = std::uint8_t(k * cmyk[2] / 255);
    }
}

// Everything a JPEG read touches lives here, outside the function that calls setjmp, so a
// longjmp out of libjpeg skips no destructor and leaves no value indeterminate.
struct JpegRead {
    JpegRead(const QByteArray& bytes, ChannelOrder order) : data(bytes), order(order) {}
    ~JpegRead() { jpeg_destroy_decompress(&info); }

    const QByteArray& data;
    ChannelOrder order;
    jpeg_decompress_struct info = {};
    jpeg_error_mgr errors = {};
    std::jmp_buf jump = {};
    bool damaged = false;   // the data ended while a row still needed them
    bool rowsDone = false;  // every row decoded from the file's own data
    char message[JMSG_LENGTH_MAX] = {};
    std::optional<PixelBuffer> out;
    std::vector<JSAMPROW> rows;
    std::unique_ptr<std::uint8_t[]> cmykRow;
    bool cmyk = false;
    int bandDone = 0;  // rows of the band being read that are whole
};

void jpegErrorExit(j_common_ptr info) {
    auto* read = static_cast<JpegRead*>(info->client_data);
    (*info->err->format_message)(info, read->message);
    std::longjmp(read->jump, 1);
}

// The decoder's warnings. Image data that reach the end of the image (its end marker, or the
// end of the file, where libjpeg puts one) while a row still needs them is damage: libjpeg
// would fill the rest with grey, and a picture that is mostly filler must not pass for a saved
// one. A missing end marker, bytes between markers or after the image leave every row decoded
// from the file's own data and are no damage.
void jpegEmitMessage(j_common_ptr info, int level) {
    constexpr int kEndOfImage = 0xD9;
    if (level < 0 && info->err->msg_code == JWRN_HIT_MARKER &&
        reinterpret_cast<j_decompress_ptr>(info)->unread_marker == kEndOfImage) {
        auto* read = static_cast<JpegRead*>(info->client_data);
        read->damaged = true;
        std::longjmp(read->jump, 1);
    }
}

// Starts the decoder on the data and reads the header, called from a frame that has set
// read.jump; whether the header's components are the ones its colour space has (what libjpeg
// can convert). Only plain values live in this frame: an error leaves it by longjmp.
bool readJpegHeader(JpegRead& read) {
    read.info.err = jpeg_std_error(&read.errors);
    read.errors.error_exit = jpegErrorExit;
    read.errors.emit_message = jpegEmitMessage;
    read.info.client_data = &read;
    jpeg_create_decompress(&read.info);
    jpeg_mem_src(&read.info, reinterpret_cast<const unsigned char*>(read.data.constData()),
                 static_cast<unsigned long>(read.data.size()));
    jpeg_read_header(&read.info, TRUE);
    read.cmyk = read.info.jpeg_color_space == JCS_CMYK || read.info.jpeg_color_space == JCS_YCCK;
    return read.info.num_components == (read.cmyk                                     ? 4
                                        : read.info.jpeg_color_space == JCS_GRAYSCALE ? 1
                                                                                      : 3);
}

enum class JpegResult { Done, Failed, Damaged, LeftToQt };

// Only plain values live in this frame: libjpeg leaves it by longjmp on any error.
JpegResult readJpeg(JpegRead& read) {
    if (setjmp(read.jump)) {
        return read.damaged    ? JpegResult::Damaged
               : read.rowsDone ? JpegResult::Done
                               : JpegResult::Failed;
    }
    if (!readJpegHeader(read)) {
        return JpegResult::LeftToQt;
    }
    const bool cmyk = read.cmyk;
    read.info.out_color_space = cmyk                              ? JCS_CMYK
                                : read.order == ChannelOrder::Bgr ? JCS_EXT_BGR
                                                                  : JCS_EXT_RGB;
    checkPixelCount(read.info.image_width, read.info.image_height);
    jpeg_start_decompress(&read.info);
    const int width = int(read.info.output_width);
    const int height = int(read.info.output_height);
    read.out.emplace(width, height, read.order);
    PixelBuffer& out = *read.out;
    if (cmyk) {
        read.cmykRow.reset(new std::uint8_t[std::size_t(width) * 4]);
        JSAMPROW row = read.cmykRow.get();
        while (read.info.output_scanline < read.info.output_height) {
            const int y = int(read.info.output_scanline);
            jpeg_read_scanlines(&read.info, &row, 1);
            cmykOntoRgb(row, out.row(y), width, read.order);
        }
    } else {
        read.rows.resize(std::size_t(height));
        for (int y = 0; y < height; ++y) {
            read.rows[std::size_t(y)] = out.row(y);
        }
        while (read.info.output_scanline < read.info.output_height) {
            jpeg_read_scanlines(&read.info, read.rows.data() + read.info.output_scanline,
                                read.info.output_height - read.info.output_scanline);
        }
    }
    read.rowsDone = true;
    jpeg_finish_decompress(&read.info);
    return JpegResult::Done;
}

// libjpeg reads baseline, progressive and arithmetic JPEG in any sampling, grey, colour or
// CMYK; what it cannot start on is left to Qt. Data cut short before the last row is an error
// of its own, which Qt is not asked to paper over.
std::optional<PixelBuffer> decodeJpeg(const platform::Picture& picture, const QByteArray& data,
                                      ChannelOrder order, QString* reason) {
    JpegRead read(data, order);
    switch (readJpeg(read)) {
        case JpegResult::Done:
            return std::move(read.out);
        case JpegResult::Damaged:
            throwUndecodable(picture, kCutShort);
        case JpegResult::Failed:
            *reason = QString::fromUtf8(read.message);
            break;
        case JpegResult::LeftToQt:
            break;
    }
    return std::nullopt;
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
    bool rowsDone = false;                    // every row decoded from the file's own data
    bool cutShort = false;                    // the data ended while libpng still read
    char message[200] = {};
    bool alpha = false;
    int nextRow = 0;   // of a read a band at a time
    int bandDone = 0;  // rows of the band being read that are whole

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
        read->cutShort = true;
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
    // What follows the last row (the end chunk, cut off or missing) cannot spoil a picture
    // whose every row is decoded; data that end before that is an error.
    if (setjmp(png_jmpbuf(read.png))) {
        return read.rowsDone ? PngResult::Done : PngResult::Failed;
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
    read.rowsDone = true;
    png_read_end(read.png, nullptr);
    return PngResult::Done;
}

std::optional<PixelBuffer> decodePng(const QByteArray& data, ChannelOrder order, QString* reason) {
    PngRead read(data, order);
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
    *reason = read.cutShort ? kCutShort : QString::fromUtf8(read.message);
    return std::nullopt;
}

// ---- JPEG output a band of rows at a time, straight from the decoder into the encoder ----
// These readers only ever succeed with exactly the rows the whole-picture readers above make;
// whatever they do not see through (damage, an unusual layout, a giant, no memory) is left to
// the whole-picture road, which then decides as it always has.

constexpr int kBandRows = 16;

// Only plain values live in these frames: libjpeg leaves them by longjmp on any error.
bool startJpegBand(JpegRead& read) {
    if (setjmp(read.jump)) {
        return false;
    }
    if (!readJpegHeader(read) ||
        std::int64_t(read.info.image_width) * std::int64_t(read.info.image_height) >
            kMaxOutputPixels) {
        return false;
    }
    read.info.out_color_space = read.cmyk ? JCS_CMYK : JCS_EXT_RGB;
    jpeg_start_decompress(&read.info);
    if (read.cmyk) {
        read.cmykRow.reset(new (std::nothrow)
                               std::uint8_t[std::size_t(read.info.output_width) * 4]);
    }
    return !read.cmyk || read.cmykRow;
}

// The next rows, as many as there are up to count; -1 when the data fail before the last row.
int readJpegBand(JpegRead& read, std::uint8_t* const* rows, int count) {
    read.bandDone = 0;
    if (setjmp(read.jump)) {
        // What follows the last row cannot spoil it.
        return read.rowsDone ? read.bandDone : -1;
    }
    const int width = int(read.info.output_width);
    while (read.bandDone < count && read.info.output_scanline < read.info.output_height) {
        if (read.cmyk) {
            JSAMPROW row = read.cmykRow.get();
            jpeg_read_scanlines(&read.info, &row, 1);
            cmykOntoRgb(row, rows[read.bandDone], width, ChannelOrder::Rgb);
            ++read.bandDone;
        } else {
            read.bandDone +=
                int(jpeg_read_scanlines(&read.info, const_cast<JSAMPARRAY>(rows) + read.bandDone,
                                        JDIMENSION(count - read.bandDone)));
        }
    }
    if (read.info.output_scanline == read.info.output_height && !read.rowsDone) {
        read.rowsDone = true;
        jpeg_finish_decompress(&read.info);
    }
    return read.bandDone;
}

// Interlaced pictures need all their rows at once: the whole-picture reader takes them.
bool startPngBand(PngRead& read) {
    if (setjmp(png_jmpbuf(read.png))) {
        return false;
    }
    png_set_read_fn(read.png, &read, pngReadData);
    png_read_info(read.png, read.info);
    const png_uint_32 width = png_get_image_width(read.png, read.info);
    const png_uint_32 height = png_get_image_height(read.png, read.info);
    if (std::int64_t(width) * std::int64_t(height) > kMaxOutputPixels ||
        png_get_interlace_type(read.png, read.info) != PNG_INTERLACE_NONE) {
        return false;
    }
    const int colorType = png_get_color_type(read.png, read.info);
    read.alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 ||
                 png_get_valid(read.png, read.info, PNG_INFO_tRNS) != 0;
    png_set_expand(read.png);
    png_set_scale_16(read.png);
    png_set_gray_to_rgb(read.png);
    png_set_interlace_handling(read.png);
    png_read_update_info(read.png, read.info);
    if (png_get_channels(read.png, read.info) != (read.alpha ? 4 : 3)) {
        return false;
    }
    if (read.alpha) {
        read.scratch.reset(new (std::nothrow) std::uint8_t[std::size_t(width) * 4]);
    }
    return !read.alpha || read.scratch;
}

int readPngBand(PngRead& read, std::uint8_t* const* rows, int count) {
    read.bandDone = 0;
    if (setjmp(png_jmpbuf(read.png))) {
        return read.rowsDone ? read.bandDone : -1;
    }
    const int width = int(png_get_image_width(read.png, read.info));
    const int height = int(png_get_image_height(read.png, read.info));
    while (read.bandDone < count && read.nextRow < height) {
        std::uint8_t* row = rows[read.bandDone];
        png_read_row(read.png, read.alpha ? read.scratch.get() : row, nullptr);
        if (read.alpha) {
            compositeOntoWhite(read.scratch.get(), row, width);
        }
        ++read.nextRow;
        ++read.bandDone;
    }
    if (read.nextRow == height && !read.rowsDone) {
        read.rowsDone = true;
        png_read_end(read.png, nullptr);
    }
    return read.bandDone;
}

// Feeds the encoder a band at a time from a started reader; nothing when either fails.
template <typename Read, typename ReadBand>
std::optional<JpegBytes> encodeBands(Read& read, int width, int height, int quality,
                                     ReadBand readBand) {
    JpegRowEncoder encoder;
    if (!encoder.start(width, height, quality)) {
        return std::nullopt;
    }
    const std::size_t rowBytes = std::size_t(width) * 3;
    const std::unique_ptr<std::uint8_t[]> band(new (std::nothrow)
                                                   std::uint8_t[rowBytes * kBandRows]);
    if (!band) {
        return std::nullopt;
    }
    std::uint8_t* rows[kBandRows];
    for (int i = 0; i < kBandRows; ++i) {
        rows[i] = band.get() + rowBytes * std::size_t(i);
    }
    for (int done = 0; done < height;) {
        const int got = readBand(read, rows, std::min(kBandRows, height - done));
        if (got <= 0 || !encoder.write(rows, got)) {
            return std::nullopt;
        }
        done += got;
    }
    return encoder.finish();
}

std::optional<JpegBytes> streamJpeg(const QByteArray& data, int quality) {
    JpegRead read(data, ChannelOrder::Rgb);
    if (!startJpegBand(read)) {
        return std::nullopt;
    }
    return encodeBands(read, int(read.info.output_width), int(read.info.output_height), quality,
                       readJpegBand);
}

std::optional<JpegBytes> streamPng(const QByteArray& data, int quality) {
    PngRead read(data, ChannelOrder::Rgb);
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngError, pngWarning);
    if (read.png) {
        read.info = png_create_info_struct(read.png);
    }
    if (!read.png || !read.info || !startPngBand(read)) {
        return std::nullopt;
    }
    return encodeBands(read, int(png_get_image_width(read.png, read.info)),
                       int(png_get_image_height(read.png, read.info)), quality, readPngBand);
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

namespace {

void checkBeforeDecoding(const platform::Picture& picture) {
    if (picture.isNull()) {
        throw platform::RuntimeError(platform::err::kInvalidPicture,
                                     QStringLiteral("Cannot decode the picture: it is empty"));
    }
    // The header's size, where the sniffer reads it, refuses a giant before any decoder runs.
    if (!picture.size().isEmpty()) {
        checkPixelCount(picture.size().width(), picture.size().height());
    }
}

PixelBuffer decodeBytesOntoWhite(const platform::Picture& picture, const QByteArray& bytes,
                                 ChannelOrder order);

}  // namespace

std::optional<JpegBytes> encodeJpegFrom(const platform::Picture& picture, int quality) {
    checkBeforeDecoding(picture);
    const QByteArray bytes = picture.bytes();
    std::optional<JpegBytes> jpeg;
    try {
        if (picture.format() == workbook::ImageFormat::Jpeg) {
            jpeg = streamJpeg(bytes, quality);
        } else if (picture.format() == workbook::ImageFormat::Png) {
            jpeg = streamPng(bytes, quality);
        }
    } catch (const std::bad_alloc&) {
        jpeg.reset();
    }
    if (jpeg) {
        return jpeg;
    }
    return encodeJpeg(decodeBytesOntoWhite(picture, bytes, ChannelOrder::Rgb), quality);
}

OutputBitmap::OutputBitmap(const platform::Picture& picture) : m_picture(picture) {
    if (picture.format() != workbook::ImageFormat::Jpeg &&
        picture.format() != workbook::ImageFormat::Png) {
        m_pixels.emplace(decodeOntoWhite(picture, ChannelOrder::Rgb));
    }
}

std::optional<JpegBytes> OutputBitmap::encodeJpeg(int quality) const {
    return m_pixels ? encode::encodeJpeg(*m_pixels, quality) : encodeJpegFrom(m_picture, quality);
}

PixelBuffer decodeOntoWhite(const platform::Picture& picture, ChannelOrder order) {
    checkBeforeDecoding(picture);
    // Read once: a picture in a spill reads its bytes back from the file.
    return decodeBytesOntoWhite(picture, picture.bytes(), order);
}

namespace {

PixelBuffer decodeBytesOntoWhite(const platform::Picture& picture, const QByteArray& bytes,
                                 ChannelOrder order) {
    QString reason;
    std::optional<PixelBuffer> pixels;
    try {
        if (picture.format() == workbook::ImageFormat::Jpeg) {
            pixels = decodeJpeg(picture, bytes, order, &reason);
        } else if (picture.format() == workbook::ImageFormat::Png) {
            pixels = decodePng(bytes, order, &reason);
            // Qt reads PNG with the same libpng, which would fail alike and print its own
            // "libpng error" line on standard error first: libpng's answer is the answer.
            if (!pixels) {
                throwUndecodable(picture, reason);
            }
        }
    } catch (const std::bad_alloc&) {
        throw platform::RuntimeError(kErrOutOfMemory,
                                     QStringLiteral("Not enough memory to decode the picture"));
    }
    if (pixels) {
        return std::move(*pixels);
    }
    // What the fast path could not read (a CMYK JPEG) still gets the renderer's chance; the
    // fast path's reason is the one the user reads when both fail.
    return renderOntoWhite(picture, order, reason);
}

}  // namespace

}  // namespace encode
