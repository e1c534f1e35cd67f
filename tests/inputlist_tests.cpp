#include <gtest/gtest.h>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/form1.h"
#include "filetree.h"
#include "platform/filepath.h"
#include "platform/services.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"

using namespace testing_support;
using Kind = platform::ScriptedDialogs::Kind;

namespace {

const QString kExtensionPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc "
    "files, etc.)");
const QString kSamplesQuestion = QStringLiteral(
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?");

// The main window after its start-up, with fakes behind it.
struct Window {
    Window() {
        installFakeExcel(f.registry);
        form.Form_Load();
        f.dialogs.clear();
    }
    QStringList rows() const { return form.listRows(); }

    FakeServices f;
    app::Form1 form{f.services};
};

QString nul() {
    return QString(QChar(u'\0'));
}

// A drag of the given data over the list, then, when it was accepted, the drop. Shift is held,
// so the system proposes a move.
bool dragAndDrop(app::Form1& form, QMimeData* data) {
    QWidget* viewport = form.ListView1->viewport();
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data,
                          Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data, Qt::LeftButton,
                        Qt::ShiftModifier);
    QApplication::sendEvent(viewport, &move);
    if (!enter.isAccepted() || !move.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data,
                    Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(viewport, &drop);
    // Only a copy is ever taken, so the source never deletes what it offered.
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    return drop.isAccepted();
}

bool dropFiles(app::Form1& form, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) {
        urls << QUrl::fromLocalFile(p);
    }
    data.setUrls(urls);
    return dragAndDrop(form, &data);
}

// A real double-click: the first click, then the second that the system turns into a
// double-click event.
void doubleClick(QWidget* viewport, QPoint at) {
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

}  // namespace

