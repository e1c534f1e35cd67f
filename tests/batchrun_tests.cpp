// quillfen-batch's extraction against the window's own folder scan, run and save over the same
// workbooks, and its promises of its own: order for any number of jobs, exit status, escaping.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <map>
#include <sstream>

#include "app/form1.h"
#include "automation/nativeexcel.h"
#include "batch/inputpaths.h"
#include "batch/pathtext.h"
#include "batch/picturefile.h"
#include "batch/runbatch.h"
#include "builders/odsbuilder.h"
#include "builders/picturekinds.h"
#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "encode/bmpfile.h"
#include "encode/saveasjpg.h"
#include "filetree.h"
#include "platform/picture.h"
#include "results/form2.h"
#include "support/appfixture.h"
#include "workbook/bitmapinfo.h"

using namespace testing_support;
using platform::Picture;

namespace {

const std::string kCorpus = QUILLFEN_TEST_DATA_DIR "/corpus/xlsx/";

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

// Every file below the folder: name and bytes, in name order.
std::map<QString, QByteArray> filesIn(const QString& folder) {
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(folder + "/" + name);
        file.open(QIODevice::ReadOnly);
        files[name] = file.readAll();
    }
    return files;
}

// A folder tree of workbooks with every rule of the folder scan in it, and clashing names.
struct Workbooks {
    FileTree t;
    std::string in;

    Workbooks() {
        for (const char* folder : {"in", "in/a", "in/b", "in/b/deep", "in/.cache"}) {
            t.folder(folder);
        }
        XlsxBuilder()
            .worksheet("One")
            .picture(1, 1, pngImage(30, 20))
            .picture(4, 2, jpegImage(64, 48))
            .worksheet("Two")
            .picture(0, 0, bmpImage(12, 9))
            .save(s(t.path("in/a/book.xlsx")));
        XlsxBuilder()
            .worksheet("S")
            .picture(0, 0, pngImage(9, 9, 0x00aa00))
            .save(s(t.path("in/b/book.xlsx")));
        XlsxBuilder()
            .worksheet("S")
            .picture(0, 0, jpegImage(20, 10))
            .save(s(t.path("in/b/deep/sales.2014.xlsx")));
        XlsxBuilder()
            .worksheet("S")
            .picture(2, 2, gifImage())
            .save(s(t.path("in/b/deep/sales.2014.XLSM")));
        QFile damaged(t.path("in/b/damaged.xlsx"));
        damaged.open(QIODevice::WriteOnly);
        damaged.write("PK\x03\x04 not really a zip");
        damaged.close();
        // Left out by the scan: a lock file, a writable dot-file, a hidden folder, no match.
        for (const char* name :
             {"in/b/~$book.xlsx", "in/b/.book.xlsx", "in/.cache/c.xlsx", "in/notes.txt"}) {
            QFile::copy(t.path("in/b/book.xlsx"), t.path(name));
        }
        // Kept: a read-only dot-file is not exactly hidden + archive.
        QFile::copy(t.path("in/b/book.xlsx"), t.path("in/b/.readonly.xlsx"));
        ::chmod(t.raw("in/b/.readonly.xlsx").constData(), 0444);
        // A link back up is cut; a link across to a sibling is walked again.
        t.link(t.path("in"), "in/b/deep/up");
        t.link(t.path("in/a"), "in/b/deep/across");
        in = s(t.path("in"));
    }

    // The scan's workbooks, then a corpus workbook with a linked picture and one whose name
    // clashes with nothing.
    std::vector<std::string> list() const {
        std::vector<std::string> paths = batch::workbookPaths({in});
        paths.push_back(kCorpus + "pss_urlImage.xlsx");
        paths.push_back(kCorpus + "xw_image07.xlsx");
        return paths;
    }
};

