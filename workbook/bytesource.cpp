#include "workbook/bytesource.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace workbook {

bool MemorySource::read(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > m_bytes->size() || n > m_bytes->size() - offset) {
        return false;
    }
    if (n > 0) {
        std::memcpy(out, m_bytes->data() + offset, n);
    }
    return true;
}

Result<std::unique_ptr<FileSource>> FileSource::open(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return Problem{ProblemKind::Io, "", std::strerror(errno)};
    }
    if (S_ISDIR(st.st_mode)) {
        return Problem{ProblemKind::Io, "", "it is a folder"};
    }
    // A pipe or device would block or never end.
    if (!S_ISREG(st.st_mode)) {
        return Problem{ProblemKind::Io, "", "it is not a regular file"};
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return Problem{ProblemKind::Io, "", std::strerror(errno)};
    }
    return std::unique_ptr<FileSource>(new FileSource(file, std::uint64_t(st.st_size)));
}

FileSource::~FileSource() {
    std::fclose(m_file);
}

bool FileSource::read(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > m_size || n > m_size - offset) {
        return false;
    }
    if (fseeko(m_file, off_t(offset), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(out, 1, n, m_file) == n;
}

}  // namespace workbook
