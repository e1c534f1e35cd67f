// quillfen-batch over a generated set of realistic pictures, each figure beside a floor measured
// in the same run:
// - "--format original" against "unzip -p" of the same media entries;
// - "--format jpg -j 1" against one in-process loop of libjpeg-turbo/libpng decoding and
//   TurboJPEG encoding of the same pictures (read from the workbooks beforehand, untimed);
// - "-j 2" against "-j 1";
// and the peak memory of each run of the program.
//
// usage: batch_bench [folder] [workbooks=200] [pictures per workbook=10]
// The set is generated into the folder unless it already holds as many workbooks (the first of
// them are taken), so repeated runs share it.
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <zip.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "generatedset.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

struct Timed {
    double seconds = 0;
    double peakMiB = 0;
    int status = 0;
};

// Runs a program to its end with its output thrown away; its time and its peak memory.
Timed runProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The child must not inherit (and print again) what is still buffered here.
    std::fflush(stdout);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            double(usage.ru_maxrss) / 1024, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The floor of "original": unzip writing every media entry of each workbook to nowhere.
Timed unzipMedia(const std::vector<std::string>& paths) {
    Timed total;
    for (const std::string& path : paths) {
        Timed one = runProgram({"/usr/bin/unzip", "-p", path, "xl/media/*"});
        total.seconds += one.seconds;
        total.peakMiB = std::max(total.peakMiB, one.peakMiB);
    }
    return total;
}

std::vector<Bytes> mediaOf(const std::string& path) {
    std::vector<Bytes> media;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
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

// The floor of "jpg": decode to RGB (PNG transparency onto white), encode at quality 85 with
// 4:2:0 chroma, throw the JPEG away. Only the decoding and encoding are timed.
double decodeEncode(const std::vector<std::string>& paths) {
    tjhandle decompressor = tjInitDecompress(), compressor = tjInitCompress();
    double seconds = 0;
    Bytes rgb;
    for (const std::string& path : paths) {
        for (const Bytes& picture : mediaOf(path)) {
            const Clock::time_point start = Clock::now();
            int width = 0, height = 0;
            if (picture.size() > 3 && picture[0] == 0xFF && picture[1] == 0xD8) {
                int subsampling = 0, colorspace = 0;
                tjDecompressHeader3(decompressor, picture.data(), picture.size(), &width, &height,
                                    &subsampling, &colorspace);
                rgb.resize(std::size_t(width) * height * 3);
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
                        TJSAMP_420, 85, 0);
            tjFree(jpeg);
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    tjDestroy(decompressor);
    tjDestroy(compressor);
    return seconds;
}

std::vector<std::string> workbooksIn(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".xlsx") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir scratch;
    const std::string folder = argc > 1 ? argv[1] : scratch.path().toStdString();
    const int workbooks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const int pictures = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths = workbooksIn(folder);
    if (paths.size() >= std::size_t(workbooks)) {
        paths.resize(std::size_t(workbooks));
    } else {
        std::printf("generating %d workbooks with %d pictures each (0.5-6 MP)...\n", workbooks,
                    pictures);
        paths = bench::generateWorkbooks(folder, workbooks, pictures).paths;
    }
    std::uintmax_t stored = 0;
    for (const std::string& path : paths) {
        stored += std::filesystem::file_size(path);
    }
    std::printf("%zu workbooks, %.1f MiB\n", paths.size(), double(stored) / (1 << 20));

    const std::string program =
        QCoreApplication::applicationDirPath().toStdString() + "/quillfen-batch";
    const std::string out = scratch.filePath(QStringLiteral("out")).toStdString();
    auto batch = [&](const std::string& format, const std::string& jobs) {
        std::filesystem::remove_all(out);
        std::vector<std::string> arguments{program, "--quiet", "--format", format,
                                           "-j",    jobs,      "--out",    out};
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        Timed t = runProgram(arguments);
        if (t.status != 0) {
            std::printf("quillfen-batch %s -j %s ended with %d\n", format.c_str(), jobs.c_str(),
                        t.status);
        }
        return t;
    };

    // Each figure is the best of two rounds; the floors run in the same rounds.
    Timed unzip{1e9}, original1{1e9}, original2{1e9}, jpg1{1e9}, jpg2{1e9};
    double loop = 1e9;
    for (int round = 0; round < 2; ++round) {
        auto best = [](Timed& kept, const Timed& now) {
            kept.seconds = std::min(kept.seconds, now.seconds);
            kept.peakMiB = std::max(kept.peakMiB, now.peakMiB);
        };
        best(unzip, unzipMedia(paths));
        best(original1, batch("original", "1"));
        best(original2, batch("original", "2"));
        loop = std::min(loop, decodeEncode(paths));
        best(jpg1, batch("jpg", "1"));
        best(jpg2, batch("jpg", "2"));
    }
    std::printf("original -j 1: %.2f s, unzip -p floor %.2f s, ratio %.2fx (target <= 1.30x)\n",
                original1.seconds, unzip.seconds, original1.seconds / unzip.seconds);
    std::printf("original -j 2: %.2f s, ratio to the floor %.2fx\n", original2.seconds,
                original2.seconds / unzip.seconds);
    std::printf(
        "jpg -j 1: %.2f s, decode+encode loop floor %.2f s, ratio %.2fx "
        "(target <= 1.15x)\n",
        jpg1.seconds, loop, jpg1.seconds / loop);
    std::printf("jpg -j 2: %.2f s, ratio to -j 1 %.2fx (target <= 0.60x)\n", jpg2.seconds,
                jpg2.seconds / jpg1.seconds);
    std::printf(
        "peak memory: original %.0f / %.0f MiB, jpg %.0f / %.0f MiB (-j 1 / -j 2; "
        "target < 150 MiB)\n",
        original1.peakMiB, original2.peakMiB, jpg1.peakMiB, jpg2.peakMiB);
    return 0;
}
