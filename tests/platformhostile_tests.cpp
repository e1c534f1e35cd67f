// The stand-ins under hostile conditions: trees of links, pictures alike in every sample, limits
// on processes, a cache folder that takes no files, an end at once on a signal. Limits are met
// in a forked child, never by the test program itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>

#include "childprocess.h"
#include "filetree.h"
#include "platform/folderwalk.h"
#include "platform/livetemporaries.h"
#include "platform/picture.h"
#include "platform/picturespill.h"
#include "platform/threadstart.h"

using namespace testing_support;

namespace {

std::string s(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

// Read system calls this process has made so far.
long long readCalls() {
    std::ifstream io("/proc/self/io");
    std::string name;
    long long value = 0;
    while (io >> name >> value) {
        if (name == "syscr:") {
            return value;
        }
    }
    return -1;
}

}  // namespace

// 17 folders side by side, each holding two links to the next: 65,536 roads to the last.
TEST(FolderWalk, LinksBetweenSiblingsWalkEachFolderAFewTimesAtMost) {
    FileTree t;
    constexpr int kFolders = 17;
    for (int i = 0; i < kFolders; ++i) {
        t.folder(QStringLiteral("f%1").arg(i));
    }
    for (int i = 0; i + 1 < kFolders; ++i) {
        for (const char* name : {"a", "b"}) {
            t.link(t.path(QStringLiteral("f%1").arg(i + 1)),
                   QStringLiteral("f%1/%2").arg(i).arg(name));
        }
    }
    std::vector<std::string> found;
    ASSERT_TRUE(platform::walkSubfolders({s(t.root()) + "/"}, true, found));
    const std::string f16 = s(t.path("f16"));
    const auto last = std::count_if(found.begin(), found.end(), [&](const std::string& path) {
        return std::filesystem::equivalent(path, f16);
    });
    EXPECT_EQ(last, platform::kMaxWalksPerFolder);
    // The plain tree is walked whole: every folder once by its own name.
    for (int i = 0; i < kFolders; ++i) {
        const std::string own = s(t.root()) + QStringLiteral("/f%1/").arg(i).toStdString();
        EXPECT_NE(std::find(found.begin(), found.end(), own), found.end()) << own;
    }
}

TEST(FolderWalk, StopsPastItsEntriesAndNamesTheFolderItStoppedAt) {
    FileTree t;
    for (const char* folder : {"a", "a/x", "a/x/y"}) {
        t.folder(folder);
    }
    for (const char* file : {"a/1", "a/2", "a/x/1", "a/x/2", "a/x/3"}) {
        t.file(file);
    }
    const std::string root = s(t.root()) + "/";
    platform::WalkBudget budget;
    budget.maxEntries = 6;  // the root's one entry and a's three; a/x's four go past
    std::vector<std::string> found;
    EXPECT_FALSE(platform::walkSubfolders({root}, true, found, {}, {}, &budget));
    EXPECT_EQ(budget.stoppedAt, root + "a/x/");
    EXPECT_EQ(found, (std::vector<std::string>{root + "a/", root + "a/x/"}));
}

// Pictures of one length whose first, middle and last kilobytes agree are told apart by a hash
// of all their bytes, not by reading every earlier one back.
TEST(PictureSpill, PicturesAlikeInEverySampleAreNotReadBackToCompare) {
    if (readCalls() < 0) {
        GTEST_SKIP() << "no /proc/self/io";
    }
    QTemporaryDir root;
    auto spill = platform::PictureSpill::create(root.path());
    constexpr int kPictures = 400;
    QByteArray bytes(16 << 10, 'p');
    std::vector<platform::Picture> kept;
    const long long before = readCalls();
    for (int i = 0; i < kPictures; ++i) {
        bytes[4000] = char(i);
        bytes[4001] = char(i >> 8);
        kept.push_back(spill->keep(platform::Picture::fromBytes(QByteArray(bytes))));
    }
    EXPECT_LT(readCalls() - before, kPictures);
    EXPECT_EQ(spill->size(), qint64(kPictures) * bytes.size());
    bytes[4000] = char(123);
    bytes[4001] = 0;
    EXPECT_EQ(kept[123].bytes(), bytes);
    EXPECT_EQ(spill->keep(platform::Picture::fromBytes(QByteArray(bytes))), kept[123]);
}

// A cache folder that exists but takes no new folder: the runs go to the temporary folder.
TEST(PictureSpill, AReadOnlyCacheFolderFallsBackToTheTemporaryFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a folder read-only to its user is met as another user, which needs root";
    }
    QTemporaryDir cache;
    ::chmod(QFile::encodeName(cache.path()).constData(), 0755);
    ASSERT_TRUE(QDir(cache.path()).mkdir("quillfen"));
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const int status = inForkedChild({.limits = {}, .asNobody = true}, [&] {
        const QString root = platform::runFoldersRoot();
        return root.startsWith(QDir::tempPath() + "/quillfen-") ? 0 : 1;
    });
    qputenv("XDG_CACHE_HOME", oldCache);
    EXPECT_EQ(status, 0);
}

