#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QTransform>
#include <functional>

#include "metafile/metafile.h"

namespace render {

QColor colourOf(metafile::Rgb c, std::uint8_t alpha = 255);
QTransform transformOf(const metafile::Affine& m);

// The pixels of an image source: decoded file bytes, a packed DIB or ready pixels; null when
// none of them decodes.
QImage imageOf(const metafile::ImageSource& source);

// The brush Qt paints a fill style with, for every style but the path gradient (see
// pathGradientLayer) and a texture that does not repeat (Wrap::Clamp), which are drawn apart.
QBrush brushOf(const metafile::BrushStyle& style);

// Whether cut is still drawing: the work of the shading below stops once it says so.
using KeepGoing = std::function<bool()>;

// A layer over area (picture pixels) holding a path gradient, transparent outside its
// boundary.
QImage pathGradientLayer(const metafile::Gradient& gradient, const metafile::Affine& transform,
                         const QRect& area, const KeepGoing& keepGoing);

// A layer over area holding triangles whose colours blend between their corners.
QImage shadedTrianglesLayer(const std::vector<metafile::ShadedVertex>& vertices, const QRect& area,
                            const KeepGoing& keepGoing);

}  // namespace render
