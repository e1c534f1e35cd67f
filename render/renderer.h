#pragma once

#include <QImage>
#include <QString>

#include "platform/picture.h"

namespace render {

// A picture as pixels, or why it has none.
struct Rendered {
    QImage image;  // null when the picture cannot be turned into pixels
    // The run-time error a save reports for it: its number and description.
    int errorNumber = 0;
    QString error;

    bool ok() const { return !image.isNull(); }
};

// The one place a picture becomes pixels, for the preview and for every saved file alike.
// Raster formats (PNG, JPEG, GIF's first frame, BMP, DIB, TIFF's first page, WebP, SVG) are
// decoded through Qt's image readers with their transparency kept; metafiles (EMF, WMF) and
// Macintosh pictures are drawn from their records on a white page at the size
// Picture::size() gives. Nothing larger than Picture::kMaxDecodedPixels is made: raster images
// are refused, drawn ones are drawn smaller.
Rendered renderPicture(const platform::Picture& picture);

}  // namespace render
