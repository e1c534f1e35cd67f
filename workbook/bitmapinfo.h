#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace workbook {

// What the header of a device-independent bitmap says: the BITMAPINFO that metafile records
// and binary workbooks keep in front of a bitmap's pixels ([MS-WMF] 2.2.2.9, 2.2.2.3).
struct BitmapInfo {
    int width = 0;
    int height = 0;  // rows, whichever way they run
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = 0;
    // Bytes of the header, colour table and bit-field masks: where the pixels start in a
    // packed DIB.
    std::uint32_t headerBytes = 0;
    // Pixel bytes an uncompressed bitmap needs; 0 for compressed ones (RLE, JPEG, PNG).
    std::uint64_t pixelBytes = 0;

    static constexpr std::uint32_t kRgb = 0;
    static constexpr std::uint32_t kRle8 = 1;
    static constexpr std::uint32_t kRle4 = 2;
    static constexpr std::uint32_t kBitFields = 3;
    static constexpr std::uint32_t kJpeg = 4;
    static constexpr std::uint32_t kPng = 5;
    static constexpr std::uint32_t kAlphaBitFields = 6;
};

// The header of a DIB that could be drawn, or nothing. Only the header (size bytes of it) is
// read; whether the pixels are all there is for the caller to check against pixelBytes.
std::optional<BitmapInfo> readBitmapInfo(const std::uint8_t* data, std::size_t size);

// A standalone .bmp file: header and colour table, then pixels, behind the 14-byte file header
// that points at the pixels. The two parts may come from different places (metafile records
// keep them apart). Empty when the header is unusable.
std::vector<std::uint8_t> bitmapFile(const std::uint8_t* header, std::size_t headerSize,
                                     const std::uint8_t* pixels, std::size_t pixelSize);

// The same for a packed DIB (header, colour table and pixels in one run, as binary workbooks
// and the clipboard keep them): what the clipboard and a saved original get. Empty when the
// header is unusable or longer than the bytes.
std::vector<std::uint8_t> bmpFileFromDib(const std::uint8_t* data, std::size_t size);

}  // namespace workbook
