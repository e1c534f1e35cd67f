#include "workbook/xls/compoundfile.h"

#include <algorithm>
#include <cstring>

#include "workbook/limits.h"
#include "workbook/utf8.h"

namespace workbook {
namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirectoryEntryBytes = 128;
constexpr std::uint32_t kMiniSectorBytes = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr char kPlace[] = "compound file";

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
std::uint64_t le64(const std::uint8_t* p) {
    return std::uint64_t(le32(p)) | (std::uint64_t(le32(p + 4)) << 32);
}

std::string utf16Name(const std::uint8_t* p, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = le16(p + 2 * i);
        if (c == 0) {
            break;
        }
        // Lone surrogates are kept as their own code points; the name is only compared.
        appendUtf8(out, c);
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

// A stream held in regular sectors, read through its chain; sectors that follow each other in
// the file are read in one go.
class ChainSource : public ByteSource {
public:
    ChainSource(ByteSource& file, std::uint32_t sectorBytes, std::vector<std::uint32_t> sectors,
                std::uint64_t size)
        : m_file(file), m_sectorBytes(sectorBytes), m_sectors(std::move(sectors)), m_size(size) {}

    std::uint64_t size() const override { return m_size; }

    bool read(std::uint64_t offset, void* out, std::size_t n) override {
        if (offset > m_size || n > m_size - offset) {
            return false;
        }
        auto* to = static_cast<std::uint8_t*>(out);
        while (n > 0) {
            std::size_t index = std::size_t(offset / m_sectorBytes);
            std::uint64_t within = offset % m_sectorBytes;
            std::uint64_t run = m_sectorBytes - within;
            std::size_t last = index;
            while (run < n && last + 1 < m_sectors.size() &&
                   m_sectors[last + 1] == m_sectors[last] + 1) {
                ++last;
                run += m_sectorBytes;
            }
            std::size_t take = std::size_t(std::min<std::uint64_t>(run, n));
            std::uint64_t at = (std::uint64_t(m_sectors[index]) + 1) * m_sectorBytes + within;
            if (!m_file.read(at, to, take)) {
                return false;
            }
            to += take;
            offset += take;
            n -= take;
        }
        return true;
    }

    // The runs go to the file in stretches of sectors that follow each other there.
    bool readRuns(std::uint64_t offset, const ByteRun* runs, std::size_t count) override {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < count; ++i) {
            total += runs[i].size;
        }
        if (offset > m_size || total > m_size - offset) {
            return false;
        }
        std::vector<ByteRun> batch;
        std::uint64_t batchAt = 0, batchEnd = 0;
        auto flush = [&] {
            bool ok = batch.empty() || m_file.readRuns(batchAt, batch.data(), batch.size());
            batch.clear();
            return ok;
        };
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t done = 0; done < runs[i].size;) {
                std::size_t index = std::size_t(offset / m_sectorBytes);
                std::uint64_t within = offset % m_sectorBytes;
                std::uint64_t extent = m_sectorBytes - within;
                std::size_t last = index;
                while (extent < runs[i].size - done && last + 1 < m_sectors.size() &&
                       m_sectors[last + 1] == m_sectors[last] + 1) {
                    ++last;
                    extent += m_sectorBytes;
                }
                std::size_t take =
                    std::size_t(std::min<std::uint64_t>(extent, runs[i].size - done));
                std::uint64_t at = (std::uint64_t(m_sectors[index]) + 1) * m_sectorBytes + within;
                if (!batch.empty() && at != batchEnd && !flush()) {
                    return false;
                }
                if (batch.empty()) {
                    batchAt = at;
                }
                batch.push_back({runs[i].to != nullptr ? runs[i].to + done : nullptr, take});
                batchEnd = at + take;
                offset += take;
                done += take;
            }
        }
        return flush();
    }

private:
    ByteSource& m_file;
    std::uint32_t m_sectorBytes;
    std::vector<std::uint32_t> m_sectors;
    std::uint64_t m_size;
};

}  // namespace

bool CompoundFile::hasSignature(const std::uint8_t* head, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(head, kSignature, sizeof kSignature) == 0;
}

