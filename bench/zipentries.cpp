#include "zipentries.h"

#include <zip.h>

#include <stdexcept>

namespace bench {

std::vector<ZipEntry> readZipEntries(const std::string& path) {
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
    if (archive == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<ZipEntry> entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), 0, &st);
        std::string content(st.size, '\0');
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(file, content.data(), st.size);
        zip_fclose(file);
        entries.push_back({st.name, std::move(content), st.comp_method == ZIP_CM_STORE});
    }
    zip_discard(archive);
    return entries;
}

void writeZipEntries(const std::string& path, const std::vector<ZipEntry>& entries) {
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    if (archive == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    for (const ZipEntry& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.content.data(), e.content.size(), 0);
        zip_int64_t index = zip_file_add(archive, e.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        zip_set_file_compression(archive, zip_uint64_t(index),
                                 e.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(archive) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace bench
