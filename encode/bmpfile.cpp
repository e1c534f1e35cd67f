#include "encode/bmpfile.h"

#include <array>
#include <cstdint>

#include "encode/outputpixels.h"
#include "encode/wholefile.h"
#include "platform/runtimeerror.h"

namespace encode {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::int32_t kPixelsPerMeter = 3780;  // 96 dots per inch

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = std::uint8_t(value);
    at[1] = std::uint8_t(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = std::uint8_t(value >> (8 * i));
    }
}

}  // namespace

std::array<std::uint8_t, kBmpHeaderBytes> bmpFileHeaders(const PixelBuffer& pixels) {
    static_assert(kFileHeaderBytes + kInfoHeaderBytes == kBmpHeaderBytes);
    std::array<std::uint8_t, kBmpHeaderBytes> h{};
    const auto pixelOffset = std::uint32_t(h.size());
    // Fits: the pixel limit keeps the whole file far below 4 GB.
    const auto fileSize = std::uint32_t(pixelOffset + pixels.byteCount());
    h[0] = 'B';
    h[1] = 'M';
    put32(&h[2], fileSize);
    put32(&h[10], pixelOffset);
    std::uint8_t* info = &h[kFileHeaderBytes];
    put32(info, kInfoHeaderBytes);
    put32(info + 4, std::uint32_t(pixels.width()));
    put32(info + 8, std::uint32_t(pixels.height()));  // positive: rows bottom-up
    put16(info + 12, 1);                              // planes
    put16(info + 14, 24);                             // bits per pixel
    put32(info + 16, 0);                              // no compression
    put32(info + 20, std::uint32_t(pixels.byteCount()));
    put32(info + 24, kPixelsPerMeter);
    put32(info + 28, kPixelsPerMeter);
    return h;
}

void writeBmpFile(const platform::Picture& picture, const QString& path) {
    static_assert(kMaxOutputPixels * 4 < std::int64_t(UINT32_MAX));
    PixelBuffer pixels = decodeOntoWhite(picture, ChannelOrder::Bgr);
    auto headers = bmpFileHeaders(pixels);
    QString reason = writeWholeFile(
        path, {QByteArrayView(reinterpret_cast<const char*>(headers.data()), headers.size()),
               QByteArrayView(reinterpret_cast<const char*>(pixels.data()),
                              qsizetype(pixels.byteCount()))});
    if (!reason.isEmpty()) {
        throw platform::RuntimeError(platform::err::kPathNotFound,
                                     QStringLiteral("Cannot write '%1': %2").arg(path, reason));
    }
}

}  // namespace encode
