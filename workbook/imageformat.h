#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace workbook {

// What an image's bytes are, told from their first bytes alone: content types and part names
// in real workbooks lie (a media part called image.bin can be an EMF).
enum class ImageFormat {
    Unknown,
    Png,
    Jpeg,
    Gif,
    Bmp,
    Tiff,
    WebP,
    Emf,
    Wmf,
    Svg,
    Dib,   // a bitmap without its file header, as .xls stores them
    Pict,  // a Macintosh picture
};

struct ImageInfo {
    ImageFormat format = ImageFormat::Unknown;
    // Pixel size where the header gives it cheaply; 0 when it does not.
    int width = 0;
    int height = 0;
};

// Sniffs the format and, where the header holds it, the pixel size. Never reads past size. A
// metafile's size is the size it is drawn at, which only its player knows: 0 here.
ImageInfo sniffImage(const std::uint8_t* data, std::size_t size);

// A sniffer the engine is handed when it opens a workbook, so that the layer that draws
// metafiles can give their drawn size without the engine depending on it.
using ImageSniffer = ImageInfo (*)(const std::uint8_t* data, std::size_t size);

// Lower-case name as the tools print it: "png", "jpeg", "gif", "bmp", "tiff", "webp", "emf",
// "wmf", "svg", "dib", "pict", "unknown".
std::string_view formatName(ImageFormat format);

// The usual file extension without the dot ("png", "jpg", ...); "bin" for unknown bytes.
std::string_view formatExtension(ImageFormat format);

}  // namespace workbook
