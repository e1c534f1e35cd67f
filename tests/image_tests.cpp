#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "extract/image.h"
#include "platform/errorreport.h"
#include "platform/picturespill.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"
#include "support/fakeresults.h"

using namespace testing_support;

namespace {

// One workbook path driven through ExtractImagesByFile against the fake application.
struct ExtractionBench {
    FakeServices f;
    FakeResults results;
    QTemporaryDir scratch;
    std::shared_ptr<platform::PictureSpill> spill = platform::PictureSpill::create(scratch.path());
    std::shared_ptr<FakeExcelWorld> world;
    int yields = 0;
    int number = 1;

    explicit ExtractionBench(bool installed = true) {
        if (installed) {
            world = installFakeExcel(f.registry);
            world->clipboard = &f.clipboard;
        }
    }

    extract::ExtractionContext context() {
        extract::ExtractionContext c;
        c.registry = &f.registry;
        c.clipboard = &f.clipboard;
        c.dialogs = &f.dialogs;
        c.results = &results;
        c.spill = spill.get();
        c.yield = [this] { ++yields; };
        return c;
    }

    void extract(const QString& path) { extract::ExtractImagesByFile(path, number, context()); }

    // The lines the error reports name, in order.
    QList<int> reportedLines() const {
        QList<int> lines;
        for (const QString& m : f.dialogs.messages()) {
            int at = m.indexOf(QStringLiteral(" at line "));
            lines << m.mid(at + 9, m.indexOf(QChar('\r'), at) - at - 9).toInt();
        }
        return lines;
    }
};

QVector<platform::Picture> pictures(int n, unsigned colour = 0x102030) {
    QVector<platform::Picture> list;
    for (int i = 0; i < n; ++i) {
        list << makePngPicture(3 + i, 2, colour + unsigned(i));
    }
    return list;
}

const QString kBook = QStringLiteral("/in/book.xlsx");

}  // namespace

TEST(ExtractImages, NumbersPicturesAcrossWorksheetsAndSkipsEmptyOnes) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(2), {}, pictures(1, 0x808080)};
    b.extract(kBook);
    EXPECT_EQ(b.results.rows, QStringList({kBook + "|1", kBook + "|2", kBook + "|3"}));
    ASSERT_EQ(b.results.holders.size(), 3u);
    EXPECT_EQ(b.results.holders[0], b.world->workbooks[kBook][0][0]);
    EXPECT_EQ(b.results.holders[2], b.world->workbooks[kBook][2][0]);
    EXPECT_EQ(b.number, 4);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    EXPECT_EQ(b.yields, 6);  // two after each copy; the file is there at the first test
    EXPECT_EQ(b.world->calls.last(), QStringLiteral("quit"));
    EXPECT_EQ(b.world->calls[b.world->calls.size() - 2], QStringLiteral("setDisplayAlerts"));
    EXPECT_EQ(b.world->alive, 0);
    EXPECT_TRUE(b.results.holders[2].isSpilled());
}

TEST(ExtractImages, SecondWorkbookFillsTheNextHoldersAndNumbersFromOne) {
    ExtractionBench b;
    const QString second = QStringLiteral("/in/other.xlsx");
    b.world->workbooks[kBook] = {pictures(2)};
    b.world->workbooks[second] = {pictures(3, 0x400000)};
    b.extract(kBook);
    b.extract(second);
    EXPECT_EQ(b.number, 6);
    EXPECT_EQ(b.results.rows.mid(2), QStringList({second + "|1", second + "|2", second + "|3"}));
    ASSERT_EQ(b.results.holders.size(), 5u);
    EXPECT_EQ(b.results.holders[4], b.world->workbooks[second][0][2]);
    EXPECT_EQ(b.world->created, 2);
    EXPECT_EQ(b.world->alive, 0);
}

TEST(ExtractImages, WorkbookWithoutPicturesStartsOpensAndQuits) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {{}, {}};
    b.extract(kBook);
    EXPECT_TRUE(b.results.rows.isEmpty());
    EXPECT_EQ(b.number, 1);
    EXPECT_EQ(b.world->calls, QStringList({"openWorkbook", "worksheetCount", "pictureCount(1)",
                                           "pictureCount(2)", "setDisplayAlerts", "quit"}));
}

