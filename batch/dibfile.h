#pragma once

#include <QByteArray>
#include <optional>

namespace batch {

// A bitmap as .xls workbooks store it (a DIB: the info header, the palette and the pixels) as
// a .bmp file: the same bytes behind the 14-byte file header. Nothing when the info header
// does not fit the bytes.
// TODO(xls): the workbook engine's own DIB helper replaces this once it lands.
std::optional<QByteArray> bmpFileFromDib(const QByteArray& dib);

}  // namespace batch
