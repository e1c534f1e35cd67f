// The run end to end with the native engine on real workbooks: what lands in the results
// window is exactly what the workbooks store.
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/form1.h"
#include "automation/nativeexcel.h"
#include "builders/biffbuilder.h"
#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "platform/picturespill.h"
#include "results/form2.h"
#include "support/appfixture.h"
#include "workbook/workbook.h"

using namespace testing_support;

namespace {

QByteArray bytesOf(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

struct NativeRun {
    FakeServices f;
    QTemporaryDir folder;
    std::unique_ptr<app::Form1> form;

    NativeRun() {
        automation::registerNativeExcel(f.registry, f.clipboard);
        form = std::make_unique<app::Form1>(f.services);
        form->Form_Load();
        form->show();
    }
    QString path(const QString& name) const { return folder.filePath(name); }
    QStringList resultRows() const {
        QStringList rows;
        QTreeWidget* list = form->existingForm2()->ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            rows << QFileInfo(list->topLevelItem(i)->text(0)).fileName() + QChar('|') +
                        list->topLevelItem(i)->text(1);
        }
        return rows;
    }
    QByteArray holder(int k) const {
        return form->existingForm2()->imageHolderPicture(k).bytes();
    }
};

}  // namespace

TEST(ExtractionRunNative, WorksheetsWith201PicturesAndASecondWorkbookFillHoldersInOrder) {
    NativeRun r;
    const auto p1 = pngImage(30, 20, 0x112233), p2 = jpegImage(64, 48, 0x445566);
    const auto p3 = bmpImage(12, 9, 0x778899);
    XlsxBuilder()
        .worksheet("One").picture(1, 1, p1).picture(5, 2, p2)
        .worksheet("Empty")
        .chartsheet("Chart")
        .worksheet("Three").picture(0, 0, p3)
        .save(r.path("first.xlsx").toStdString());
    const auto q1 = pngImage(8, 8, 0xAA0000), q2 = pngImage(9, 9, 0x00AA00);
    const auto q3 = jpegImage(10, 10, 0x0000AA);
    XlsxBuilder()
        .worksheet("A").picture(0, 0, q1).picture(0, 3, q2)
        .worksheet("B", /*hidden=*/true).picture(2, 2, q3)
        .save(r.path("second.xlsx").toStdString());
    r.form->addListRow(r.path("first.xlsx"));
    r.form->addListRow(r.path("second.xlsx"));
    r.form->PushButton2_Click();

    EXPECT_TRUE(r.f.dialogs.shown().isEmpty()) << r.f.dialogs.messages().join("\n").toStdString();
    EXPECT_EQ(r.resultRows(), QStringList({"first.xlsx|1", "first.xlsx|2", "first.xlsx|3",
                                           "second.xlsx|1", "second.xlsx|2", "second.xlsx|3"}));
    EXPECT_EQ(r.form->existingForm2()->mTotalImages, 6);
    const std::vector<std::uint8_t>* expected[] = {&p1, &p2, &p3, &q1, &q2, &q3};
    // The holders keep only their pictures' places in the run's spill; the bytes read back are
    // the stored ones.
    for (int k = 0; k < 6; ++k) {
        EXPECT_TRUE(r.form->existingForm2()->imageHolderPicture(k).isSpilled());
        EXPECT_EQ(r.holder(k), bytesOf(*expected[k])) << "holder " << k;
    }
    // Nothing was written beside the workbooks.
    EXPECT_EQ(QDir(r.folder.path()).entryList(QDir::Files).size(), 2);
}

TEST(ExtractionRunNative, WorkbookInAReadOnlyFolderGivesAllItsPictures) {
    NativeRun r;
    QDir().mkpath(r.path("locked"));
    const auto p1 = pngImage(5, 5), p2 = pngImage(6, 6, 0x010203);
    XlsxBuilder().worksheet("S").picture(0, 0, p1).picture(1, 1, p2)
        .save(r.path("locked/book.xlsx").toStdString());
    ::chmod(QFile::encodeName(r.path("locked")).constData(), 0555);
    r.form->addListRow(r.path("locked/book.xlsx"));
    r.form->PushButton2_Click();
    ::chmod(QFile::encodeName(r.path("locked")).constData(), 0755);
    EXPECT_TRUE(r.f.dialogs.shown().isEmpty());
    EXPECT_EQ(r.resultRows(), QStringList({"book.xlsx|1", "book.xlsx|2"}));
    EXPECT_EQ(r.holder(1), bytesOf(p2));
}

