#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "metafile/gdiplayer.h"
#include "metafile/metafile.h"

namespace metafile {

// Shared by the record readers: counts records against kMaxMetafileRecords and the clock
// against kMaxMetafilePlayMillis.
class RecordBudget {
public:
    RecordBudget();
    // False, with the error set, once a limit is passed.
    bool next(MetafileError& error);
    // After the last record: the error, when the time ran out while it was drawn.
    void finish(MetafileError& error) const;

private:
    std::size_t m_records = 0;
    std::chrono::steady_clock::time_point m_deadline;
};

// How a reader runs: playing the whole file onto a canvas, or probing its first bytes for the
// layout, where a record cut off by the end of those bytes ends the walk quietly (a bitmap
// record's fixed part and header are still read, as they tell the picture's size).
enum class ReadMode { Play, Probe };

// [MS-EMF] 2.3.4.2 EMR_HEADER.
struct EmfHeader {
    RectL bounds;  // inclusive, device pixels
    RectL frame;   // inclusive, hundredths of a millimetre
    double pxPerMmX = 0, pxPerMmY = 0;
    std::uint32_t headerSize = 0;
};
std::optional<EmfHeader> readEmfHeader(const std::uint8_t* data, std::size_t size);
MetafileError readEmfRecords(const std::uint8_t* data, std::size_t size, GdiPlayer& player,
                             ReadMode mode);

// [MS-WMF] 2.3.2 META_PLACEABLE and 2.3.2.2 META_HEADER.
struct WmfHeader {
    bool placeable = false;
    RectL bbox;  // logical units
    int unitsPerInch = 0;
    std::size_t recordsAt = 0;
};
std::optional<WmfHeader> readWmfHeader(const std::uint8_t* data, std::size_t size);
MetafileError readWmfRecords(const std::uint8_t* data, std::size_t size, const WmfHeader& header,
                             GdiPlayer& player, ReadMode mode);

// Macintosh PICT without its 512-byte file header, as workbooks keep it.
struct PictHeader {
    RectL frame;  // QuickDraw points, 72 to the inch
    std::size_t opcodesAt = 0;
    bool version2 = false;
    // An extended version 2 header: the rectangle the opcodes' coordinates fill, at the
    // resolution given (dots per inch), which the frame shows at 72.
    bool extended = false;
    RectL source;
    double hRes = 72, vRes = 72;
};
std::optional<PictHeader> readPictHeader(const std::uint8_t* data, std::size_t size);
MetafileError readPictOpcodes(const std::uint8_t* data, std::size_t size, const PictHeader& header,
                              const MetafileLayout& layout, MetafileCanvas* canvas,
                              MetafileProbe* probe, ReadMode mode);

// UTF-16 code units as UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(const std::u16string& text);

}  // namespace metafile
