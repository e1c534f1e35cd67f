// quillfen-batch against hostile inputs and conditions: signals, limits on files, descriptors
// and processes, other programs' files in its output folder, names that hold terminal escapes.
// Each limit is met by the program in a child process, never by the test program itself.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <thread>

#include "batch/runbatch.h"
#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "childprocess.h"
#include "encode/pixelbudget.h"
#include "filetree.h"

using namespace testing_support;

namespace {

const std::string kProgram = QUILLFEN_BATCH_PROGRAM;

std::string s(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What a run left in a folder that is not a finished file: temporaries and manifest parts.
QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
}

// A workbook of one small and one large picture, in a tree others may read (the child may run
// as another user).
struct SmallAndLarge {
    FileTree t;
    std::string book;
    QString out;
    SmallAndLarge() {
        ::chmod(t.raw("").constData(), 0755);
        book = s(t.path("book.xlsx"));
        XlsxBuilder()
            .worksheet("S")
            .picture(0, 0, pngImage(8, 8))
            .picture(5, 5, pngImage(300, 200))
            .save(book);
        out = t.folder("out");
        ::chmod(t.raw("out").constData(), 0777);
    }
};

void le32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(std::uint8_t(v >> (8 * i)));
    }
}

// An EMF of width x height pixels that fills the whole picture `fills` times; with many fills
// it plays until the players' time limit stops it, unless something else stops it first.
std::vector<std::uint8_t> fillsEmf(int width, int height, int fills) {
    // The frame in 0.01 mm at 96 dpi, and in the device's units, 4 a millimetre.
    const auto frame = [](int pixels) { return std::uint32_t(pixels * 2540.0 / 96.0); };
    const std::uint32_t kSide = std::min<std::uint32_t>(frame(std::max(width, height)) / 25, 32767);
    std::vector<std::uint8_t> records;
    le32(records, 37);  // EMR_SELECTOBJECT of the black stock brush
    le32(records, 12);
    le32(records, 0x80000004u);
    for (int i = 0; i < fills; ++i) {
        le32(records, 86);  // EMR_POLYGON16: bounds, count, points
        le32(records, 8 + 16 + 4 + 4 * 4);
        for (std::uint32_t v : {0u, 0u, kSide, kSide, 4u}) {
            le32(records, v);
        }
        for (std::uint32_t point : {0u, kSide, kSide * 0x10001u, kSide << 16}) {
            le32(records, point);
        }
    }
    std::vector<std::uint8_t> b;
    for (std::uint32_t v : {1u, 88u, 0u, 0u, std::uint32_t(width), std::uint32_t(height), 0u, 0u,
                            frame(width), frame(height), 0x464D4520u, 0x10000u}) {
        le32(b, v);
    }
    le32(b, std::uint32_t(88 + records.size() + 20));
    le32(b, std::uint32_t(fills + 3));
    le32(b, 16);  // handles, reserved
    for (std::uint32_t v : {0u, 0u, 0u, 1000u, 1000u, 250u, 250u}) {
        le32(b, v);
    }
    b.insert(b.end(), records.begin(), records.end());
    for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) {  // EMR_EOF
        le32(b, v);
    }
    return b;
}

// Processor time the process has used, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// Whether the process is still at work (not ended, nor waiting to be reaped).
bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t state = text.rfind(')');
    return state != std::string::npos && state + 2 < text.size() && text[state + 2] != 'Z';
}

}  // namespace

// Ctrl-C while a picture is being drawn abandons that drawing: the picture counts as
// interrupted, not as one that took too long to draw, and nothing half-made stays.
TEST(BatchHostile, CtrlCAbandonsThePictureBeingDrawn) {
    FileTree t;
    const std::string book = s(t.path("slow.xlsx"));
    SheetSpec sheet{"S",
                    "worksheet",
                    drawingXml(pictureAnchor(0, 0, "rId1")),
                    {{"rId1", "../media/image1.emf"}},
                    {}};
    packageWith({sheet}).addBytes("xl/media/image1.emf", fillsEmf(2000, 2000, 250000)).save(book);
    const QString out = t.folder("out");
    const std::string manifest = s(out) + "/manifest.csv";
    const ChildOutcome r = runChild(
        kProgram, {"-j", "1", "--format", "bmp", "--manifest", manifest, "--out", s(out), book}, {},
        {}, false, [](pid_t pid) {
            // Opening and listing take a fraction of this; the drawing takes ten seconds.
            while (cpuSeconds(pid) < 1.0 && isRunning(pid)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::kill(pid, SIGINT);
        });
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "(1 interrupted)")) << r.err;
    EXPECT_FALSE(contains(r.err, "too long")) << r.err;
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"manifest.csv"});
}