TEST(ExtractionRunNative, DamagedWorkbookIsReportedAndTheRunGoesOn) {
    NativeRun r;
    QFile bad(r.path("bad.xlsx"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("PK\x03\x04 not really a zip");
    bad.close();
    const auto p = pngImage(7, 7);
    XlsxBuilder().worksheet("S").picture(0, 0, p).save(r.path("good.xlsx").toStdString());
    r.form->addListRow(r.path("bad.xlsx"));
    r.form->addListRow(r.path("good.xlsx"));
    r.form->PushButton2_Click();
    const QStringList messages = r.f.dialogs.messages();
    ASSERT_GE(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot open '") + r.path("bad.xlsx")))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Image.ExtractImagesByFile at line 2")));
    EXPECT_EQ(r.resultRows(), QStringList({"good.xlsx|1"}));
    EXPECT_EQ(r.holder(0), bytesOf(p));
}

TEST(ExtractionRunNative, AMissingDrawingIsReportedOnceAndTheIntactWorksheetGivesItsPicture) {
    NativeRun r;
    const auto p = pngImage(5, 5);
    const std::string anchor = drawingXml(pictureAnchor(0, 0, "rId1"));
    packageWith({{"A", "worksheet", anchor, {{"rId1", "../media/a.png"}}, {}},
                 {"B", "worksheet", anchor, {{"rId1", "../media/a.png"}}, {}}})
        .addBytes("xl/media/a.png", p)
        .remove("xl/drawings/drawing1.xml")
        .save(r.path("flipped.xlsx").toStdString());
    r.form->addListRow(r.path("flipped.xlsx"));
    r.form->PushButton2_Click();
    const QStringList messages = r.f.dialogs.messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(
        QStringLiteral("(xl/drawings/drawing1.xml: the part is missing)\r\nin "
                       "Tarnwick2/19/2015.Image.ExtractImagesByFile at line 2")))
        << messages[0].toStdString();
    EXPECT_EQ(r.resultRows(), QStringList({"flipped.xlsx|1"}));
    EXPECT_EQ(r.holder(0), bytesOf(p));
}

TEST(ExtractionRunNative, PicturesWithTheSameBytesShareThemInTheHolders) {
    NativeRun r;
    const auto p = pngImage(6, 6);
    const std::string anchors = drawingXml(
        pictureAnchor(0, 0, "rId1") + pictureAnchor(0, 4, "rId1") + pictureAnchor(0, 8, "rId1"));
    packageWith({{"S", "worksheet", anchors, {{"rId1", "../media/a.png"}}, {}}})
        .addBytes("xl/media/a.png", p)
        .save(r.path("shared.xlsx").toStdString());
    r.form->addListRow(r.path("shared.xlsx"));
    r.form->addListRow(r.path("shared.xlsx"));
    r.form->PushButton2_Click();
    ASSERT_EQ(r.form->existingForm2()->mTotalImages, 6);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(r.holder(k), bytesOf(p)) << "holder " << k;
    }
    // The run's spill holds the image once, however often it appears.
    const QFileInfoList runs =
        QDir(platform::runFoldersRoot()).entryInfoList({QStringLiteral("run-*")}, QDir::Dirs);
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(QFileInfo(runs[0].filePath() + QStringLiteral("/pictures")).size(), qint64(p.size()));
}

TEST(ExtractionRunNative, AWorkbookWhoseNameIsNotUtf8IsOpenedByItsBytes) {
    NativeRun r;
    const auto p = pngImage(4, 4);
    XlsxBuilder().worksheet("S").picture(0, 0, p).save(r.path("plain.xlsx").toStdString());
    const QByteArray raw = QFile::encodeName(r.folder.path()) + "/\xff\xfe.xlsx";
    ASSERT_EQ(::rename(QFile::encodeName(r.path("plain.xlsx")).constData(), raw.constData()), 0);
    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + raw.toPercentEncoding("/"))});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    r.form->ListView1_OLEDragDrop(&drop);
    r.form->PushButton2_Click();
    EXPECT_TRUE(r.f.dialogs.shown().isEmpty()) << r.f.dialogs.messages().value(0).toStdString();
    EXPECT_EQ(r.resultRows(), QStringList({"??.xlsx|1"}));
    EXPECT_EQ(r.holder(0), bytesOf(p));
    ::unlink(raw.constData());
}

