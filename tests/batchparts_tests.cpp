// quillfen-batch's ways of running for quillfen-cluster: the walk alone, a run cut into parts,
// and their merge, which must give what one run over the same list gives.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <map>
#include <sstream>

#include "batch/inputpaths.h"
#include "batch/partrecord.h"
#include "batch/runbatch.h"
#include "builders/xlsxbuilder.h"
#include "filetree.h"

using namespace testing_support;

namespace {

const std::string kCorpus = QUILLFEN_TEST_DATA_DIR "/corpus/";

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome batchRun(const std::vector<std::string>& arguments, const std::string& input = {},
                 const std::atomic<int>* signal = nullptr) {
    std::istringstream in(input);
    std::ostringstream out, err;
    int status =
        batch::runBatch(arguments, {.in = &in, .out = out, .err = err, .interruptSignal = signal});
    return {status, out.str(), err.str()};
}

std::string s(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

std::string nulList(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
        text += path + '\0';
    }
    return text;
}

// Every file below the folder by its relative name, with the folder's own path in a text file
// spelt "OUT" and the summary's time left out: what two runs into two folders must share.
std::map<QString, QByteArray> resultIn(const QString& folder, const std::string& err) {
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        files[QDir(folder).relativeFilePath(file.fileName())] =
            file.readAll().replace(QFile::encodeName(folder), "OUT");
    }
    files[QStringLiteral("<err>")] =
        QString::fromStdString(err)
            .replace(QFile::decodeName(QFile::encodeName(folder)), QStringLiteral("OUT"))
            .replace(QRegularExpression(" in [0-9.]+ s\n"), QStringLiteral("\n"))
            .toUtf8();
    return files;
}

// Workbooks whose names clash across folders and in letter case, damaged and linked ones, a
// picture that claims a name but cannot be decoded, and names a record must carry byte for byte.
std::vector<std::string> clashingWorkbooks(FileTree& t) {
    for (const char* folder : {"in", "in/a", "in/b", "in/c"}) {
        t.folder(folder);
    }
    XlsxBuilder()
        .worksheet("One")
        .picture(1, 1, pngImage(30, 20))
        .picture(4, 2, jpegImage(64, 48))
        .save(s(t.path("in/a/book.xlsx")));
    XlsxBuilder().worksheet("S").picture(0, 0, bmpImage(9, 9)).save(s(t.path("in/b/Book.xlsx")));
    QFile::copy(t.path("in/a/book.xlsx"), t.path("in/c/book.xlsx"));
    QFile damaged(t.path("in/b/damaged.xlsx"));
    damaged.open(QIODevice::WriteOnly);
    damaged.write("PK\x03\x04 not really a zip");
    damaged.close();
    const QByteArray odd = t.raw("in/c") + "/tab\there\\ line\nbreak \xff.xlsx";
    QFile::copy(t.path("in/a/book.xlsx"), t.path("in/c/x"));
    ::rename(t.raw("in/c/x").constData(), odd.constData());
    std::vector<std::string> paths = batch::workbookPaths({s(t.path("in"))});
    for (const char* name :
         {"xlsx/pss_urlImage.xlsx", "xls/28774.xls", "xlsx/poi_protect.xlsx", "xls/28774.xls"}) {
        paths.push_back(kCorpus + name);
    }
    paths.push_back(s(t.path("in/a/book.xlsx")));
    return paths;
}

}  // namespace

TEST(BatchParts, WalkWritesTheRunsListEachFollowedByNul) {
    FileTree t;
    const std::vector<std::string> paths = clashingWorkbooks(t);
    Outcome r = batchRun({"--walk", s(t.path("in")), "-"}, nulList({kCorpus + "xls/28774.xls"}));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = batch::workbookPaths({s(t.path("in"))});
    expected.push_back(kCorpus + "xls/28774.xls");
    EXPECT_EQ(r.out, nulList(expected));
}

