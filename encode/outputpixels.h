#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "encode/jpegencoder.h"
#include "platform/picture.h"

namespace encode {

// Largest picture the output save decodes; anything bigger is refused with a clear error
// rather than exhausting memory (100 megapixels take 300 MB as 24-bit pixels).
constexpr std::int64_t kMaxOutputPixels = platform::Picture::kMaxDecodedPixels;

// Byte order of a pixel's three channels. BMP files want blue first; the JPEG encoder takes
// either, and libpng is measurably faster when it need not swap.
enum class ChannelOrder { Bgr, Rgb };

// A decoded picture as 8-bit three-channel pixels, rows from the bottom up and padded to four
// bytes: in BGR order exactly the pixel array of a 24-bit BMP file. The JPEG encoder reads it as
// it is.
class PixelBuffer {
public:
    // Throws platform::RuntimeError when the size is empty, over kMaxOutputPixels or cannot be
    // allocated. The pixels start undefined; the row padding starts at zero.
    PixelBuffer(int width, int height, ChannelOrder order);

    ChannelOrder order() const { return m_order; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    std::size_t stride() const { return m_stride; }
    std::size_t byteCount() const { return m_stride * std::size_t(m_height); }
    const std::uint8_t* data() const { return m_data.get(); }
    std::uint8_t* data() { return m_data.get(); }
    // Row y counted from the top of the picture.
    std::uint8_t* row(int y) { return m_data.get() + std::size_t(m_height - 1 - y) * m_stride; }
    const std::uint8_t* row(int y) const {
        return m_data.get() + std::size_t(m_height - 1 - y) * m_stride;
    }

private:
    ChannelOrder m_order;
    int m_width;
    int m_height;
    std::size_t m_stride;
    std::unique_ptr<std::uint8_t[]> m_data;
};

// Decodes the picture at its own size, transparent areas composited onto white. JPEG and PNG
// are read with libjpeg-turbo and libpng directly (the fast path of every save); every other
// format, and what the fast path cannot read, goes through the renderer the preview uses.
// Throws platform::RuntimeError with a description the user can act on.
PixelBuffer decodeOntoWhite(const platform::Picture& picture, ChannelOrder order);

// The picture as the save's JPEG (encodeJpeg) of decodeOntoWhite(picture, ChannelOrder::Rgb),
// byte for byte, made faster: JPEG and PNG go a band of rows at a time straight from the
// decoder into the encoder, with no buffer the size of the picture; every other picture, and
// one that road does not see through, takes the whole-picture road. Throws as decodeOntoWhite;
// nothing when the encoder fails.
std::optional<JpegBytes> encodeJpegFrom(const platform::Picture& picture, int quality);

// A picture made ready for the JPEG save, its bitmap handle: JPEG and PNG are decoded only as
// the encoder takes their rows; every other picture is decoded when the handle is made, which
// throws as decodeOntoWhite then.
class OutputBitmap {
public:
    explicit OutputBitmap(const platform::Picture& picture);
    // Throws as decodeOntoWhite; nothing when the encoder fails.
    std::optional<JpegBytes> encodeJpeg(int quality) const;

private:
    platform::Picture m_picture;
    std::optional<PixelBuffer> m_pixels;
};

// Composites one row of four-channel pixels (three colours in any order, then straight alpha)
// onto white.
void compositeOntoWhite(const std::uint8_t* bgra, std::uint8_t* bgr, int width);

}  // namespace encode