// The sweep of stale temporaries at the start of a save removes only what this program wrote.
TEST(BatchHostile, AUsersFilesThatLookLikeTemporariesSurviveARunIntoTheirFolder) {
    SmallAndLarge w;
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-30);
    for (const char* name : {".notes.20231231.tmp", ".thesis.docx.0badcafe.tmp"}) {
        QFile f(w.out + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the user's own");
        f.setFileTime(old, QFileDevice::FileModificationTime);
    }
    std::ostringstream out, err;
    ASSERT_EQ(batch::runBatch({"--out", s(w.out), w.book}, out, err), 0) << err.str();
    EXPECT_EQ(leftovers(w.out), QStringList({".notes.20231231.tmp", ".thesis.docx.0badcafe.tmp"}));
}

// Ctrl-C or SIGTERM while the run reads its paths from standard input, in the listing and in
// the extraction: the run stops there with 128 + the signal.
TEST(BatchHostile, ASignalEndsTheReadingOfStandardInputWithItsStatus) {
    SmallAndLarge w;
    const struct {
        std::vector<std::string> arguments;
        int signal;
    } cases[] = {{{"--list", "-"}, SIGINT},
                 {{"--list", "--json", "-"}, SIGTERM},
                 {{"--out", s(w.out), "-"}, SIGINT}};
    for (const auto& c : cases) {
        const ChildOutcome r = runChild(kProgram, c.arguments, {}, w.book + "\n", true,
                                        [&](pid_t pid) { signalOnceCaught(pid, c.signal); });
        EXPECT_TRUE(r.exited) << c.arguments[0] << " " << r.err;
        EXPECT_EQ(r.status, 128 + c.signal) << c.arguments[0] << " " << r.err;
        EXPECT_TRUE(contains(r.err, "interrupted")) << r.err;
    }
    EXPECT_TRUE(leftovers(w.out).isEmpty());
}

// ulimit -f: a file past the limit is that file's error; the rest is written and nothing of
// the failed file, its temporary or the manifest's part, stays behind.
TEST(BatchHostile, AFileSizeLimitFailsTheLargeFileOnlyAndLeavesNoTemporary) {
    SmallAndLarge w;
    const std::string manifest = s(w.out) + "/manifest.csv";
    const ChildOutcome r = runChild(
        kProgram, {"--format", "bmp", "-j", "1", "--manifest", manifest, "--out", s(w.out), w.book},
        {.limits = {{RLIMIT_FSIZE, 64 << 10}}});
    ASSERT_TRUE(r.exited) << "ended by signal " << r.status << ": " << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "picture 2: cannot write")) << r.err;
    EXPECT_TRUE(contains(r.err, "File too large")) << r.err;
    EXPECT_EQ(QDir(w.out).entryList(QDir::Files | QDir::Hidden),
              QStringList({"book_1.bmp", "manifest.csv"}));
    QFile csv(QString::fromStdString(manifest));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count('\n'), 3);  // the header and both pictures
}

// --list closes each workbook once it is listed: a thousand workbooks need no more descriptors
// than one.
TEST(BatchHostile, ListingManyWorkbooksStaysWithinTheDescriptorLimit) {
    SmallAndLarge w;
    std::vector<std::string> arguments{"--list"};
    arguments.insert(arguments.end(), 100, w.book);
    const ChildOutcome r = runChild(kProgram, arguments, {.limits = {{RLIMIT_NOFILE, 40}}});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    std::size_t listed = 0;
    for (std::size_t at = 0;
         (at = r.out.find("worksheet \"S\": 2 pictures", at)) != std::string::npos; ++at) {
        ++listed;
    }
    EXPECT_EQ(listed, 100u);
}

