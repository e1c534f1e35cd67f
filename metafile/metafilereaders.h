#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "metafile/gdiplayer.h"
#include "metafile/metafile.h"

namespace workbook {
class BoundedCursor;
}

namespace metafile {

// An XFORM or an EMF+ matrix as the record stores it: six 32-bit floats, a b c d e f.
Affine readAffine(workbook::BoundedCursor& c);

// Shared by the record readers: counts records against kMaxMetafileRecords and the clock
// against kMaxMetafilePlayMillis. A metafile played inside another (an image in it) keeps to
// the outer one's time.
class RecordBudget {
public:
    RecordBudget();
    ~RecordBudget();
    RecordBudget(const RecordBudget&) = delete;
    RecordBudget& operator=(const RecordBudget&) = delete;
    // False, with the error set, once a limit is passed.
    bool next(MetafileError& error);
    // After the last record: the error, when the time ran out while it was drawn.
    void finish(MetafileError& error) const;

private:
    std::size_t m_records = 0;
    std::chrono::steady_clock::time_point m_deadline;
    std::chrono::steady_clock::time_point m_outerDeadline;
};

// Whether the play under way has run out of time: for work inside one long record.
bool playTimeIsUp();

// A metafile drawn as an image inside another, depth levels down.
MetafileError playNestedMetafile(ImageFormat format, const std::uint8_t* data, std::size_t size,
                                 const MetafileLayout& layout, MetafileCanvas& canvas, int depth);

namespace emfplus {
class Player;
}

// The EMF+ records an EMF carries in its comments ([MS-EMFPLUS] 2.3), played onto a canvas
// when one is given; and, played or not, which of the EMF's own records draw: all of them
// until an EMF+ header, then only those that follow a GetDC record, up to the next EMF+ record.
class EmfPlusStream {
public:
    EmfPlusStream(MetafileCanvas* canvas, const MetafileLayout& layout, int depth);
    ~EmfPlusStream();
    EmfPlusStream(const EmfPlusStream&) = delete;
    EmfPlusStream& operator=(const EmfPlusStream&) = delete;

    // The bytes of one comment after its EMF+ identifier.
    void comment(const std::uint8_t* data, std::size_t size);
    bool drawsEmfRecords() const { return !m_header || m_getDc; }
    // Why the records stopped being played, if they did.
    const MetafileError& error() const { return m_error; }

private:
    struct PendingObject {
        int id = -1, type = 0;
        std::size_t total = 0;
        std::vector<std::uint8_t> bytes;
    };
    void record(std::uint16_t type, std::uint16_t flags, const std::uint8_t* data,
                std::size_t size);
    void objectRecord(std::uint16_t flags, const std::uint8_t* data, std::size_t size);
    void drawingRecord(std::uint16_t type, std::uint16_t flags, const std::uint8_t* data,
                       std::size_t size);

    std::unique_ptr<emfplus::Player> m_player;
    bool m_header = false;
    bool m_getDc = false;
    std::size_t m_records = 0;
    PendingObject m_pending;
    MetafileError m_error;
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
// EMF+ records in the comments go to plus, which says which EMF records are drawn; without one
// they are followed but not played.
MetafileError readEmfRecords(const std::uint8_t* data, std::size_t size, GdiPlayer& player,
                             ReadMode mode, EmfPlusStream* plus = nullptr);

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
