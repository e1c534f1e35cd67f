#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/bytesource.h"
#include "workbook/problem.h"

namespace workbook {

// A compound file (OLE2, [MS-CFB]): its allocation tables and directory, and each stream's
// bytes read through its sector chain on request. Every chain is bounded by the file's size and
// checked for loops; the source must outlive the compound file and its streams.
class CompoundFile {
public:
    static constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

    struct Entry {
        std::string name;  // UTF-8
        int type = 0;      // 0 unused, 1 storage, 2 stream, 5 root
        std::uint32_t left = kNoEntry;
        std::uint32_t right = kNoEntry;
        std::uint32_t child = kNoEntry;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };

    // A stream's bytes; truncated when its chain or the file ends before the size its entry
    // gives, in which case the source holds what is there.
    struct Stream {
        std::unique_ptr<ByteSource> source;
        bool truncated = false;
    };

    static bool hasSignature(const std::uint8_t* head, std::size_t size);
    static Result<CompoundFile> open(ByteSource& source);

    const std::vector<Entry>& entries() const { return m_entries; }
    // A stream of that name anywhere in the directory, compared without regard to case.
    bool hasStream(std::string_view name) const;
    // The stream of that name directly under the root, compared without regard to case; when
    // the root's tree is damaged, any stream of that name.
    std::optional<std::size_t> rootStream(std::string_view name) const;
    Result<Stream> openStream(std::size_t entry) const;

private:
    explicit CompoundFile(ByteSource& source) : m_source(&source) {}
    std::optional<Problem> readFat(const std::uint8_t* header);
    std::optional<Problem> readDirectory(std::uint32_t first);
    std::optional<Problem> readMiniFat(std::uint32_t first, std::uint32_t count);
    // The sectors of the chain from start, as many as hold maxBytes at most.
    Result<std::vector<std::uint32_t>> chain(std::uint32_t start, std::uint64_t maxBytes,
                                             const std::string& what) const;
    std::uint64_t sectorCount() const;

    ByteSource* m_source;
    std::uint32_t m_sectorBytes = 512;
    bool m_version4 = false;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<Entry> m_entries;
};

}  // namespace workbook