TEST(ExtractionRunNative, CorpusWorkbookHoldsExactlyItsStoredPictures) {
    NativeRun r;
    const QString corpus = QStringLiteral(QUILLFEN_TEST_DATA_DIR) + QStringLiteral("/corpus/xlsx/");
    r.form->addListRow(corpus + QStringLiteral("cx_ImageAnchors.xlsx"));
    r.form->PushButton2_Click();
    EXPECT_TRUE(r.f.dialogs.shown().isEmpty());
    // 2, 1, 3 and 1 pictures on its four worksheets.
    EXPECT_EQ(r.form->existingForm2()->mTotalImages, 7);
    EXPECT_EQ(r.resultRows().last(), QStringLiteral("cx_ImageAnchors.xlsx|7"));
}

TEST(ExtractionRunNative, BinaryWorkbookFillsHoldersWithItsStoredPicturesAndBitmapsAsFiles) {
    NativeRun r;
    const auto png = pngImage(12, 8), jpeg = jpegImage(9, 9), dib = dibImage(4, 3);
    BiffBuilder book;
    book.blip(BiffBuilder::kPng, png).blip(BiffBuilder::kDib, dib).blip(BiffBuilder::kJpeg, jpeg);
    book.worksheet("One").picture(1).group({1, 3}).picture(2);
    book.chartsheet("Chart").worksheet("Two", /*hidden=*/1).picture(3);
    QFile file(r.path("old.xls"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytesOf(book.xls()));
    file.close();
    r.form->addListRow(r.path("old.xls"));
    r.form->PushButton2_Click();

    EXPECT_TRUE(r.f.dialogs.shown().isEmpty()) << r.f.dialogs.messages().join("\n").toStdString();
    EXPECT_EQ(r.resultRows(), QStringList({"old.xls|1", "old.xls|2", "old.xls|3"}));
    EXPECT_EQ(r.holder(0), bytesOf(png));
    // The bitmap arrives as a .bmp file: 14-byte header, pixels after the 40-byte info header.
    const QByteArray bmp = r.holder(1);
    ASSERT_EQ(bmp.size(), qsizetype(dib.size() + 14));
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(bmp[10], char(54));
    EXPECT_EQ(bmp.mid(14), bytesOf(dib));
    EXPECT_EQ(r.form->existingForm2()->imageHolderPicture(1).format(), workbook::ImageFormat::Bmp);
    EXPECT_EQ(r.holder(2), bytesOf(jpeg));
}

// An OpenDocument spreadsheet comes into the list as any workbook does (the folder scan with
// the extension "ods", a drop) and its pictures into the holders in drawing order.
TEST(ExtractionRunNative, OpenDocumentSpreadsheetsComeByTheFolderScanAndByDrop) {
    NativeRun r;
    const QString corpus = QStringLiteral(QUILLFEN_TEST_DATA_DIR "/corpus/ods/");
    ASSERT_TRUE(QDir().mkpath(r.path("in")));
    ASSERT_TRUE(QFile::copy(corpus + "lo_layers.ods", r.path("in/layers.ods")));
    ASSERT_TRUE(QFile::copy(corpus + "lo_ImageAnchors.ods", r.path("anchors.ods")));
    r.f.dialogs.answer(QStringLiteral("ods"));
    r.f.dialogs.answer(r.path("in"));
    r.form->PushButton4_Click();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(r.path("anchors.ods"))});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    r.form->ListView1_OLEDragDrop(&drop);
    EXPECT_EQ(r.form->listRows(), QStringList({r.path("in/layers.ods"), r.path("anchors.ods")}));
    const auto asked = r.f.dialogs.shown().size();  // the scan's extension and folder
    r.form->PushButton2_Click();
    EXPECT_EQ(r.f.dialogs.shown().size(), asked) << r.f.dialogs.messages().join("\n").toStdString();
    ASSERT_EQ(r.form->existingForm2()->mTotalImages, 11);  // 4, then 2 + 1 + 3 + 1
    EXPECT_EQ(r.resultRows().value(4), QStringLiteral("anchors.ods|1"));
    auto layers = workbook::openWorkbook(r.path("in/layers.ods").toStdString());
    ASSERT_TRUE(layers);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(r.holder(k), bytesOf(layers.value()->readPictureBytes(0, std::size_t(k)).value()))
            << "holder " << k;
    }
}
