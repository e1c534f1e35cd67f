#include "workbook/ooxml/zipreader.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "workbook/limits.h"

namespace workbook {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFile = std::unique_ptr<zip_file_t, FileCloser>;

std::string folded(std::string_view name) {
    return asciiLower(normalizedPartName(name));
}

// libzip's own words for an error that has no better description here.
std::string zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// libzip's word for what went wrong while reading an entry, as a problem with that entry.
Problem entryProblem(const std::string& place, int code) {
    switch (code) {
        case ZIP_ER_CRC:
            return damaged(place, "checksum mismatch");
        case ZIP_ER_ZLIB:
        case ZIP_ER_COMPRESSED_DATA:
            return damaged(place, "the compressed data are corrupt");
        case ZIP_ER_EOF:
            return damaged(place, "unexpected end of data");
        case ZIP_ER_INCONS:
            return damaged(place, "the entry does not match its directory record");
        case ZIP_ER_COMPNOTSUPP:
            return {ProblemKind::Unsupported, place, "unknown compression method"};
        case ZIP_ER_ENCRNOTSUPP:
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            return {ProblemKind::Encrypted, place, "the entry is encrypted"};
        case ZIP_ER_MEMORY:
            return tooLarge(place, "out of memory");
        case ZIP_ER_READ:
        case ZIP_ER_SEEK:
            return {ProblemKind::Io, place, std::strerror(errno)};
        default:
            break;
    }
    return damaged(place, zipErrorText(code));
}

Problem archiveProblem(int code, int systemError) {
    switch (code) {
        case ZIP_ER_NOZIP:
            return {ProblemKind::NotAWorkbook, "", "not a zip package"};
        case ZIP_ER_OPEN:
        case ZIP_ER_READ:
        case ZIP_ER_SEEK:
            return {ProblemKind::Io, "", std::strerror(systemError)};
        case ZIP_ER_NOENT:
            return {ProblemKind::Io, "", std::strerror(ENOENT)};
        case ZIP_ER_MEMORY:
            return tooLarge("zip directory", "out of memory");
        case ZIP_ER_MULTIDISK:
            return {ProblemKind::Unsupported, "zip directory", "a zip archive split over disks"};
        case ZIP_ER_INCONS:
            return damaged("zip directory", "inconsistent central directory");
        case ZIP_ER_EOF:
            return damaged("zip directory", "unexpected end of data");
        default:
            break;
    }
    return damaged("zip directory", zipErrorText(code));
}

}  // namespace

std::string normalizedPartName(std::string_view name) {
    std::string out(name);
    std::replace(out.begin(), out.end(), '\\', '/');
    std::size_t start = out.find_first_not_of('/');
    return start == std::string::npos ? std::string() : out.substr(start);
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return out;
}

ZipReader::ZipReader(zip* archive) : m_archive(archive) {}

ZipReader::~ZipReader() {
    if (m_archive != nullptr) {
        zip_discard(m_archive);
    }
}

Result<std::unique_ptr<ZipReader>> ZipReader::adopt(zip* archive) {
    std::unique_ptr<ZipReader> reader(new ZipReader(archive));
    zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0) {
        return damaged("zip directory", "unreadable entry count");
    }
    if (std::uint64_t(count) > kMaxZipEntries) {
        return tooLarge("zip directory", std::to_string(count) + " entries");
    }
    reader->m_names.reserve(std::size_t(count));
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        const char* raw = zip_get_name(archive, i, ZIP_FL_ENC_GUESS);
        std::string name = raw != nullptr ? normalizedPartName(raw) : std::string();
        reader->m_names.push_back(name);
        // Directory entries ("xl/media/") are not parts.
        if (name.empty() || name.back() == '/') {
            continue;
        }
        reader->m_byFoldedName[folded(name)].push_back(i);
    }
    return reader;
}

Result<std::unique_ptr<ZipReader>> ZipReader::openFile(const std::string& path) {
    int code = 0;
    errno = 0;
    zip* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    int systemError = errno;
    if (archive == nullptr) {
        return archiveProblem(code, systemError);
    }
    return adopt(archive);
}

Result<std::unique_ptr<ZipReader>> ZipReader::openMemory(
    std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes->data(), bytes->size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return tooLarge("zip directory", "out of memory");
    }
    zip* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        int code = zip_error_code_zip(&error);
        int systemError = zip_error_code_system(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        return archiveProblem(code, systemError);
    }
    zip_error_fini(&error);
    auto reader = adopt(archive);
    if (reader) {
        reader.value()->m_memory = std::move(bytes);
    }
    return reader;
}

std::optional<std::uint64_t> ZipReader::find(std::string_view partName) const {
    std::string wanted = normalizedPartName(partName);
    auto it = m_byFoldedName.find(folded(wanted));
    if (it == m_byFoldedName.end()) {
        return std::nullopt;
    }
    for (std::uint64_t index : it->second) {
        if (m_names[index] == wanted) {
            return index;
        }
    }
    return it->second.front();
}

