#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "platform/errorreport.h"
#include "platform/mainmodule.h"
#include "platform/mousepointer.h"
#include "platform/picture.h"
#include "platform/picturespill.h"
#include "platform/qtdialogs.h"
#include "platform/runtimeerror.h"
#include "platform/scripteddialogs.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"
#include "platform/twips.h"

using namespace platform;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(ErrorReport, TextMatchesToTheCharacter) {
    EXPECT_EQ(
        errorReportText(QStringLiteral("Subscript out of range"),
                        QStringLiteral("Form1.PushButton2_Click"), 7),
        QStringLiteral("Subscript out of range\r\nin Tarnwick2/19/2015.Form1.PushButton2_Click"
                       " at line 7\r\rPlease email screenshot of this message to ") +
            supportEmail());
    EXPECT_FALSE(supportEmail().isEmpty());
    EXPECT_TRUE(supportEmail().contains(QChar('@')));
}

TEST(ErrorReport, ThrowingStatementIsReportedAndTheHandlerGoesOn) {
    ScriptedDialogs dialogs;
    ErrorTrap trap(dialogs, nullptr, QStringLiteral("Form2"), QStringLiteral("PushButton6_Click"));
    QStringList ran;
    trap.run(1, [&] { ran << "one"; });
    EXPECT_FALSE(trap.run(2, [&] {
        throw RuntimeError(err::kFileNotFound, QStringLiteral("File not found"));
        ran << "never";
    }));
    trap.run(3, [&] { ran << "three"; });
    EXPECT_EQ(ran, QStringList({"one", "three"}));
    ASSERT_EQ(dialogs.shown().size(), 1);
    const auto& box = dialogs.shown().front();
    EXPECT_EQ(box.title, QStringLiteral("Application Error"));
    EXPECT_EQ(box.style, vbExclamation);
    EXPECT_EQ(box.prompt, errorReportText(QStringLiteral("File not found"),
                                          QStringLiteral("Form2.PushButton6_Click"), 2));
    EXPECT_EQ(trap.reports(), 1);
}

TEST(ErrorReport, ThrowingConditionRunsTheGuardedBranch) {
    ScriptedDialogs dialogs;
    ErrorTrap trap(dialogs, nullptr, QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    bool guarded = false;
    if (trap.test(4, []() -> bool { throw std::runtime_error("disk gone"); })) {
        guarded = true;
    }
    EXPECT_TRUE(guarded);
    EXPECT_TRUE(dialogs.messages().front().startsWith(
        QStringLiteral("disk gone\r\nin Tarnwick2/19/2015.Form1.Form_Load at line 4\r\r")));
    // A test that does not throw decides as usual.
    EXPECT_FALSE(trap.test(5, [] { return false; }));
    EXPECT_EQ(trap.reports(), 1);
}

TEST(MainHelpers, PathExistsForFilesAndFoldersOnly) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.txt"));
    writeFile(file, "x");
    EXPECT_TRUE(PathExists(dir.path()));
    EXPECT_TRUE(PathExists(file));
    EXPECT_FALSE(PathExists(QString()));
    QFile::remove(file);
    EXPECT_FALSE(PathExists(file));
}

TEST(MainHelpers, DeleteFileQuietlyNeverComplains) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("b.bmp"));
    writeFile(file, "x");
    DeleteFileQuietly(file);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_NO_THROW(DeleteFileQuietly(file));
    EXPECT_NO_THROW(DeleteFileQuietly(QString()));
    // A folder is not a file, and a read-only file is not deleted: both are left alone.
    DeleteFileQuietly(dir.path());
    EXPECT_TRUE(QDir(dir.path()).exists());
    const QString readOnly = dir.filePath(QStringLiteral("kept.bmp"));
    writeFile(readOnly, "x");
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    DeleteFileQuietly(readOnly);
    EXPECT_TRUE(QFile::exists(readOnly));
}

