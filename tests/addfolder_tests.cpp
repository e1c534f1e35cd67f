#include <gtest/gtest.h>
#include <QTimer>

#include "app/addfolder.h"
#include "filetree.h"
#include "platform/directorylisting.h"
#include "platform/fileattributes.h"
#include "platform/filepath.h"
#include "platform/runtimeerror.h"
#include "platform/scripteddialogs.h"

using testing_support::FileTree;

namespace {

QStringList names(const app::FileNameArray& array) {
    QStringList list;
    for (int i = 1; i <= array.upperBound(); ++i) {
        list << array[i];
    }
    return list;
}

QStringList walk(const QStringList& start, bool recurse) {
    QStringList folders = start;
    app::AddSubfolders(folders, recurse);
    return folders;
}

}  // namespace

TEST(AddSubfolders, GoesLevelByLevelWithEachLevelGroupedByParentInListingOrder) {
    FileTree t;
    t.folder("A");
    t.folder("A/B");
    t.folder("A/D");
    t.folder("A/B/C");
    t.folder("A/D/E");
    t.file("A/B/book.xlsx");
    const QString a = t.path("A/");
    const QStringList level1 = t.listed("A");  // B and D in the file system's own order
    ASSERT_EQ(level1.size(), 2);
    const QString second =
        level1[0] == QStringLiteral("B") ? QStringLiteral("B/C/") : QStringLiteral("D/E/");
    const QString third =
        level1[0] == QStringLiteral("B") ? QStringLiteral("D/E/") : QStringLiteral("B/C/");
    EXPECT_EQ(walk({a}, true),
              (QStringList{a, a + level1[0] + "/", a + level1[1] + "/", a + second, a + third}));
    EXPECT_EQ(walk({a}, false), (QStringList{a, a + level1[0] + "/", a + level1[1] + "/"}));
}

TEST(FolderOrder, FilesAndSubfoldersComeSortedByTheirUpperCaseForm) {
    FileTree t;
    t.folder("F");
    // By upper-case UTF-16 units: digits, then letters whatever their case, "_" after "Z",
    // and "." before every letter or digit.
    const QStringList sorted{"10.xlsx", "9.xlsx",  "A.xlsx",  "a2.xlsx",
                             "b.xlsx",  "B1.xlsx", "_c.xlsx", QString::fromUtf8("\xc3\xa4.xlsx")};
    for (qsizetype i = sorted.size() - 1; i >= 0; --i) {
        t.file("F/" + sorted[i]);
    }
    EXPECT_EQ(names(app::ListFiles(t.path("F"), QStringLiteral("*.*"))), sorted);
    for (const char* sub : {"F/zeta", "F/Beta", "F/alpha", "F/Beta/y", "F/Beta/X", "F/alpha/k"}) {
        t.folder(QString::fromLatin1(sub));
    }
    const QString f = t.path("F/");
    EXPECT_EQ(walk({f}, true), (QStringList{f, f + "alpha/", f + "Beta/", f + "zeta/",
                                            f + "alpha/k/", f + "Beta/X/", f + "Beta/y/"}));
}

TEST(AddSubfolders, LeavesAFolderWithoutSubfoldersAsItWas) {
    FileTree t;
    t.folder("A");
    t.file("A/only.xlsx");
    EXPECT_EQ(walk({t.path("A/")}, true), QStringList{t.path("A/")});
    EXPECT_EQ(walk({t.path("missing/")}, true), QStringList{t.path("missing/")});
}

TEST(AddSubfolders, SkipsHiddenFoldersAndNamesThatAreNotUtf8WithEverythingBelowThem) {
    FileTree t;
    t.folder("A");
    t.folder("A/.hidden");
    t.folder("A/.hidden/inside");
    t.folder("A/seen");
    ::mkdir(t.raw("A") + "/bad\xff", 0755);
    ::mkdir(t.raw("A") + "/bad\xff/inside", 0755);
    EXPECT_EQ(walk({t.path("A/")}, true), (QStringList{t.path("A/"), t.path("A/seen/")}));
}