// Under a limit on processes some jobs cannot start: the run goes on with those that did.
TEST(BatchHostile, JobsThatCannotStartLeaveTheRunToThoseThatDid) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process limit is set for another user, which needs root";
    }
    SmallAndLarge w;
    // A copy where nobody may run it: the build tree may sit in a folder only root can enter.
    const QString program = w.t.path(QStringLiteral("quillfen-batch"));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(kProgram), program));
    ::chmod(w.t.raw(QStringLiteral("quillfen-batch")).constData(), 0755);
    const ChildOutcome r = runChild(s(program), {"-j", "64", "--out", s(w.out), w.book},
                                    {.limits = {{RLIMIT_NPROC, 6}}, .asNobody = true});
    ASSERT_TRUE(r.exited) << "ended by signal " << r.status << ": " << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, " of 64 jobs started")) << r.err;
    EXPECT_EQ(QDir(w.out).entryList(QDir::Files), QStringList({"book_1.jpg", "book_2.jpg"}));
}

// A name that holds a terminal's escape sequence is shown escaped, never acted on.
TEST(BatchHostile, EscapeSequencesInNamesAreEscapedInListingsAndMessages) {
    FileTree t;
    const QByteArray folder = t.raw("") + "/\x1b]0;owned\x07";
    ::mkdir(folder.constData(), 0755);
    const std::string book = (folder + "/\x1b[2Jbook.xlsx").toStdString();
    XlsxBuilder()
        .worksheet(
            "S\x1b"
            "c\xc2\x9b"
            "2J\x07")
        .picture(0, 0, pngImage(4, 4))
        .save(book);
    const std::string broken = (folder + "/\x1b[2Jbroken.xlsx").toStdString();
    QFile(QString::fromStdString(broken)).open(QIODevice::WriteOnly);
    std::ostringstream out, err;
    batch::runBatch({"--list", book, broken}, out, err);
    for (const std::string& text : {out.str(), err.str()}) {
        EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
        EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
        EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << text;
    }
    EXPECT_TRUE(contains(out.str(), "\\x1B[2Jbook.xlsx")) << out.str();
    EXPECT_TRUE(contains(out.str(), "worksheet \"S\\x1Bc\\xC2\\x9B2J\\x07\"")) << out.str();
    EXPECT_TRUE(contains(err.str(), "\\x1B[2Jbroken.xlsx: ")) << err.str();
}

// A small file whose pictures all show one picture of 20 megapixels: the workbook's pixel
// limit lets the first hundred be written (the picture made once and written again) and fails
// the rest, told once.
TEST(BatchHostile, PicturesPastTheWorkbooksPixelLimitAreNotDrawn) {
    FileTree t;
    const std::string book = s(t.path("many.xlsx"));
    std::string anchors;
    for (int i = 0; i < 110; ++i) {
        anchors += pictureAnchor(i % 10, i / 10, "rId1", "Picture " + std::to_string(i + 1));
    }
    const std::vector<std::uint8_t> emf = fillsEmf(5000, 4000, 1);
    SheetSpec sheet{"S", "worksheet", drawingXml(anchors), {{"rId1", "../media/image1.emf"}}, {}};
    packageWith({sheet}).addBytes("xl/media/image1.emf", emf).save(book);
    const QString out = t.folder("out");
    std::ostringstream stdoutText, err;
    EXPECT_EQ(batch::runBatch({"--out", s(out), book}, stdoutText, err), 1);
    // 100 pictures of 20 megapixels are the 2,000 allowed, with 64 pixels for each stored byte.
    static_assert(100 * 20'000'000 <= encode::kWorkbookPixelAllowance &&
                  101 * 20'000'000 > encode::kWorkbookPixelAllowance + 101 * 64 * 200);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 100);
    EXPECT_TRUE(QFile::exists(out + "/many_100.jpg"));
    EXPECT_FALSE(QFile::exists(out + "/many_101.jpg"));
    EXPECT_TRUE(contains(err.str(), "picture 101: the workbook's pictures come to more pixels"))
        << err.str();
    EXPECT_FALSE(contains(err.str(), "picture 102:")) << err.str();
    EXPECT_TRUE(contains(err.str(), "10 past the pixel limit")) << err.str();
}