// The window's road over the same list: run, then "Save Results To Images" into out.
std::map<QString, QByteArray> windowSave(const std::vector<std::string>& paths, const QString& out,
                                         bool jpg) {
    FakeServices f;
    automation::registerNativeExcel(f.registry, f.clipboard);
    app::Form1 form(f.services);
    form.Form_Load();
    for (const std::string& path : paths) {
        form.addListRow(QFile::decodeName(QByteArray::fromStdString(path)));
    }
    form.PushButton2_Click();
    results::Form2* results = form.existingForm2();
    results->Text1->setText(out);
    QTest::mouseClick(jpg ? results->Option2 : results->Option1, Qt::LeftButton);
    results->PushButton6_Click();
    return filesIn(out);
}

}  // namespace

TEST(BatchRun, FolderWalkFindsWhatTheWindowsFolderScanAdds) {
    Workbooks w;
    FakeServices f;
    app::Form1 form(f.services);
    f.dialogs.answer(QStringLiteral("xl*"));
    f.dialogs.answer(w.t.path("in"));
    form.PushButton4_Click();
    QStringList walked;
    for (const std::string& path : batch::workbookPaths({w.in + "/"})) {
        walked << QString::fromStdString(path);
    }
    EXPECT_EQ(walked, form.listRows());
    // book.xlsx twice and once more across the link, sales.2014 twice, damaged.xlsx and the
    // read-only dot-file.
    EXPECT_EQ(walked.size(), 7);
    EXPECT_TRUE(walked.contains(w.t.path("in/b/.readonly.xlsx")));
    EXPECT_TRUE(walked.contains(w.t.path("in/b/deep/across/book.xlsx")));
    // Handed in whole, a hidden folder is no folder to walk, as a dropped one is not.
    const std::string hidden = s(w.t.path("in/.cache"));
    EXPECT_EQ(batch::workbookPaths({hidden}), std::vector<std::string>{hidden});
}

// The walk takes OpenDocument spreadsheets too, each folder's after its "*.xl*" files: what
// the window's scan adds with the extension "ods"; and they give what the window's run gives.
TEST(BatchRun, FolderWalkTakesOpenDocumentSpreadsheetsAfterEachFoldersWorkbooks) {
    FileTree t;
    t.folder("in");
    t.folder("in/sub");
    OdsBuilder ods;
    ods.image("Pictures/a.png", pngImage(8, 6)).image("Pictures/b.jpg", jpegImage(6, 8));
    ods.table("S")
        .sheetShape(odsFrame({"Pictures/a.png"}, 1))
        .cellShape(1, 2, odsFrame({"Pictures/b.jpg"}, 0));
    ods.package().save(s(t.path("in/plan.ods")));
    ods.package().save(s(t.path("in/sub/plan.ods")));
    QFile flat(t.path("in/flat.fods"));
    ASSERT_TRUE(flat.open(QIODevice::WriteOnly));
    flat.write(QByteArray::fromStdString(ods.flat()));
    flat.close();
    XlsxBuilder().worksheet("S").picture(0, 0, jpegImage(4, 4)).save(s(t.path("in/book.xlsx")));
    const std::string in = s(t.path("in"));
    std::vector<std::string> walked = batch::workbookPaths({in});
    EXPECT_EQ(walked, (std::vector<std::string>{in + "/book.xlsx", in + "/plan.ods",
                                                in + "/sub/plan.ods"}));
    FakeServices f;
    app::Form1 form(f.services);
    f.dialogs.answer(QStringLiteral("ods"));
    f.dialogs.answer(t.path("in"));
    form.PushButton4_Click();
    EXPECT_EQ(form.listRows(), QStringList({t.path("in/plan.ods"), t.path("in/sub/plan.ods")}));

    std::vector<std::string> paths(walked.begin() + 1, walked.end());
    paths.push_back(s(t.path("in/flat.fods")));
    QTemporaryDir outWindow, outBatch;
    const auto expected = windowSave(paths, outWindow.path(), true);
    std::vector<std::string> arguments{"--out", s(outBatch.path())};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    Outcome r = batchRun(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesIn(outBatch.path()), expected);
    EXPECT_EQ(expected.size(), 6u);  // two of each spreadsheet, in drawing order
    EXPECT_EQ(QImage(outBatch.path() + "/plan_1.jpg").size(), QSize(6, 8));
    EXPECT_EQ(QImage(outBatch.path() + "/flat_2.jpg").size(), QSize(8, 6));
}

