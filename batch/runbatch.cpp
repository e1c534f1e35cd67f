#include "batch/runbatch.h"

#include <QFile>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "batch/batchlist.h"
#include "batch/extraction.h"
#include "batch/inputpaths.h"
#include "batch/manifest.h"
#include "batch/options.h"
#include "batch/pathtext.h"

#ifndef QUILLFEN_VERSION
#define QUILLFEN_VERSION "unknown"
#endif

namespace batch {
namespace {

std::vector<std::string> givenPaths(const Options& options, std::istream* in) {
    std::vector<std::string> paths;
    bool stdinRead = false;
    for (const std::string& path : options.paths) {
        if (path != "-") {
            paths.push_back(path);
        } else if (!stdinRead && in) {
            stdinRead = true;
            const std::string text{std::istreambuf_iterator<char>(*in),
                                   std::istreambuf_iterator<char>()};
            for (std::string& listed : splitPathList(text)) {
                paths.push_back(std::move(listed));
            }
        }
    }
    return paths;
}

int extract(const Options& options, const std::vector<std::string>& workbooks,
            const Console& console) {
    const auto start = std::chrono::steady_clock::now();
    std::error_code error;
    std::filesystem::create_directories(options.outFolder, error);
    if (error || !std::filesystem::is_directory(options.outFolder)) {
        console.err << "quillfen-batch: cannot make the output folder '"
                    << displayText(options.outFolder)
                    << "': " << (error ? error.message() : "it is not a folder") << "\n";
        return kExitFailed;
    }
    std::optional<ManifestWriter> manifest;
    if (options.manifestFormat != ManifestFormat::None) {
        manifest.emplace(options.manifest, options.manifestFormat);
        if (!manifest->error().empty()) {
            console.err << "quillfen-batch: cannot write the manifest '"
                        << displayText(options.manifest) << "': " << manifest->error() << "\n";
            return kExitFailed;
        }
    }
    ExtractionSettings settings;
    settings.outFolder = QString::fromStdString(options.outFolder);
    settings.format = options.format;
    settings.quality = options.quality;
    settings.jobs =
        options.jobs > 0 ? options.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    settings.manifest = manifest ? &*manifest : nullptr;
    settings.progress = console.errIsTerminal && !options.quiet;
    Tally tally = extractPictures(workbooks, settings, console.err, console.interruptSignal);

    bool manifestFailed = false;
    if (manifest) {
        if (std::string failed = manifest->finish(); !failed.empty()) {
            console.err << "quillfen-batch: cannot write the manifest '"
                        << displayText(options.manifest) << "': " << failed << "\n";
            manifestFailed = true;
        }
    }
    if (!options.quiet) {
        console.err << summaryText(tally, settings.outFolder,
                                   std::chrono::steady_clock::now() - start);
    }
    if (tally.interrupted) {
        const int signal = console.interruptSignal ? console.interruptSignal->load() : 0;
        return signal > 0 ? 128 + signal : kExitInterrupted;
    }
    const bool allWritten = tally.workbooksFailed == 0 && tally.workbooksDamaged == 0 &&
                            tally.picturesSkipped() == 0 && !manifestFailed;
    return allWritten ? kExitOk : kExitFailed;
}

}  // namespace

int runBatch(const std::vector<std::string>& arguments, const Console& console) {
    std::string error;
    const Options options = parseOptions(arguments, &error);
    if (!error.empty()) {
        console.err << "quillfen-batch: " << error << "\n" << usageText();
        return kExitUsage;
    }
    if (options.help) {
        console.out << helpText();
        return kExitOk;
    }
    if (options.version) {
        console.out << "quillfen-batch " << QUILLFEN_VERSION << "\n";
        return kExitOk;
    }
    if (!isUtf8(options.outFolder)) {
        // Output paths are made as text, which cannot hold such a name.
        console.err << "quillfen-batch: the output folder's name is not valid UTF-8: "
                    << displayText(options.outFolder) << "\n";
        return kExitUsage;
    }
    const std::vector<std::string> workbooks = workbookPaths(givenPaths(options, console.in));
    if (options.list) {
        return runList(workbooks, options.json, console.out, console.err);
    }
    return extract(options, workbooks, console);
}

int runBatch(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    return runBatch(arguments, Console{.out = out, .err = err});
}

}  // namespace batch
