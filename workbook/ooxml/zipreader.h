#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workbook/bytesink.h"
#include "workbook/problem.h"

struct zip;

namespace workbook {

// A read-only zip archive whose every inflation is bounded: entry count, bytes per entry,
// compression ratio of large entries and the bytes inflated while a workbook is opened.
// Entries are found by part name, case-insensitively and with "\" read as "/".
class ZipReader {
public:
    static Result<std::unique_ptr<ZipReader>> openFile(const std::string& path);
    // The bytes are shared, not copied, and stay alive as long as the reader.
    static Result<std::unique_ptr<ZipReader>> openMemory(
        std::shared_ptr<const std::vector<std::uint8_t>> bytes);
    ~ZipReader();

    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // The entry for a part name (without a leading "/"); an exact match wins over one that
    // differs only in letter case.
    std::optional<std::uint64_t> find(std::string_view partName) const;
    // The entry's name as stored, "\" read as "/".
    const std::string& name(std::uint64_t index) const { return m_names[index]; }
    // The inflated size the central directory claims.
    std::uint64_t declaredSize(std::uint64_t index) const;

    // Whether a read counts towards the budget of opening the workbook.
    enum class Budget { Open, Copy };

    // Whether the entry may be read whole with this cap: its declared size, and the ratio of a
    // large entry, checked before anything is inflated.
    std::optional<Problem> checkSize(std::uint64_t index, std::uint64_t cap) const;

    // Reads the whole entry into the sink, which is asked for exactly its size; fails when the
    // entry is larger than cap or its data do not match its directory record.
    std::optional<Problem> readAll(std::uint64_t index, std::uint64_t cap, Budget budget,
                                   ByteSink& sink);
    // Feeds the entry to consume in chunks until the end or until consume returns false.
    std::optional<Problem> stream(std::uint64_t index, std::uint64_t cap, Budget budget,
                                  const std::function<bool(const char*, std::size_t)>& consume);
    // Up to n bytes from the start of the entry; fewer when it is shorter or damaged.
    std::vector<std::uint8_t> readPrefix(std::uint64_t index, std::size_t n);

private:
    explicit ZipReader(zip* archive);
    static Result<std::unique_ptr<ZipReader>> adopt(zip* archive);
    std::optional<Problem> charge(std::uint64_t index, std::uint64_t bytes, Budget budget);

    zip* m_archive;
    std::shared_ptr<const std::vector<std::uint8_t>> m_memory;
    std::vector<std::string> m_names;
    // Lower-case name -> entries with that name.
    std::unordered_map<std::string, std::vector<std::uint64_t>> m_byFoldedName;
    std::uint64_t m_openInflated = 0;
};

// "\" read as "/", a leading "/" dropped.
std::string normalizedPartName(std::string_view name);
// ASCII letters in lower case; part names compare this way.
std::string asciiLower(std::string_view text);

}  // namespace workbook
