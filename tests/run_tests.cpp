#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <csignal>

#include "app/form1.h"
#include "longwork/progress.h"
#include "platform/services.h"
#include "results/form2.h"
#include "results/picturebox.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"
#include "support/progresswatch.h"

using namespace testing_support;
using platform::MousePointer;

namespace {

// The main window after start-up, with a fake application and a temporary folder standing in
// for the system's, so a test can see the run's scratch folder come and go.
struct RunBench {
    FakeServices f;
    std::shared_ptr<FakeExcelWorld> world;
    QTemporaryDir cache;
    QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    std::unique_ptr<app::Form1> form;

    explicit RunBench(bool running = false) {
        world = installFakeExcel(f.registry, running);
        world->clipboard = &f.clipboard;
        qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
        form = std::make_unique<app::Form1>(f.services);
        form->Form_Load();
        form->show();
    }
    ~RunBench() {
        form.reset();
        qputenv("XDG_CACHE_HOME", oldCache);
    }

    void add(const QString& path, QVector<QVector<platform::Picture>> sheets) {
        world->workbooks[path] = std::move(sheets);
        form->addListRow(path);
    }
    QStringList resultRows() const {
        QStringList rows;
        QTreeWidget* list = form->existingForm2()->ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            rows << list->topLevelItem(i)->text(0) + QChar('|') + list->topLevelItem(i)->text(1);
        }
        return rows;
    }
    // The runs' private folders, where their spills live.
    QStringList runFolders() const {
        return QDir(cache.filePath(QStringLiteral("quillfen")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

QVector<platform::Picture> pictures(int n, unsigned colour) {
    QVector<platform::Picture> list;
    for (int i = 0; i < n; ++i) {
        list << makePngPicture(40 + i, 30, colour + unsigned(i));
    }
    return list;
}

}  // namespace

TEST(ExtractionRun, EmptyListSaysNoFilesAddedEvenWhenAnInstanceRuns) {
    RunBench b(/*running=*/true);
    b.form->PushButton2_Click();
    EXPECT_EQ(b.f.dialogs.messages(), QStringList({"No files added."}));
    EXPECT_EQ(b.f.dialogs.shown()[0].style, platform::vbOKOnly);
    EXPECT_EQ(b.form->existingForm2(), nullptr);
    EXPECT_EQ(b.form->pointer().value(), MousePointer::kDefault);
    EXPECT_TRUE(b.form->isVisible());
}

TEST(ExtractionRun, AnsweringNoToTheRunningPromptLeavesEverythingAsItWas) {
    RunBench b(/*running=*/true);
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(1, 0x100000)});
    b.f.dialogs.answer(platform::vbNo);
    b.form->PushButton2_Click();
    ASSERT_EQ(b.f.dialogs.messages().size(), 1);
    EXPECT_TRUE(b.f.dialogs.messages()[0].startsWith(QStringLiteral("Excel may be open.")));
    EXPECT_EQ(b.form->existingForm2(), nullptr);
    EXPECT_EQ(b.form->listRows(), QStringList({"/in/a.xlsx"}));
    EXPECT_TRUE(b.form->isVisible());
    EXPECT_EQ(b.world->created, 2);  // the start-up check and the attach; no run
    EXPECT_EQ(b.form->pointer().value(), MousePointer::kDefault);

    b.f.dialogs.answer(platform::vbYes);
    b.form->PushButton2_Click();
    ASSERT_NE(b.form->existingForm2(), nullptr);
    EXPECT_EQ(b.form->existingForm2()->mTotalImages, 1);
}

TEST(ExtractionRun, RowsTopToBottomFillHoldersAndHandOverToTheResultsWindow) {
    RunBench b;
    const QString first = QStringLiteral("/in/first.xlsx");
    const QString second = QStringLiteral("/in/second.xlsx");
    b.add(first, {pictures(2, 0x200000)});
    b.add(second, {{}, pictures(3, 0x300000)});
    b.add(first, {pictures(2, 0x200000)});
    b.form->PushButton2_Click();

    results::Form2* form2 = b.form->existingForm2();
    ASSERT_NE(form2, nullptr);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    EXPECT_EQ(b.resultRows(), QStringList({first + "|1", first + "|2", second + "|1", second + "|2",
                                           second + "|3", first + "|1", first + "|2"}));
    EXPECT_EQ(form2->mTotalImages, 7);
    EXPECT_EQ(form2->imageHolderCount(), 7);
    EXPECT_EQ(form2->imageHolderPicture(4), b.world->workbooks[second][1][2]);
    EXPECT_EQ(form2->imageHolderPicture(5), b.world->workbooks[first][0][0]);
    EXPECT_EQ(form2->Picture1->size(), QSize(40, 30));  // the first image in the preview
    EXPECT_TRUE(form2->isVisible());
    EXPECT_FALSE(b.form->isVisible());
    EXPECT_EQ(b.form->pointer().value(), MousePointer::kDefault);
    EXPECT_EQ(b.world->alive, 0);
    // The holders refer to the run's spill, which goes with them.
    EXPECT_TRUE(form2->imageHolderPicture(6).isSpilled());
    EXPECT_EQ(b.runFolders().size(), 1);
    b.form.reset();
    EXPECT_TRUE(b.runFolders().isEmpty());
}

TEST(ExtractionRun, NoPrivateFolderIsToldOnceAndEndsTheRunBeforeTheFirstWorkbook) {
    RunBench b;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(2, 0x102030)});
    // The cache folder lies under a plain file, which fails for the superuser too; then the
    // temporary folder is missing, or is a plain file as well.
    const QString file = b.cache.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    qputenv("XDG_CACHE_HOME", (file + QStringLiteral("/cache")).toUtf8());
    const QByteArray oldTemp = qgetenv("TMPDIR");
    for (const QString& temp : {b.cache.filePath(QStringLiteral("missing")), file}) {
        SCOPED_TRACE(temp.toStdString());
        b.f.dialogs.clear();
        const int created = b.world->created;
        qputenv("TMPDIR", temp.toUtf8());
        b.form->PushButton2_Click();
        const QStringList messages = b.f.dialogs.messages();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot make a temporary folder")));
        EXPECT_TRUE(messages[0].contains(QStringLiteral("Form1.PushButton2_Click at line 5")));
        EXPECT_EQ(b.world->created, created);
        EXPECT_EQ(b.form->existingForm2(), nullptr);
        EXPECT_TRUE(b.form->isVisible());
        EXPECT_EQ(b.form->pointer().value(), MousePointer::kDefault);
    }
    qputenv("TMPDIR", oldTemp);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/quillfen-") + QString::number(::getuid())));
}

