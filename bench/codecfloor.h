#pragma once

// The codec floor of the save benchmarks: the same pictures decoded and encoded by one plain
// libjpeg-turbo/libpng loop, with nothing else around it.
#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct CodecLoop {
    double wallSeconds = 0;
    double cpuSeconds = 0;  // processor time of the decoding and encoding alone
    std::size_t pictures = 0;
    double megapixels = 0;
};

// Every picture in the workbooks' xl/media/ decoded to RGB (PNG transparency onto white) and
// encoded at the quality with 4:2:0 chroma, the JPEG thrown away. The media are read from the
// workbooks untimed, one workbook at a time; only the decoding and encoding are timed.
CodecLoop codecLoop(const std::vector<std::string>& workbooks, int quality = 85);

// Processor time of the calling thread and of the whole process, in seconds.
double threadCpuSeconds();
double processCpuSeconds();

}  // namespace bench