TEST(BatchRun, AMissingPartIsToldOnceAndTheIntactWorksheetIsWritten) {
    FileTree t;
    const std::string anchor = drawingXml(pictureAnchor(0, 0, "rId1"));
    packageWith({{"A", "worksheet", anchor, {{"rId1", "../media/a.png"}}, {}},
                 {"B", "worksheet", anchor, {{"rId1", "../media/a.png"}}, {}}})
        .addBytes("xl/media/a.png", pngImage(5, 5))
        .remove("xl/drawings/drawing1.xml")
        .save(s(t.path("flipped.xlsx")));
    QTemporaryDir out;
    Outcome r = batchRun({"--out", s(out.path()), "--quiet", s(t.path("flipped.xlsx"))});
    EXPECT_EQ(r.status, batch::kExitFailed);
    EXPECT_EQ(r.err, s(t.path("flipped.xlsx")) +
                         ": the workbook is damaged (xl/drawings/drawing1.xml: the part is "
                         "missing)\n");
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files), QStringList{"flipped_1.jpg"});
}

TEST(BatchRun, NamesNumbersAndBytesEqualTheWindowsSave) {
    Workbooks w;
    const std::vector<std::string> paths = w.list();
    for (const char* format : {"jpg", "bmp"}) {
        SCOPED_TRACE(format);
        QTemporaryDir outWindow, outBatch;
        const auto expected =
            windowSave(paths, outWindow.path(), std::string_view(format) == "jpg");
        std::vector<std::string> arguments{"--out", s(outBatch.path()), "--format", format, "-j3"};
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        Outcome r = batchRun(arguments);
        EXPECT_EQ(r.status, batch::kExitFailed) << r.err;  // the damaged and the linked
        const auto written = filesIn(outBatch.path());
        ASSERT_EQ(written.size(), expected.size());
        for (const auto& [name, bytes] : expected) {
            EXPECT_TRUE(written.count(name) && written.at(name) == bytes) << name.toStdString();
        }
        const QString ext = QLatin1String(".") + format;
        for (const QString& name : {"book_1" + ext, "book_1 (2)" + ext, "sales.2014_1" + ext,
                                    "sales.2014_1 (2)" + ext, "xw_image07_2" + ext}) {
            EXPECT_TRUE(written.count(name)) << name.toStdString();
        }
    }
}

// Every kind of picture, and the metafiles of a real workbook, give the same bytes on every
// road: straight from the picture, the window's save on every core, and quillfen-batch with one
// job or three, whose reader runs ahead of its jobs.
TEST(BatchRun, EveryKindOfPictureGivesTheSameBytesOnEveryRoad) {
    FileTree t;
    const std::vector<PictureKind> kinds = pictureKinds();
    XlsxBuilder book;
    book.worksheet("Kinds");
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        book.picture(int(i) * 2, 1, kinds[i].bytes);
    }
    book.save(s(t.path("kinds.xlsx")));
    const std::vector<std::string> paths = {s(t.path("kinds.xlsx")),
                                            kCorpus + "poi_WithDrawing.xlsx"};
    for (const char* format : {"bmp", "jpg"}) {
        SCOPED_TRACE(format);
        const bool jpg = std::string_view(format) == "jpg";
        QTemporaryDir window;
        const auto expected = windowSave(paths, window.path(), jpg);
        ASSERT_EQ(expected.size(), kinds.size() + 5);
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const QString name = QStringLiteral("kinds_%1.%2").arg(i + 1).arg(format);
            const Picture picture =
                Picture::fromBytes(QByteArray(reinterpret_cast<const char*>(kinds[i].bytes.data()),
                                              qsizetype(kinds[i].bytes.size())));
            const QString direct = window.filePath(QStringLiteral("direct"));
            jpg ? encode::SaveJPG(picture, direct, 85) : encode::writeBmpFile(picture, direct);
            QFile file(direct);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_TRUE(expected.count(name) && expected.at(name) == file.readAll())
                << kinds[i].name;
        }
        for (const char* jobs : {"1", "3"}) {
            QTemporaryDir out;
            std::vector<std::string> arguments{"--out", s(out.path()), "--format", format,
                                               "-j",    jobs,          "--quiet"};
            arguments.insert(arguments.end(), paths.begin(), paths.end());
            batchRun(arguments);
            EXPECT_TRUE(filesIn(out.path()) == expected) << jobs << " jobs";
        }
    }
}

