#include "codecfloor.h"

#include <png.h>
#include <turbojpeg.h>
#include <zip.h>

#include <chrono>
#include <ctime>

namespace bench {
namespace {

using Bytes = std::vector<unsigned char>;

std::vector<Bytes> mediaOf(const std::string& path) {
    std::vector<Bytes> media;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
    if (archive == nullptr) {
        return media;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        if (std::string(zip_get_name(archive, zip_uint64_t(i), 0)).rfind("xl/media/", 0) != 0) {
            continue;
        }
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), 0, &st);
        Bytes bytes(st.size);
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(file, bytes.data(), st.size);
        zip_fclose(file);
        media.push_back(std::move(bytes));
    }
    zip_discard(archive);
    return media;
}

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

double threadCpuSeconds() {
    return seconds(CLOCK_THREAD_CPUTIME_ID);
}

double processCpuSeconds() {
    return seconds(CLOCK_PROCESS_CPUTIME_ID);
}

CodecLoop codecLoop(const std::vector<std::string>& workbooks, int quality) {
    using Clock = std::chrono::steady_clock;
    tjhandle decompressor = tjInitDecompress(), compressor = tjInitCompress();
    CodecLoop loop;
    Bytes rgb;
    for (const std::string& path : workbooks) {
        for (const Bytes& picture : mediaOf(path)) {
            const Clock::time_point start = Clock::now();
            const double cpu = threadCpuSeconds();
            int width = 0, height = 0;
            if (picture.size() > 3 && picture[0] == 0xFF && picture[1] == 0xD8) {
                int subsampling = 0, colorspace = 0;
                tjDecompressHeader3(decompressor, picture.data(), picture.size(), &width, &height,
                                    &subsampling, &colorspace);
                rgb.resize(std::size_t(width) * std::size_t(height) * 3);
                tjDecompress2(decompressor, picture.data(), picture.size(), rgb.data(), width, 0,
                              height, TJPF_RGB, 0);
            } else {
                png_image image{};
                image.version = PNG_IMAGE_VERSION;
                png_image_begin_read_from_memory(&image, picture.data(), picture.size());
                image.format = PNG_FORMAT_RGB;
                width = int(image.width);
                height = int(image.height);
                rgb.resize(PNG_IMAGE_SIZE(image));
                png_color white{255, 255, 255};
                png_image_finish_read(&image, &white, rgb.data(), 0, nullptr);
            }
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            tjCompress2(compressor, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                        TJSAMP_420, quality, 0);
            tjFree(jpeg);
            loop.cpuSeconds += threadCpuSeconds() - cpu;
            loop.wallSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            ++loop.pictures;
            loop.megapixels += double(width) * double(height) / 1e6;
        }
    }
    tjDestroy(decompressor);
    tjDestroy(compressor);
    return loop;
}

}  // namespace bench
