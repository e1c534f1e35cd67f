#pragma once

// A canvas for the fuzz targets of the metafile players that checks everything it is handed:
// paths whose points match their operations, finite sizes, bitmaps that lie within the input
// or hold as many pixels as they say. A check that fails aborts, which the fuzzer reports.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "metafile/metafile.h"
#include "workbook/bitmapinfo.h"

namespace fuzzcheck {

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline bool finite(const metafile::Affine& m) {
    return std::isfinite(m.a + m.b + m.c + m.d + m.e + m.f);
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
        if (brush.gradient) {
            check(!brush.gradient->stops.empty() ||
                  brush.gradient->kind == metafile::Gradient::Kind::Path);
            for (const metafile::GradientStop& stop : brush.gradient->stops) {
                check(std::isfinite(stop.position));
            }
        }
        if (brush.texture) {
            checkImage(*brush.texture);
        }
        check(finite(brush.transform));
    }
    void fillShadedTriangles(const std::vector<metafile::ShadedVertex>& vertices,
                             metafile::Mix) override {
        for (const metafile::ShadedVertex& v : vertices) {
            check(std::isfinite(v.at.x) && std::isfinite(v.at.y));
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
        for (double d : pen.dashes) {
            check(std::isfinite(d) && d >= 0);
        }
    }
    void drawText(const metafile::TextRun& text) override {
        check(std::isfinite(text.origin.x) && std::isfinite(text.origin.y));
        check(std::isfinite(text.height) && text.height > 0);
        for (double advance : text.advances) {
            check(std::isfinite(advance));
        }
        checkPath(text.clipTo);
    }
    void drawTextBox(const metafile::TextBox& box) override {
        check(finite(box.transform) && std::isfinite(box.emHeight) && box.emHeight > 0);
        check(std::isfinite(box.x + box.y + box.width + box.height));
        check(box.width >= 0 && box.height >= 0);
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
    // Bitmaps are drawn from the input's own bytes, or from copies the players own, which
    // cannot be told apart here: only pointers into the input are checked against it.
    bool inside(const std::uint8_t* p, std::size_t n) const {
        return p != nullptr && p >= m_begin && p <= m_end && n <= std::size_t(m_end - p);
    }

    const std::uint8_t* m_begin;
    const std::uint8_t* m_end;
};

}  // namespace fuzzcheck
