#pragma once

#include <QString>
#include <cstdint>

#include "platform/picture.h"

namespace encode {

class GdiplusApi;

// Writes the picture as a JPEG file at the given quality (0 to 100, passed to the encoder
// unchanged) through the GDI+-shaped layer. Starts and shuts down the layer inside the call.
// Throws platform::RuntimeError 5 "Cannot save the image. GDI+ Error:<status>" when a call of
// the layer fails, or the picture's own error when it cannot be decoded.
void SaveJPG(const platform::Picture& picture, const QString& fileName, std::uint8_t quality);
void SaveJPG(const platform::Picture& picture, const QString& fileName, std::uint8_t quality,
             GdiplusApi& gdiplus);

}  // namespace encode
