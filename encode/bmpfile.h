#pragma once

#include <QString>

#include "platform/picture.h"

namespace encode {

// Writes the picture as a 24-bit BMP file at its own pixel size, transparent areas composited
// onto white. The file is written whole or not at all, replacing an existing file. Throws
// platform::RuntimeError when the picture does not decode or the file cannot be written.
void writeBmpFile(const platform::Picture& picture, const QString& path);

}  // namespace encode
