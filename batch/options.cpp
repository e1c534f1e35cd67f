#include "batch/options.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

namespace batch {
namespace {

constexpr int kMaxJobs = 256;
constexpr int kMaxWorkbooks = 2'000'000'000;

std::optional<int> parseInt(std::string_view text, int low, int high) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    text.remove_prefix(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& arguments, std::string* error) {
    Options o;
    error->clear();
    bool optionsDone = false;
    for (std::size_t i = 0; i < arguments.size() && error->empty(); ++i) {
        const std::string& a = arguments[i];
        if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
            o.paths.push_back(a);
            continue;
        }
        // "--name=value", "--name value", "-j4" and "-j 4" all give a value.
        std::string name = a;
        std::optional<std::string> attached;
        if (a.starts_with("--")) {
            if (std::size_t equals = a.find('='); equals != std::string::npos) {
                name = a.substr(0, equals);
                attached = a.substr(equals + 1);
            }
        } else if (a.size() > 2) {
            name = a.substr(0, 2);
            attached = a.substr(2);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (attached) {
                return attached;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            *error = name + " needs a value";
            return std::nullopt;
        };
        auto flag = [&](bool& target) {
            if (attached) {
                *error = name + " takes no value";
            }
            target = true;
        };
        if (name == "--") {
            optionsDone = true;
        } else if (name == "--list") {
            flag(o.list);
        } else if (name == "--json") {
            flag(o.json);
        } else if (name == "--walk") {
            flag(o.walk);
        } else if (name == "--merge") {
            flag(o.merge);
        } else if (name == "--part") {
            if (auto v = value()) {
                o.part = *v;
                if (o.part.empty()) {
                    *error = "--part needs a folder";
                }
            }
        } else if (name == "--workbooks") {
            if (auto v = value()) {
                if (auto n = parseInt(*v, 0, kMaxWorkbooks)) {
                    o.workbooks = *n;
                } else {
                    *error = "--workbooks is a count of workbooks, not '" + *v + "'";
                }
            }
        } else if (name == "--cell-pictures") {
            flag(o.cellPictures);
        } else if (name == "--quiet" || name == "-q") {
            flag(o.quiet);
        } else if (name == "--help" || name == "-h") {
            flag(o.help);
        } else if (name == "--version" || name == "-V") {
            flag(o.version);
        } else if (name == "--out" || name == "-o") {
            if (auto v = value()) {
                o.outFolder = *v;
                if (o.outFolder.empty()) {
                    *error = "--out needs a folder";
                }
            }
        } else if (name == "--format" || name == "-f") {
            if (auto v = value()) {
                if (*v == "bmp") {
                    o.format = OutputFormat::Bmp;
                } else if (*v == "jpg" || *v == "jpeg") {
                    o.format = OutputFormat::Jpg;
                } else if (*v == "original") {
                    o.format = OutputFormat::Original;
                } else {
                    *error = "--format is bmp, jpg or original, not '" + *v + "'";
                }
            }
        } else if (name == "--quality") {
            if (auto v = value()) {
                if (auto q = parseInt(*v, 0, 100)) {
                    o.quality = *q;
                } else {
                    *error = "--quality is a whole number from 0 to 100, not '" + *v + "'";
                }
            }
        } else if (name == "--jobs" || name == "-j") {
            if (auto v = value()) {
                if (auto j = parseInt(*v, 1, kMaxJobs)) {
                    o.jobs = *j;
                } else {
                    *error = "-j is a number of jobs from 1 to " + std::to_string(kMaxJobs) +
                             ", not '" + *v + "'";
                }
            }
        } else if (name == "--manifest") {
            if (auto v = value()) {
                o.manifest = *v;
                if (endsWithIgnoringCase(o.manifest, ".csv")) {
                    o.manifestFormat = ManifestFormat::Csv;
                } else if (endsWithIgnoringCase(o.manifest, ".json")) {
                    o.manifestFormat = ManifestFormat::Json;
                } else {
                    *error = "--manifest wants a file name ending in .csv or .json";
                }
            }
        } else {
            *error = "unknown option " + a;
        }
    }
    if (!error->empty() || o.help || o.version) {
        return o;
    }
    if (o.paths.empty()) {
        *error = o.merge ? "no part given" : "no workbook or folder given";
    } else if (int(o.list) + int(o.walk) + int(!o.part.empty()) + int(o.merge) > 1) {
        *error = "--list, --walk, --part and --merge are ways of running: give one";
    } else if (o.workbooks >= 0 && !o.merge) {
        *error = "--workbooks goes with --merge";
    } else if (o.list) {
        if (!o.outFolder.empty() || !o.manifest.empty()) {
            *error = "--list writes no files: leave out --out and --manifest";
        }
    } else if (o.json) {
        *error = "--json goes with --list (the manifest takes .json by its name)";
    } else if (o.walk || !o.part.empty()) {
        if (!o.outFolder.empty() || !o.manifest.empty()) {
            *error =
                std::string(o.walk ? "--walk writes no files" : "--part writes into its folder") +
                ": leave out --out and --manifest";
        }
    } else if (o.outFolder.empty()) {
        *error = "--out is needed: the folder the pictures are written to";
    }
    return o;
}

const char* usageText() {
    return "usage: quillfen-batch --out DIR [--format bmp|jpg|original] [--quality N]\n"
           "                      [--manifest FILE.csv|FILE.json] [-j N] [--cell-pictures]\n"
           "                      [--quiet] PATH...\n"
           "       quillfen-batch --list [--json] [--cell-pictures] PATH...\n"
           "Try 'quillfen-batch --help' for more.\n";
}

const char* helpText() {
    return R"HELP(usage: quillfen-batch --out DIR [OPTIONS] PATH...
       quillfen-batch --list [--json] [--cell-pictures] PATH...

Takes every picture out of spreadsheet workbooks (.xlsx, .xlsm, .xltx, .xltm, .xlsb, .xls;
OpenDocument .ods and flat .fods) and writes each one as a file of its own. A PATH is a
workbook or a folder; a folder is walked at every depth for "*.xl*" and "*.ods" files (in
each folder the first, then the second), leaving out names that begin with "~" and writable
files whose names begin with "."; hidden folders are not walked and links back up the tree
are not followed twice. A folder reached by several roads (links to siblings) is walked on
each, four times at most, and a walk stops after 10,000,000 entries with a message naming
the folder. Each folder's files and subfolders come in the order of their names, letter case
ignored. "-" reads more paths from standard input, one per line or separated by NUL
characters (as find -print0 writes them).

Output files are named after the workbook: its file name without the last extension, "_",
and the picture's number within the workbook, counted across its worksheets (sales.2014.xlsx
gives sales.2014_1.jpg, sales.2014_2.jpg...). A name already given out in this run gets " (2)",
" (3)"... before the extension, in the order the paths were given. Files are written whole or
not at all, and an existing file of the same name is replaced. Two runs into one folder at
the same time both finish whole: each numbers only its own names, so where both write a file
of the same name, the one written last stays.

Options:
  -o, --out DIR         write the pictures into DIR (made when missing)
  -f, --format FORMAT   jpg (the default): JPEG at --quality; bmp: 24-bit BMP; original:
                        the bytes as the workbook stores them, with the extension of their
                        real format (png, jpg, gif, bmp, emf, wmf, webp, tif, svg, pict;
                        a bitmap from an .xls file becomes a .bmp file)
      --quality N       JPEG quality from 0 to 100 (default 85)
      --manifest FILE   also write FILE, a .csv or .json table with one row per picture:
                        workbook, worksheet, number, anchor cell, stored format, pixel
                        size, stored bytes, sha256 of the stored bytes, and the file written
                        or the reason it was skipped
  -j, --jobs N          work on N pictures at once (default: one per core); the files and
                        the manifest are the same for any N
      --cell-pictures   also take the pictures placed in cells ("Place in Cell", IMAGE(),
                        DISPIMG): after each worksheet's floating pictures, in row-major cell
                        order, numbered on from them, with their cell in the manifest; with
                        --list, list them too (--list --json always gives each worksheet's
                        "cell_picture_count")
  -q, --quiet           no progress line and no summary; problems are still reported
      --list            write no files: list the worksheets and pictures of each workbook
      --json            with --list: as JSON
  -h, --help            this text
  -V, --version         the version

For quillfen-cluster, which runs this program in the tasks of a Dask cluster and makes their
parts one run (see quillfen-cluster(1)):
      --walk            write the workbooks the PATHs name, as a run takes them, to standard
                        output, each followed by a NUL character, and nothing else
      --part DIR        run as one part of a larger run: the pictures go into DIR, which must
                        exist, under names of the part's own, and DIR/part.record tells what
                        became of each workbook and the name each picture asks for; standard
                        output gets the part's counts as one line of JSON
      --merge           with --out: make the parts whose folders are the PATHs one run, in the
                        order given ("-": folders read from standard input as they come, each
                        followed by a NUL character). Each picture gets its name by the clash
                        rule over the whole run and its file is moved there; the lines, the
                        manifest, the summary and the exit status are those of one run over
                        the parts' workbooks, in their order
      --workbooks N     with --merge: the whole run's number of workbooks, for the summary

Each workbook or picture that cannot be read or written is one line on standard error,
"path: reason", and the run goes on. A summary ends the run; on a terminal a progress line
shows the workbooks done, the pictures written, the speed and the time left.

The pictures of one workbook written as bmp or jpg may come to 2,000 megapixels, and 64 more
for each byte they store (far more than real workbooks need); the pictures past that are not
drawn, told once per workbook. A picture shown many times is drawn once and written again.

A file larger than the file size limit (ulimit -f) fails as that picture's error. Ctrl-C
or SIGTERM stops the run within a second: the pictures in hand are abandoned, every file is
whole or absent, and the manifest and the summary cover what was done; a second Ctrl-C ends
the run at once, with no temporary file left behind.

Exit status: 0 every picture written (or listed); 1 a workbook, a picture or a file failed;
2 bad usage; 130 interrupted by Ctrl-C (128 + the signal: 143 for SIGTERM).

Names that are not UTF-8: JSON (--list --json, a .json manifest) writes each byte that is not
part of valid UTF-8 as "\udcNN" (Python's os.fsencode() of the decoded value gives the exact
bytes back). The CSV manifest writes such a byte, and any control character, as "\xNN" and a
backslash as "\\". Messages show such bytes as "\xNN". Output file names spell such a byte
as "?", as the program's window lists the workbook.

Examples:
  quillfen-batch --out pictures ~/Reports
  quillfen-batch --format original --manifest pictures/manifest.csv --out pictures *.xlsx
  find /srv/share -name '*.xls*' -print0 | quillfen-batch --out /tmp/pictures -
  quillfen-batch --list --json budget.xlsx | jq '.[].worksheets[].pictures[].sha256'
)HELP";
}

}  // namespace batch