// The file dialog hands back every file picked, however long the names are together: it has no
// component buffer to cut them off.
TEST(QtFileDialog, AManyFilePickLongerThanTheOldBufferComesBackWhole) {
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < 125; ++i) {
        names << QString(240, QChar('a' + i % 26)) + QString::number(i) + ".xlsx";
        writeFile(dir.filePath(names.last()), "x");
    }
    // Every file of the folder picked, as a user's Ctrl+A does, once the folder is listed.
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* model = dialog->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        QObject::connect(model, &QFileSystemModel::directoryLoaded, dialog, [dialog] {
            dialog->findChild<QListView*>(QStringLiteral("listView"))->selectAll();
            static_cast<QDialog*>(dialog)->accept();
        });
        dialog->setDirectory(dir.path());
    });
    QtDialogs dialogs;
    FileOpenRequest request;
    request.filter = QStringLiteral("Excel Files (*.xl*)|*.xl*|");
    const QString text = dialogs.showOpen(nullptr, request);
    EXPECT_GT(text.size(), request.maxFileSize);
    QStringList parts = text.split(QChar(u'\0'));
    EXPECT_EQ(parts.takeFirst(), QFileInfo(dir.path()).canonicalFilePath());
    parts.sort();
    names.sort();
    EXPECT_EQ(parts, names);
}

TEST(MainHelpers, DesktopFolderPathEndsInExactlyOneSeparator) {
    QString desktop = DesktopFolderPath();
    EXPECT_TRUE(desktop.endsWith(QChar('/')));
    EXPECT_FALSE(desktop.endsWith(QStringLiteral("//")));
    EXPECT_FALSE(desktop.contains(QChar(u'\0')));

    auto shell = [](int) {
        return (QStringLiteral("/home/ann/Desktop") + QChar(u'\0')).leftJustified(512, ' ');
    };
    EXPECT_EQ(DesktopFolderPath(shell), QStringLiteral("/home/ann/Desktop/"));
}

TEST(MainHelpers, DesktopFolderFallsBackToPicturesThenHome) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    struct Case {
        bool desktop;
        bool pictures;
        QString expected;
    };
    for (const Case& c :
         {Case{true, true, "/Desktop"}, Case{false, true, "/Pictures"}, Case{false, false, ""}}) {
        for (const char* sub : {"Desktop", "Pictures"}) {
            QDir(home.path()).rmdir(QString::fromLatin1(sub));
        }
        if (c.desktop) {
            QDir(home.path()).mkdir(QStringLiteral("Desktop"));
        }
        if (c.pictures) {
            QDir(home.path()).mkdir(QStringLiteral("Pictures"));
        }
        EXPECT_EQ(desktopFolder(), home.path() + c.expected);
        EXPECT_EQ(DesktopFolderPath(), home.path() + c.expected + QChar('/'));
    }
    qputenv("HOME", oldHome);
}

TEST(MainHelpers, SpecialFolderPathFillsTheShellBuffer) {
    QString buffer = SpecialFolderPath(CSIDL_DESKTOP);
    ASSERT_EQ(buffer.size(), kShellPathBufferLength);
    qsizetype nul = buffer.indexOf(QChar(u'\0'));
    ASSERT_GT(nul, 0);
    EXPECT_EQ(buffer.mid(nul + 1).trimmed(), QString());
    EXPECT_EQ(SpecialFolderPath(5), QString());
}

TEST(MainHelpers, DesktopFolderPathRaisesInvalidArgumentWhenTheLookupFails) {
    try {
        DesktopFolderPath([](int) { return QString(); });
        FAIL() << "no error raised";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), err::kInvalidProcedureCall);
        EXPECT_EQ(e.description(), QStringLiteral("Invalid procedure call or argument"));
    }
}

TEST(MainHelpers, CenterFormIsNotClampedToTheScreen) {
    QPointF p = centeredOrigin(QSizeF(1024, 768), QSizeF(1500, 300));
    EXPECT_DOUBLE_EQ(p.x(), -238.0);
    EXPECT_DOUBLE_EQ(p.y(), 234.0);
    // Halves stay halves: nothing is rounded.
    EXPECT_DOUBLE_EQ(centeredOrigin(QSizeF(1025, 769), QSizeF(536, 272)).x(), 244.5);

    QWidget wide;
    wide.resize(6000, 100);
    CenterForm(wide);
    EXPECT_LT(wide.x(), 0);
}

