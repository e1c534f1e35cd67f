#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workbook/bytesource.h"

namespace workbook::biff {

// Record types of a BIFF8 workbook stream ([MS-XLS] 2.3).
constexpr std::uint16_t kBof = 0x0809;
constexpr std::uint16_t kEof = 0x000A;
constexpr std::uint16_t kContinue = 0x003C;
constexpr std::uint16_t kBoundSheet = 0x0085;
constexpr std::uint16_t kFilePass = 0x002F;
constexpr std::uint16_t kCodePage = 0x0042;
constexpr std::uint16_t kWsBool = 0x0081;
constexpr std::uint16_t kObj = 0x005D;
constexpr std::uint16_t kTxo = 0x01B6;
constexpr std::uint16_t kImData = 0x007F;
constexpr std::uint16_t kMsoDrawingGroup = 0x00EB;
constexpr std::uint16_t kMsoDrawing = 0x00EC;

// BOF versions and substream kinds.
constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kBiff5 = 0x0500;
constexpr std::uint16_t kGlobals = 0x0005;
constexpr std::uint16_t kWorksheet = 0x0010;

std::uint16_t le16(const std::uint8_t* p);
std::uint32_t le32(const std::uint8_t* p);

// Turns encrypted record data back into plain bytes by its place in the stream.
class Decryptor {
public:
    virtual ~Decryptor() = default;
    virtual void decrypt(std::uint64_t streamOffset, std::uint8_t* data, std::size_t n) = 0;
};

// Whether a record's data stays in the clear in an encrypted stream ([MS-XLS] 2.2.10).
bool isNeverEncrypted(std::uint16_t type);

struct Record {
    std::uint16_t type = 0;
    std::uint16_t size = 0;
    std::uint64_t dataOffset = 0;  // where the data starts in the stream
    std::uint64_t number = 0;      // counted from where the reader started, from 1
};

// Walks a record stream by its headers, from a given offset. A record whose length runs past
// the end of the stream ends the walk and is reported by cutShort().
class RecordReader {
public:
    RecordReader(ByteSource& stream, std::uint64_t offset, Decryptor* decryptor = nullptr)
        : m_stream(stream), m_offset(offset), m_decryptor(decryptor) {}

    bool next(Record& record);
    // The record's data, decrypted where that applies. False when it cannot be read.
    bool data(const Record& record, std::vector<std::uint8_t>& out);
    void setDecryptor(Decryptor* decryptor) { m_decryptor = decryptor; }
    // Carries on from a record header further on, records between taken as read.
    void skipTo(std::uint64_t offset) {
        m_offset = offset;
        m_lastSize = 0;
    }
    // Records left to walk, shared by the readers of one stream; none left ends the walk.
    void setBudget(std::uint64_t* remaining) { m_budget = remaining; }
    bool exhausted() const { return m_budget != nullptr && *m_budget == 0; }
    std::optional<Record> cutShort() const { return m_cutShort; }
    std::uint64_t offset() const { return m_offset; }

private:
    static constexpr std::size_t kWindowBytes = 16 << 10;
    // n bytes at at: from the window of bytes read ahead, or from the stream, refilling the
    // window first when ahead is set.
    bool fetch(std::uint64_t at, std::uint8_t* out, std::size_t n, bool ahead);

    ByteSource& m_stream;
    std::uint64_t m_offset;
    Decryptor* m_decryptor;
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_windowAt = 0;
    std::uint64_t m_lastSize = 0;
    std::uint64_t m_count = 0;
    std::uint64_t* m_budget = nullptr;
    std::optional<Record> m_cutShort;
};

// Record data spread over several records (a drawing group and its CONTINUEs) read as one run
// of bytes, without holding it: each read goes to the stream.
class PieceSource : public ByteSource {
public:
    PieceSource(ByteSource& stream, Decryptor* decryptor)
        : m_stream(stream), m_decryptor(decryptor) {}
    void append(std::uint64_t streamOffset, std::uint64_t size);
    std::size_t pieceCount() const { return m_pieces.size(); }
    void setDecryptor(Decryptor* decryptor) { m_decryptor = decryptor; }

    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* out, std::size_t n) override;

private:
    struct Piece {
        std::uint64_t start;  // within this source
        std::uint64_t streamOffset;
        std::uint64_t size;
    };
    ByteSource& m_stream;
    Decryptor* m_decryptor;
    std::vector<Piece> m_pieces;
    std::uint64_t m_size = 0;
};

// What an Obj record says of a shape ([MS-XLS] 2.4.181).
struct ObjInfo {
    bool textbox = false;  // a TxO record rather than an Obj
    std::uint16_t objectType = 0xFFFF;
    bool pictureFormula = false;  // FtPictFmla: an OLE object or control
    bool camera = false;          // FtPioGrbit.fCamera: a linked picture of a range
};
ObjInfo parseObj(const std::vector<std::uint8_t>& data);

// An 8-bit or UTF-16 string of cch characters at data[at] as UTF-8; bytes past the end are
// left out. Latin-1 for the 8-bit form.
std::string unicodeChars(const std::uint8_t* data, std::size_t size, std::size_t at,
                         std::size_t cch, bool wide);

}  // namespace workbook::biff