TEST(AddExcelFiles, AsksWithTheComponentsSettingsAndAddsOneFileUnchanged) {
    Window w;
    // Typed into the dialog: no such file, still added as it stands.
    w.f.dialogs.answer(QStringLiteral("/nowhere/typed name.xlsx"));
    w.form.PushButton1->click();
    EXPECT_EQ(w.rows(), QStringList{"/nowhere/typed name.xlsx"});
    ASSERT_EQ(w.f.dialogs.shown().size(), 1);
    const platform::FileOpenRequest& r = w.f.dialogs.shown()[0].request;
    EXPECT_EQ(r.title, QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files"));
    EXPECT_EQ(r.filter, QStringLiteral("Excel Files (*.xl*)|*.xl*|"));
    EXPECT_EQ(r.flags, 2621953);
    EXPECT_EQ(r.maxFileSize, 30000);
}

TEST(AddExcelFiles, SeveralFilesJoinTheFolderWithEachNameAndTheRootGetsNoDoubleSeparator) {
    Window w;
    w.f.dialogs.answer("/" + nul() + "a.xlsx" + nul() + "b.xls");
    w.f.dialogs.answer("/data/in" + nul() + "c.xlsm" + nul() + "d.xlsx");
    w.form.PushButton1_Click();
    w.form.PushButton1_Click();
    EXPECT_EQ(w.rows(), (QStringList{"/a.xlsx", "/b.xls", "/data/in/c.xlsm", "/data/in/d.xlsx"}));
    EXPECT_TRUE(w.f.dialogs.messages().isEmpty());
}

TEST(AddExcelFiles, CancelAddsNothingAndAddingTheSameFileTwiceGivesTwoRows) {
    Window w;
    w.f.dialogs.answer(QString());
    w.form.PushButton1_Click();
    EXPECT_TRUE(w.rows().isEmpty());
    w.f.dialogs.answer(QStringLiteral("/data/a.xlsx"));
    w.f.dialogs.answer(QStringLiteral("/data/a.xlsx"));
    w.form.PushButton1_Click();
    w.form.PushButton1_Click();
    EXPECT_EQ(w.rows(), (QStringList{"/data/a.xlsx", "/data/a.xlsx"}));
    EXPECT_TRUE(w.f.dialogs.messages().isEmpty());
}

class FolderCommand : public ::testing::Test {
protected:
    void SetUp() override {
        t.folder("in");
        t.file("in/a.xlsx");
        t.file("in/notes.txt");
        t.file("in/~$a.xlsx");              // the lock file of an open workbook
        t.file("in/.hidden.xlsx");          // exactly hidden + archive: left out
        t.file("in/.readonly.xlsx", 0444);  // hidden + read-only + archive: added
        t.folder("in/sub");
        t.file("in/sub/b.XLSM");
        t.file("in/sub/c.txt");
        t.folder("in/.private");
        t.file("in/.private/secret.xlsx");
    }
    // Answers the extension prompt and the folder browse, then runs the command.
    void run(const QString& extension, const QString& folder) {
        w.f.dialogs.answer(extension);
        w.f.dialogs.answer(folder);
        w.form.PushButton4_Click();
    }

    FileTree t;
    Window w;
};

TEST_F(FolderCommand, AsksExtensionThenFolderAndAddsMatchingFilesOfTheWholeTree) {
    run(QStringLiteral("xl*"), t.path("in"));
    ASSERT_EQ(w.f.dialogs.shown().size(), 2);
    const auto& prompt = w.f.dialogs.shown()[0];
    EXPECT_EQ(prompt.kind, Kind::InputBox);
    EXPECT_EQ(prompt.prompt, kExtensionPrompt);
    EXPECT_EQ(prompt.title, QStringLiteral("Quillfen"));
    EXPECT_EQ(prompt.defaultAnswer, QStringLiteral("xl*"));
    EXPECT_EQ(w.f.dialogs.shown()[1].kind, Kind::BrowseForFolder);
    EXPECT_EQ(w.f.dialogs.shown()[1].prompt, QStringLiteral("Please select folder:"));
    // The start folder's files come first, in listing order, then the subfolder's.
    QStringList top;
    for (const QString& n : t.listed("in")) {
        if (n == "a.xlsx" || n == ".readonly.xlsx") {
            top << t.path("in/" + n);
        }
    }
    EXPECT_EQ(w.rows(), top + QStringList{t.path("in/sub/b.XLSM")});
    EXPECT_EQ(w.form.pointer().value(), platform::MousePointer::kDefault);
    EXPECT_TRUE(w.f.dialogs.messages().isEmpty());
}

TEST_F(FolderCommand, StarListsEveryFileAndTxtOnlyTextFiles) {
    run(QStringLiteral("*"), t.path("in"));
    EXPECT_EQ(sorted(w.rows()),
              sorted({t.path("in/a.xlsx"), t.path("in/notes.txt"), t.path("in/.readonly.xlsx"),
                      t.path("in/sub/b.XLSM"), t.path("in/sub/c.txt")}));
    w.form.PushButton6_Click();
    run(QStringLiteral("txt"), t.path("in"));
    EXPECT_EQ(sorted(w.rows()), sorted({t.path("in/notes.txt"), t.path("in/sub/c.txt")}));
}

TEST_F(FolderCommand, KeepsTheLastAnswerInTheSettingYetAlwaysOffersXlStar) {
    run(QStringLiteral("txt"), t.path("in"));
    EXPECT_EQ(w.f.settings->getSetting("Extension"), QStringLiteral("txt"));
    w.f.dialogs.clear();
    run(QStringLiteral("doc"), QString());  // the folder browse cancelled
    EXPECT_EQ(w.f.dialogs.shown()[0].defaultAnswer, QStringLiteral("xl*"));
    w.f.restartSettings();
    EXPECT_EQ(w.f.settings->getSetting("Extension"), QStringLiteral("doc"));
}

TEST_F(FolderCommand, CancellingThePromptOrTheBrowseAddsNothingAndSaysNothing) {
    w.f.dialogs.answer(QString());
    w.form.PushButton4_Click();
    ASSERT_EQ(w.f.dialogs.shown().size(), 1);  // no folder browse after a cancelled prompt
    EXPECT_FALSE(w.f.settings->hasSetting("Extension"));
    run(QStringLiteral("xl*"), QString());
    EXPECT_TRUE(w.rows().isEmpty());
    EXPECT_TRUE(w.f.dialogs.messages().isEmpty());
    EXPECT_EQ(w.form.pointer().value(), platform::MousePointer::kDefault);
}

TEST_F(FolderCommand, ShowsTheWaitPointerWhileTheWalkLetsEventsRun) {
    int seen = -1;
    QTimer::singleShot(0, [&] { seen = w.form.pointer().value(); });
    run(QStringLiteral("xl*"), t.path("in"));
    EXPECT_EQ(seen, platform::MousePointer::kWait);
    EXPECT_EQ(w.form.pointer().value(), platform::MousePointer::kDefault);
}

TEST_F(FolderCommand, AFileWhoseAttributesCannotBeReadIsReportedAndStillAdded) {
    const QString name = QString(250, QChar('n')) + ".xlsx";
    const QString deep = t.fileBeyondPathLimit(QStringLiteral("in"), name);
    run(QStringLiteral("xl*"), t.path("in"));
    ASSERT_EQ(w.f.dialogs.messages().size(), 1);
    EXPECT_TRUE(w.f.dialogs.messages()[0].startsWith(QStringLiteral(
        "File not found\r\nin Tarnwick2/19/2015.Form1.PushButton4_Click at line 11")));
    EXPECT_TRUE(w.rows().contains(deep + "/" + name));
    EXPECT_EQ(w.form.pointer().value(), platform::MousePointer::kDefault);
}

// A name that is not valid UTF-8 shows with "?", as the listing spells it, and keeps its bytes
// for the run, whichever way it came into the list.
TEST_F(FolderCommand, ANameThatIsNotUtf8ShowsAQuestionMarkAndKeepsItsBytes) {
    const QByteArray raw = t.raw("in") + "/caf\xe9.xlsx";
    t.rawFile(raw);
    run(QStringLiteral("xl*"), t.path("in"));
    EXPECT_TRUE(w.f.dialogs.messages().isEmpty());
    const int row = int(w.rows().indexOf(t.path("in/caf?.xlsx")));
    ASSERT_GE(row, 0);
    EXPECT_EQ(platform::pathToBytes(w.form.listRowPath(row)), raw);

    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + raw.toPercentEncoding("/"))});
    EXPECT_TRUE(dragAndDrop(w.form, &data));
    EXPECT_EQ(w.rows().last(), t.path("in/caf?.xlsx"));
    EXPECT_EQ(platform::pathToBytes(w.form.listRowPath(int(w.rows().size()) - 1)), raw);
}

