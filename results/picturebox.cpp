#include "results/picturebox.h"

#include <QPaintEvent>
#include <QPainter>

namespace results {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    // Only the exposed part of a large picture is painted, and nothing behind it.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(false);
}

void PictureBox::setImage(QImage image) {
    // Painting premultiplied pixels is the fast path; the conversion happens in place.
    if (image.format() == QImage::Format_ARGB32) {
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    }
    m_image = std::move(image);
    resize(m_image.size());
    update();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    if (m_image.isNull()) {
        return;
    }
    QPainter painter(this);
    const QRect exposed = event->rect() & m_image.rect();
    painter.drawImage(exposed.topLeft(), m_image, exposed);
}

}  // namespace results
