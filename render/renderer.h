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

// Where a picture becomes pixels, for the preview and for every saved file alike; JPEG and PNG
// are read by encode/'s own decoder first, and come here only when it cannot read them (a CMYK
// JPEG). Raster formats (PNG, JPEG, GIF's first frame, BMP, DIB, TIFF's first page, WebP, SVG) are
// decoded through Qt's image readers with their transparency kept; metafiles (EMF, WMF) and
// Macintosh pictures are drawn from their records on a white page at the size
// Picture::size() gives. Nothing larger than Picture::kMaxDecodedPixels is made: raster images
// are refused, drawn ones are drawn smaller.
Rendered renderPicture(const platform::Picture& picture);

// Qt refuses images above its own limit (256 MB by default); 100 megapixels read as 16-bit
// channels need 800 MB before they are converted.
constexpr int kQtAllocationLimitMb = 800;
// Raises Qt's limit, which is global, to kQtAllocationLimitMb where it is lower. Rendering does
// it on first use; a program that renders on several threads calls it before they start.
void raiseAllocationLimit();

}  // namespace render