TEST(ExtractionRun, RunWithoutPicturesOpensAnEmptyResultsWindowAndEmptyPreview) {
    RunBench b;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(2, 0x400000)});
    b.form->PushButton2_Click();
    results::Form2* form2 = b.form->existingForm2();
    form2->PushButton8_Click();  // "< Back"
    EXPECT_TRUE(b.form->isVisible());

    b.form->PushButton6_Click();  // "Clear List"
    b.add(QStringLiteral("/in/none.xlsx"), {{}, {}});
    b.form->PushButton2_Click();
    EXPECT_EQ(form2->mTotalImages, 0);
    EXPECT_EQ(form2->ListView1->topLevelItemCount(), 0);
    EXPECT_TRUE(form2->isVisible());
    // Nothing of the earlier run's first picture is left to show or to save.
    EXPECT_TRUE(form2->Picture1->size().isEmpty());
    EXPECT_TRUE(form2->imageHolderPicture(0).isNull());
    // Neither run's spill is left: the first one's went with the new run, the second kept none.
    EXPECT_TRUE(b.runFolders().isEmpty());
}

TEST(ExtractionRun, SecondRunAfterBackNumbersFromOneAndShowsOnlyItsOwnImages) {
    RunBench b;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(3, 0x500000)});
    b.form->PushButton2_Click();
    results::Form2* form2 = b.form->existingForm2();
    form2->PushButton8_Click();
    EXPECT_EQ(form2->imageHolderCount(), 1);
    const QStringList firstSpill = b.runFolders();
    ASSERT_EQ(firstSpill.size(), 1);

    b.form->PushButton6_Click();
    b.add(QStringLiteral("/in/b.xlsx"), {pictures(2, 0x600000)});
    b.form->PushButton2_Click();
    EXPECT_EQ(b.form->existingForm2(), form2);  // created once
    EXPECT_EQ(b.resultRows(), QStringList({"/in/b.xlsx|1", "/in/b.xlsx|2"}));
    EXPECT_EQ(form2->mTotalImages, 2);
    EXPECT_EQ(form2->imageHolderPicture(0), b.world->workbooks["/in/b.xlsx"][0][0]);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    // The second run cleared the first one's spill.
    EXPECT_EQ(b.runFolders().size(), 1);
    EXPECT_NE(b.runFolders(), firstSpill);
}

