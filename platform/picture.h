#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <memory>

#include "workbook/imageformat.h"
#include "workbook/limits.h"

namespace platform {

class PictureSpill;

// A picture object: the image bytes exactly as the source delivered them, with the format and
// pixel size sniffed from them. The bytes are in memory, or in a run's spill file, where the
// picture is only their place (see PictureSpill). Copies share the bytes. Pixels are made only
// on request.
class Picture {
public:
    Picture() = default;
    // drawnSize, where the source states it, is the size a metafile is drawn at in place of the
    // one its own bytes give (a binary workbook's blip keeps a WMF without its header, and
    // states the picture's size beside it).
    static Picture fromBytes(QByteArray bytes, QSize drawnSize = {});

    bool isNull() const { return m_length == 0; }
    // The bytes as stored. A picture in a spill reads them back, on any thread; throws
    // RuntimeError when they cannot be read whole.
    QByteArray bytes() const;
    qint64 byteCount() const { return m_length; }
    bool isSpilled() const { return m_spill != nullptr; }
    // Where a spilled picture's bytes start in its spill, -1 for one in memory: pictures of
    // one spill are the same exactly when they start at the same place.
    qint64 spillOffset() const { return m_spill ? m_offset : -1; }
    // The same picture with its bytes in memory, for one that must outlive its spill.
    Picture inMemory() const;
    workbook::ImageFormat format() const { return m_format; }
    // Size from the header, for a metafile the size it is drawn at; empty when the header does
    // not give it cheaply.
    QSize size() const { return m_size; }

    // Writes the picture to a file in its own form, replacing an existing file. Throws
    // RuntimeError when there is no picture or the file cannot be written.
    void save(const QString& fileName) const;
    // Reads the file back as it is, whatever it is called and whatever its format. Throws
    // RuntimeError when it cannot be read or is empty.
    static Picture load(const QString& fileName);

    // Pixels are made by the renderer (render/renderer.h), never kept here: whoever shows the
    // picture keeps them, and only while it shows it. No picture is made larger than this:
    // a 100-megapixel photo is the largest one turned into pixels.
    static constexpr qint64 kMaxDecodedPixels = workbook::kMaxPicturePixels;

    // Same bytes; reads spilled pictures back.
    friend bool operator==(const Picture& a, const Picture& b);

private:
    friend class PictureSpill;

    QByteArray m_bytes;
    std::shared_ptr<const PictureSpill> m_spill;
    qint64 m_offset = 0;  // where the bytes start in the spill
    qint64 m_length = 0;
    workbook::ImageFormat m_format = workbook::ImageFormat::Unknown;
    QSize m_size;
};

}  // namespace platform
