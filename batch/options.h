#pragma once

#include <string>
#include <vector>

namespace batch {

enum class OutputFormat { Bmp, Jpg, Original };
enum class ManifestFormat { None, Csv, Json };

// The command line of quillfen-batch, read and checked.
struct Options {
    bool list = false;
    bool json = false;
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool cellPictures = false;  // also the pictures placed in cells
    std::string outFolder;
    OutputFormat format = OutputFormat::Jpg;
    int quality = 85;
    int jobs = 0;  // 0: one per core
    std::string manifest;
    ManifestFormat manifestFormat = ManifestFormat::None;
    std::vector<std::string> paths;  // workbooks, folders, "-" for standard input
    // The ways of running that quillfen-cluster drives: the walk alone, one part of a run, and
    // the merge of the parts (whose folders are then the paths).
    bool walk = false;
    std::string part;
    bool merge = false;
    int workbooks = -1;  // with merge: the whole run's; -1 when not given
};

// The options, or the reason the command line is not one the tool takes ("" when it is).
Options parseOptions(const std::vector<std::string>& arguments, std::string* error);

// The text of --help: the usage line, every option, exit status, escaping and examples.
const char* helpText();
// The short usage that follows a bad command line.
const char* usageText();

}  // namespace batch
