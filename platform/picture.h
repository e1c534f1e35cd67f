#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include "workbook/imageformat.h"
#include "workbook/limits.h"

namespace platform {

// A picture object: the image bytes exactly as the source delivered them, with the format and
// pixel size sniffed from them. Copies share the bytes. Pixels are made only on request.
class Picture {
public:
    Picture() = default;
    static Picture fromBytes(QByteArray bytes);

    bool isNull() const { return m_bytes.isEmpty(); }
    const QByteArray& bytes() const { return m_bytes; }
    workbook::ImageFormat format() const { return m_format; }
    // Size from the header, for a metafile the size it is drawn at; empty when the header does
    // not give it cheaply.
    QSize size() const { return m_size; }

    // Writes the picture to a file in its own form, replacing an existing file. Throws
    // RuntimeError when there is no picture or the file cannot be written.
    void save(const QString& fileName) const;
    // Reads the file back as it is, whatever it is called and whatever its format. A file that
    // holds exactly the bytes of likely gives likely back, sharing its bytes instead of a second
    // copy. Throws RuntimeError when it cannot be read or is empty.
    static Picture load(const QString& fileName, const Picture& likely);
    static Picture load(const QString& fileName);

    // Pixels are made by the renderer (render/renderer.h), never kept here: whoever shows the
    // picture keeps them, and only while it shows it. No picture is made larger than this:
    // a 100-megapixel photo is the largest one turned into pixels.
    static constexpr qint64 kMaxDecodedPixels = workbook::kMaxPicturePixels;

    friend bool operator==(const Picture& a, const Picture& b) { return a.m_bytes == b.m_bytes; }

private:
    QByteArray m_bytes;
    workbook::ImageFormat m_format = workbook::ImageFormat::Unknown;
    QSize m_size;
};

}  // namespace platform