TEST(ExtractionRun, InputToTheMainWindowIsIgnoredWhileTheRunGoes) {
    RunBench b;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(2, 0x700000)});
    b.add(QStringLiteral("/in/b.xlsx"), {pictures(1, 0x800000)});
    int pokes = 0;
    b.world->failWhen = [&](const QString& member, int, int) {
        if (member == QStringLiteral("copyPicture")) {
            ++pokes;
            // "Clear List", Delete on the list and another "Start Extracting", mid-run.
            QTest::mouseClick(b.form->PushButton6, Qt::LeftButton);
            b.form->ListView1->setCurrentItem(b.form->ListView1->topLevelItem(0));
            QTest::keyClick(b.form->ListView1, Qt::Key_Delete);
            QTest::mouseClick(b.form->PushButton2, Qt::LeftButton);
            EXPECT_EQ(b.form->pointer().value(), MousePointer::kWait);
        }
        return false;
    };
    b.form->PushButton2_Click();
    EXPECT_EQ(pokes, 3);
    EXPECT_EQ(b.form->listRows(), QStringList({"/in/a.xlsx", "/in/b.xlsx"}));
    EXPECT_EQ(b.resultRows().size(), 3);
    EXPECT_EQ(b.world->created, 3);  // the start-up check and one per workbook

    // After the run the same input works again.
    b.form->existingForm2()->PushButton8_Click();
    QTest::mouseClick(b.form->PushButton6, Qt::LeftButton);
    EXPECT_TRUE(b.form->listRows().isEmpty());
}

TEST(ExtractionRun, ClosingTheWindowMidRunEndsWithoutLeavingAnInstanceOrFiles) {
    RunBench b;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(3, 0x900000)});
    b.add(QStringLiteral("/in/b.xlsx"), {pictures(3, 0xA00000)});
    b.world->failWhen = [&](const QString& member, int, int picture) {
        if (member == QStringLiteral("selectPicture") && picture == 2) {
            b.form->close();
        }
        return false;
    };
    b.form->PushButton2_Click();
    EXPECT_EQ(b.f.endProgramCalls, 1);
    EXPECT_FALSE(b.form->existingForm2()->isVisible());
    EXPECT_EQ(b.resultRows().size(), 2);  // the picture in hand is finished, nothing after it
    EXPECT_EQ(b.world->created, 2);       // the second workbook is never opened
    EXPECT_EQ(b.world->alive, 0);
    EXPECT_EQ(b.world->calls.last(), QStringLiteral("quit"));
    b.form.reset();
    EXPECT_TRUE(b.runFolders().isEmpty());
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
}

TEST(ExtractionRun, CancelStopsAfterThePictureInHandAndShowsWhatWasTaken) {
    RunBench b;
    b.f.services.progressDelayMs = 0;
    b.add(QStringLiteral("/in/a.xlsx"), {pictures(3, 0xB00000)});
    b.add(QStringLiteral("/in/b.xlsx"), {pictures(2, 0xC00000)});
    QString title, label;
    b.world->failWhen = [&](const QString& member, int, int picture) {
        auto* window = b.form->findChild<longwork::ProgressWindow*>();
        if (member == QStringLiteral("copyPicture") && picture == 2 && window != nullptr) {
            title = window->windowTitle();
            label = window->label->text();
            QTest::mouseClick(window->cancelButton, Qt::LeftButton);
        }
        return false;
    };
    b.form->PushButton2_Click();
    EXPECT_EQ(title, QStringLiteral("Extracting pictures - Quillfen"));
    EXPECT_EQ(label, QStringLiteral("Workbook 1 of 2: a.xlsx"));
    EXPECT_EQ(b.resultRows(), QStringList({"/in/a.xlsx|1", "/in/a.xlsx|2"}));
    EXPECT_EQ(b.form->existingForm2()->mTotalImages, 2);
    EXPECT_TRUE(b.form->existingForm2()->isVisible());
    EXPECT_FALSE(b.form->isVisible());
    EXPECT_EQ(b.world->created, 2);  // the start-up check and the first workbook
    EXPECT_EQ(b.world->alive, 0);
    EXPECT_EQ(b.form->findChild<longwork::ProgressWindow*>(), nullptr);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
}