std::uint64_t CompoundFile::sectorCount() const {
    // Sector n lies at (n + 1) * size; a last sector cut short still counts.
    std::uint64_t size = m_source->size();
    return size > m_sectorBytes ? (size - 1) / m_sectorBytes : 0;
}

Result<CompoundFile> CompoundFile::open(ByteSource& source) {
    std::uint8_t header[512];
    if (!source.read(0, header, sizeof header)) {
        return damaged(kPlace, "the header is cut short");
    }
    if (!hasSignature(header, sizeof header)) {
        return Problem{ProblemKind::NotAWorkbook, "", "not a compound file"};
    }
    std::uint16_t major = le16(header + 26);
    std::uint16_t shift = le16(header + 30);
    if (le16(header + 28) != 0xFFFE ||
        !((major == 3 && shift == 9) || (major == 4 && shift == 12)) || le16(header + 32) != 6 ||
        le32(header + 56) != kMiniStreamCutoff) {
        return damaged(kPlace, "bad header");
    }
    CompoundFile file(source);
    file.m_sectorBytes = 1u << shift;
    file.m_version4 = major == 4;
    if (auto problem = file.readFat(header)) {
        return *problem;
    }
    if (auto problem = file.readDirectory(le32(header + 48))) {
        return *problem;
    }
    if (auto problem = file.readMiniFat(le32(header + 60), le32(header + 64))) {
        return *problem;
    }
    return file;
}

std::optional<Problem> CompoundFile::readFat(const std::uint8_t* header) {
    const std::uint64_t count = sectorCount();
    const std::uint32_t perSector = m_sectorBytes / 4;
    // The table needs one entry per sector of the file; further table sectors are never
    // consulted, so a header claiming more cannot make the reader hold more.
    const std::uint64_t needed = (count + perSector - 1) / perSector;
    const std::uint64_t wanted = std::min<std::uint64_t>(le32(header + 44), needed);

    std::vector<std::uint32_t> fatSectors;
    auto take = [&](std::uint32_t s) {
        if (s != kFreeSector && fatSectors.size() < wanted) {
            fatSectors.push_back(s);
        }
    };
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) {
        take(le32(header + 76 + 4 * i));
    }
    std::vector<std::uint8_t> sector(m_sectorBytes);
    std::vector<bool> seen(std::size_t(count), false);
    std::uint32_t difat = le32(header + 68);
    std::uint32_t difatCount = le32(header + 72);
    for (std::uint32_t n = 0; fatSectors.size() < wanted && n < difatCount; ++n) {
        if (difat == kEndOfChain || difat == kFreeSector) {
            break;
        }
        if (difat >= count || seen[difat]) {
            return damaged(kPlace, "the chain of allocation sectors loops or leaves the file");
        }
        seen[difat] = true;
        if (!m_source->read((std::uint64_t(difat) + 1) * m_sectorBytes, sector.data(),
                            std::size_t(std::min<std::uint64_t>(
                                m_sectorBytes,
                                m_source->size() - (std::uint64_t(difat) + 1) * m_sectorBytes)))) {
            return damaged(kPlace, "unexpected end of data");
        }
        for (std::uint32_t i = 0; i + 1 < perSector; ++i) {
            take(le32(sector.data() + 4 * i));
        }
        difat = le32(sector.data() + 4 * (perSector - 1));
    }

    // Table sectors usually follow each other in the file: runs of them are read in one go.
    m_fat.reserve(fatSectors.size() * perSector);
    std::vector<std::uint8_t> run;
    for (std::size_t i = 0; i < fatSectors.size();) {
        std::size_t n = 1;
        while (i + n < fatSectors.size() && n < 256 && fatSectors[i + n] == fatSectors[i] + n) {
            ++n;
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (fatSectors[i + k] >= count) {
                return damaged(kPlace, "an allocation sector lies outside the file");
            }
        }
        std::uint64_t at = (std::uint64_t(fatSectors[i]) + 1) * m_sectorBytes;
        // The last sector of the file may be cut short; what is missing reads as free.
        run.assign(n * m_sectorBytes, 0xFF);
        std::size_t bytes = std::size_t(std::min<std::uint64_t>(run.size(), m_source->size() - at));
        if (!m_source->read(at, run.data(), bytes)) {
            return damaged(kPlace, "unexpected end of data");
        }
        for (std::size_t k = 0; k < run.size(); k += 4) {
            m_fat.push_back(le32(run.data() + k));
        }
        i += n;
    }
    return std::nullopt;
}

