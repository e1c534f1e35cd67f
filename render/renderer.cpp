#include "render/renderer.h"

#include <QBuffer>
#include <QImageReader>
#include <cmath>

#include "metafile/metafile.h"
#include "platform/runtimeerror.h"
#include "render/qtcanvas.h"
#include "workbook/bitmapinfo.h"
#include "workbook/limits.h"

namespace render {

namespace {

constexpr int kErrOutOfMemory = 7;
constexpr int kPixelsPerMetre = 3780;  // 96 dots per inch, the size of a metafile's text

static_assert(platform::Picture::kMaxDecodedPixels == workbook::kMaxPicturePixels);

QString formatLabel(workbook::ImageFormat format) {
    return QString::fromLatin1(workbook::formatName(format).data());
}

Rendered failed(int number, QString description) {
    Rendered r;
    r.errorNumber = number;
    r.error = std::move(description);
    return r;
}

Rendered undecodable(workbook::ImageFormat format, const QString& reason) {
    return failed(
        platform::err::kInvalidPicture,
        QStringLiteral("Cannot decode the picture (%1): %2").arg(formatLabel(format), reason));
}

Rendered tooLarge(qint64 width, qint64 height) {
    return failed(kErrOutOfMemory,
                  QStringLiteral("The picture is too large to save (%1 x %2 pixels; the limit is "
                                 "%3 megapixels)")
                      .arg(width)
                      .arg(height)
                      .arg(platform::Picture::kMaxDecodedPixels / 1'000'000));
}

bool tooManyPixels(const QSize& size) {
    return size.isValid() &&
           qint64(size.width()) * size.height() > platform::Picture::kMaxDecodedPixels;
}

// A drawn picture (SVG) that states a size beyond the limit is drawn smaller, as a metafile is.
QSize fittedVectorSize(QSize size) {
    const double w = size.width(), h = size.height();
    double scale = 1;
    if (w * h > double(workbook::kMaxPicturePixels)) {
        scale = std::sqrt(double(workbook::kMaxPicturePixels) / (w * h));
    }
    scale = std::min({scale, workbook::kMaxPictureSide / w, workbook::kMaxPictureSide / h});
    return QSize(std::max(1, int(std::floor(w * scale))), std::max(1, int(std::floor(h * scale))));
}

// Qt's BMP reader keeps the rows a cut-short bitmap lacks as they were allocated, so whatever
// that memory held would show in the preview and go into the saved file, different on every
// run. The pixel bytes an uncompressed bitmap lacks are given to it as zeros instead.
QByteArray withWholeBitmapPixels(QByteArray file) {
    const auto* d = reinterpret_cast<const std::uint8_t*>(file.constData());
    const auto size = std::size_t(file.size());
    if (size < 18 || d[0] != 'B' || d[1] != 'M') {
        return file;
    }
    const std::uint64_t offset =
        d[10] | (d[11] << 8) | (d[12] << 16) | (std::uint64_t(d[13]) << 24);
    auto info = workbook::readBitmapInfo(d + 14, size - 14);
    if (!info || info->pixelBytes == 0 || offset < 14 || offset > size ||
        qint64(info->width) * info->height > platform::Picture::kMaxDecodedPixels) {
        return file;
    }
    const std::uint64_t whole = offset + info->pixelBytes;
    if (whole > size) {
        file.append(qsizetype(whole - size), '\0');
    }
    return file;
}

Rendered decodeWithQt(const QByteArray& bytes, workbook::ImageFormat format,
                      const QByteArray& readerFormat = {}) {
    raiseAllocationLimit();
    QByteArray data = format == workbook::ImageFormat::Bmp || readerFormat == "bmp"
                          ? withWholeBitmapPixels(bytes)
                          : bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, readerFormat);
    const QSize size = reader.size();
    const bool vector = format == workbook::ImageFormat::Svg || reader.format() == "svg" ||
                        reader.format() == "svgz";
    if (vector && size.isValid() && !size.isEmpty()) {
        const QSize fitted = fittedVectorSize(size);
        if (fitted != size) {
            reader.setScaledSize(fitted);
        }
    } else if (tooManyPixels(size)) {
        return tooLarge(size.width(), size.height());
    }
    QImage image;
    if (!reader.read(&image)) {
        // Qt says only "Unable to read image data" of data its reader gives up on; the save
        // says of such data that it is damaged, and the preview says the same.
        switch (reader.error()) {
            case QImageReader::UnsupportedFormatError:
                return undecodable(format, QStringLiteral("the format is not supported"));
            case QImageReader::InvalidDataError:
                return undecodable(format, QStringLiteral("the picture's data is damaged"));
            default:
                return undecodable(format, reader.errorString());
        }
    }
    if (tooManyPixels(image.size())) {
        return tooLarge(image.width(), image.height());
    }
    Rendered r;
    r.image = std::move(image);
    return r;
}

// A bitmap without its file header: the header it lacks is put in front, so the BMP reader
// takes it whatever its depth or compression.
Rendered decodeDib(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto size = std::size_t(bytes.size());
    auto info = workbook::readBitmapInfo(data, size);
    if (!info || info->headerBytes > size) {
        return undecodable(workbook::ImageFormat::Dib,
                           QStringLiteral("the bitmap header is damaged"));
    }
    if (qint64(info->width) * info->height > platform::Picture::kMaxDecodedPixels) {
        return tooLarge(info->width, info->height);
    }
    const std::uint8_t* pixels = data + info->headerBytes;
    const std::size_t pixelBytes = size - info->headerBytes;
    if (info->compression == workbook::BitmapInfo::kJpeg ||
        info->compression == workbook::BitmapInfo::kPng) {
        return decodeWithQt(
            QByteArray(reinterpret_cast<const char*>(pixels), qsizetype(pixelBytes)),
            workbook::ImageFormat::Dib);
    }
    const std::vector<std::uint8_t> file =
        workbook::bitmapFile(data, info->headerBytes, pixels, pixelBytes);
    return decodeWithQt(
        QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())),
        workbook::ImageFormat::Dib, "bmp");
}