TEST(AddSubfolders, EndsOnLinksBackUpTheTreeAndStillFollowsLinksToSiblingsAndElsewhere) {
    FileTree t;
    t.folder("A");
    t.folder("A/B");
    t.folder("A/C");
    t.folder("elsewhere");
    t.link(t.path("A"), "A/B/up");
    t.link(t.path("A/B"), "A/B/self");
    t.link(t.path("A/C"), "A/B/toC");
    t.link(t.path("elsewhere"), "A/out");
    QStringList folders = walk({t.path("A/")}, true);
    folders.sort();
    EXPECT_EQ(folders, (QStringList{t.path("A/"), t.path("A/B/"), t.path("A/B/toC/"),
                                    t.path("A/C/"), t.path("A/out/")}));
}

TEST(AddSubfolders, KeepsDuplicatesTheCallerPutIn) {
    FileTree t;
    t.folder("A");
    t.folder("A/B");
    const QString a = t.path("A/");
    EXPECT_EQ(walk({a, a}, true), (QStringList{a, a, a + "B/", a + "B/"}));
}

TEST(AddSubfolders, LetsEventsRunAndStopsOnceTheProgramEnds) {
    FileTree t;
    t.folder("A");
    t.folder("A/B");
    t.folder("A/B/C");
    bool ending = false;
    QTimer::singleShot(0, [&] { ending = true; });
    QStringList folders{t.path("A/")};
    app::AddSubfolders(folders, true, &ending);
    EXPECT_TRUE(ending);  // the timer fired inside the walk
    EXPECT_EQ(folders, QStringList{t.path("A/")});
}

TEST(ListFiles, ReturnsFilesInListingOrderHiddenAndReadOnlyIncludedFoldersNot) {
    FileTree t;
    t.folder("F");
    t.file("F/a.xlsx");
    t.file("F/.hidden.xlsx");
    t.file("F/readonly.xls", 0444);
    t.file("F/~$lock.xlsx");
    t.folder("F/sub.xlsx");
    t.link(t.path("F/a.xlsx"), "F/link.xlsx");
    t.link(t.path("F/nothing"), "F/dangling.xlsx");
    QStringList expected = t.listed("F");
    expected.removeAll(QStringLiteral("sub.xlsx"));
    expected.removeAll(QStringLiteral("dangling.xlsx"));
    const app::FileNameArray found = app::ListFiles(t.path("F"), QStringLiteral("*.*"));
    EXPECT_EQ(found.lowerBound(), 1);
    EXPECT_EQ(names(found), expected);
    EXPECT_EQ(names(app::ListFiles(t.path("F/"), QStringLiteral("*.*"))), expected);
}

TEST(ListFiles, MatchesTheWildcardIgnoringCaseAndStarDotStarTakesNamesWithoutADot) {
    FileTree t;
    t.folder("F");
    for (const char* n : {"a.xlsx", "B.XLS", "c.txt", "d.txtx", "README", "xl", "e.xl", "f.TxT"}) {
        t.file(QStringLiteral("F/") + QString::fromLatin1(n));
    }
    auto sorted = [&](const QString& pattern) {
        QStringList list = names(app::ListFiles(t.path("F"), pattern));
        list.sort(Qt::CaseInsensitive);
        return list;
    };
    EXPECT_EQ(sorted("*.xl*"), (QStringList{"a.xlsx", "B.XLS", "e.xl"}));
    EXPECT_EQ(sorted("*.txt"), (QStringList{"c.txt", "f.TxT"}));
    EXPECT_EQ(sorted("*.*").size(), 8);
    EXPECT_EQ(sorted("?.xl"), QStringList{"e.xl"});
    EXPECT_EQ(sorted("*.doc"), QStringList{});
}