Result<std::vector<std::uint32_t>> CompoundFile::chain(std::uint32_t start, std::uint64_t maxBytes,
                                                       const std::string& what) const {
    const std::uint64_t count = sectorCount();
    // The chain can lead back into itself: the walk stops after as many sectors as the file
    // has, and a sector met twice ends it as damaged.
    std::vector<bool> seen(std::size_t(count), false);
    std::vector<std::uint32_t> sectors;
    std::uint32_t s = start;
    while (s != kEndOfChain && std::uint64_t(sectors.size()) * m_sectorBytes < maxBytes) {
        if (s >= count || s > kMaxRegularSector) {
            return damaged(kPlace, "the chain of " + what + " leaves the file");
        }
        if (seen[s]) {
            return damaged(kPlace, "the chain of " + what + " loops");
        }
        seen[s] = true;
        sectors.push_back(s);
        if (s >= m_fat.size()) {
            return damaged(kPlace, "the chain of " + what + " leaves the allocation table");
        }
        s = m_fat[s];
    }
    return sectors;
}

std::optional<Problem> CompoundFile::readDirectory(std::uint32_t first) {
    auto sectors = chain(first, std::uint64_t(kMaxCompoundDirectoryEntries) * kDirectoryEntryBytes,
                         "the directory");
    if (!sectors) {
        return sectors.problem();
    }
    if (sectors.value().size() * (m_sectorBytes / kDirectoryEntryBytes) >
        kMaxCompoundDirectoryEntries) {
        return tooLarge(kPlace, "more than " + std::to_string(kMaxCompoundDirectoryEntries) +
                                    " directory entries");
    }
    ChainSource directory(*m_source, m_sectorBytes, sectors.value(),
                          std::uint64_t(sectors.value().size()) * m_sectorBytes);
    std::uint8_t e[kDirectoryEntryBytes];
    for (std::uint64_t at = 0; at + kDirectoryEntryBytes <= directory.size();
         at += kDirectoryEntryBytes) {
        if (!directory.read(at, e, sizeof e)) {
            // A directory sector cut off by the end of the file: its entries are not there.
            break;
        }
        Entry entry;
        entry.type = e[66];
        if (entry.type == 1 || entry.type == 2 || entry.type == 5) {
            // The length counts the terminator; a bad one falls back on the terminator alone.
            std::size_t bytes = le16(e + 64);
            std::size_t units = bytes % 2 == 0 && bytes <= 64 ? bytes / 2 : 32;
            entry.name = utf16Name(e, units);
            entry.left = le32(e + 68);
            entry.right = le32(e + 72);
            entry.child = le32(e + 76);
            entry.start = le32(e + 116);
            // Old writers left garbage in the high half of the size in version 3 files.
            entry.size = m_version4 ? le64(e + 120) : le32(e + 120);
        } else {
            entry.type = 0;
        }
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty() || m_entries.front().type != 5) {
        return damaged(kPlace, "no root entry");
    }
    return std::nullopt;
}

std::optional<Problem> CompoundFile::readMiniFat(std::uint32_t first, std::uint32_t count) {
    if (first == kEndOfChain || count == 0) {
        return std::nullopt;
    }
    // The table needs no more entries than the mini stream has sectors.
    std::uint64_t miniSectors = (m_entries.front().size + kMiniSectorBytes - 1) / kMiniSectorBytes;
    auto sectors =
        chain(first, std::min<std::uint64_t>(miniSectors * 4, std::uint64_t(count) * m_sectorBytes),
              "the mini allocation table");
    if (!sectors) {
        return sectors.problem();
    }
    ChainSource table(*m_source, m_sectorBytes, sectors.value(),
                      std::uint64_t(sectors.value().size()) * m_sectorBytes);
    std::vector<std::uint8_t> bytes(std::size_t(table.size()));
    if (!table.read(0, bytes.data(), bytes.size())) {
        return damaged(kPlace, "the mini allocation table is cut short");
    }
    m_miniFat.resize(bytes.size() / 4);
    for (std::size_t i = 0; i < m_miniFat.size(); ++i) {
        m_miniFat[i] = le32(bytes.data() + 4 * i);
    }
    return std::nullopt;
}

