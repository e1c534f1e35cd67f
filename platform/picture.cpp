#include "platform/picture.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cstring>

#include "platform/runtimeerror.h"

namespace platform {

Picture Picture::fromBytes(QByteArray bytes) {
    Picture p;
    workbook::ImageInfo info = workbook::sniffImage(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    p.m_bytes = std::move(bytes);
    p.m_format = info.format;
    if (info.width > 0 && info.height > 0) {
        p.m_size = QSize(info.width, info.height);
    }
    return p;
}

void Picture::save(const QString& fileName) const {
    if (isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw RuntimeError(err::kPathNotFound,
                           QStringLiteral("Cannot write '%1': %2").arg(fileName, file.errorString()));
    }
    if (file.write(m_bytes) != m_bytes.size() || !file.flush()) {
        QString reason = file.errorString();
        file.close();
        file.remove();
        throw RuntimeError(err::kPathNotFound,
                           QStringLiteral("Cannot write '%1': %2").arg(fileName, reason));
    }
}

Picture Picture::load(const QString& fileName) {
    return load(fileName, Picture());
}

Picture Picture::load(const QString& fileName, const Picture& likely) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError(err::kFileNotFound, QStringLiteral("File not found: '%1'").arg(fileName));
    }
    // Compared in place, so a picture read back whole is never held twice, not even briefly.
    if (!likely.isNull() && file.size() == likely.m_bytes.size()) {
        const uchar* mapped = file.map(0, file.size());
        const bool same = mapped != nullptr && std::memcmp(mapped, likely.m_bytes.constData(),
                                                           std::size_t(file.size())) == 0;
        if (mapped != nullptr) {
            file.unmap(const_cast<uchar*>(mapped));
        }
        if (same) {
            return likely;
        }
    }
    // Whatever the save step wrote comes back, in a format the preview knows or not: a picture
    // that cannot be shown is still the workbook's picture, and its row keeps it.
    Picture p = fromBytes(file.readAll());
    if (p.isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    return p;
}

namespace {

// Qt refuses images above 256 MiB by default; a 100-megapixel photo at four bytes a pixel needs
// about 382 MiB, so the limit is raised to just that (in whole MiB, rounded up).
constexpr int kAllocationLimitMiB = int((Picture::kMaxDecodedPixels * 4 + (1 << 20) - 1) >> 20);

// The limit is global to Qt: raise it where it is lower, never lower what another reader set.
void raiseAllocationLimit() {
    const int limit = QImageReader::allocationLimit();
    if (limit != 0 && limit < kAllocationLimitMiB) {
        QImageReader::setAllocationLimit(kAllocationLimitMiB);
    }
}

bool tooManyPixels(const QSize& size) {
    return size.isValid() && qint64(size.width()) * size.height() > Picture::kMaxDecodedPixels;
}

}  // namespace

QImage Picture::decode() const {
    if (isNull() || m_format == workbook::ImageFormat::Emf ||
        m_format == workbook::ImageFormat::Wmf) {
        return {};
    }
    // Refuse what the header already shows to be too large before any pixel is allocated.
    if (tooManyPixels(m_size)) {
        return {};
    }
    raiseAllocationLimit();
    QBuffer buffer;
    buffer.setData(m_bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (tooManyPixels(reader.size())) {
        return {};
    }
    QImage image;
    if (!reader.read(&image)) {
        return {};
    }
    return image;
}

}  // namespace platform
