#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Where the parts of a built compound file lie, so that a test can damage them.
struct CfbLayout {
    std::size_t fatOffset = 0;               // the allocation table, one 4-byte entry per sector
    std::size_t directoryOffset = 0;         // 128-byte entries; 0 is the root, streams follow
    std::vector<std::uint32_t> firstSector;  // per stream; mini sectors for small streams
};

// Writes a version 3 compound file (512-byte sectors) with streams under the root, small ones
// in the mini stream, as writers of binary workbooks lay them out.
class CfbBuilder {
public:
    CfbBuilder& stream(std::string name, std::vector<std::uint8_t> bytes);
    // The header lists at most n allocation-table sectors (109 at most); the rest are listed
    // in DIFAT sectors, as in files larger than about 7 MB.
    CfbBuilder& fatSectorsInHeader(std::size_t n);
    std::vector<std::uint8_t> bytes(CfbLayout* layout = nullptr) const;

private:
    struct Stream {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Stream> m_streams;
    std::size_t m_headerFat = 109;
};

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);

}  // namespace testing_support
