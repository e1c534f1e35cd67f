// The native "Excel.Application": what the extraction and the availability checks rely on.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "automation/nativeexcel.h"
#include "builders/xlsxbuilder.h"
#include "builders/zipbuilder.h"
#include "platform/runtimeerror.h"

using namespace testing_support;
using automation::NativeExcel;
using platform::RuntimeError;

namespace {

// Two worksheets: "Photos" with a PNG and a linked picture, "Empty" with none.
class NativeExcelTest : public ::testing::Test {
protected:
    void SetUp() override {
        png = pngImage(9, 7);
        SheetSpec photos{"Photos",
                         "worksheet",
                         drawingXml(pictureAnchor(0, 0, "rId1", "photo") +
                                    pictureAnchor(4, 4, "rId2", "linked")),
                         {{"rId1", "../media/image1.png"}, {"rId2", "https://example.org/x.png"}},
                         {"rId2"}};
        path = folder.filePath(QStringLiteral("book.xlsx"));
        packageWith({photos, {"Empty", "worksheet", "", {}, {}}})
            .addBytes("xl/media/image1.png", png)
            .save(path.toStdString());
    }

    int errorNumber(const std::function<void()>& call) {
        try {
            call();
        } catch (const RuntimeError& e) {
            lastDescription = e.description();
            return e.number();
        }
        return 0;
    }

    QTemporaryDir folder;
    QString path;
    std::vector<std::uint8_t> png;
    automation::PictureClipboard clipboard;
    NativeExcel excel{clipboard};
    QString lastDescription;
};

}  // namespace

TEST(NativeExcelRegistry, IsCreatableNeverRunningAndAnswersLikeTheApplication) {
    automation::Registry registry;
    automation::PictureClipboard clipboard;
    automation::registerNativeExcel(registry, clipboard);
    auto excel = registry.createObject(automation::kExcelProgId);
    ASSERT_TRUE(excel);
    EXPECT_EQ(excel->defaultProperty(), QStringLiteral("Microsoft Excel"));
    EXPECT_THROW(registry.getObject(automation::kExcelProgId), RuntimeError);
}

TEST_F(NativeExcelTest, OpenMakesTheWorkbookActiveAndCountsItsPictures) {
    excel.openWorkbook(path);
    EXPECT_EQ(excel.worksheetCount(), 2);
    EXPECT_EQ(excel.pictureCount(1), 2);
    EXPECT_EQ(excel.pictureCount(2), 0);
    EXPECT_EQ(errorNumber([&] { excel.pictureCount(3); }), platform::err::kSubscriptOutOfRange);
    EXPECT_TRUE(lastDescription.contains(path)) << lastDescription.toStdString();
}

TEST_F(NativeExcelTest, SelectChecksBothIndexes) {
    excel.openWorkbook(path);
    EXPECT_EQ(errorNumber([&] { excel.selectPicture(1, 2); }), 0);
    EXPECT_EQ(errorNumber([&] { excel.selectPicture(1, 3); }), platform::err::kSubscriptOutOfRange);
    EXPECT_EQ(lastDescription, QStringLiteral("Subscript out of range: worksheet 'Photos' of '%1' "
                                              "has no picture 3 (it has 2)")
                                   .arg(path));
    EXPECT_EQ(errorNumber([&] { excel.selectPicture(0, 1); }), platform::err::kSubscriptOutOfRange);
    EXPECT_EQ(errorNumber([&] { excel.selectPicture(2, 1); }), platform::err::kSubscriptOutOfRange);
}

TEST_F(NativeExcelTest, CopyPutsTheStoredBytesOnTheClipboard) {
    excel.openWorkbook(path);
    excel.copyPicture(1, 1);
    ASSERT_TRUE(clipboard.hasPicture());
    platform::Picture picture = clipboard.picture();
    EXPECT_EQ(picture.bytes(),
              QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size())));
    EXPECT_EQ(picture.format(), workbook::ImageFormat::Png);
    EXPECT_EQ(picture.size(), QSize(9, 7));
}

TEST_F(NativeExcelTest, FailedCopyLeavesTheClipboardEmpty) {
    excel.openWorkbook(path);
    excel.copyPicture(1, 1);
    ASSERT_TRUE(clipboard.hasPicture());
    EXPECT_EQ(errorNumber([&] { excel.copyPicture(1, 2); }), platform::err::kAutomationError);
    EXPECT_FALSE(clipboard.hasPicture());
    EXPECT_EQ(lastDescription,
              QStringLiteral("Cannot copy picture 2 ('linked') of worksheet 'Photos' in '%1': the "
                             "picture is only linked and the workbook holds no image for it "
                             "(xl/drawings/drawing1.xml: https://example.org/x.png)")
                  .arg(path));

    excel.copyPicture(1, 1);
    EXPECT_EQ(errorNumber([&] { excel.copyPicture(2, 1); }), platform::err::kSubscriptOutOfRange);
    EXPECT_FALSE(clipboard.hasPicture());
}

TEST_F(NativeExcelTest, OpenFailureNamesTheFileAndThePlace) {
    QString broken = folder.filePath(QStringLiteral("broken.xlsx"));
    ZipBuilder zip = packageWith({{"S", "worksheet", drawingXml(""), {}, {}}});
    zip.replace("xl/drawings/drawing1.xml", "<xdr:wsDr><xdr:twoCellAnchor>")
        .save(broken.toStdString());
    EXPECT_EQ(errorNumber([&] { excel.openWorkbook(broken); }), platform::err::kAutomationError);
    EXPECT_EQ(lastDescription, QStringLiteral("Cannot open '%1': the workbook is damaged "
                                              "(xl/drawings/drawing1.xml: unexpected end of data)")
                                   .arg(broken));
    // Nothing became active.
    EXPECT_EQ(errorNumber([&] { excel.worksheetCount(); }), platform::err::kObjectRequired);

    // A failed open leaves the workbook that was active before.
    excel.openWorkbook(path);
    EXPECT_THROW(excel.openWorkbook(broken), RuntimeError);
    EXPECT_EQ(excel.worksheetCount(), 2);
}

TEST_F(NativeExcelTest, OpenWithAMissingPartReportsItAndKeepsTheIntactWorksheetsActive) {
    QString damaged = folder.filePath(QStringLiteral("damaged.xlsx"));
    packageWith({{"Gone", "worksheet", "", {}, {}}, {"Kept", "worksheet", "", {}, {}}})
        .remove("xl/worksheets/sheet1.xml")
        .save(damaged.toStdString());
    EXPECT_EQ(errorNumber([&] { excel.openWorkbook(damaged); }), platform::err::kAutomationError);
    EXPECT_EQ(lastDescription,
              QStringLiteral("'%1' is damaged; the pictures of its damaged parts are lost: the "
                             "workbook is damaged (xl/worksheets/sheet1.xml: the part is missing)")
                  .arg(damaged));
    EXPECT_EQ(excel.worksheetCount(), 1);
}

TEST_F(NativeExcelTest, QuitClosesTheWorkbookAndEndsTheInstance) {
    excel.openWorkbook(path);
    excel.setDisplayAlerts(false);
    EXPECT_FALSE(excel.displayAlerts());
    excel.quit();
    EXPECT_FALSE(excel.hasActiveWorkbook());
    EXPECT_EQ(errorNumber([&] { excel.worksheetCount(); }), platform::err::kAutomationError);
    EXPECT_EQ(errorNumber([&] { excel.defaultProperty(); }), platform::err::kAutomationError);
}
