#include "builders/cfbbuilder.h"

#include <algorithm>

namespace testing_support {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kMini = 64;
constexpr std::size_t kCutoff = 4096;
constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;

std::size_t sectorsFor(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit;
}

}  // namespace

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = std::uint8_t(value);
    bytes[at + 1] = std::uint8_t(value >> 8);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    put16(bytes, at, std::uint16_t(value));
    put16(bytes, at + 2, std::uint16_t(value >> 16));
}

CfbBuilder& CfbBuilder::fatSectorsInHeader(std::size_t n) {
    m_headerFat = std::min<std::size_t>(n, 109);
    return *this;
}

CfbBuilder& CfbBuilder::stream(std::string name, std::vector<std::uint8_t> bytes) {
    m_streams.push_back({std::move(name), std::move(bytes)});
    return *this;
}

std::vector<std::uint8_t> CfbBuilder::bytes(CfbLayout* layout) const {
    // Small streams go to the mini stream, one chain of 64-byte sectors each.
    std::vector<std::uint8_t> mini;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> first(m_streams.size(), kEnd);
    std::size_t dataSectors = 0;
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        const auto& s = m_streams[i].bytes;
        if (s.size() >= kCutoff) {
            dataSectors += sectorsFor(s.size(), kSector);
        } else if (!s.empty()) {
            first[i] = std::uint32_t(miniFat.size());
            std::size_t n = sectorsFor(s.size(), kMini);
            for (std::size_t k = 0; k < n; ++k) {
                miniFat.push_back(k + 1 < n ? std::uint32_t(miniFat.size() + 1) : kEnd);
            }
            mini.insert(mini.end(), s.begin(), s.end());
            mini.resize(miniFat.size() * kMini, 0);
        }
    }
    std::size_t dirSectors = sectorsFor((m_streams.size() + 1) * 128, kSector);
    std::size_t miniFatSectors = sectorsFor(miniFat.size() * 4, kSector);
    std::size_t miniSectors = sectorsFor(mini.size(), kSector);
    std::size_t others = dirSectors + miniFatSectors + miniSectors + dataSectors;
    // FAT sectors past those the header lists are listed in DIFAT sectors, 127 to a sector.
    std::size_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > m_headerFat ? sectorsFor(fatSectors - m_headerFat, 127) : 0;
        if (fatSectors * (kSector / 4) >= others + fatSectors + difatSectors) {
            break;
        }
        ++fatSectors;
    }
    std::size_t total = fatSectors + difatSectors + others;
    std::vector<std::uint8_t> out((total + 1) * kSector, 0);
    std::vector<std::uint32_t> fat(fatSectors * (kSector / 4), kFree);
    auto at = [](std::size_t sector) { return (sector + 1) * kSector; };
    std::size_t next = 0;
    // Lays a run of sectors chained one after the other; returns its first sector.
    auto run = [&](std::size_t n, std::uint32_t mark = 0) {
        std::size_t start = next;
        for (std::size_t k = 0; k < n; ++k, ++next) {
            fat[next] = mark != 0 ? mark : k + 1 < n ? std::uint32_t(next + 1) : kEnd;
        }
        return std::uint32_t(n > 0 ? start : kEnd);
    };
    run(fatSectors, kFatSector);
    std::uint32_t difatStart = run(difatSectors, kDifatSector);
    std::uint32_t dirStart = run(dirSectors);
    std::uint32_t miniFatStart = run(miniFatSectors);
    std::uint32_t miniStart = run(miniSectors);
    for (std::size_t i = 0; i < miniFat.size(); ++i) {
        put32(out, at(miniFatStart) + 4 * i, miniFat[i]);
    }
    std::copy(mini.begin(), mini.end(), out.begin() + long(at(miniStart)));
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        const auto& s = m_streams[i].bytes;
        if (s.size() >= kCutoff) {
            first[i] = run(sectorsFor(s.size(), kSector));
            std::copy(s.begin(), s.end(), out.begin() + long(at(first[i])));
        }
    }

    static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(kSignature, kSignature + 8, out.begin());
    put16(out, 0x18, 0x003E);
    put16(out, 0x1A, 3);
    put16(out, 0x1C, 0xFFFE);
    put16(out, 0x1E, 9);
    put16(out, 0x20, 6);
    put32(out, 0x2C, std::uint32_t(fatSectors));
    put32(out, 0x30, dirStart);
    put32(out, 0x38, kCutoff);
    put32(out, 0x3C, miniFatSectors > 0 ? miniFatStart : kEnd);
    put32(out, 0x40, std::uint32_t(miniFatSectors));
    put32(out, 0x44, difatStart);
    put32(out, 0x48, std::uint32_t(difatSectors));
    std::size_t inHeader = std::min(fatSectors, m_headerFat);
    for (std::size_t i = 0; i < 109; ++i) {
        put32(out, 0x4C + 4 * i, i < inHeader ? std::uint32_t(i) : kFree);
    }
    for (std::size_t d = 0; d < difatSectors; ++d) {
        std::size_t base = at(difatStart + d);
        for (std::size_t k = 0; k < 127; ++k) {
            std::size_t fat = inHeader + 127 * d + k;
            put32(out, base + 4 * k, fat < fatSectors ? std::uint32_t(fat) : kFree);
        }
        put32(out, base + 508, d + 1 < difatSectors ? std::uint32_t(difatStart + d + 1) : kEnd);
    }
    for (std::size_t i = 0; i < fat.size(); ++i) {
        put32(out, at(0) + 4 * i, fat[i]);
    }

    // The root's children hang off one another's right sibling: a valid, if lopsided, tree.
    auto entry = [&](std::size_t index, const std::string& name, int type, std::uint32_t right,
                     std::uint32_t child, std::uint32_t start, std::size_t size) {
        std::size_t e = at(dirStart) + 128 * index;
        for (std::size_t c = 0; c < name.size() && c < 31; ++c) {
            put16(out, e + 2 * c, std::uint8_t(name[c]));
        }
        put16(out, e + 0x40, std::uint16_t(2 * (std::min<std::size_t>(name.size(), 31) + 1)));
        out[e + 0x42] = std::uint8_t(type);
        out[e + 0x43] = 1;  // black
        put32(out, e + 0x44, kFree);
        put32(out, e + 0x48, right);
        put32(out, e + 0x4C, child);
        put32(out, e + 0x74, start);
        put32(out, e + 0x78, std::uint32_t(size));
    };
    for (std::size_t i = m_streams.size() + 1; i < dirSectors * 4; ++i) {
        entry(i, "", 0, kFree, kFree, 0, 0);
    }
    entry(0, "Root Entry", 5, kFree, m_streams.empty() ? kFree : 1, mini.empty() ? kEnd : miniStart,
          mini.size());
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        std::uint32_t right = i + 1 < m_streams.size() ? std::uint32_t(i + 2) : kFree;
        entry(i + 1, m_streams[i].name, 2, right, kFree, first[i], m_streams[i].bytes.size());
    }
    if (layout != nullptr) {
        layout->fatOffset = at(0);
        layout->directoryOffset = at(dirStart);
        layout->firstSector = first;
    }
    return out;
}

}  // namespace testing_support
