#include "batch/runbatch.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QFile>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "batch/batchlist.h"
#include "batch/extraction.h"
#include "batch/inputpaths.h"
#include "batch/manifest.h"
#include "batch/merge.h"
#include "batch/options.h"
#include "batch/partrecord.h"
#include "batch/pathtext.h"
#include "platform/folderwalk.h"

#ifndef QUILLFEN_VERSION
#define QUILLFEN_VERSION "unknown"
#endif

namespace batch {
namespace {

std::vector<std::string> givenPaths(const Options& options, std::istream* in,
                                    const std::function<bool()>& interrupted) {
    std::vector<std::string> paths;
    bool stdinRead = false;
    for (const std::string& path : options.paths) {
        if (path != "-") {
            paths.push_back(path);
        } else if (!stdinRead && in && !interrupted()) {
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

// Why the output folder can be neither used nor made, or "": it is a folder, or the nearest of
// the folders above it that exists is one this user can make folders in.
std::string outFolderUnmakeable(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path at = fs::absolute(folder, error);
    if (error) {
        return error.message();
    }
    for (bool first = true;; first = false) {
        const fs::file_status status = fs::status(at, error);
        if (fs::exists(status)) {
            if (!fs::is_directory(status)) {
                if (first) {
                    return "it is not a folder";
                }
                // Appended rather than joined with +: GCC 12 warns falsely (-Wrestrict) on the
                // temporaries of a literal + string in an optimised build.
                std::string why = "'";
                why.append(displayText(at.string())).append("' is not a folder");
                return why;
            }
            if (!first && ::access(at.c_str(), W_OK | X_OK) != 0) {
                return std::error_code(errno, std::generic_category()).message();
            }
            return {};
        }
        if (error && error != std::errc::no_such_file_or_directory) {
            return error.message();
        }
        if (!at.has_relative_path()) {
            return "no folder above it exists";
        }
        at = at.parent_path();
    }
}

// Whether the manifest is to be written inside the output folder (or a folder below it).
bool manifestInside(const Options& options, const std::string& folder) {
    namespace fs = std::filesystem;
    if (options.manifestFormat == ManifestFormat::None) {
        return false;
    }
    std::error_code error;
    const fs::path out = fs::absolute(folder, error).lexically_normal();
    const fs::path manifest = fs::absolute(options.manifest, error).lexically_normal();
    if (error) {
        return false;
    }
    auto inOut = out.begin();
    for (auto at = manifest.begin(); inOut != out.end() && !inOut->empty(); ++inOut, ++at) {
        if (at == manifest.end() || *at != *inOut) {
            return false;
        }
    }
    return true;
}

// What a run that writes files does around its pictures: the output folder (or the part's), the
// manifest (or the part's record), the summary and the exit status.
using RunBody = std::function<Tally(const ExtractionSettings&, bool* failed)>;

int writeFiles(const Options& options, const Console& console, const RunBody& body) {
    const auto start = std::chrono::steady_clock::now();
    const std::string& folder = options.part.empty() ? options.outFolder : options.part;
    std::error_code error;
    if (!options.part.empty()) {
        // A part whose task has gone (its worker was killed) is no part of any run: it stops as
        // after Ctrl-C rather than go on writing into a folder nobody will merge.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // A part's folder is made by whoever cut the run, and is never made again here once it
        // has gone with a cancelled run.
        if (!std::filesystem::is_directory(folder, error)) {
            console.err << "quillfen-batch: the part's folder '" << displayText(folder)
                        << "' is missing\n";
            return kExitFailed;
        }
    } else if (std::string why = outFolderUnmakeable(folder); !why.empty()) {
        console.err << "quillfen-batch: cannot make the output folder '" << displayText(folder)
                    << "': " << why << "\n";
        return kExitFailed;
    } else if ((options.merge || manifestInside(options, folder)) &&
               (std::filesystem::create_directories(folder, error), error)) {
        // A merge moves the parts' files in, and a manifest kept in the output folder needs it
        // now; otherwise an extraction makes the folder with its first file, so a run that
        // writes nothing leaves no empty folder behind.
        console.err << "quillfen-batch: cannot make the output folder '" << displayText(folder)
                    << "': " << error.message() << "\n";
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
    std::optional<PartRecordWriter> part;
    if (!options.part.empty()) {
        part.emplace(options.part);
        if (!part->error().empty()) {
            console.err << "quillfen-batch: cannot write the part's record in '"
                        << displayText(options.part) << "': " << part->error() << "\n";
            return kExitFailed;
        }
    }
    ExtractionSettings settings;
    settings.outFolder = QString::fromStdString(folder);
    settings.format = options.format;
    settings.quality = options.quality;
    settings.jobs =
        options.jobs > 0 ? options.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    settings.manifest = manifest ? &*manifest : nullptr;
    settings.part = part ? &*part : nullptr;
    settings.progress = console.errIsTerminal && !options.quiet;
    settings.cellPictures = options.cellPictures;
    bool failed = false;
    Tally tally = body(settings, &failed);

    if (manifest) {
        if (std::string why = manifest->finish(); !why.empty()) {
            console.err << "quillfen-batch: cannot write the manifest '"
                        << displayText(options.manifest) << "': " << why << "\n";
            failed = true;
        }
    }
    // An interrupted part leaves no record: it is no part of any run.
    if (part && !tally.interrupted) {
        if (std::string why = part->finish(tally.workbooksDone); !why.empty()) {
            console.err << "quillfen-batch: cannot write the part's record in '"
                        << displayText(options.part) << "': " << why << "\n";
            failed = true;
        } else {
            console.out << "{\"workbooks\": " << tally.workbooksDone
                        << ", \"written\": " << tally.picturesWritten
                        << ", \"bytes\": " << tally.bytesRead << "}\n";
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
                            tally.picturesSkipped() == 0 && !failed &&
                            tally.workbooksDone == tally.workbooks;
    return allWritten ? kExitOk : kExitFailed;
}

// The part folders of --merge: the paths, and "-" those on standard input as they come.
std::function<std::optional<std::string>()> partFolders(const Options& options, std::istream* in) {
    return [&options, in, i = std::size_t(0)]() mutable -> std::optional<std::string> {
        while (i < options.paths.size()) {
            if (options.paths[i] != "-") {
                return options.paths[i++];
            }
            std::string entry;
            if (in && std::getline(*in, entry, '\0')) {
                if (!entry.empty()) {
                    return entry;
                }
                continue;
            }
            ++i;
        }
        return std::nullopt;
    };
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
    if (!isUtf8(options.outFolder) || !isUtf8(options.part)) {
        // Output paths are made as text, which cannot hold such a name.
        console.err << "quillfen-batch: the output folder's name is not valid UTF-8: "
                    << displayText(options.outFolder + options.part) << "\n";
        return kExitUsage;
    }
    if (options.merge) {
        return writeFiles(options, console, [&](const ExtractionSettings& settings, bool* failed) {
            return mergeParts(partFolders(options, console.in), options.workbooks, settings,
                              console.err, console.interruptSignal, failed);
        });
    }
    const std::atomic<int>* signal = console.interruptSignal;
    auto interrupted = [signal] { return signal && signal->load() != 0; };
    // A signal ends the reading of standard input and the folder walk where they are.
    std::vector<std::string> given = givenPaths(options, console.in, interrupted);
    std::string walkStoppedAt;
    const std::vector<std::string> workbooks =
        interrupted() ? std::vector<std::string>()
                      : workbookPaths(given, interrupted, &walkStoppedAt);
    if (interrupted()) {
        console.err << "quillfen-batch: interrupted\n";
        return 128 + signal->load();
    }
    if (!walkStoppedAt.empty()) {
        console.err << "quillfen-batch: the folder walk stopped at '" << displayText(walkStoppedAt)
                    << "': the folders hold more than " << platform::kMaxWalkEntries
                    << " entries; the workbooks found until then are taken\n";
    }
    int status = kExitOk;
    if (options.list) {
        status = runList(workbooks, options.json, options.cellPictures, console.out, console.err,
                         signal);
    } else if (options.walk) {
        for (const std::string& path : workbooks) {
            console.out << path << '\0';
        }
        status = console.out.flush() ? kExitOk : kExitFailed;
    } else {
        status = writeFiles(options, console, [&](const ExtractionSettings& settings, bool*) {
            return extractPictures(workbooks, settings, console.err, console.interruptSignal);
        });
    }
    // What the walk left out was not done either.
    return status == kExitOk && !walkStoppedAt.empty() ? kExitFailed : status;
}

int runBatch(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    return runBatch(arguments, Console{.out = out, .err = err});
}

}  // namespace batch
