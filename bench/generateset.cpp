// Writes a generated set of workbooks into a folder, for the benchmarks that drive the programs
// from outside (cluster_bench.py); a folder that holds the whole set already is left as it is.
// With --shared, each workbook's pictures all show one small image, so a set of many pictures
// is written in moments (for what costs per picture, not per pixel).
//
// usage: generate_set FOLDER WORKBOOKS PICTURES [MIN_MEGAPIXELS MAX_MEGAPIXELS]
//        generate_set --shared FOLDER WORKBOOKS PICTURES
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "generatedset.h"

namespace {
// The shared image: the smallest the generator writes (one row of 2,048 pixels).
constexpr std::size_t kSharedImageBytes = 6144;
}  // namespace

int main(int argc, char** argv) {
    const bool shared = argc == 5 && std::strcmp(argv[1], "--shared") == 0;
    if (argc != 4 && argc != 6 && !shared) {
        std::fprintf(stderr,
                     "usage: %s FOLDER WORKBOOKS PICTURES [MIN_MP MAX_MP]\n"
                     "       %s --shared FOLDER WORKBOOKS PICTURES\n",
                     argv[0], argv[0]);
        return 2;
    }
    char** a = shared ? argv + 1 : argv;
    const int workbooks = std::max(1, std::atoi(a[2]));
    const int pictures = std::max(1, std::atoi(a[3]));
    std::filesystem::create_directories(a[1]);
    if (shared) {
        for (int w = 0; w < workbooks; ++w) {
            bench::writeSharedImageWorkbook(
                std::string(a[1]) + "/set" + std::to_string(w + 1) + ".xlsx", pictures,
                kSharedImageBytes);
        }
        std::printf("%d workbooks, %d pictures\n", workbooks, workbooks * pictures);
        return 0;
    }
    const double low = argc == 6 ? std::atof(argv[4]) : 0.5;
    const double high = argc == 6 ? std::atof(argv[5]) : 6.0;
    const bench::GeneratedSet set = bench::cachedWorkbooks(a[1], workbooks, pictures, low, high);
    std::printf("%zu workbooks, %zu pictures, %.1f MiB\n", set.paths.size(), set.pictures,
                double(set.totalBytes) / (1 << 20));
    return 0;
}
