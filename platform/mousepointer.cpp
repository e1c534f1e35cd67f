#include "platform/mousepointer.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QWidget>

#include "platform/runtimeerror.h"

namespace platform {

void MousePointer::set(int value) {
    m_value = value;
    if (value == kWait) {
        m_window->setCursor(Qt::WaitCursor);
    } else if (value == kCustom && m_icon) {
        m_window->setCursor(*m_icon);
    } else if (value == kCustom) {
        m_window->setCursor(Qt::ArrowCursor);
    } else {
        m_window->unsetCursor();
    }
}

void MousePointer::hoverBareArea(const QPoint& position) {
    if (m_window->childAt(position) == nullptr) {
        hover(kDefault);
    }
}

void MousePointer::loadMouseIcon(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError(err::kFileNotFound, QStringLiteral("File not found"));
    }
    QByteArray bytes = file.readAll();
    // A .cur file is an icon directory of type 2 whose first entry carries the hot spot where
    // an icon keeps its planes and bit count.
    int hotX = -1, hotY = -1;
    if (bytes.size() >= 22 && uchar(bytes[2]) == 2 && uchar(bytes[3]) == 0) {
        hotX = uchar(bytes[10]) | (uchar(bytes[11]) << 8);
        hotY = uchar(bytes[12]) | (uchar(bytes[13]) << 8);
    }
    QImage image = QImage::fromData(bytes, "CUR");
    if (image.isNull()) {
        image = QImage::fromData(bytes, "ICO");
    }
    if (image.isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    m_icon = QCursor(QPixmap::fromImage(image), hotX, hotY);
    if (m_value == kCustom) {
        set(kCustom);
    }
}

}  // namespace platform
