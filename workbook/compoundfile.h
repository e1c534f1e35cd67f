#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/bytesource.h"
#include "workbook/problem.h"

namespace workbook {

// The directory of a compound file (OLE2): enough to tell a password-protected package from a
// binary workbook. Every sector chain is bounded by the file's size and checked for loops.
class CompoundFile {
public:
    struct Entry {
        std::string name;  // UTF-8
        int type = 0;      // 1 storage, 2 stream, 5 root
        std::uint64_t size = 0;
    };

    static bool hasSignature(const std::uint8_t* head, std::size_t size);
    static Result<CompoundFile> open(ByteSource& source);

    const std::vector<Entry>& entries() const { return m_entries; }
    // A stream of that name anywhere in the directory, compared without regard to case.
    bool hasStream(std::string_view name) const;

private:
    std::vector<Entry> m_entries;
};

}  // namespace workbook
