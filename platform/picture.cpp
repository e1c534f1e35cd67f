#include "platform/picture.h"

#include <QFile>

#include "metafile/metafile.h"
#include "platform/picturespill.h"
#include "platform/runtimeerror.h"

namespace platform {

Picture Picture::fromBytes(QByteArray bytes, QSize drawnSize) {
    Picture p;
    workbook::ImageInfo info = metafile::sniffDrawnImage(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    p.m_length = bytes.size();
    p.m_bytes = std::move(bytes);
    p.m_format = info.format;
    if (info.width > 0 && info.height > 0) {
        p.m_size = QSize(info.width, info.height);
    }
    const bool drawn = info.format == workbook::ImageFormat::Emf ||
                       info.format == workbook::ImageFormat::Wmf ||
                       info.format == workbook::ImageFormat::Pict;
    if (drawn && drawnSize.width() > 0 && drawnSize.height() > 0 &&
        drawnSize.width() <= workbook::kMaxPictureSide &&
        drawnSize.height() <= workbook::kMaxPictureSide &&
        qint64(drawnSize.width()) * drawnSize.height() <= kMaxDecodedPixels) {
        p.m_size = drawnSize;
    }
    return p;
}

QByteArray Picture::bytes() const {
    return m_spill ? m_spill->read(m_offset, m_length) : m_bytes;
}

Picture Picture::inMemory() const {
    if (!m_spill) {
        return *this;
    }
    Picture p = *this;
    p.m_bytes = bytes();
    p.m_spill.reset();
    p.m_offset = 0;
    return p;
}

bool operator==(const Picture& a, const Picture& b) {
    if (a.m_spill && a.m_spill == b.m_spill) {
        return a.m_offset == b.m_offset && a.m_length == b.m_length;
    }
    return a.m_length == b.m_length && a.bytes() == b.bytes();
}

void Picture::save(const QString& fileName) const {
    if (isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    const QByteArray data = bytes();
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw RuntimeError(
            err::kPathNotFound,
            QStringLiteral("Cannot write '%1': %2").arg(fileName, file.errorString()));
    }
    if (file.write(data) != data.size() || !file.flush()) {
        QString reason = file.errorString();
        file.close();
        file.remove();
        throw RuntimeError(err::kPathNotFound,
                           QStringLiteral("Cannot write '%1': %2").arg(fileName, reason));
    }
}

Picture Picture::load(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError(err::kFileNotFound,
                           QStringLiteral("File not found: '%1'").arg(fileName));
    }
    // Whatever the save step wrote comes back, in a format the preview knows or not: a picture
    // that cannot be shown is still the workbook's picture, and its row keeps it.
    Picture p = fromBytes(file.readAll());
    if (p.isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    return p;
}

}  // namespace platform
