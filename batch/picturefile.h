#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <array>
#include <optional>
#include <string>

#include "batch/options.h"
#include "encode/bmpfile.h"
#include "encode/jpegencoder.h"
#include "encode/outputpixels.h"
#include "workbook/imageformat.h"

namespace batch {

// The extension, with its dot, of the file a picture stored in this format is written to.
QString outputExtension(OutputFormat format, workbook::ImageFormat stored);

// The content of one output file, made from the stored picture before its name is known, then
// written whole or not at all.
class PictureFile {
public:
    // Decodes and encodes as the window's save does (BMP and JPEG through the same code), or
    // takes the stored bytes as they are. storedFormat is the engine's word for them. Nothing,
    // with the reason, when the picture cannot be turned into the file.
    static std::optional<PictureFile> make(const QByteArray& stored,
                                           workbook::ImageFormat storedFormat, OutputFormat format,
                                           int quality, std::string* reason, QSize drawnSize = {});

    // Writes the file at path, replacing what is there; "" or the reason it failed.
    std::string write(const QString& path) const;

    // The bytes the file holds: for a cache of files made once and written again.
    std::size_t byteCount() const;

    // The pixel size where the picture was decoded; 0 otherwise.
    int width() const { return m_pixels ? m_pixels->width() : 0; }
    int height() const { return m_pixels ? m_pixels->height() : 0; }

private:
    PictureFile() = default;

    std::optional<encode::PixelBuffer> m_pixels;  // BMP: the pixels after the headers
    std::array<std::uint8_t, encode::kBmpHeaderBytes> m_bmpHeaders{};
    std::optional<encode::JpegBytes> m_jpeg;
    QByteArray m_bytes;  // original: the bytes as stored (a DIB with its file header)
};

}  // namespace batch