TEST_F(FolderCommand, TheSameFolderTwiceGivesEveryFileTwice) {
    run(QStringLiteral("xlsm"), t.path("in"));
    run(QStringLiteral("xlsm"), t.path("in"));
    EXPECT_EQ(w.rows(), (QStringList{t.path("in/sub/b.XLSM"), t.path("in/sub/b.XLSM")}));
}

TEST(DragOverTheList, AcceptsOnlyLocalFiles) {
    Window w;
    QMimeData text;
    text.setText(QStringLiteral("/data/a.xlsx"));
    EXPECT_FALSE(dragAndDrop(w.form, &text));
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.xlsx"))});
    EXPECT_FALSE(dragAndDrop(w.form, &remote));
    EXPECT_TRUE(w.rows().isEmpty());
    EXPECT_TRUE(dropFiles(w.form, {QStringLiteral("/data/a.xlsx")}));
    EXPECT_EQ(w.rows(), QStringList{"/data/a.xlsx"});
}

TEST(DropOnTheList, FilesAreAddedUnchangedWhateverTheyAreAndInTheOrderGiven) {
    Window w;
    FileTree t;
    const QStringList dropped{t.file("~notes.txt"), t.file(".hidden.xlsx"),
                              t.path("no such file.xlsx"), t.file("~notes.txt")};
    w.form.pointer().set(platform::MousePointer::kCustom);
    EXPECT_TRUE(dropFiles(w.form, dropped));
    EXPECT_EQ(w.rows(), dropped);
    EXPECT_EQ(w.form.pointer().value(), platform::MousePointer::kCustom);
    EXPECT_TRUE(w.f.dialogs.shown().isEmpty());
    // A hidden folder is no folder to the listing: it is a plain row, and nothing below it.
    t.folder(".config");
    t.file(".config/inside.xlsx");
    EXPECT_TRUE(dropFiles(w.form, {t.path(".config")}));
    EXPECT_EQ(w.rows().last(), t.path(".config"));
    EXPECT_EQ(w.rows().size(), dropped.size() + 1);
}

