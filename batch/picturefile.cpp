#include "batch/picturefile.h"

#include <new>

#include "encode/wholefile.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "workbook/bitmapinfo.h"

namespace batch {

QString outputExtension(OutputFormat format, workbook::ImageFormat stored) {
    switch (format) {
        case OutputFormat::Bmp:
            return QStringLiteral(".bmp");
        case OutputFormat::Jpg:
            return QStringLiteral(".jpg");
        case OutputFormat::Original:
            break;
    }
    if (stored == workbook::ImageFormat::Dib) {
        return QStringLiteral(".bmp");
    }
    return QLatin1Char('.') + QLatin1String(workbook::formatExtension(stored));
}

std::optional<PictureFile> PictureFile::make(const QByteArray& stored,
                                             workbook::ImageFormat storedFormat,
                                             OutputFormat format, int quality, std::string* reason,
                                             QSize drawnSize) {
    PictureFile file;
    try {
        // A bitmap without its file header becomes a .bmp file first, as the window's run puts
        // it on the clipboard: the original file and the decoded pixels both come from that.
        // One whose header is unusable goes on as it is, as there.
        QByteArray bmp;
        if (storedFormat == workbook::ImageFormat::Dib) {
            const std::vector<std::uint8_t> file =
                workbook::bmpFileFromDib(reinterpret_cast<const std::uint8_t*>(stored.constData()),
                                         std::size_t(stored.size()));
            bmp = QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
        }
        const platform::Picture picture =
            platform::Picture::fromBytes(bmp.isEmpty() ? stored : bmp, drawnSize);
        switch (format) {
            case OutputFormat::Original:
                file.m_bytes = picture.bytes();
                break;
            case OutputFormat::Bmp:
                file.m_pixels.emplace(encode::decodeOntoWhite(picture, encode::ChannelOrder::Bgr));
                file.m_bmpHeaders = encode::bmpFileHeaders(*file.m_pixels);
                break;
            case OutputFormat::Jpg: {
                file.m_jpeg = encode::encodeJpegFrom(picture, quality);
                if (!file.m_jpeg) {
                    *reason = "the JPEG encoder failed";
                    return std::nullopt;
                }
                break;
            }
        }
    } catch (const platform::RuntimeError& e) {
        *reason = e.description().toStdString();
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        *reason = "not enough memory for the picture";
        return std::nullopt;
    } catch (const std::exception& e) {
        *reason = e.what();
        return std::nullopt;
    }
    return file;
}

std::size_t PictureFile::byteCount() const {
    if (m_pixels) {
        return m_bmpHeaders.size() + std::size_t(m_pixels->byteCount());
    }
    if (m_jpeg) {
        return m_jpeg->size();
    }
    return std::size_t(m_bytes.size());
}

std::string PictureFile::write(const QString& path) const {
    QString reason;
    if (m_pixels) {
        reason = encode::writeWholeFile(
            path, {QByteArrayView(reinterpret_cast<const char*>(m_bmpHeaders.data()),
                                  qsizetype(m_bmpHeaders.size())),
                   QByteArrayView(reinterpret_cast<const char*>(m_pixels->data()),
                                  qsizetype(m_pixels->byteCount()))});
    } else if (m_jpeg) {
        reason = encode::writeWholeFile(
            path, {QByteArrayView(reinterpret_cast<const char*>(m_jpeg->data()),
                                  qsizetype(m_jpeg->size()))});
    } else {
        reason = encode::writeWholeFile(path, {QByteArrayView(m_bytes)});
    }
    return reason.toStdString();
}

}  // namespace batch