TEST(BatchRun, SameFilesManifestsAndMessagesForOneJobOrThree) {
    Workbooks w;
    std::map<QString, QByteArray> first;
    std::string firstErr;
    for (const char* jobs : {"1", "3"}) {
        QTemporaryDir out;
        std::vector<std::string> arguments{"--out",      s(out.path() + "/pictures"),
                                           "--manifest", s(out.path() + "/m.csv"),
                                           "-j",         jobs,
                                           "--quiet"};
        for (const std::string& path : w.list()) {
            arguments.push_back(path);
        }
        Outcome r = batchRun(arguments);
        EXPECT_EQ(r.status, batch::kExitFailed);
        // The damaged workbook in the middle is told, and everything after it written.
        EXPECT_NE(r.err.find("damaged.xlsx: the workbook is damaged"), std::string::npos);
        EXPECT_NE(r.err.find("pss_urlImage.xlsx: picture 1: the picture is only linked"),
                  std::string::npos);
        auto files = filesIn(out.path() + "/pictures");
        QFile manifest(out.path() + "/m.csv");
        ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
        // The rows name the output folder, which differs between the two runs.
        files[QStringLiteral("manifest")] =
            manifest.readAll().replace(QFile::encodeName(out.path()), "OUT");
        EXPECT_TRUE(files.count(QStringLiteral("xw_image07_2.jpg")));
        if (first.empty()) {
            first = files;
            firstErr = r.err;
        } else {
            EXPECT_EQ(files, first);
            EXPECT_EQ(r.err, firstErr);
        }
    }
}