Rendered drawRecords(const platform::Picture& picture) {
    const workbook::ImageFormat format = picture.format();
    // One read: a picture in a run's spill reads its bytes back from the file each time.
    const QByteArray bytes = picture.bytes();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto size = std::size_t(bytes.size());
    auto cannotDraw = [&](const std::string& detail) {
        QString text = QStringLiteral("Cannot save the image: the picture cannot be drawn (%1)")
                           .arg(formatLabel(format));
        if (!detail.empty()) {
            text += QStringLiteral(": ") + QString::fromStdString(detail);
        }
        return failed(platform::err::kInvalidPicture, text);
    };
    // Drawn at the picture's size, which the workbook may state apart from the bytes.
    const metafile::MetafileLayout layout =
        metafile::resizedLayout(metafile::metafileLayout(format, data, size),
                                picture.size().width(), picture.size().height());
    if (!layout.headerReadable) {
        return cannotDraw("its header is damaged");
    }
    if (!layout.usable()) {
        return cannotDraw("it states no size");
    }
    // A white page, as the metafile would be played onto paper; raster operations that read
    // the page then behave as they were written to.
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull()) {
        return failed(kErrOutOfMemory, QStringLiteral("Not enough memory for a picture of %1 x %2 "
                                                      "pixels")
                                           .arg(layout.width)
                                           .arg(layout.height));
    }
    image.fill(Qt::white);
    image.setDotsPerMeterX(kPixelsPerMetre);
    image.setDotsPerMeterY(kPixelsPerMetre);
    metafile::MetafileError error;
    {
        QtCanvas canvas(image);
        error = metafile::playMetafile(format, data, size, layout, canvas);
    }
    if (error) {
        return cannotDraw(format == workbook::ImageFormat::Pict &&
                                  error.kind == metafile::MetafileError::Kind::NothingToDraw
                              ? ""
                              : error.detail);
    }
    Rendered r;
    r.image = std::move(image);
    return r;
}

}  // namespace

// The limit is global to Qt: raise it where it is lower, never lower what another reader set.
void raiseAllocationLimit() {
    const int limit = QImageReader::allocationLimit();
    if (limit != 0 && limit < kQtAllocationLimitMb) {
        QImageReader::setAllocationLimit(kQtAllocationLimitMb);
    }
}

Rendered renderPicture(const platform::Picture& picture) {
    if (picture.isNull()) {
        return failed(platform::err::kInvalidPicture,
                      QStringLiteral("Cannot decode the picture: it is empty"));
    }
    switch (picture.format()) {
        case workbook::ImageFormat::Emf:
        case workbook::ImageFormat::Wmf:
        case workbook::ImageFormat::Pict:
            return drawRecords(picture);
        case workbook::ImageFormat::Dib:
            return decodeDib(picture.bytes());
        default:
            // The header's size, where the sniffer reads it, refuses a giant before any
            // decoder runs.
            if (tooManyPixels(picture.size())) {
                return tooLarge(picture.size().width(), picture.size().height());
            }
            return decodeWithQt(picture.bytes(), picture.format());
    }
}

}  // namespace render