// The temporary folder is everyone's: a folder of the fallback's name that another user made
// there, or a link of that name, is not used; the user's own is made private.
TEST(PictureSpill, AnotherUsersFolderInTheTemporaryFolderIsNotUsed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "another user's folder is met as another user, which needs root";
    }
    QTemporaryDir cache, temp, elsewhere;
    for (const QTemporaryDir* dir : {&cache, &temp}) {
        ::chmod(QFile::encodeName(dir->path()).constData(), dir == &temp ? 01777 : 0755);
    }
    ASSERT_TRUE(QDir(cache.path()).mkdir("quillfen"));  // the cache takes nothing
    const QByteArray fallback =
        QFile::encodeName(temp.path()) + "/quillfen-" + QByteArray::number(Nobody().uid);
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME"), oldTemp = qgetenv("TMPDIR");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    qputenv("TMPDIR", temp.path().toUtf8());
    const std::function<void()> madeBefore[] = {
        [] {},
        [&] {
            ::mkdir(fallback.constData(), 0777);
            ::chmod(fallback.constData(), 0777);  // past the umask
        },
        [&] { ::symlink(QFile::encodeName(elsewhere.path()).constData(), fallback.constData()); },
    };
    for (int k = 0; k < 3; ++k) {
        madeBefore[k]();
        const int status = inForkedChild({.limits = {}, .asNobody = true}, [&] {
            const QString root = platform::runFoldersRoot();
            struct stat st {};
            const bool own = ::lstat(fallback.constData(), &st) == 0 && st.st_uid == ::getuid() &&
                             (st.st_mode & 077) == 0;
            return (k == 0 ? root == QFile::decodeName(fallback) && own : root.isEmpty()) ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << k;
        std::filesystem::remove_all(fallback.constData());
    }
    qputenv("XDG_CACHE_HOME", oldCache);
    qputenv("TMPDIR", oldTemp);
}

// Under a limit on processes the threads that start are used; those refused are told.
TEST(ThreadStart, ThreadsThatCannotStartLeaveThoseThatDid) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process limit is set for another user, which needs root";
    }
    const int status = inForkedChild({.limits = {{RLIMIT_NPROC, 4}}, .asNobody = true}, [] {
        std::atomic<int> ran{0};
        std::atomic<bool> go{false};
        std::string failure;
        {
            // Each thread lives until all are started, so the limit is met whatever the timing.
            std::vector<std::jthread> threads = platform::startThreads(
                16,
                [&] {
                    while (!go.load()) {
                        std::this_thread::yield();
                    }
                    ++ran;
                },
                &failure);
            go.store(true);
            if (threads.empty() || threads.size() >= 16 || failure.empty()) {
                return 1;
            }
        }
        return ran.load() > 0 && ran.load() < 16 ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}

// What a second Ctrl-C does before the program ends at once: the temporaries being written go,
// and nothing new is made after.
TEST(LiveTemporaries, RemovedAtOnceAndNoneMadeAfter) {
    QTemporaryDir dir;
    const std::string a = s(dir.filePath(".a.tmp")), b = s(dir.filePath(".b.tmp"));
    const std::string done = s(dir.filePath("done"));
    const int status = inForkedChild(ChildLimits{}, [&] {
        int slotA = -1, slotB = -1, slotC = -1;
        const int fdA = platform::createLiveTemporary(a.c_str(), &slotA);
        const int fdB = platform::createLiveTemporary(b.c_str(), &slotB);
        // One finished and renamed: no longer a temporary.
        ::rename(b.c_str(), done.c_str());
        platform::releaseLiveTemporary(slotB);
        platform::removeLiveTemporaries();
        const int late = platform::createLiveTemporary((a + "2").c_str(), &slotC);
        return fdA >= 0 && fdB >= 0 && late < 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"done"});
}
