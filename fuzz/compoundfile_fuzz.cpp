// Feeds raw bytes to the compound-file reader: open, look for the workbook stream, read the
// first streams whole. Any crash, read out of bounds, hang or runaway allocation is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/xls/compoundfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
    workbook::MemorySource source(bytes);
    auto file = workbook::CompoundFile::open(source);
    if (!file) {
        return file.problem().describe().empty() ? 1 : 0;
    }
    (void)file.value().rootStream("Workbook");
    const auto& entries = file.value().entries();
    std::vector<std::uint8_t> buffer(4096);
    int opened = 0;
    for (std::size_t i = 0; i < entries.size() && opened < 8; ++i) {
        if (entries[i].type != 2 && entries[i].type != 5) {
            continue;
        }
        ++opened;
        auto stream = file.value().openStream(i);
        if (!stream) {
            continue;
        }
        workbook::ByteSource& s = *stream.value().source;
        // Every byte the stream claims must be readable from the file, and a scattered read
        // of runs cut by the input's own bytes must give the same bytes.
        for (std::uint64_t at = 0; at < s.size(); at += buffer.size()) {
            std::size_t n = std::size_t(std::min<std::uint64_t>(buffer.size(), s.size() - at));
            if (!s.read(at, buffer.data(), n)) {
                __builtin_trap();
            }
            std::vector<std::uint8_t> scattered(n, 0);
            std::vector<workbook::ByteRun> runs;
            for (std::size_t done = 0, k = 0; done < n; ++k) {
                std::size_t take = std::min<std::size_t>(n - done, 1 + data[(at + k) % size] * 7);
                bool skip = k % 3 == 1;
                runs.push_back({skip ? nullptr : scattered.data() + done, take});
                if (skip) {
                    std::copy(buffer.begin() + long(done), buffer.begin() + long(done + take),
                              scattered.begin() + long(done));
                }
                done += take;
            }
            if (!s.readRuns(at, runs.data(), runs.size()) ||
                !std::equal(scattered.begin(), scattered.end(), buffer.begin())) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