TEST(ListFiles, WildcardRulesByExample) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"book.xlsx", "*.xl*", true},
        {"BOOK.XLSM", "*.xl*", true},
        {"book", "*.xl*", false},
        {"book.xlsx.bak", "*.xl*", true},
        {"noext", "*.*", true},
        {"", "*", true},
        {"a.b.c", "*.c", true},
        {"ab.txt", "?.txt", false},
        {"name", "name.*", true},
        {"name.", "name.", true},
        {"a", "a.", true},
        {"Äpfel.xls", "äpfel.*", true},
        {"x.txt", "*.txt*", true},
        {"x.tx", "*.txt", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::matchesPattern(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)),
                  c.matches)
            << c.name << " vs " << c.pattern;
    }
}

TEST(ListFiles, GrowsPastOneHundredWithoutLosingAName) {
    for (int count : {100, 101, 151}) {
        FileTree t;
        t.folder("F");
        for (int i = 0; i < count; ++i) {
            t.file(QStringLiteral("F/file%1.xlsx").arg(i));
        }
        const app::FileNameArray found = app::ListFiles(t.path("F"), QStringLiteral("*.xl*"));
        EXPECT_EQ(found.upperBound(), count);
        EXPECT_EQ(names(found), t.listed("F"));
        EXPECT_THROW(found[count + 1], platform::RuntimeError);
    }
}

TEST(ListFiles, NothingMatchingGivesTheSingleEmptyIndexZero) {
    FileTree t;
    t.folder("F");
    t.file("F/a.txt");
    for (const QString& folder : {t.path("F"), t.path("missing"), QString()}) {
        const app::FileNameArray found = app::ListFiles(folder, QStringLiteral("*.xl*"));
        EXPECT_EQ(found.lowerBound(), 0);
        EXPECT_EQ(found.upperBound(), 0);
        EXPECT_EQ(found[0], QString());
        EXPECT_EQ(found.begin(), found.end());
        try {
            (void)found[1];
            ADD_FAILURE() << "index 1 of an empty array";
        } catch (const platform::RuntimeError& e) {
            EXPECT_EQ(e.number(), platform::err::kSubscriptOutOfRange);
        }
    }
}

TEST(ListFiles, KeepsTheBytesOfANameThatIsNotUtf8AndShowsThemAsQuestionMarks) {
    FileTree t;
    t.folder("F");
    t.rawFile(t.raw("F") + "/caf\xe9.xlsx");
    t.file("F/café.xlsx");
    QStringList shown, bytes;
    for (const QString& name : names(app::ListFiles(t.path("F"), QStringLiteral("*.xlsx")))) {
        shown << platform::shownPath(name);
        bytes << QString::fromLatin1(platform::pathToBytes(name).toHex());
    }
    shown.sort();
    bytes.sort();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("caf?.xlsx"), QStringLiteral("café.xlsx")}));
    EXPECT_EQ(bytes, (QStringList{QString::fromLatin1(QByteArray("caf\xc3\xa9.xlsx").toHex()),
                                  QString::fromLatin1(QByteArray("caf\xe9.xlsx").toHex())}));
}

