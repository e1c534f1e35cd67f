#pragma once

// Generated workbooks for the benchmarks: realistic pictures (photos as JPEG, graphics as PNG)
// written with libxlsxwriter into a folder, and the engine's own list-and-copy road over them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct GeneratedSet {
    std::vector<std::string> paths;
    std::size_t pictures = 0;
    std::size_t largest = 0;
    std::size_t totalBytes = 0;
};

// workbooks x pictures, three pictures to a worksheet, pixel counts spread evenly between the
// two sizes (in megapixels, at 4:3); the same set for the same arguments.
GeneratedSet generateWorkbooks(const std::string& folder, int workbooks, int pictures,
                               double minMegapixels = 0.5, double maxMegapixels = 6.0);

// As generateWorkbooks, but a folder that already holds the complete set is used as it is.
GeneratedSet cachedWorkbooks(const std::string& folder, int workbooks, int pictures,
                             double minMegapixels, double maxMegapixels);

// A small workbook whose pictures all show one highly compressible image of about imageBytes
// (a one-colour BMP), written with libzip: the file stays tiny however many pictures it holds.
void writeSharedImageWorkbook(const std::string& path, int pictures, std::size_t imageBytes);

// The engine's road: create, open, count, select and copy every picture, quit. Returns the
// seconds taken and counts the pictures copied.
double listAndCopy(const std::vector<std::string>& paths, std::size_t& copied);

// A line of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when absent.
long statusKiB(const char* key);
// Hands freed memory back and restarts the peak counter, so VmHWM counts from now.
void resetPeakMemory();

}  // namespace bench