TEST(ExtractImagesFailures, NoApplicationIsReportedAtEachStatementThatNeedsIt) {
    ExtractionBench b(/*installed=*/false);
    b.extract(kBook);
    EXPECT_EQ(b.reportedLines(), QList<int>({1, 2, 3, 18, 19}));
    EXPECT_EQ(b.f.dialogs.messages()[0],
              platform::errorReportText(QStringLiteral("ActiveX component can't create object"),
                                        QStringLiteral("Image.ExtractImagesByFile"), 1));
    EXPECT_TRUE(b.f.dialogs.messages()[0].contains(
        QStringLiteral("in Tarnwick2/19/2015.Image.ExtractImagesByFile at line 1")));
    EXPECT_EQ(b.number, 1);
}

TEST(ExtractImagesFailures, OpenOrCountFailureEndsTheWorkbookAndStillQuits) {
    for (const char* member : {"openWorkbook", "worksheetCount"}) {
        ExtractionBench b;
        b.world->workbooks[kBook] = {pictures(2)};
        b.world->failing << QString::fromLatin1(member);
        b.extract(kBook);
        QList<int> expected = QString::fromLatin1(member) == QStringLiteral("openWorkbook")
                                  ? QList<int>({2, 3})
                                  : QList<int>({3});
        EXPECT_EQ(b.reportedLines(), expected) << member;
        EXPECT_TRUE(b.results.rows.isEmpty());
        EXPECT_EQ(b.world->calls.last(), QStringLiteral("quit")) << member;
        EXPECT_EQ(b.world->alive, 0);
    }
}

TEST(ExtractImagesFailures, FailedPictureCountKeepsThePreviousCount) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(2), pictures(2, 0x500000), pictures(1, 0x600000)};
    b.world->failWhen = [](const QString& m, int sheet, int) {
        return m == QStringLiteral("pictureCount") && sheet == 2;
    };
    b.extract(kBook);
    EXPECT_EQ(b.reportedLines(), QList<int>({4}));
    EXPECT_EQ(b.results.rows.size(), 5);
    EXPECT_EQ(b.results.holders[3], b.world->workbooks[kBook][1][1]);
}

TEST(ExtractImagesFailures, SelectFailureStillCopiesTheFirstSheetCountFailureMeansZero) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(1), pictures(1)};
    b.world->failWhen = [](const QString& m, int sheet, int) {
        return (m == QStringLiteral("pictureCount") && sheet == 1) ||
               m == QStringLiteral("selectPicture");
    };
    b.extract(kBook);
    // The first sheet's failed count stands at 0; sheet 2's picture fails to select yet is kept.
    EXPECT_EQ(b.reportedLines(), QList<int>({4, 6}));
    EXPECT_EQ(b.results.rows, QStringList({kBook + "|1"}));
    EXPECT_EQ(b.number, 2);
}

TEST(ExtractImagesFailures, FailedCopySkipsThePictureAndNeverSavesAnEarlierOne) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(3)};
    b.world->failWhen = [](const QString& m, int, int picture) {
        return m == QStringLiteral("copyPicture") && picture == 2;
    };
    b.extract(kBook);
    // The copy's report is the picture's one: the empty clipboard has nothing to save.
    EXPECT_EQ(b.reportedLines(), QList<int>({7}));
    // Picture 2 used up its number; nothing of picture 1 was saved under it.
    EXPECT_EQ(b.results.rows, QStringList({kBook + "|1", kBook + "|3"}));
    EXPECT_EQ(b.results.holders[1], b.world->workbooks[kBook][0][2]);
    EXPECT_EQ(b.number, 3);
    // The wait gave up after its bound: two yields after the copy plus one per turn.
    EXPECT_EQ(b.yields, 3 * 2 + extract::kFileWaitTurns);
}

TEST(ExtractImagesFailures, RunWithoutASpillSkipsEveryPictureAfterTheBound) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(2)};
    extract::ExtractionContext c = b.context();
    c.spill = nullptr;
    extract::ExtractImagesByFile(kBook, b.number, c);
    EXPECT_EQ(b.reportedLines(), QList<int>({11, 11}));
    EXPECT_TRUE(b.results.rows.isEmpty());
    EXPECT_EQ(b.number, 1);
}