bool CompoundFile::hasStream(std::string_view name) const {
    for (const Entry& e : m_entries) {
        if (e.type == 2 && equalFolded(e.name, name)) {
            return true;
        }
    }
    return false;
}

std::optional<std::size_t> CompoundFile::rootStream(std::string_view name) const {
    // The root's children form a tree over left and right siblings; it is walked whole, with a
    // visited set, rather than searched by its ordering.
    std::vector<bool> seen(m_entries.size(), false);
    std::vector<std::uint32_t> pending = {m_entries.front().child};
    bool damagedTree = false;
    std::optional<std::size_t> found;
    while (!pending.empty()) {
        std::uint32_t i = pending.back();
        pending.pop_back();
        if (i == kNoEntry) {
            continue;
        }
        if (i >= m_entries.size() || seen[i] || m_entries[i].type == 0) {
            damagedTree = true;
            continue;
        }
        seen[i] = true;
        const Entry& e = m_entries[i];
        if (e.type == 2 && equalFolded(e.name, name) && !found) {
            found = i;
        }
        pending.push_back(e.left);
        pending.push_back(e.right);
    }
    if (found || !damagedTree) {
        return found;
    }
    for (std::size_t i = 1; i < m_entries.size(); ++i) {
        if (m_entries[i].type == 2 && equalFolded(m_entries[i].name, name)) {
            return i;
        }
    }
    return std::nullopt;
}

Result<CompoundFile::Stream> CompoundFile::openStream(std::size_t index) const {
    const Entry& entry = m_entries.at(index);
    const std::string what = "stream " + entry.name;
    Stream stream;
    if (entry.size >= kMiniStreamCutoff || entry.type == 5) {
        auto sectors = chain(entry.start, entry.size, what);
        if (!sectors) {
            return sectors.problem();
        }
        std::uint64_t size = std::uint64_t(sectors.value().size()) * m_sectorBytes;
        // The file may end inside its last sector; wherever that sector falls in the chain,
        // the stream's readable bytes end there.
        for (std::size_t i = 0; i < sectors.value().size(); ++i) {
            std::uint64_t end = (std::uint64_t(sectors.value()[i]) + 2) * m_sectorBytes;
            if (end > m_source->size()) {
                size = std::min(size, i * std::uint64_t(m_sectorBytes) + m_sectorBytes -
                                          (end - m_source->size()));
            }
        }
        stream.truncated = size < entry.size;
        size = std::min(size, entry.size);
        stream.source = std::make_unique<ChainSource>(*m_source, m_sectorBytes,
                                                      std::move(sectors.value()), size);
        return stream;
    }

    // A small stream lives in 64-byte sectors of the mini stream, itself the root's data.
    auto mini = openStream(0);
    if (!mini) {
        return mini.problem();
    }
    ByteSource& container = *mini.value().source;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    std::vector<bool> seen(m_miniFat.size(), false);
    std::uint32_t s = entry.start;
    while (bytes->size() < entry.size && s != kEndOfChain) {
        if (s >= m_miniFat.size() || seen[s]) {
            return damaged(kPlace, "the mini chain of " + what + " loops or leaves the table");
        }
        seen[s] = true;
        std::uint64_t at = std::uint64_t(s) * kMiniSectorBytes;
        std::size_t n =
            std::size_t(std::min<std::uint64_t>(kMiniSectorBytes, entry.size - bytes->size()));
        if (at + n > container.size()) {
            return damaged(kPlace, "the mini chain of " + what + " leaves the mini stream");
        }
        std::size_t old = bytes->size();
        bytes->resize(old + n);
        if (!container.read(at, bytes->data() + old, n)) {
            return damaged(kPlace, "unexpected end of data");
        }
        s = m_miniFat[s];
    }
    stream.truncated = bytes->size() < entry.size;
    stream.source = std::make_unique<MemorySource>(std::move(bytes));
    return stream;
}

}  // namespace workbook