TEST(DropOnTheList, TwoFoldersGiveEveryFileOfEachTreeOnceFilteredAndRepaired) {
    Window w;
    FileTree t;
    t.folder("one");
    t.file("one/a.xlsx");
    t.file("one/picture.png");
    t.file("one/~$a.xlsx");
    t.file("one/.hidden");
    t.folder("one/deeper");
    t.file("one/deeper/b.xls");
    t.link(t.path("one"), "one/deeper/loop");
    t.folder("two");
    t.file("two/c.txt", 0444);
    t.file("two/.ro", 0444);
    EXPECT_TRUE(dropFiles(w.form, {t.path("one"), t.path("two/")}));
    EXPECT_EQ(sorted(w.rows()),
              sorted({t.path("one/a.xlsx"), t.path("one/picture.png"), t.path("one/deeper/b.xls"),
                      t.path("two/c.txt"), t.path("two/.ro")}));
    // The first folder's tree comes whole before the second's.
    EXPECT_TRUE(w.rows().indexOf(t.path("one/deeper/b.xls")) <
                w.rows().indexOf(t.path("two/c.txt")));
    EXPECT_TRUE(w.f.dialogs.shown().isEmpty());
}

TEST(DropOnTheList, AFailingItemIsReportedAndTheDropGoesOn) {
    Window w;
    FileTree t;
    t.folder("one");
    const QString name = QString(250, QChar('n')) + ".xlsx";
    const QString deep = t.fileBeyondPathLimit(QStringLiteral("one"), name);
    const QString after = t.file("after.xlsx");
    EXPECT_TRUE(dropFiles(w.form, {t.path("one"), after}));
    EXPECT_EQ(w.rows(), (QStringList{deep + "/" + name, after}));
    ASSERT_EQ(w.f.dialogs.messages().size(), 1);
    EXPECT_TRUE(w.f.dialogs.messages()[0].contains(
        QStringLiteral("Form1.ListView1_OLEDragDrop at line 6")));
}

