#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/problem.h"

namespace workbook {

// Record types of .xlsb parts that the engine reads ([MS-XLSB] 2.3.2).
constexpr std::uint32_t kBrtEndSheet = 0x82;
constexpr std::uint32_t kBrtEndBundleShs = 0x90;
constexpr std::uint32_t kBrtBundleSh = 0x9C;
constexpr std::uint32_t kBrtDrawing = 0x226;

// One record of an .xlsb part. Its data are there only for the types the reader keeps.
struct XlsbRecord {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::uint64_t number = 0;  // counting from 1 within the part
    std::string_view data;     // the whole data of a kept record
    bool kept = false;         // false for a kept type whose size is above kMaxXlsbRecordBytes
};

// Splits an .xlsb part into its records ([MS-XLSB] 2.1.4) as the part streams past, in chunks
// of any size: a type of one or two bytes and a size of one to four, seven bits to a byte, then
// the data. Records of other types than those kept are skipped by their size, unread, so a
// worksheet's cells cost no memory.
class XlsbRecordReader {
public:
    // Called for every complete record; returns false to stop reading.
    using Visit = std::function<bool(const XlsbRecord&)>;

    XlsbRecordReader(std::string place, std::initializer_list<std::uint32_t> keep)
        : m_place(std::move(place)), m_keep(keep) {}

    // Takes the next bytes; false once the visitor stopped or the part proved damaged.
    bool feed(const std::uint8_t* data, std::size_t size, const Visit& visit);
    // To be called at the end of the part, unless feed returned false: a record cut short is
    // damage.
    void finish();

    const std::optional<Problem>& problem() const { return m_problem; }
    // "xl/workbook.bin, record 12"
    std::string placeOf(std::uint64_t number) const;

private:
    enum class Step { Type, Size, Data };
    void startData();

    std::string m_place;
    std::vector<std::uint32_t> m_keep;
    Step m_step = Step::Type;
    int m_headerBytes = 0;  // of the type or size being read
    std::uint32_t m_type = 0;
    std::uint32_t m_size = 0;
    std::uint32_t m_left = 0;  // data bytes still to come
    bool m_keepThis = false;
    std::string m_data;
    std::uint64_t m_number = 0;
    bool m_stopped = false;
    std::optional<Problem> m_problem;
};

// Reads the fields of one record's data; once a read runs past the end, every later read
// fails too and gives nothing.
class XlsbCursor {
public:
    explicit XlsbCursor(std::string_view data) : m_data(data) {}

    std::uint32_t u32();
    void skip(std::size_t n);
    // XLWideString: a 32-bit count of UTF-16 units, then the units; returned as UTF-8.
    std::string wideString();
    // XLNullableWideString: the same, where the count 0xFFFFFFFF means no string at all.
    std::optional<std::string> nullableWideString();

    bool ok() const { return m_ok; }
    // Every field read and nothing left over.
    bool atEnd() const { return m_ok && m_pos == m_data.size(); }

private:
    bool take(std::size_t n);
    std::string units(std::uint32_t count);

    std::string_view m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// UTF-16 little-endian code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8FromUtf16(const std::uint8_t* units, std::size_t count);

}  // namespace workbook
