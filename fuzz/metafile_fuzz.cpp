// Feeds raw bytes to the metafile and PICT players: the layout from the first bytes, then the
// whole play onto a canvas that checks everything it is handed. The first byte picks how the
// rest is read (sniffed, EMF, WMF, PICT), so the fuzzer need not find the magic numbers first.
// Any crash, read out of bounds, runaway allocation or check that fails is a finding.
#include <cstddef>
#include <cstdint>

#include "fuzz/checkingcanvas.h"
#include "metafile/metafile.h"
#include "workbook/imageformat.h"
#include "workbook/limits.h"

using fuzzcheck::check;
using fuzzcheck::CheckingCanvas;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t* bytes = data + 1;
    const std::size_t n = size - 1;
    using workbook::ImageFormat;
    static const ImageFormat kForced[] = {ImageFormat::Unknown, ImageFormat::Emf, ImageFormat::Wmf,
                                          ImageFormat::Pict};
    ImageFormat format = kForced[data[0] % 4];
    const workbook::ImageInfo sniffed = metafile::sniffDrawnImage(bytes, n);
    if (format == ImageFormat::Unknown) {
        format = sniffed.format;
    }
    const metafile::MetafileLayout layout = metafile::metafileLayout(format, bytes, n);
    check(std::int64_t(layout.width) * layout.height <= workbook::kMaxPicturePixels);
    check(layout.width <= workbook::kMaxPictureSide && layout.height <= workbook::kMaxPictureSide);
    if (format == sniffed.format && layout.usable()) {
        // The size the engine lists is the size the picture is drawn at.
        check(sniffed.width == layout.width && sniffed.height == layout.height);
    }
    CheckingCanvas canvas(bytes, n);
    metafile::playMetafile(format, bytes, n, layout, canvas);
    return 0;
}
