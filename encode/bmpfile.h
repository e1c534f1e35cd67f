#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "platform/picture.h"

namespace encode {

class PixelBuffer;

// The file header and info header of a 24-bit BMP file, which the pixels in BGR order follow
// unchanged.
constexpr std::size_t kBmpHeaderBytes = 54;
std::array<std::uint8_t, kBmpHeaderBytes> bmpFileHeaders(const PixelBuffer& pixels);

// Writes the picture as a 24-bit BMP file at its own pixel size, transparent areas composited
// onto white. The file is written whole or not at all, replacing an existing file. Throws
// platform::RuntimeError when the picture does not decode or the file cannot be written.
void writeBmpFile(const platform::Picture& picture, const QString& path);

}  // namespace encode