TEST(ExtractImagesFailures, RefusedHolderKeepsTheRowAndTheNumberMovesOn) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(2)};
    b.results.refuseHolders = true;
    b.extract(kBook);
    EXPECT_EQ(b.reportedLines(), QList<int>({15, 16}));
    EXPECT_EQ(b.results.rows.size(), 2);
    EXPECT_EQ(b.number, 3);
}

TEST(ExtractImagesFailures, AlertsAndQuitFailuresAreReported) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(1)};
    b.world->failing << QStringLiteral("setDisplayAlerts") << QStringLiteral("quit");
    b.extract(kBook);
    EXPECT_EQ(b.reportedLines(), QList<int>({18, 19}));
    EXPECT_EQ(b.world->calls.last(), QStringLiteral("quit"));
    EXPECT_EQ(b.world->alive, 0);
}

TEST(ExtractImagesNumbers, RunningNumberGoesPastTheOld16BitLimitAndReportsOnlyAtIntMax) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(3)};
    b.number = 32767;
    for (int i = 1; i < 32769; ++i) {
        b.results.holders[i] = platform::Picture();
    }
    b.results.holders.erase(32766);
    b.results.holders.erase(32767);
    b.results.holders.erase(32768);
    b.extract(kBook);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    EXPECT_EQ(b.number, 32770);
    EXPECT_EQ(b.results.holders[32768], b.world->workbooks[kBook][0][2]);

    ExtractionBench top;
    top.world->workbooks[kBook] = {pictures(1)};
    top.number = std::numeric_limits<int>::max();
    top.extract(kBook);
    EXPECT_EQ(top.reportedLines(), QList<int>({17}));
    EXPECT_EQ(top.number, std::numeric_limits<int>::max());
}

TEST(ExtractImagesFiles, NothingIsWrittenBesideTheWorkbook) {
    ExtractionBench b;
    QTemporaryDir folder;
    const QString book = folder.filePath(QStringLiteral("book.xlsx"));
    const QString users = book + QStringLiteral("1.bmp");
    QFile own(users);
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("the user's own file");
    own.close();
    b.world->workbooks[book] = {pictures(2)};
    b.extract(book);
    EXPECT_EQ(b.results.rows.size(), 2);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    EXPECT_EQ(own.readAll(), QByteArray("the user's own file"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("book.xlsx1.bmp")}));
}

TEST(ExtractImagesFiles, AWorkbookNameNearTheLengthLimitKeepsEveryPicture) {
    ExtractionBench b;
    const QString book = QStringLiteral("/in/") + QString(247, QChar('n')) + ".xlsx";
    b.world->workbooks[book] = {pictures(2)};
    b.extract(book);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    EXPECT_EQ(b.results.rows.size(), 2);
}

TEST(ExtractImagesEnding, ClosingTheProgramStopsAtTheNextTurnAndStillQuits) {
    ExtractionBench b;
    b.world->workbooks[kBook] = {pictures(5)};
    extract::ExtractionContext c = b.context();
    c.ending = [&] { return b.yields >= 2; };
    extract::ExtractImagesByFile(kBook, b.number, c);
    EXPECT_EQ(b.results.rows.size(), 1);
    EXPECT_EQ(b.world->calls.last(), QStringLiteral("quit"));
    EXPECT_EQ(b.world->alive, 0);
}

TEST(ExtractImagesFiles, PictureInAFormatNobodyDecodesStillGetsItsHolder) {
    ExtractionBench b;
    // An HD Photo: stored and copied like any other, though nothing here can show it.
    const auto hdPhoto = platform::Picture::fromBytes(QByteArray("II\xBC\x01 hd photo bytes", 20));
    b.world->workbooks[kBook] = {{hdPhoto}};
    b.extract(kBook);
    EXPECT_TRUE(b.f.dialogs.shown().isEmpty());
    EXPECT_EQ(b.results.rows, QStringList({kBook + "|1"}));
    EXPECT_EQ(b.results.holders[0], hdPhoto);
}
