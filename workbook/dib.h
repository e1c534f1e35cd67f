#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace workbook {

// What the header of a packed DIB (a bitmap without its file header, as binary workbooks and
// the clipboard keep them) says.
struct DibHeader {
    int width = 0;
    int height = 0;  // rows, whichever way they run
    // Bytes from the start of the DIB to its pixels: header, colour table and bit-field masks.
    std::uint32_t pixelOffset = 0;
};

// The header of a DIB, or nothing when it is not one that can be drawn.
std::optional<DibHeader> dibHeader(const std::uint8_t* data, std::size_t size);

// A standalone .bmp file: the DIB behind a 14-byte BITMAPFILEHEADER that points at its pixels.
// Empty when the header is unusable.
std::vector<std::uint8_t> bmpFileFromDib(const std::uint8_t* data, std::size_t size);

}  // namespace workbook
