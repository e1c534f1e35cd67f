// Feeds raw bytes to the metafile and PICT players: the layout from the first bytes, then the
// whole play onto a canvas that checks everything it is handed. The first byte picks how the
// rest is read (sniffed, EMF, WMF, PICT), so the fuzzer need not find the magic numbers first.
// Any crash, read out of bounds, runaway allocation or check that fails is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "metafile/metafile.h"
#include "workbook/bitmapinfo.h"
#include "workbook/imageformat.h"
#include "workbook/limits.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class CheckingCanvas : public metafile::MetafileCanvas {
public:
    CheckingCanvas(const std::uint8_t* data, std::size_t size)
        : m_begin(data), m_end(data + size) {}

    void fillPath(const metafile::PathData& path, metafile::FillRule,
                  const metafile::BrushStyle& brush) override {
        checkPath(path);
        if (brush.pattern) {
            check(
                workbook::readBitmapInfo(brush.pattern->data(), brush.pattern->size()).has_value());
        }
        if (brush.monoPattern) {
            const metafile::MonoPattern& p = *brush.monoPattern;
            check(p.width > 0 && p.height > 0 &&
                  p.bits.size() >= std::size_t(p.width + 7) / 8 * std::size_t(p.height));
        }
        if (brush.texture) {
            checkImage(*brush.texture);
        }
    }
    void setClipRects(const std::vector<metafile::PixelRect>* rects) override {
        for (const metafile::PixelRect& r :
             rects != nullptr ? *rects : std::vector<metafile::PixelRect>{}) {
            check(r.left < r.right && r.top < r.bottom);
        }
    }
    void strokePath(const metafile::PathData& path, const metafile::PenStyle& pen) override {
        checkPath(path);
        check(pen.width >= 1 && std::isfinite(pen.width));
    }
    void drawText(const metafile::TextRun& text) override {
        check(std::isfinite(text.origin.x) && std::isfinite(text.origin.y));
        check(std::isfinite(text.height) && text.height > 0);
        for (double advance : text.advances) {
            check(std::isfinite(advance));
        }
        checkPath(text.clipTo);
    }
    void drawBitmap(const metafile::BitmapDraw& draw) override {
        check(draw.srcWidth > 0 && draw.srcHeight > 0 && draw.srcX >= 0 && draw.srcY >= 0);
        if (draw.pixels) {
            check(draw.pixels->size() ==
                  std::size_t(draw.pixelsWidth) * std::size_t(draw.pixelsHeight));
            check(draw.srcX + draw.srcWidth <= draw.pixelsWidth &&
                  draw.srcY + draw.srcHeight <= draw.pixelsHeight);
            return;
        }
        if (draw.image) {
            checkImage(*draw.image);
            return;
        }
        check(inside(draw.header, draw.headerSize) && inside(draw.bits, draw.bitsSize));
        auto info = workbook::readBitmapInfo(draw.header, draw.headerSize);
        check(info.has_value() && info->headerBytes <= draw.headerSize);
        check(draw.srcX + draw.srcWidth <= info->width &&
              draw.srcY + draw.srcHeight <= info->height);
        check(draw.bitsSize >= info->pixelBytes);
        auto file = workbook::bitmapFile(draw.header, draw.headerSize, draw.bits, draw.bitsSize);
        check(!file.empty());
    }
    void resetClip() override {}
    void clip(const metafile::PathData& path, ClipOp) override { checkPath(path); }

private:
    static void checkImage(const metafile::ImageSource& image) {
        if (image.pixels) {
            check(image.pixels->size() ==
                  std::size_t(image.pixelsWidth) * std::size_t(image.pixelsHeight));
        } else {
            check((image.encoded && !image.encoded->empty()) || image.dib);
        }
    }
    static void checkPath(const metafile::PathData& path) {
        std::size_t points = 0;
        for (auto op : path.ops) {
            points += op == metafile::PathData::Op::Cubic   ? 3
                      : op == metafile::PathData::Op::Close ? 0
                                                            : 1;
        }
        check(points == path.points.size());
    }
    bool inside(const std::uint8_t* p, std::size_t n) const {
        return p != nullptr && p >= m_begin && p <= m_end && n <= std::size_t(m_end - p);
    }

    const std::uint8_t* m_begin;
    const std::uint8_t* m_end;
};

}  // namespace

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
