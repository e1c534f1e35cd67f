#pragma once

#include <QImage>
#include <QWidget>

namespace results {

// A picture box that sizes itself to its picture and paints it unscaled; what the picture leaves
// transparent shows the parent behind it.
class PictureBox : public QWidget {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Takes the pixels and resizes to them; a null image leaves an empty box of size 0 x 0.
    void setImage(QImage image);
    const QImage& image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

}  // namespace results