TEST(ExtractionRun, CancelWhileAReportIsUpEndsTheRunOnceItIsAnswered) {
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        RunBench b;
        // The clock stands still: the progress window shows only because a report does.
        b.f.services.clockMs = [] { return qint64(0); };
        b.add(QStringLiteral("/in/a.xlsx"), {pictures(1, 0xB00000)});
        // Workbooks that cannot be opened: each gives its two reports, open and count.
        for (const char* name : {"/in/locked1.xlsx", "/in/locked2.xlsx", "/in/locked3.xlsx"}) {
            b.form->addListRow(QString::fromLatin1(name));
        }
        int withWindow = 0;
        b.f.dialogs.whileShown = [&](const platform::ScriptedDialogs::Shown&) {
            auto* window = b.form->findChild<longwork::ProgressWindow*>();
            if (window != nullptr && window->isVisible()) {
                ++withWindow;
                if (cancel) {
                    QTest::mouseClick(window->cancelButton, Qt::LeftButton);
                }
            }
        };
        b.form->PushButton2_Click();
        const QStringList messages = b.f.dialogs.messages();
        ASSERT_EQ(messages.size(), cancel ? 1 : 6);
        EXPECT_EQ(withWindow, messages.size());
        EXPECT_TRUE(messages[0].startsWith("Cannot open '/in/locked1.xlsx'"));
        EXPECT_TRUE(messages[0].contains("ExtractImagesByFile at line 2"));
        if (!cancel) {
            EXPECT_TRUE(messages[1].contains("ExtractImagesByFile at line 3"));
        }
        // What was taken so far shows, as after any Cancel, and no instance is left.
        EXPECT_EQ(b.resultRows(), QStringList({"/in/a.xlsx|1"}));
        EXPECT_TRUE(b.form->existingForm2()->isVisible());
        EXPECT_EQ(b.world->alive, 0);
        EXPECT_EQ(b.world->created, cancel ? 3 : 5);
    }
}

TEST(ExtractionRun, ProgressWindowShowsOnlyOnceTheRunHasTakenASecond) {
    // Each reading of the clock finds the run `step` ms further on.
    for (qint64 step : {0, 600}) {
        SCOPED_TRACE(step);
        RunBench b;
        qint64 now = 0;
        b.f.services.clockMs = [&] { return now += step; };
        for (const char* name : {"/in/a.xlsx", "/in/b.xlsx", "/in/c.xlsx"}) {
            b.add(QString::fromLatin1(name), {pictures(1, 0xD00000)});
        }
        ProgressWatch watch;
        b.form->PushButton2_Click();
        EXPECT_EQ(watch.shown, step > 0 ? 1 : 0);
        EXPECT_EQ(b.resultRows().size(), 3);
        EXPECT_EQ(b.form->findChild<longwork::ProgressWindow*>(), nullptr);
    }
}

TEST(ProgressTexts, CountsAreGroupedInThousands) {
    EXPECT_EQ(longwork::countText(340), QStringLiteral("340"));
    EXPECT_EQ(longwork::countText(2000), QStringLiteral("2,000"));
    EXPECT_EQ(longwork::countText(1234567), QStringLiteral("1,234,567"));
}

TEST(ExtractionRun, FullSpillIsToldOnceAndEndsTheRunWithWhatWasKept) {
    RunBench b;
    auto filled = [](int n, char fill) {
        QVector<platform::Picture> list;
        for (int i = 0; i < n; ++i) {
            list << platform::Picture::fromBytes(QByteArray(4000, char(fill + i)));
        }
        return list;
    };
    b.add(QStringLiteral("/in/a.xlsx"), {filled(3, 'a')});
    b.add(QStringLiteral("/in/b.xlsx"), {filled(2, 'k')});
    b.add(QStringLiteral("/in/c.xlsx"), {filled(1, 'a')});
    b.form->form2();
    // The spill may grow to the first workbook's two pictures; a write past that fails as on
    // a full disk.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 8000;
    auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    b.form->PushButton2_Click();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldSignal);

    const QStringList messages = b.f.dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Cannot write the picture to '"))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("Image.ExtractImagesByFile at line 11"));
    EXPECT_EQ(b.resultRows(), QStringList({"/in/a.xlsx|1", "/in/a.xlsx|2"}));
    EXPECT_EQ(b.form->existingForm2()->mTotalImages, 2);
    EXPECT_EQ(b.world->alive, 0);
    EXPECT_TRUE(b.form->existingForm2()->isVisible());
}