std::uint64_t ZipReader::declaredSize(std::uint64_t index) const {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_archive, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
        return 0;
    }
    return st.size;
}

std::optional<Problem> ZipReader::checkSize(std::uint64_t index, std::uint64_t cap) const {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_archive, index, 0, &st) != 0) {
        return damaged(m_names[index], "unreadable directory record");
    }
    if ((st.valid & ZIP_STAT_SIZE) && st.size > cap) {
        return tooLarge(m_names[index],
                        "more than " + std::to_string(cap >> 20) + " MiB when inflated");
    }
    if ((st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_COMP_SIZE) &&
        st.size >= kRatioCheckMinBytes &&
        st.size / std::max<std::uint64_t>(st.comp_size, 1) > kMaxCompressionRatio) {
        return tooLarge(m_names[index],
                        "compressed more than " + std::to_string(kMaxCompressionRatio) + " to 1");
    }
    return std::nullopt;
}

std::optional<Problem> ZipReader::charge(std::uint64_t index, std::uint64_t bytes, Budget budget) {
    if (budget != Budget::Open) {
        return std::nullopt;
    }
    m_openInflated += bytes;
    if (m_openInflated > kMaxOpenInflatedBytes) {
        return tooLarge(m_names[index], "more than " + std::to_string(kMaxOpenInflatedBytes >> 30) +
                                            " GiB to inflate in all");
    }
    return std::nullopt;
}

std::optional<Problem> ZipReader::readAll(std::uint64_t index, std::uint64_t cap, Budget budget,
                                          ByteSink& sink) {
    if (auto problem = checkSize(index, cap)) {
        return problem;
    }
    std::uint64_t size = declaredSize(index);
    if (auto problem = charge(index, size, budget)) {
        return problem;
    }
    ZipFile file(zip_fopen_index(m_archive, index, 0));
    if (!file) {
        return entryProblem(m_names[index], zip_error_code_zip(zip_get_error(m_archive)));
    }
    std::uint8_t* out = sink.allocate(std::size_t(size));
    std::uint64_t done = 0;
    while (done < size) {
        std::uint64_t want = std::min<std::uint64_t>(size - done, 1u << 20);
        zip_int64_t got = zip_fread(file.get(), out + done, want);
        if (got < 0) {
            return entryProblem(m_names[index], zip_error_code_zip(zip_file_get_error(file.get())));
        }
        if (got == 0) {
            return damaged(m_names[index], "unexpected end of data");
        }
        done += std::uint64_t(got);
    }
    // The directory record may understate the size; the data must end where it says.
    std::uint8_t extra;
    zip_int64_t got = zip_fread(file.get(), &extra, 1);
    if (got < 0) {
        return entryProblem(m_names[index], zip_error_code_zip(zip_file_get_error(file.get())));
    }
    if (got > 0) {
        return damaged(m_names[index], "the data run past the size in the directory");
    }
    return std::nullopt;
}

std::optional<Problem> ZipReader::stream(
    std::uint64_t index, std::uint64_t cap, Budget budget,
    const std::function<bool(const char*, std::size_t)>& consume) {
    if (auto problem = checkSize(index, cap)) {
        return problem;
    }
    std::uint64_t size = declaredSize(index);
    ZipFile file(zip_fopen_index(m_archive, index, 0));
    if (!file) {
        return entryProblem(m_names[index], zip_error_code_zip(zip_get_error(m_archive)));
    }
    std::vector<char> chunk(kChunkBytes);
    std::uint64_t done = 0;
    for (;;) {
        zip_int64_t got = zip_fread(file.get(), chunk.data(), chunk.size());
        if (got < 0) {
            return entryProblem(m_names[index], zip_error_code_zip(zip_file_get_error(file.get())));
        }
        if (got == 0) {
            break;
        }
        done += std::uint64_t(got);
        if (done > size) {
            return damaged(m_names[index], "the data run past the size in the directory");
        }
        if (auto problem = charge(index, std::uint64_t(got), budget)) {
            return problem;
        }
        if (!consume(chunk.data(), std::size_t(got))) {
            return std::nullopt;
        }
    }
    if (done < size) {
        return damaged(m_names[index], "unexpected end of data");
    }
    return std::nullopt;
}

std::vector<std::uint8_t> ZipReader::readPrefix(std::uint64_t index, std::size_t n) {
    std::vector<std::uint8_t> out;
    if (checkSize(index, kMaxMediaBytes)) {
        return out;
    }
    n = std::size_t(std::min<std::uint64_t>(n, declaredSize(index)));
    if (charge(index, n, Budget::Open)) {
        return out;
    }
    ZipFile file(zip_fopen_index(m_archive, index, 0));
    if (!file) {
        return out;
    }
    out.resize(n);
    std::size_t done = 0;
    while (done < n) {
        zip_int64_t got = zip_fread(file.get(), out.data() + done, n - done);
        if (got <= 0) {
            break;
        }
        done += std::size_t(got);
    }
    out.resize(done);
    return out;
}

}  // namespace workbook