TEST(LoadSamples, AddsEverySampleAndOpensTheFolderOnYes) {
    Window w;
    const QString samples = w.f.programFolder + "/Samples";
    QDir().mkpath(samples);
    for (const char* n : {"one.xlsx", "two.xls", "readme.txt"}) {
        QFile file(samples + "/" + QString::fromLatin1(n));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QDir().mkpath(samples + "/folder");
    w.f.dialogs.answer(platform::vbYes);
    w.form.PushButton7_Click();
    QStringList expected;
    for (const platform::DirectoryEntry& e : platform::readDirectory(samples)) {
        if (e.kind == platform::DirectoryEntry::Kind::File) {
            expected << samples + "/" + e.name;
        }
    }
    EXPECT_EQ(w.rows(), expected);
    ASSERT_EQ(w.f.dialogs.shown().size(), 1);
    EXPECT_EQ(w.f.dialogs.shown()[0].prompt, kSamplesQuestion);
    EXPECT_EQ(w.f.dialogs.shown()[0].style, platform::vbYesNo);
    EXPECT_EQ(w.f.dialogs.shown()[0].title, QStringLiteral("Quillfen"));
    EXPECT_EQ(w.f.shell.opened, QStringList{samples + "/"});

    w.f.dialogs.answer(platform::vbNo);
    w.form.PushButton7_Click();
    EXPECT_EQ(w.rows(), expected + expected);
    EXPECT_EQ(w.f.shell.opened.size(), 1);
}

TEST(LoadSamples, AFolderTheShellCannotOpenIsTold) {
    Window w;
    w.f.shell.failure = QStringLiteral("Cannot open the folder: no file manager");
    w.f.dialogs.answer(platform::vbYes);
    w.form.PushButton7_Click();
    EXPECT_EQ(w.f.dialogs.messages(), (QStringList{kSamplesQuestion, w.f.shell.failure}));
    EXPECT_EQ(w.f.dialogs.shown()[1].style, platform::vbExclamation);
}

TEST(LoadSamples, WithoutTheFolderStillAsks) {
    Window w;
    w.f.dialogs.answer(platform::vbYes);
    w.form.PushButton7->click();
    EXPECT_TRUE(w.rows().isEmpty());
    EXPECT_EQ(w.f.dialogs.messages(), QStringList{kSamplesQuestion});
    EXPECT_EQ(w.f.shell.opened, QStringList{w.f.programFolder + "/Samples/"});
}

TEST(RemoveRow, DeleteKeyRemovesTheSelectedRowAndNothingWithoutOne) {
    Window w;
    for (const char* p : {"/a.xlsx", "/b.xlsx", "/c.xlsx"}) {
        w.form.addListRow(QString::fromLatin1(p));
    }
    QTest::keyClick(w.form.ListView1, Qt::Key_Delete);
    EXPECT_EQ(w.rows().size(), 3);
    w.form.ListView1->setCurrentItem(w.form.ListView1->topLevelItem(1));
    QTest::keyClick(w.form.ListView1, Qt::Key_Delete);
    EXPECT_EQ(w.rows(), (QStringList{"/a.xlsx", "/c.xlsx"}));
    w.form.ListView1->clearSelection();
    w.form.ListView1_KeyDown(46);
    w.form.ListView1_KeyDown(8);  // other keys do nothing
    EXPECT_EQ(w.rows().size(), 2);
    w.form.ListView1->setCurrentItem(w.form.ListView1->topLevelItem(0));
    w.form.ListView1_KeyDown(8);
    EXPECT_EQ(w.rows().size(), 2);
    EXPECT_TRUE(w.f.dialogs.shown().isEmpty());
}

TEST(RemoveRow, DoubleClickAnywhereOnTheListRemovesTheSelectedRow) {
    Window w;
    w.form.show();
    for (const char* p : {"/a.xlsx", "/b.xlsx", "/c.xlsx"}) {
        w.form.addListRow(QString::fromLatin1(p));
    }
    QWidget* viewport = w.form.ListView1->viewport();
    const QPoint empty(200, viewport->height() - 5);
    doubleClick(viewport, empty);
    EXPECT_EQ(w.rows().size(), 3);  // nothing selected: nothing happens

    // On a row: its first click selects it, the double-click removes it.
    const QRect second = w.form.ListView1->visualItemRect(w.form.ListView1->topLevelItem(1));
    doubleClick(viewport, second.center());
    EXPECT_EQ(w.rows(), (QStringList{"/a.xlsx", "/c.xlsx"}));

    // Landing elsewhere than the selected row still removes the selected row.
    w.form.ListView1->setCurrentItem(w.form.ListView1->topLevelItem(0));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(empty),
                    viewport->mapToGlobal(QPointF(empty)), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(viewport, &dbl);
    EXPECT_EQ(w.rows(), QStringList{"/c.xlsx"});
    EXPECT_TRUE(w.f.dialogs.shown().isEmpty());
}

TEST(ClearList, RemovesEveryRowAndKeepsTheColumn) {
    Window w;
    w.form.addListRow(QStringLiteral("/a.xlsx"));
    w.form.addListRow(QStringLiteral("/a.xlsx"));
    w.form.PushButton6->click();
    EXPECT_TRUE(w.rows().isEmpty());
    EXPECT_EQ(w.form.ListView1->columnCount(), 1);
    EXPECT_EQ(w.form.ListView1->headerItem()->text(0), QStringLiteral("Excel File(s)"));
}