TEST(MainHelpers, SkinAbsentTouchesNothingAndPresentColoursThenApplies) {
    QTemporaryDir program;
    QWidget form;
    auto* label = new QLabel(QStringLiteral("x"), &form);
    auto* option = new QRadioButton(QStringLiteral("y"), &form);
    auto* frame = new QGroupBox(QStringLiteral("z"), &form);
    auto* button = new QPushButton(QStringLiteral("b"), &form);
    ApplySkin(form, program.path());
    EXPECT_FALSE(form.autoFillBackground());
    EXPECT_TRUE(form.styleSheet().isEmpty());

    writeFile(program.filePath(QStringLiteral("x/o.cjs")), "QPushButton { color: #123456; }");
    ApplySkin(form, program.path());
    const QColor face = form.palette().color(QPalette::Button);
    EXPECT_TRUE(form.autoFillBackground());
    EXPECT_EQ(form.palette().color(QPalette::Window), face);
    for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(option),
                       static_cast<QWidget*>(frame)}) {
        EXPECT_TRUE(w->autoFillBackground()) << w->metaObject()->className();
    }
    EXPECT_FALSE(button->autoFillBackground());
    EXPECT_EQ(form.styleSheet(), QStringLiteral("QPushButton { color: #123456; }"));
}

TEST(Twips, FifteenToThePixelRoundingHalvesToEven) {
    EXPECT_EQ(twipsToPixels(120), 8);
    EXPECT_EQ(twipsToPixels(7000), 467);
    EXPECT_EQ(twipsToPixels(7), 0);
    EXPECT_EQ(twipsToPixels(8), 1);
    EXPECT_EQ(twipsRect(4080, 3030, 3840, 405), QRect(272, 202, 256, 27));
}

TEST(SettingsStore, KeepsTextUnderTheSectionAcrossInstances) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Velmora.conf"));
    {
        SettingsStore store(file);
        EXPECT_FALSE(store.hasSetting(QStringLiteral("Output Folder")));
        EXPECT_EQ(store.getSetting(QStringLiteral("Extension"), QStringLiteral("d")),
                  QStringLiteral("d"));
        store.saveSetting(QStringLiteral("Output Folder"), QStringLiteral("/out dir/"));
    }
    SettingsStore again(file);
    EXPECT_EQ(again.getSetting(QStringLiteral("Output Folder")), QStringLiteral("/out dir/"));
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("[Quillfen]"));
}

TEST(SettingsStore, DefaultStoreIsVelmoraConfInTheConfigFolder) {
    SettingsStore store;
    EXPECT_EQ(store.fileName(),
              QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/Velmora.conf"));
}

TEST(SettingsStore, BooleansReadFromWordsOrNumbers) {
    EXPECT_TRUE(settingToBool(QStringLiteral("True"), false));
    EXPECT_FALSE(settingToBool(QStringLiteral("False"), true));
    EXPECT_TRUE(settingToBool(QStringLiteral("-1"), false));
    EXPECT_FALSE(settingToBool(QStringLiteral("0"), true));
    EXPECT_TRUE(settingToBool(QString(), true));
    EXPECT_EQ(boolToSetting(true), QStringLiteral("True"));
}

TEST(MousePointer, HoverNeverReplacesTheWaitPointer) {
    QWidget window;
    MousePointer pointer(&window);
    pointer.hover(MousePointer::kCustom);
    EXPECT_EQ(pointer.value(), 99);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);  // no MouseIcon: the plain arrow
    pointer.set(MousePointer::kWait);
    EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
    pointer.hover(MousePointer::kDefault);
    pointer.hover(MousePointer::kCustom);
    EXPECT_EQ(pointer.value(), 11);
    pointer.set(MousePointer::kDefault);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

TEST(MousePointer, HandCursorShippedBesideTheProgramLoadsWithItsHotSpot) {
    QWidget window;
    MousePointer pointer(&window);
    pointer.loadMouseIcon(besideProgram(applicationFolder(), QStringLiteral("HAND-M.CUR")));
    ASSERT_TRUE(pointer.hasMouseIcon());
    EXPECT_EQ(pointer.mouseIcon()->hotSpot(), QPoint(12, 2));
    pointer.set(MousePointer::kCustom);
    EXPECT_EQ(window.cursor().shape(), Qt::BitmapCursor);

    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("bad.cur")), "not a cursor");
    EXPECT_THROW(pointer.loadMouseIcon(dir.filePath(QStringLiteral("bad.cur"))), RuntimeError);
}

