#include "xlsset.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "builders/biffbuilder.h"
#include "workbook/bytesource.h"
#include "workbook/workbook.h"
#include "workbook/xls/compoundfile.h"

namespace bench {

GeneratedSet convertToXls(const GeneratedSet& xlsx, const std::string& folder, int copies) {
    GeneratedSet out;
    for (std::size_t w = 0; w < xlsx.paths.size(); ++w) {
        auto opened = workbook::openWorkbook(xlsx.paths[w]);
        if (!opened) {
            throw std::runtime_error(opened.problem().describe());
        }
        workbook::Workbook& book = *opened.value();
        testing_support::BiffBuilder builder;
        std::uint32_t pib = 0;
        for (std::size_t s = 0; s < book.worksheets().size(); ++s) {
            builder.worksheet(book.worksheets()[s].name);
            for (std::size_t p = 0; p < book.worksheets()[s].pictures.size(); ++p) {
                std::vector<std::uint8_t> bytes = book.readPictureBytes(s, p).value();
                bool png = book.worksheets()[s].pictures[p].format == workbook::ImageFormat::Png;
                out.largest = std::max(out.largest, bytes.size());
                out.totalBytes += bytes.size() * std::size_t(copies);
                out.pictures += std::size_t(copies);
                builder.blip(png ? builder.kPng : builder.kJpeg, std::move(bytes));
                builder.picture(++pib, 1, int(p) * 20);
            }
        }
        std::vector<std::uint8_t> file = builder.xls();
        for (int c = 0; c < copies; ++c) {
            std::string path =
                folder + "/set" + std::to_string(w + 1) + "-" + std::to_string(c + 1) + ".xls";
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
            out.paths.push_back(path);
        }
    }
    return out;
}

double readWorkbookStreams(const std::vector<std::string>& paths) {
    // One buffer for every round, so that only the reads are timed, not fresh pages.
    static std::vector<std::uint8_t> buffer;
    auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) {
        auto source = workbook::FileSource::open(path);
        auto file = workbook::CompoundFile::open(*source.value());
        auto stream = file.value().openStream(*file.value().rootStream("Workbook"));
        workbook::ByteSource& bytes = *stream.value().source;
        buffer.resize(std::size_t(bytes.size()));
        bytes.read(0, buffer.data(), buffer.size());
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench
