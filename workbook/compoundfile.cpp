#include "workbook/compoundfile.h"

#include <cstring>

#include "workbook/limits.h"

namespace workbook {
namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirectoryEntryBytes = 128;
constexpr char kPlace[] = "compound file";

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::string utf16Name(const std::uint8_t* p, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = le16(p + 2 * i);
        if (c == 0) {
            break;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            // Lone surrogates are kept as their own code points; the name is only compared.
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool equalFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
    }
    return true;
}

// Sector lookups of one file: where each sector lies and what follows it in its chain.
class Sectors {
public:
    Sectors(ByteSource& source, std::uint32_t sectorBytes)
        : m_source(source), m_sectorBytes(sectorBytes) {
        std::uint64_t size = source.size();
        m_count = size > sectorBytes ? (size - sectorBytes + sectorBytes - 1) / sectorBytes : 0;
    }

    std::uint64_t count() const { return m_count; }
    std::uint32_t bytes() const { return m_sectorBytes; }

    bool read(std::uint32_t sector, std::vector<std::uint8_t>& out) {
        out.assign(m_sectorBytes, 0);
        std::uint64_t offset = (std::uint64_t(sector) + 1) * m_sectorBytes;
        // The last sector of a file may be cut short; what is missing reads as zeros.
        std::uint64_t available = m_source.size() > offset ? m_source.size() - offset : 0;
        std::size_t n = std::size_t(std::min<std::uint64_t>(available, m_sectorBytes));
        return sector < m_count && n > 0 && m_source.read(offset, out.data(), n);
    }

private:
    ByteSource& m_source;
    std::uint32_t m_sectorBytes;
    std::uint64_t m_count = 0;
};

}  // namespace

bool CompoundFile::hasSignature(const std::uint8_t* head, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(head, kSignature, sizeof kSignature) == 0;
}

Result<CompoundFile> CompoundFile::open(ByteSource& source) {
    std::uint8_t header[512];
    if (!source.read(0, header, sizeof header)) {
        return damaged(kPlace, "the header is cut short");
    }
    if (!hasSignature(header, sizeof header)) {
        return Problem{ProblemKind::NotAWorkbook, "", "not a compound file"};
    }
    std::uint16_t shift = le16(header + 30);
    if (le16(header + 28) != 0xFFFE || (shift != 9 && shift != 12)) {
        return damaged(kPlace, "bad header");
    }
    Sectors sectors(source, 1u << shift);
    std::uint32_t fatSectorCount = le32(header + 44);
    std::uint32_t firstDirectory = le32(header + 48);
    std::uint32_t firstDifat = le32(header + 68);
    std::uint32_t difatCount = le32(header + 72);
    if (fatSectorCount > sectors.count()) {
        return damaged(kPlace, "more allocation sectors than the file holds");
    }

    // The sectors that hold the allocation table: 109 in the header, the rest in a chain.
    std::vector<std::uint32_t> fat;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fat.size() < fatSectorCount; ++i) {
        fat.push_back(le32(header + 76 + 4 * i));
    }
    std::vector<std::uint8_t> sector;
    std::uint32_t difat = firstDifat;
    std::vector<bool> seen(std::size_t(sectors.count()), false);
    std::uint32_t perSector = sectors.bytes() / 4;
    for (std::uint32_t n = 0; fat.size() < fatSectorCount && n < difatCount; ++n) {
        if (difat >= sectors.count() || seen[difat]) {
            return damaged(kPlace, "the allocation chain is broken or loops");
        }
        seen[difat] = true;
        if (!sectors.read(difat, sector)) {
            return damaged(kPlace, "unexpected end of data");
        }
        for (std::uint32_t i = 0; i + 1 < perSector && fat.size() < fatSectorCount; ++i) {
            fat.push_back(le32(sector.data() + 4 * i));
        }
        difat = le32(sector.data() + 4 * (perSector - 1));
    }

    auto next = [&](std::uint32_t s, std::uint32_t& out) {
        std::uint64_t slot = s / perSector;
        if (slot >= fat.size() || fat[slot] >= sectors.count()) {
            return false;
        }
        std::uint8_t entry[4];
        std::uint64_t offset =
            (std::uint64_t(fat[slot]) + 1) * sectors.bytes() + 4 * (s % perSector);
        if (!source.read(offset, entry, 4)) {
            return false;
        }
        out = le32(entry);
        return true;
    };

    CompoundFile file;
    std::fill(seen.begin(), seen.end(), false);
    std::uint32_t s = firstDirectory;
    while (s != kEndOfChain) {
        if (s > kMaxRegularSector || s >= sectors.count() || seen[s]) {
            return damaged(kPlace, s == kFreeSector || s >= sectors.count()
                                       ? "the directory chain points outside the file"
                                       : "the directory chain loops");
        }
        seen[s] = true;
        if (!sectors.read(s, sector)) {
            return damaged(kPlace, "unexpected end of data");
        }
        for (std::size_t at = 0; at + kDirectoryEntryBytes <= sector.size();
             at += kDirectoryEntryBytes) {
            const std::uint8_t* e = sector.data() + at;
            int type = e[66];
            if (type == 0) {
                continue;
            }
            if (file.m_entries.size() >= kMaxCompoundDirectoryEntries) {
                return tooLarge(kPlace, "too many directory entries");
            }
            std::size_t units = std::min<std::size_t>(le16(e + 64) / 2, 32);
            Entry entry;
            entry.name = utf16Name(e, units);
            entry.type = type;
            entry.size = le32(e + 120);
            file.m_entries.push_back(std::move(entry));
        }
        if (!next(s, s)) {
            return damaged(kPlace, "the directory chain points outside the allocation table");
        }
    }
    if (file.m_entries.empty() || file.m_entries.front().type != 5) {
        return damaged(kPlace, "no root entry");
    }
    return file;
}

bool CompoundFile::hasStream(std::string_view name) const {
    for (const Entry& e : m_entries) {
        if (e.type == 2 && equalFolded(e.name, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace workbook