TEST(BatchParts, PartsCutAnywhereMergeIntoWhatOneRunWrites) {
    FileTree t;
    const std::vector<std::string> paths = clashingWorkbooks(t);
    QTemporaryDir whole;
    std::vector<std::string> arguments{
        "--out", s(whole.path()), "--manifest", s(whole.path() + "/m.json"), "-j", "2"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const Outcome one = batchRun(arguments);
    ASSERT_EQ(one.status, batch::kExitFailed) << one.err;
    const auto expected = resultIn(whole.path(), one.err);
    ASSERT_TRUE(expected.count("book_1 (3).jpg") && expected.count("28774_23 (2).jpg") == 0);

    for (std::size_t cut : {1, 3, 100}) {
        SCOPED_TRACE(cut);
        QTemporaryDir parts, merged;
        std::string folders;
        for (std::size_t first = 0; first < paths.size(); first += cut) {
            const std::string folder = s(parts.path()) + "/" + std::to_string(first);
            QDir().mkpath(QString::fromStdString(folder));
            const std::vector<std::string> part(
                paths.begin() + long(first),
                paths.begin() + long(std::min(first + cut, paths.size())));
            Outcome p = batchRun({"--part", folder, "--quiet", "-j", "2", "-"}, nulList(part));
            EXPECT_NE(p.out.find("{\"workbooks\": " + std::to_string(part.size())),
                      std::string::npos);
            folders += folder + '\0';
        }
        const Outcome m = batchRun(
            {"--merge", "--out", s(merged.path()), "--manifest", s(merged.path() + "/m.json"),
             "--workbooks", std::to_string(paths.size()), "-"},
            folders);
        EXPECT_EQ(m.status, one.status);
        EXPECT_EQ(resultIn(merged.path(), m.err), expected);
        // Every file was moved out of its part.
        QDirIterator left(parts.path(), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
        EXPECT_FALSE(left.hasNext());
    }
}

TEST(BatchParts, ExitStatusOfTheClusterWays) {
    QTemporaryDir dir;
    const std::string d = s(dir.path()), good = kCorpus + "xlsx/xw_image01.xlsx";
    QDir().mkpath(dir.path() + "/part");
    QDir().mkpath(dir.path() + "/broken");
    const std::atomic<int> sigint{2};
    // A record that was never finished, then whole ones that cannot be trusted.
    auto record = [&](const std::string& text) {
        QFile file(dir.path() + "/broken/part.record");
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text.data(), qsizetype(text.size()));
    };
    const std::string w = "quillfen-part 1\nw\t" + good + "\t\n";
    const std::string picture = "i\tSheet1\t1\tE9\tpng\t32\t32\t200\t\txw_image01_1\t.jpg\t";
    struct Case {
        std::vector<std::string> arguments;
        std::string record;  // written first when not empty
        int status;
        std::string err;
        const std::atomic<int>* signal = nullptr;
    };
    const Case cases[] = {
        {{"--walk", "--out", d, good}, "", 2, "--walk writes no files"},
        {{"--part", d, "--manifest", d + "/m.csv", good}, "", 2, "--part writes into its folder"},
        {{"--merge", d}, "", 2, "--out is needed"},
        {{"--workbooks", "3", "--out", d, good}, "", 2, "--workbooks goes with --merge"},
        {{"--walk", "--merge", "--out", d, good}, "", 2, "ways of running: give one"},
        {{"--part", d + "/missing", good},
         "",
         1,
         "the part's folder '" + d + "/missing' is missing"},
        {{"--part", d + "/part", "-j", "1", "-"}, "", 130, "interrupted", &sigint},
        {{"--merge", "--out", d, d + "/none"}, "", 1, "cannot merge the part '" + d + "/none'"},
        {{"--merge", "--out", d, d + "/broken"}, w, 1, "line 2: the record is not whole"},
        {{"--merge", "--out", d, d + "/broken"}, w + "end\t2\n", 1, "does not count"},
        {{"--merge", "--out", d, d + "/broken"},
         w + picture + "../m\t\t\nend\t1\n",
         1,
         "not in the part's folder"},
        {{"--merge", "--out", d, d + "/broken"}, w + "p\t\\q\nend\t1\n", 1, "bad escape"},
        {{"--merge", "--out", d, "--workbooks", "2", d + "/broken"},
         w + "end\t1\n",
         1,
         "1 workbook of 2"},
    };
    for (const Case& c : cases) {
        if (!c.record.empty()) {
            record(c.record);
        }
        // Enough workbooks that the run sees the signal before it is through them.
        Outcome r = batchRun(c.arguments, nulList(std::vector<std::string>(50, good)), c.signal);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    // An interrupted part leaves no record, whole or not; nothing was moved out of a bad one.
    EXPECT_EQ(QDir(dir.path() + "/part").entryList({"part.record*"}, QDir::Files), QStringList());
    EXPECT_FALSE(QFile::exists(dir.path() + "/m"));
}