// Paths hold the exact bytes of any name and give them back; a name Qt's dialog shows with
// U+FFFD is found again in its folder.
TEST(FilePaths, EveryByteSequenceComesBackAndUndecodableBytesShowAsQuestionMarks) {
    const struct {
        QByteArray bytes;
        QString shown;
    } cases[] = {
        {"/data/plain.xlsx", QStringLiteral("/data/plain.xlsx")},
        {"/data/caf\xc3\xa9 \xf0\x9f\x93\x8a.xlsx", QStringLiteral("/data/café 📊.xlsx")},
        {"/data/\xff\xfe.xlsx", QStringLiteral("/data/??.xlsx")},
        {"/\xc0\xaf\xed\xa0\x80\xe2\x82", QStringLiteral("/???????")},  // overlong, surrogate, cut
        {"/\xf4\x90\x80\x80x", QStringLiteral("/????x")},               // past U+10FFFF
    };
    for (const auto& c : cases) {
        const QString path = platform::pathFromBytes(c.bytes);
        EXPECT_EQ(platform::pathToBytes(path), c.bytes) << c.bytes.toHex().constData();
        EXPECT_EQ(platform::shownPath(path), c.shown);
    }
    FileTree t;
    ::mkdir(t.raw("F") + "\xfe", 0755);  // Qt spells the folder's bad byte too
    const QByteArray raw = t.raw("F") + "\xfe/a\xff\xfe.xlsx";
    t.rawFile(raw);
    EXPECT_EQ(platform::pathToBytes(platform::pathFromQtName(QFile::decodeName(raw))), raw);
    EXPECT_EQ(platform::pathFromQtName(t.path("F/plain.xlsx")), t.path("F/plain.xlsx"));
}

TEST(FileAttributes, ValuesFollowTheWindowsBits) {
    FileTree t;
    EXPECT_EQ(platform::GetFileAttributes(t.file(".hidden")), 34);
    EXPECT_EQ(platform::GetFileAttributes(t.file(".readonly", 0444)), 35);
    EXPECT_EQ(platform::GetFileAttributes(t.file("plain")), 32);
    EXPECT_EQ(platform::GetFileAttributes(t.file("readonly", 0400)), 33);
    EXPECT_EQ(platform::GetFileAttributes(t.folder("dir")), 16);
    EXPECT_EQ(platform::GetFileAttributes(t.folder(".dir")), 18);
    EXPECT_EQ(platform::GetFileAttributes(t.path("dir/")), 16);
    EXPECT_EQ(platform::GetFileAttributes(t.path("missing")), platform::INVALID_FILE_ATTRIBUTES);
    try {
        platform::GetAttr(t.path("missing"));
        ADD_FAILURE() << "no error for a missing file";
    } catch (const platform::RuntimeError& e) {
        EXPECT_EQ(e.number(), platform::err::kFileNotFound);
        EXPECT_EQ(e.description(), QStringLiteral("File not found"));
    }
}

TEST(RootRepair, AFolderAtTheRootJoinsWithASingleSeparator) {
    EXPECT_EQ(app::JoinAndRepair("/", "a.xlsx"), QStringLiteral("/a.xlsx"));
    EXPECT_EQ(app::JoinAndRepair("/data", "a.xlsx"), QStringLiteral("/data/a.xlsx"));
    EXPECT_EQ(app::JoinAndRepair("//data", "a.xlsx"), QStringLiteral("/data/a.xlsx"));
    // Only the root's doubled separator is mended; anything else stays as written.
    EXPECT_EQ(app::RepairRootPath("/data//a.xlsx"), QStringLiteral("/data//a.xlsx"));
}

TEST(ChooseFolder, GivesTheDialogsFolderOrNothingOnCancel) {
    platform::ScriptedDialogs dialogs;
    dialogs.answer(QStringLiteral("/data/in"));
    dialogs.answer(QString());
    dialogs.answer(QStringLiteral("/") + QChar(u'\0') + QStringLiteral("junk"));
    EXPECT_EQ(app::ChooseFolder(nullptr, "Please select folder:", dialogs), "/data/in");
    EXPECT_EQ(app::ChooseFolder(nullptr, "Please select folder:", dialogs), QString());
    EXPECT_EQ(app::ChooseFolder(nullptr, "Please select folder:", dialogs), "/");
    ASSERT_EQ(dialogs.shown().size(), 3);
    EXPECT_EQ(dialogs.shown()[0].kind, platform::ScriptedDialogs::Kind::BrowseForFolder);
    EXPECT_EQ(dialogs.shown()[0].prompt, QStringLiteral("Please select folder:"));
}
