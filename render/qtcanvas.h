#pragma once

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "metafile/metafile.h"

namespace render {

// Draws what a metafile player hands over onto an image with QPainter: paths, anti-aliased or
// in whole pixels, filled with colours, patterns, gradients or images; text in the installed
// fonts; bitmaps (one to one where they land on whole pixels); and the clip.
class QtCanvas : public metafile::MetafileCanvas {
public:
    explicit QtCanvas(QImage& image);
    ~QtCanvas() override;

    void fillPath(const metafile::PathData& path, metafile::FillRule rule,
                  const metafile::BrushStyle& brush) override;
    void strokePath(const metafile::PathData& path, const metafile::PenStyle& pen) override;
    void drawText(const metafile::TextRun& text) override;
    void drawBitmap(const metafile::BitmapDraw& bitmap) override;
    void drawTextBox(const metafile::TextBox& text) override;
    void resetClip() override;
    void clip(const metafile::PathData& path, ClipOp op) override;
    void fillShadedTriangles(const std::vector<metafile::ShadedVertex>& vertices,
                             metafile::Mix mix) override;
    void setClipRects(const std::vector<metafile::PixelRect>* rects) override;

private:
    void setMix(metafile::Mix mix, bool antialias);
    void paintFill(const QPainterPath& path, const metafile::BrushStyle& style);
    QRect areaOf(const QPainterPath& path) const;
    QRectF reach(double margin) const;
    QPainterPath fillable(QPainterPath path) const;
    QPainterPath strokable(const QPainterPath& path, double width) const;

    QImage& m_image;
    QPainter m_painter;
    bool m_hasClip = false;
};

// The pixels of a packed DIB as its header and pixel bytes give them; a null image when they
// do not decode.
QImage imageFromDib(const std::uint8_t* header, std::size_t headerSize, const std::uint8_t* bits,
                    std::size_t bitsSize);

}  // namespace render
