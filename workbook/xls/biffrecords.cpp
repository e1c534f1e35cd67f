#include "workbook/xls/biffrecords.h"

#include <algorithm>

#include "workbook/ooxml/xlsbrecords.h"  // utf8FromUtf16

namespace workbook::biff {

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

bool isNeverEncrypted(std::uint16_t type) {
    switch (type) {
        case kBof:
        case kFilePass:
        case 0x00E1:  // InterfaceHdr
        case 0x0194:  // UsrExcl
        case 0x0195:  // FileLock
        case 0x0196:  // RRDInfo
        case 0x0138:  // RRDHead
            return true;
        default:
            return false;
    }
}

bool RecordReader::fetch(std::uint64_t at, std::uint8_t* out, std::size_t n, bool ahead) {
    if (at >= m_windowAt && at - m_windowAt + n <= m_window.size()) {
        std::copy_n(m_window.begin() + long(at - m_windowAt), n, out);
        return true;
    }
    if (!ahead) {
        return m_stream.read(at, out, n);
    }
    // Small records come many to a read; the window is refilled from here on.
    std::size_t fill = std::size_t(std::min<std::uint64_t>(kWindowBytes, m_stream.size() - at));
    m_window.resize(std::max(fill, n));
    if (!m_stream.read(at, m_window.data(), m_window.size())) {
        m_window.clear();
        return false;
    }
    m_windowAt = at;
    std::copy_n(m_window.begin(), n, out);
    return true;
}

bool RecordReader::next(Record& record) {
    std::uint8_t header[4];
    if (m_cutShort || exhausted() || m_offset + 4 > m_stream.size()) {
        return false;
    }
    // After a long record (drawing group data, mostly skipped) the next header is read on its
    // own rather than with a window of data that may never be wanted.
    if (!fetch(m_offset, header, 4, m_lastSize < kWindowBytes / 8)) {
        return false;
    }
    if (m_budget != nullptr) {
        --*m_budget;
    }
    record.type = le16(header);
    record.size = le16(header + 2);
    record.dataOffset = m_offset + 4;
    record.number = ++m_count;
    if (record.dataOffset + record.size > m_stream.size()) {
        m_cutShort = record;
        return false;
    }
    m_offset = record.dataOffset + record.size;
    m_lastSize = record.size;
    return true;
}

bool RecordReader::data(const Record& record, std::vector<std::uint8_t>& out) {
    out.resize(record.size);
    if (record.size == 0) {
        return true;
    }
    if (!fetch(record.dataOffset, out.data(), out.size(), false)) {
        out.clear();
        return false;
    }
    if (m_decryptor != nullptr && !isNeverEncrypted(record.type)) {
        // The sheet's stream position in BoundSheet8 stays in the clear.
        std::size_t clear = record.type == kBoundSheet ? std::min<std::size_t>(4, out.size()) : 0;
        m_decryptor->decrypt(record.dataOffset + clear, out.data() + clear, out.size() - clear);
    }
    return true;
}

void PieceSource::append(std::uint64_t streamOffset, std::uint64_t size) {
    if (size == 0) {
        return;
    }
    m_pieces.push_back({m_size, streamOffset, size});
    m_size += size;
}

bool PieceSource::read(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > m_size || n > m_size - offset) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                               [](std::uint64_t at, const Piece& p) { return at < p.start; });
    // Pieces a record header apart are read in one go, the headers skipped.
    constexpr std::uint64_t kMostSkipped = 4096;
    auto* to = static_cast<std::uint8_t*>(out);
    std::vector<ByteRun> runs;
    std::uint64_t runsAt = 0, runsEnd = 0;
    auto flush = [&] {
        bool ok = runs.empty() || m_stream.readRuns(runsAt, runs.data(), runs.size());
        runs.clear();
        return ok;
    };
    const auto first = --it;
    for (std::uint64_t at0 = offset, left = n; left > 0; ++it) {
        std::uint64_t within = at0 - it->start;
        std::size_t take = std::size_t(std::min<std::uint64_t>(it->size - within, left));
        std::uint64_t at = it->streamOffset + within;
        if (!runs.empty() && (at < runsEnd || at - runsEnd > kMostSkipped) && !flush()) {
            return false;
        }
        if (runs.empty()) {
            runsAt = at;
        } else if (at > runsEnd) {
            runs.push_back({nullptr, std::size_t(at - runsEnd)});
        }
        runs.push_back({to, take});
        runsEnd = at + take;
        to += take;
        at0 += take;
        left -= take;
    }
    if (!flush()) {
        return false;
    }
    if (m_decryptor != nullptr) {
        // Each piece is decrypted by where it lies in the stream.
        to = static_cast<std::uint8_t*>(out);
        for (it = first; n > 0; ++it) {
            std::uint64_t within = offset - it->start;
            std::size_t take = std::size_t(std::min<std::uint64_t>(it->size - within, n));
            m_decryptor->decrypt(it->streamOffset + within, to, take);
            to += take;
            offset += take;
            n -= take;
        }
    }
    return true;
}

ObjInfo parseObj(const std::vector<std::uint8_t>& data) {
    ObjInfo info;
    // FtCmo comes first: ft 0x15, cb 0x12, then the object type.
    if (data.size() < 22 || le16(data.data()) != 0x0015) {
        return info;
    }
    info.objectType = le16(data.data() + 4);
    std::size_t at = 4 + le16(data.data() + 2);
    while (at + 4 <= data.size()) {
        std::uint16_t ft = le16(data.data() + at);
        std::uint16_t cb = le16(data.data() + at + 2);
        if (ft == 0x0000 || ft == 0x0013) {
            // The end, or list-box data whose length field cannot be trusted.
            break;
        }
        if (ft == 0x0009) {
            info.pictureFormula = true;
        } else if (ft == 0x0008 && cb >= 2 && at + 6 <= data.size()) {
            info.camera = (le16(data.data() + at + 4) & 0x0080) != 0;
        }
        at += 4 + std::size_t(cb);
    }
    return info;
}

std::string unicodeChars(const std::uint8_t* data, std::size_t size, std::size_t at,
                         std::size_t cch, bool wide) {
    if (at >= size) {
        return {};
    }
    if (wide) {
        return utf8FromUtf16(data + at, std::min(cch, (size - at) / 2));
    }
    // Compressed characters are the low bytes of UTF-16 units: Latin-1.
    std::string out;
    for (std::size_t i = at; i < size && i - at < cch; ++i) {
        if (data[i] < 0x80) {
            out += char(data[i]);
        } else {
            out += char(0xC0 | (data[i] >> 6));
            out += char(0x80 | (data[i] & 0x3F));
        }
    }
    return out;
}

}  // namespace workbook::biff
