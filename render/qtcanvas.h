#pragma once

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "workbook/metafile.h"

namespace render {

// Draws what a metafile player hands over onto an image with QPainter: paths, text in the
// installed fonts, bitmaps (one to one where they land on whole pixels), and the clip.
class QtCanvas : public workbook::MetafileCanvas {
public:
    explicit QtCanvas(QImage& image);
    ~QtCanvas() override;

    void fillPath(const workbook::PathData& path, workbook::FillRule rule,
                  const workbook::BrushStyle& brush) override;
    void strokePath(const workbook::PathData& path, const workbook::PenStyle& pen) override;
    void drawText(const workbook::TextRun& text) override;
    void drawBitmap(const workbook::BitmapDraw& bitmap) override;
    void resetClip() override;
    void clip(const workbook::PathData& path, ClipOp op) override;

private:
    void setMix(workbook::Mix mix);
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
