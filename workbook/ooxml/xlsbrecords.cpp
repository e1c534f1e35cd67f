#include "workbook/ooxml/xlsbrecords.h"

#include <algorithm>

#include "workbook/limits.h"
#include "workbook/utf8.h"

namespace workbook {

bool XlsbRecordReader::feed(const std::uint8_t* data, std::size_t size, const Visit& visit) {
    if (m_stopped || m_problem) {
        return false;
    }
    std::size_t pos = 0;
    while (pos < size) {
        if (m_step == Step::Type) {
            // The high bit of the first byte says a second follows; the second's high bit is
            // not a further continuation.
            std::uint8_t b = data[pos++];
            m_type |= std::uint32_t(b & 0x7F) << (7 * m_headerBytes);
            if (!(b & 0x80) || ++m_headerBytes == 2) {
                m_step = Step::Size;
                m_headerBytes = 0;
            }
            continue;
        }
        if (m_step == Step::Size) {
            std::uint8_t b = data[pos++];
            m_size |= std::uint32_t(b & 0x7F) << (7 * m_headerBytes);
            if (!(b & 0x80) || ++m_headerBytes == 4) {
                startData();
            }
        } else {
            std::size_t n = std::min<std::size_t>(m_left, size - pos);
            if (m_keepThis) {
                m_data.append(reinterpret_cast<const char*>(data + pos), n);
            }
            pos += n;
            m_left -= std::uint32_t(n);
        }
        if (m_step == Step::Data && m_left == 0) {
            XlsbRecord record{m_type, m_size, m_number, m_data, m_keepThis};
            bool going = visit(record);
            m_step = Step::Type;
            m_headerBytes = 0;
            m_type = 0;
            m_size = 0;
            m_data.clear();
            if (!going) {
                m_stopped = true;
                return false;
            }
        }
    }
    return true;
}

void XlsbRecordReader::startData() {
    ++m_number;
    m_step = Step::Data;
    m_headerBytes = 0;
    m_left = m_size;
    bool wanted = std::find(m_keep.begin(), m_keep.end(), m_type) != m_keep.end();
    // Larger records of a kept type are still counted and shown, without their data.
    m_keepThis = wanted && m_size <= kMaxXlsbRecordBytes;
    if (m_keepThis) {
        m_data.reserve(m_size);
    }
}

void XlsbRecordReader::finish() {
    if (m_stopped || m_problem) {
        return;
    }
    if (m_step == Step::Data) {
        m_problem = damaged(placeOf(m_number), "the record runs past the end of the part");
    } else if (m_step == Step::Size || m_headerBytes > 0) {
        m_problem = damaged(placeOf(m_number + 1), "the record header is cut short");
    }
}

std::string XlsbRecordReader::placeOf(std::uint64_t number) const {
    return m_place + ", record " + std::to_string(number);
}

bool XlsbCursor::take(std::size_t n) {
    if (!m_ok || n > m_data.size() - m_pos) {
        m_ok = false;
        return false;
    }
    return true;
}

std::uint32_t XlsbCursor::u32() {
    if (!take(4)) {
        return 0;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(m_data.data() + m_pos);
    m_pos += 4;
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

void XlsbCursor::skip(std::size_t n) {
    if (take(n)) {
        m_pos += n;
    }
}

std::string XlsbCursor::units(std::uint32_t count) {
    // The count is checked against what the record holds before anything is made of it.
    if (!take(std::size_t(count) * 2)) {
        return {};
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(m_data.data() + m_pos);
    m_pos += std::size_t(count) * 2;
    return utf8FromUtf16(p, count);
}

std::string XlsbCursor::wideString() {
    std::uint32_t count = u32();
    return units(count);
}

std::optional<std::string> XlsbCursor::nullableWideString() {
    std::uint32_t count = u32();
    if (m_ok && count == 0xFFFFFFFF) {
        return std::nullopt;
    }
    return units(count);
}

std::string utf8FromUtf16(const std::uint8_t* units, std::size_t count) {
    std::string out;
    out.reserve(count);
    auto unit = [&](std::size_t i) {
        return std::uint32_t(units[2 * i] | (units[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

}  // namespace workbook