TEST(BatchRun, OriginalFilesHoldTheBytesThatListAndManifestName) {
    Workbooks w;
    QTemporaryDir out;
    std::vector<std::string> arguments{"--out",    s(out.path()), "--format",
                                       "original", "--manifest",  s(out.path() + "/m.json")};
    const std::vector<std::string> paths = w.list();
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    batchRun(arguments);
    std::vector<std::string> list{"--list", "--json"};
    list.insert(list.end(), paths.begin(), paths.end());
    const QJsonArray listed =
        QJsonDocument::fromJson(QByteArray::fromStdString(batchRun(list).out)).array();
    QFile file(out.path() + "/m.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    int checked = 0;
    for (const QJsonValue& book : listed) {
        for (const QJsonValue& sheet : book["worksheets"].toArray()) {
            for (const QJsonValue& picture : sheet["pictures"].toArray()) {
                for (const QJsonValue& row : rows) {
                    if (row["workbook"] != book["workbook"] || row["number"] != picture["number"] ||
                        row["output"].isNull()) {
                        continue;
                    }
                    QFile written(row["output"].toString());
                    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
                    const QString sha =
                        QCryptographicHash::hash(written.readAll(), QCryptographicHash::Sha256)
                            .toHex();
                    EXPECT_EQ(sha, picture["sha256"].toString());
                    EXPECT_EQ(row["sha256"], picture["sha256"]);
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 12);  // 3 + 3 + 1 + 1 + 2 from the scan's workbooks, 2 from xw_image07
    // Names clash only with their own extension: each format keeps its own.
    EXPECT_TRUE(QFile::exists(out.path() + "/sales.2014_1.gif"));
    EXPECT_TRUE(QFile::exists(out.path() + "/sales.2014_1.jpg"));
}

TEST(BatchRun, ExitStatusByCase) {
    const std::string good = kCorpus + "xw_image01.xlsx";
    QTemporaryDir out;
    const std::string dir = s(out.path());
    const std::atomic<int> sigint{2};
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* err;
        const std::atomic<int>* signal = nullptr;
    };
    const Case cases[] = {
        {{"--out", dir, good}, 0, "1 picture found, 1 written"},
        {{"--out", dir, good, kCorpus + "poi_protect.xlsx"}, 1, "password-protected"},
        {{"--out", dir, good, "/nonexistent.xlsx"}, 1, "/nonexistent.xlsx: "},
        {{"--out", good + "/under-a-file", good}, 1, "cannot make the output folder"},
        {{"--out", dir, "--manifest", dir + "/no/such/m.csv", good},
         1,
         "cannot write the manifest"},
        {{good}, 2, "--out is needed"},
        {{"--out", dir}, 2, "no workbook or folder given"},
        {{"--out", dir, "--quality", "101", good}, 2, "--quality is a whole number"},
        {{"--out", dir, "--format", "png", good}, 2, "--format is bmp, jpg or original"},
        {{"--out", dir, "--manifest", "m.txt", good}, 2, ".csv or .json"},
        {{"--json", "--out", dir, good}, 2, "--json goes with --list"},
        {{"-j", "0", "--out", dir, good}, 2, "-j is a number of jobs"},
        {{"--out", dir, "--frobnicate", good}, 2, "unknown option --frobnicate"},
        {{"--out", dir, good}, 130, "interrupted", &sigint},
    };
    for (const Case& c : cases) {
        Outcome r = batchRun(c.arguments, {}, c.signal);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find("usage: quillfen-batch"), std::string::npos);
        }
    }
    // No temporary file of ours is left behind, interrupted or not.
    EXPECT_TRUE(QDir(out.path())
                    .entryList(QDir::Hidden | QDir::Files)
                    .filter(QRegularExpression("\\.(tmp|part)$"))
                    .isEmpty());
    EXPECT_EQ(batchRun({"--help"}).status, 0);
    EXPECT_NE(batchRun({"--version"}).out.find("quillfen-batch 0."), std::string::npos);
}

TEST(BatchRun, PathsFromStandardInputByLineOrByNul) {
    const std::string a = kCorpus + "xw_image01.xlsx", b = kCorpus + "xw_image07.xlsx";
    for (const std::string& input : {a + "\n" + b + "\r\n", a + '\0' + b + '\0'}) {
        QTemporaryDir out;
        Outcome r = batchRun({"--out", s(out.path()), "-"}, input);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(QDir(out.path()).entryList(QDir::Files),
                  QStringList({"xw_image01_1.jpg", "xw_image07_1.jpg", "xw_image07_2.jpg"}));
    }
}

// /proc refuses new files to root as well, so this holds whoever runs the tests.
TEST(BatchRun, AnOutputFolderThatRefusesFilesGivesALinePerPicture) {
    Outcome r = batchRun({"--out", "/proc", "--quiet", kCorpus + "xw_image07.xlsx"});
    EXPECT_EQ(r.status, batch::kExitFailed);
    EXPECT_NE(r.err.find("xw_image07.xlsx: picture 1: cannot write '/proc/xw_image07_1.jpg': "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("picture 2: cannot write '/proc/xw_image07_2.jpg': "), std::string::npos);
}

TEST(BatchRun, TheOutputFolderIsMadeWithTheFirstFileWritten) {
    QTemporaryDir parent;
    const QString none = parent.filePath(QStringLiteral("none"));
    const QString some = parent.filePath(QStringLiteral("some/deeper"));
    // Nothing to write: a workbook that does not open makes no folder.
    Outcome r = batchRun({"--out", s(none), "--quiet", kCorpus + "poi_protect.xlsx"});
    EXPECT_EQ(r.status, batch::kExitFailed);
    EXPECT_FALSE(QFileInfo::exists(none));
    r = batchRun({"--out", s(some), "--quiet", kCorpus + "xw_image01.xlsx"});
    EXPECT_EQ(r.status, batch::kExitOk) << r.err;
    EXPECT_TRUE(QFileInfo(some + QStringLiteral("/xw_image01_1.jpg")).isFile());
    // A manifest kept in the output folder needs the folder whatever the run writes.
    const QString kept = parent.filePath(QStringLiteral("kept"));
    r = batchRun({"--out", s(kept), "--manifest", s(kept) + "/m.csv", "--quiet",
                  kCorpus + "poi_protect.xlsx"});
    EXPECT_EQ(r.status, batch::kExitFailed);
    EXPECT_TRUE(QFileInfo(kept + QStringLiteral("/m.csv")).isFile()) << r.err;
}

TEST(BatchRun, NamesThatAreNotUtf8StayExactInJsonAndEscapedElsewhere) {
    FileTree t;
    t.folder("in");
    const QByteArray raw = t.raw("in") + "/bad\xff.xlsx";
    QFile::copy(QString::fromStdString(kCorpus + "xw_image01.xlsx"), t.path("in/x"));
    ::rename(t.raw("in/x").constData(), raw.constData());
    QTemporaryDir out;
    Outcome list = batchRun({"--list", "--json", s(t.path("in"))});
    QJsonParseError error;
    const QJsonArray books =
        QJsonDocument::fromJson(QByteArray::fromStdString(list.out), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << list.out;
    EXPECT_TRUE(books[0]["workbook"].toString().endsWith(QStringLiteral("/bad") + QChar(0xDCFF) +
                                                         QStringLiteral(".xlsx")));
    Outcome r = batchRun(
        {"--out", s(out.path()), "--manifest", s(out.path() + "/m.csv"), raw.toStdString()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(QFile::exists(out.path() + "/bad?_1.jpg"));
    QFile manifest(out.path() + "/m.csv");
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    EXPECT_TRUE(manifest.readAll().contains("/bad\\xFF.xlsx,Sheet1,1,"));
}

TEST(BatchText, EscapesWhatEachOutputCannotCarry) {
    struct Case {
        std::string text, json, csv, display;
    };
    const Case cases[] = {
        {"plain é.xlsx", "\"plain é.xlsx\"", "plain é.xlsx", "plain é.xlsx"},
        {"a\xff\xc3", "\"a\\udcff\\udcc3\"", "a\\xFF\\xC3", "a\\xFF\\xC3"},
        {"q\"\\,\n", "\"q\\\"\\\\,\\n\"", "\"q\"\"\\\\,\\x0A\"", "q\"\\,\\x0A"},
        {"\xed\xa0\x80 \xf4\x90\x80\x80", "\"\\udced\\udca0\\udc80 \\udcf4\\udc90\\udc80\\udc80\"",
         "\\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80", "\\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(batch::jsonString(c.text), c.json);
        EXPECT_EQ(batch::csvField(c.text), c.csv);
        EXPECT_EQ(batch::displayText(c.text), c.display);
    }
}

TEST(BatchDib, GetsTheFileHeaderItsPaletteAndMasksNeed) {
    auto bmpFileFromDib = [](const QByteArray& dib) {
        const std::vector<std::uint8_t> file = workbook::bmpFileFromDib(
            reinterpret_cast<const std::uint8_t*>(dib.constData()), std::size_t(dib.size()));
        return QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
    };
    // A 2 x 1 DIB at 8 bits with a two-colour palette.
    QByteArray dib(40, '\0');
    for (auto [at, value] : {std::pair{0, 40}, {4, 2}, {8, 1}, {12, 1}, {14, 8}, {32, 2}}) {
        dib[at] = char(value);
    }
    dib += QByteArray(
               "\0\0\xff\0"
               "\xff\0\0\0",
               8) +
           QByteArray("\x00\x01\0\0", 4);
    const QByteArray bmp = bmpFileFromDib(dib);
    const QImage image = QImage::fromData(bmp, "BMP");
    ASSERT_EQ(image.size(), QSize(2, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 255));
    // Written as that .bmp file, or decoded from it, as the window's run does.
    std::string reason;
    EXPECT_EQ(batch::outputExtension(batch::OutputFormat::Original, workbook::ImageFormat::Dib),
              ".bmp");
    const auto made = batch::PictureFile::make(dib, workbook::ImageFormat::Dib,
                                               batch::OutputFormat::Bmp, 85, &reason);
    ASSERT_TRUE(made) << reason;
    EXPECT_EQ(made->width(), 2);
    for (const QByteArray& bad :
         {QByteArray(8, '\0'), QByteArray("\xff\0\0\0", 4) + dib.mid(4), dib.left(44)}) {
        EXPECT_TRUE(bmpFileFromDib(bad).isEmpty());
    }
}

TEST(BatchRun, CellPicturesFollowEachWorksheetsPicturesOnlyWhenAskedFor) {
    QTemporaryDir dir;
    const std::string book = s(dir.path()) + "/cells.xlsx";
    ZipBuilder zip = packageWith({{"Cells",
                                   "worksheet",
                                   drawingXml(pictureAnchor(0, 0, "rId1")),
                                   {{"rId1", "../media/red.png"}},
                                   {}},
                                  {"Next", "worksheet", drawingXml(pictureAnchor(1, 1, "rId1")),
                                   {{"rId1", "../media/red.png"}}, {}}});
    zip.replace("xl/worksheets/sheet1.xml", worksheetWithPictureCells());
    addRichValueParts(zip, "xl/");
    addCellImageParts(zip, "xl/");
    zip.addBytes("xl/media/red.png", pngImage(4, 3, 0xff0000))
        .addBytes("xl/media/blue.png", pngImage(5, 6, 0x0000ff))
        .addBytes("xl/media/green.png", pngImage(7, 2, 0x00ff00))
        .save(book);

    Outcome listed = batchRun({"--list", "--json", book});
    QJsonArray sheets = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out))
                            .array()[0]
                            .toObject()
                            .value("worksheets")
                            .toArray();
    EXPECT_EQ(sheets[0].toObject().value("cell_picture_count").toInt(), 5);
    EXPECT_FALSE(sheets[0].toObject().contains("cell_pictures"));
    EXPECT_EQ(sheets[1].toObject().value("pictures").toArray()[0].toObject().value("number"), 2);

    // With the option, worksheet 1's cells come 2 to 6 and worksheet 2's picture is 7; the web
    // image and the missing DISPIMG image keep their numbers and are written by no one.
    const std::string out = s(dir.path()) + "/out", manifest = out + "/m.json";
    Outcome run = batchRun({"--out", out, "--manifest", manifest, "--cell-pictures", book});
    EXPECT_EQ(run.status, batch::kExitFailed) << run.err;
    EXPECT_NE(run.err.find("picture 4: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("picture 6: "), std::string::npos) << run.err;
    QStringList written = QDir(QString::fromStdString(out)).entryList({"*.jpg"});
    EXPECT_EQ(written, QStringList({"cells_1.jpg", "cells_2.jpg", "cells_3.jpg", "cells_5.jpg",
                                    "cells_7.jpg"}));
    QFile file(QString::fromStdString(manifest));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList cells;
    for (const QJsonValue& row : QJsonDocument::fromJson(file.readAll()).array()) {
        cells << row.toObject().value("cell").toString();
    }
    EXPECT_EQ(cells, QStringList({"A1", "D2", "C3", "F4", "A5", "B5", "B2"}));

    Outcome listedCells = batchRun({"--list", "--json", "--cell-pictures", book});
    QJsonArray inCells = QJsonDocument::fromJson(QByteArray::fromStdString(listedCells.out))
                             .array()[0]
                             .toObject()
                             .value("worksheets")
                             .toArray()[0]
                             .toObject()
                             .value("cell_pictures")
                             .toArray();
    ASSERT_EQ(inCells.size(), 5);
    EXPECT_EQ(inCells[1].toObject().value("number").toInt(), 3);
    EXPECT_EQ(inCells[1].toObject().value("width").toInt(), 5);
}
