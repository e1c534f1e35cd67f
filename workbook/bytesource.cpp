#include "workbook/bytesource.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace workbook {

bool ByteSource::readRuns(std::uint64_t offset, const ByteRun* runs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (runs[i].to != nullptr && !read(offset, runs[i].to, runs[i].size)) {
            return false;
        }
        offset += runs[i].size;
    }
    return offset <= size();
}

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
    // Positioned reads straight into the caller's buffer: binary workbooks are read in many
    // small pieces here and there, which a stream buffer would only copy twice.
    auto* to = static_cast<char*>(out);
    while (n > 0) {
        ssize_t got = ::pread(fileno(m_file), to, n, off_t(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        to += got;
        offset += std::uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

}  // namespace workbook

namespace workbook {

bool FileSource::readRuns(std::uint64_t offset, const ByteRun* runs, std::size_t count) {
    // Skipped bytes land in a scratch buffer; runs too long for it are read on their own.
    constexpr std::size_t kScratch = 4096;
    constexpr std::size_t kMostVectors = 512;
    std::uint8_t scratch[kScratch];
    std::size_t i = 0;
    while (i < count) {
        iovec vectors[kMostVectors];
        std::size_t n = 0, bytes = 0;
        for (; i < count && n < kMostVectors; ++i, ++n) {
            if (runs[i].to == nullptr && runs[i].size > kScratch) {
                break;
            }
            vectors[n].iov_base = runs[i].to != nullptr ? runs[i].to : scratch;
            vectors[n].iov_len = runs[i].size;
            bytes += runs[i].size;
        }
        if (n == 0) {
            offset += runs[i++].size;  // a long skip
            continue;
        }
        if (offset > m_size || bytes > m_size - offset) {
            return false;
        }
        ssize_t got = ::preadv(fileno(m_file), vectors, int(n), off_t(offset));
        if (got < 0 || std::size_t(got) != bytes) {
            // Interrupted or short: the plain reads finish the job.
            if (!ByteSource::readRuns(offset, runs + (i - n), n)) {
                return false;
            }
        }
        offset += bytes;
    }
    return offset <= m_size;
}

}  // namespace workbook