TEST(ScriptedDialogs, RecordsEveryBoxAndAnswersFromTheQueue) {
    ScriptedDialogs dialogs;
    dialogs.answer(vbYes);
    dialogs.answer(QStringLiteral("txt"));
    EXPECT_EQ(dialogs.msgBox(nullptr, QStringLiteral("Go?"), vbYesNo), vbYes);
    EXPECT_EQ(dialogs.inputBox(nullptr, QStringLiteral("Ext"), kAppTitle, QStringLiteral("xl*")),
              QStringLiteral("txt"));
    // An empty queue answers as Escape would.
    EXPECT_EQ(dialogs.msgBox(nullptr, QStringLiteral("Again?"), vbYesNo), vbNo);
    EXPECT_EQ(dialogs.browseForFolder(nullptr, QStringLiteral("Please select folder:")), QString());
    ASSERT_EQ(dialogs.shown().size(), 4);
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("Quillfen"));
    EXPECT_EQ(dialogs.shown()[1].defaultAnswer, QStringLiteral("xl*"));
}

TEST(PictureSpill, KeepsBytesOnceReadsThemBackAndGoesWithTheLastPicture) {
    QTemporaryDir root;
    QString folder;
    {
        auto spill = PictureSpill::create(root.path());
        folder = spill->folder();
        const Picture a = Picture::fromBytes(QByteArray(5000, 'a'));
        const Picture b = Picture::fromBytes(QByteArray(5000, 'b'));
        const Picture keptA = spill->keep(a);
        const Picture keptB = spill->keep(b);
        EXPECT_EQ(spill->keep(b), keptB);  // the buffer kept last, again
        const Picture again = spill->keep(Picture::fromBytes(QByteArray(5000, 'a')));
        EXPECT_TRUE(keptA.isSpilled());
        EXPECT_EQ(keptA.bytes(), a.bytes());
        EXPECT_EQ(keptB.bytes(), b.bytes());
        EXPECT_EQ(again, keptA);
        EXPECT_EQ(spill->size(), 10000);  // identical bytes are kept once
        EXPECT_EQ(QFileInfo(spill->filePath()).size(), 10000);
        EXPECT_THROW(spill->keep(Picture()), RuntimeError);
        EXPECT_FALSE(keptA.inMemory().isSpilled());
        // The pictures keep the spill, and it goes with the last of them.
        spill.reset();
        EXPECT_EQ(keptB.bytes(), b.bytes());
        EXPECT_TRUE(QFileInfo::exists(folder));
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(PictureSpill, LeftoversOfDeadRunsGoAndNothingElse) {
    QTemporaryDir root;
    auto live = PictureSpill::create(root.path());
    auto makeFolder = [&](const QString& name, const QStringList& files) {
        QDir(root.path()).mkdir(name);
        for (const QString& file : files) {
            writeFile(root.filePath(name + "/" + file), "x");
        }
        return root.filePath(name);
    };
    const QString dead = makeFolder("run-dead01", {"pictures"});
    const QString foreign = makeFolder("run-mixed1", {"pictures", "notes.txt"});
    const QString notOurs = makeFolder("photos", {"pictures"});
    const QString young = makeFolder("run-young1", {});
    const QString old = makeFolder("run-old001", {});
    utimbuf longAgo{100, 100};
    ::utime(QFile::encodeName(old).constData(), &longAgo);

    removeStaleRunFolders(root.path());
    EXPECT_TRUE(QFileInfo::exists(live->filePath()));
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_FALSE(QFileInfo::exists(foreign + "/pictures"));
    EXPECT_TRUE(QFileInfo::exists(foreign + "/notes.txt"));
    EXPECT_TRUE(QFileInfo::exists(notOurs + "/pictures"));
    EXPECT_TRUE(QFileInfo::exists(young));
    EXPECT_FALSE(QFileInfo::exists(old));
}

TEST(PictureSpill, RootIsTheUsersCacheFolder) {
    EXPECT_EQ(runFoldersRoot(),
              qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/quillfen"));
}

TEST(QtDialogs, FilterNamesEachPatternOnce) {
    const struct {
        const char* component;
        const char* shown;
    } cases[] = {
        {"Excel Files (*.xl*)|*.xl*|", "Excel Files (*.xl*)"},
        {"Pictures|*.png;*.jpg|", "Pictures (*.png *.jpg)"},
        {"Old (*.xls)|*.xl*|All|*.*|", "Old (*.xls) (*.xl*);;All (*.*)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qtFileFilter(QString::fromLatin1(c.component)), QString::fromLatin1(c.shown))
            << c.component;
    }
    // The dialog reads the patterns back from what it is given.
    QFileDialog dialog;
    dialog.setNameFilter(qtFileFilter(QStringLiteral("Excel Files (*.xl*)|*.xl*|")));
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Excel Files (*.xl*)")});
}

TEST(DesktopShell, ALauncherThatCannotOpenTheFolderIsTold) {
    // A stand-in for xdg-open that answers as it does on a desktop without a file manager.
    QTemporaryDir bin;
    writeFile(bin.filePath(QStringLiteral("xdg-open")), "#!/bin/sh\nexit 3\n");
    QFile::setPermissions(bin.filePath(QStringLiteral("xdg-open")),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + oldPath);
    QString told;
    QEventLoop loop;
    DesktopShell().openFolder(QStringLiteral("/opt/quillfen/Samples/"), [&](const QString& m) {
        told = m;
        loop.quit();
    });
    // A bound on the wait for the launcher's answer, not a measure of it.
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    qputenv("PATH", oldPath);
    EXPECT_EQ(told, QStringLiteral("Cannot open the folder '/opt/quillfen/Samples/': no file "
                                   "manager is set up to show folders."));
    EXPECT_EQ(folderNotOpenedText(QStringLiteral("/x/"), 2),
              QStringLiteral("Cannot open the folder '/x/': the folder does not exist."));
}

TEST(QtDialogs, ReportLeavesALiveWindowUsableBesideItAndHoldsOffTheOthers) {
    QWidget owner;
    owner.setGeometry(200, 100, 536, 272);
    auto* ownerButton = new QPushButton(QStringLiteral("Start"), &owner);
    ownerButton->setGeometry(10, 10, 100, 30);
    // A progress window over the owner, as long work shows it.
    QWidget progress(&owner, Qt::Dialog);
    progress.setProperty(kLiveBesideBoxes, true);
    progress.setGeometry(268, 180, 400, 112);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &progress);
    cancel->setGeometry(288, 74, 100, 27);
    owner.show();
    progress.show();
    int cancels = 0;
    int starts = 0;
    QObject::connect(cancel, &QPushButton::clicked, [&] { ++cancels; });
    QObject::connect(ownerButton, &QPushButton::clicked, [&] { ++starts; });
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && qobject_cast<QMessageBox*>(w) != nullptr) {
                box = static_cast<QMessageBox*>(w);
            }
        }
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->frameGeometry().intersects(progress.frameGeometry()));
        // Clicks as the window system delivers them, which modality would drop.
        QTest::mouseClick(progress.windowHandle(), Qt::LeftButton, {}, cancel->geometry().center());
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {},
                          ownerButton->geometry().center());
        checked = true;
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(QtDialogs().msgBox(&owner, QStringLiteral("Cannot open 'a.xlsx'"), vbExclamation,
                                 QStringLiteral("Application Error")),
              vbOK);
    EXPECT_TRUE(checked);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(starts, 0);
}

TEST(QtDialogs, MessageBoxLeavesRoomForItsTitleAndOffersOnlyClose) {
    for (const QString& title : {kAppTitle, QStringLiteral("Application Error")}) {
        QMessageBox box;
        prepareMessageBox(box, QStringLiteral("Done."), vbOKOnly, title);
        box.show();
        QFont bold = box.font();
        bold.setBold(true);
        // The title, a window icon and three title-bar buttons of 24 pixels or more.
        EXPECT_GE(box.width(), QFontMetrics(bold).horizontalAdvance(title) + 4 * 24)
            << title.toStdString();
        EXPECT_EQ(box.windowTitle(), title);
        const Qt::WindowFlags flags = box.windowFlags();
        EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
        EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    }
}
