#include <gtest/gtest.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "childprocess.h"
#include "encode/saveasjpg.h"
#include "longwork/progresswindow.h"
#include "longwork/workerpool.h"
#include "platform/mainmodule.h"
#include "platform/picturespill.h"
#include "platform/runtimeerror.h"
#include "platform/settingsstore.h"
#include "results/form2.h"
#include "results/picturebox.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"
#include "support/progresswatch.h"

using namespace testing_support;
using platform::Picture;
using results::Form2;

namespace {

// A picture whose every pixel differs from its neighbours, so a wrong row order, a swapped
// channel or a lost column shows.
QImage patternImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, (x * y) % 256));
        }
    }
    return image;
}

// A smooth one for JPEG, which loses fine detail by design.
QImage gradientImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        }
    }
    return image;
}

Picture pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Picture::fromBytes(bytes);
}

struct SaveQuality {
    QString path;
    int quality;
};

// A results window after a run, with an output folder of its own and a recording JPEG seam.
struct SavingResults {
    SavingResults() { make(); }

    void make() {
        form = std::make_unique<Form2>(f.services, &mainWindow);
        // The save calls this on its worker threads.
        form->saveJpg = [this](const Picture& picture, const QString& path, std::uint8_t q) {
            {
                std::lock_guard lock(jpegMutex);
                jpegWrites.push_back({path, q});
            }
            if (jpegHook) {
                jpegHook(QFileInfo(path).fileName());
            }
            if (jpegFailure) {
                throw platform::RuntimeError(5,
                                             QStringLiteral("Cannot save the image. GDI+ Error:7"));
            }
            encode::SaveJPG(picture, path, q);
        };
    }

    // Rows as the extraction appends them: workbook path and image number, one holder each.
    void run(const QList<std::pair<QString, Picture>>& rows) {
        form->clearResults();
        QMap<QString, int> perBook;
        for (int i = 0; i < rows.size(); ++i) {
            if (i > 0) {
                form->createImageHolder(i);
            }
            form->setImageHolderPicture(i, rows[i].second);
            form->appendResultRow(rows[i].first, QString::number(++perBook[rows[i].first]));
        }
        form->mTotalImages = int(rows.size());
    }

    QStringList written() const {
        QStringList names = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    }
    QString outPath(const QString& name) const { return out.filePath(name); }
    QString setting(const QString& key) const { return f.settings->getSetting(key); }

    FakeServices f;
    QWidget mainWindow;
    QTemporaryDir out;
    std::unique_ptr<Form2> form;
    std::mutex jpegMutex;
    QList<SaveQuality> jpegWrites;
    bool jpegFailure = false;
    std::function<void(const QString& fileName)> jpegHook;  // on a worker thread
};

}  // namespace

TEST(Form2Settings, FirstStartOffersTheDesktopAndBmpWithTheSliderOffAt85) {
    SavingResults r;
    EXPECT_EQ(r.form->Text1->text(), platform::DesktopFolderPath());
    EXPECT_TRUE(r.form->Text1->text().endsWith(QChar('/')));
    EXPECT_EQ(r.setting(QStringLiteral("Output Folder")), r.form->Text1->text());
    EXPECT_TRUE(r.form->Option1->isChecked());
    EXPECT_FALSE(r.form->Option2->isChecked());
    EXPECT_FALSE(r.form->Slider1->isEnabled());
    EXPECT_EQ(r.form->Slider1->value(), 85);
    EXPECT_EQ(r.setting(QStringLiteral("Option1")), QStringLiteral("True"));
    EXPECT_EQ(r.setting(QStringLiteral("Option2")), QStringLiteral("False"));
}

TEST(Form2Settings, OptionClicksWriteBothKeysSetTheSliderAndSurviveARestart) {
    SavingResults r;
    QTest::mouseClick(r.form->Option2, Qt::LeftButton);
    EXPECT_TRUE(r.form->Slider1->isEnabled());
    EXPECT_EQ(r.setting(QStringLiteral("Option1")), QStringLiteral("False"));
    EXPECT_EQ(r.setting(QStringLiteral("Option2")), QStringLiteral("True"));
    r.form->Slider1->setValue(40);
    r.form->Text1->selectAll();
    QTest::keyClicks(r.form->Text1, QStringLiteral("/srv/pics"));
    EXPECT_EQ(r.setting(QStringLiteral("Output Folder")), QStringLiteral("/srv/pics"));

    r.f.restartSettings();
    r.make();
    EXPECT_TRUE(r.form->Option2->isChecked());
    EXPECT_FALSE(r.form->Option1->isChecked());
    EXPECT_TRUE(r.form->Slider1->isEnabled());
    EXPECT_EQ(r.form->Slider1->value(), 85);  // the quality is not kept
    EXPECT_EQ(r.form->Text1->text(), QStringLiteral("/srv/pics"));

    QTest::mouseClick(r.form->Option1, Qt::LeftButton);
    EXPECT_FALSE(r.form->Slider1->isEnabled());
    EXPECT_EQ(r.setting(QStringLiteral("Option1")), QStringLiteral("True"));
    EXPECT_EQ(r.setting(QStringLiteral("Option2")), QStringLiteral("False"));
    r.f.restartSettings();
    r.make();
    EXPECT_TRUE(r.form->Option1->isChecked());
    EXPECT_FALSE(r.form->Slider1->isEnabled());
}

TEST(Form2Settings, StoredChoicesReadAsWordsOrNumbers) {
    struct Case {
        const char* option1;
        const char* option2;
        bool bmp, jpg, sliderOn;
    };
    const Case cases[] = {
        {"True", "True", false, true, true},
        {"0", "-1", false, true, true},
        {"False", "False", false, false, false},
        {"1", "0", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option1) + "/" + c.option2);
        SavingResults r;
        r.f.settings->saveSetting(QStringLiteral("Option1"), QString::fromLatin1(c.option1));
        r.f.settings->saveSetting(QStringLiteral("Option2"), QString::fromLatin1(c.option2));
        r.make();
        EXPECT_EQ(r.form->Option1->isChecked(), c.bmp);
        EXPECT_EQ(r.form->Option2->isChecked(), c.jpg);
        EXPECT_EQ(r.form->Slider1->isEnabled(), c.sliderOn);
    }
}

TEST(Form2Settings, NeitherFormatChosenSavesBmp) {
    SavingResults r;
    r.f.settings->saveSetting(QStringLiteral("Option1"), QStringLiteral("False"));
    r.f.settings->saveSetting(QStringLiteral("Option2"), QStringLiteral("False"));
    r.make();
    r.form->Text1->setText(r.out.path());
    r.run({{QStringLiteral("/in/book.xlsx"), makePngPicture(8, 8)}});
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written(), QStringList{QStringLiteral("book_1.bmp")});
    // Nothing was clicked, so nothing was written back.
    EXPECT_EQ(r.setting(QStringLiteral("Option1")), QStringLiteral("False"));
}

TEST(Form2ChooseFolder, AddsTheSeparatorAndCancelChangesNothing) {
    SavingResults r;
    r.form->Text1->setText(QStringLiteral("/old/"));
    r.f.dialogs.answer(QStringLiteral("/media/card"));
    QTest::mouseClick(r.form->PushButton7, Qt::LeftButton);
    EXPECT_EQ(r.form->Text1->text(), QStringLiteral("/media/card/"));
    EXPECT_EQ(r.setting(QStringLiteral("Output Folder")), QStringLiteral("/media/card/"));
    ASSERT_EQ(r.f.dialogs.shown().size(), 1);
    EXPECT_EQ(r.f.dialogs.shown()[0].kind, platform::ScriptedDialogs::Kind::BrowseForFolder);
    EXPECT_EQ(r.f.dialogs.shown()[0].prompt, QStringLiteral("Please select folder:"));
    // A folder that is not there gives the browse no start.
    EXPECT_EQ(r.f.dialogs.shown()[0].startFolder, QString());

    r.f.dialogs.answer(QStringLiteral("/"));
    r.form->Text1->setText(r.out.path() + QChar('/'));
    r.form->PushButton7_Click();
    EXPECT_EQ(r.f.dialogs.shown()[1].startFolder, r.out.path() + QChar('/'));
    EXPECT_EQ(r.form->Text1->text(), QStringLiteral("/"));

    r.f.dialogs.answer(QString());
    r.form->PushButton7_Click();
    EXPECT_EQ(r.form->Text1->text(), QStringLiteral("/"));
    EXPECT_EQ(r.setting(QStringLiteral("Output Folder")), QStringLiteral("/"));
    EXPECT_TRUE(r.f.dialogs.messages().isEmpty());
}

TEST(Form2Save, BmpFilesAreNamedAfterTheWorkbookAndHoldTheExactPixels) {
    SavingResults r;
    const QImage first = patternImage(37, 23), second = patternImage(64, 5);
    r.run({{QStringLiteral("/data/book.xlsx"), pngOf(first)},
           {QStringLiteral("/data/book.xlsx"), pngOf(second)},
           {QStringLiteral("/data/report.final.xls"), makePngPicture(3, 3)},
           {QStringLiteral("/data/noextension"), makePngPicture(3, 3)}});
    r.form->Text1->setText(r.out.path() + QChar('/'));
    QTest::mouseClick(r.form->PushButton6, Qt::LeftButton);
    EXPECT_EQ(r.written(),
              (QStringList{"book_1.bmp", "book_2.bmp", "noextension_1.bmp", "report.final_1.bmp"}));
    EXPECT_EQ(r.f.dialogs.messages(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(r.f.dialogs.shown()[0].style, 0);
    EXPECT_EQ(r.f.dialogs.shown()[0].title, QStringLiteral("Quillfen"));

    QFile bmp(r.outPath(QStringLiteral("book_2.bmp")));
    ASSERT_TRUE(bmp.open(QIODevice::ReadOnly));
    const QByteArray header = bmp.read(30);
    EXPECT_TRUE(header.startsWith("BM"));
    EXPECT_EQ(quint8(header[28]), 24);  // bits per pixel
    EXPECT_EQ(QImage(r.outPath(QStringLiteral("book_1.bmp"))).convertToFormat(QImage::Format_RGB32),
              first);
    EXPECT_EQ(QImage(r.outPath(QStringLiteral("book_2.bmp"))).convertToFormat(QImage::Format_RGB32),
              second);
    EXPECT_TRUE(r.jpegWrites.isEmpty());
}

TEST(Form2Save, FolderWithoutTheSeparatorGivesTheSameNames) {
    SavingResults r;
    r.run({{QStringLiteral("/data/book.xlsx"), makePngPicture(4, 4)},
           {QStringLiteral("/data/book.xlsx"), makePngPicture(4, 4)}});
    r.form->Text1->setText(r.out.path());
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written(), (QStringList{"book_1.bmp", "book_2.bmp"}));
}

TEST(Form2Save, JpegGoesStraightFromTheHolderAndLeavesNoBmp) {
    SavingResults r;
    const QImage smooth = gradientImage(120, 80);
    r.run({{QStringLiteral("/data/book.xlsx"), makePngPicture(10, 10)},
           {QStringLiteral("/data/book.xlsx"), pngOf(smooth)}});
    // A file of the user's with the BMP name survives a JPEG save.
    QFile mine(r.outPath(QStringLiteral("book_2.bmp")));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("the user's own file");
    mine.close();
    r.form->Text1->setText(r.out.path() + QChar('/'));
    QTest::mouseClick(r.form->Option2, Qt::LeftButton);
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written(), (QStringList{"book_1.jpg", "book_2.bmp", "book_2.jpg"}));
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), QByteArray("the user's own file"));
    ASSERT_EQ(r.jpegWrites.size(), 2);
    EXPECT_EQ(r.jpegWrites[1].path, r.outPath(QStringLiteral("book_2.jpg")));
    EXPECT_EQ(r.jpegWrites[1].quality, 85);

    const QImage jpeg = QImage(r.outPath(QStringLiteral("book_2.jpg")));
    ASSERT_EQ(jpeg.size(), smooth.size());
    double error = 0;
    for (int y = 0; y < smooth.height(); ++y) {
        for (int x = 0; x < smooth.width(); ++x) {
            const QRgb a = smooth.pixel(x, y), b = jpeg.pixel(x, y);
            error += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                     std::abs(qBlue(a) - qBlue(b));
        }
    }
    EXPECT_LT(error / (smooth.width() * smooth.height() * 3), 3.0);
    EXPECT_EQ(r.f.dialogs.messages(), QStringList{QStringLiteral("Done.")});
}

TEST(Form2Save, SliderValueReachesTheEncoderUnchanged) {
    SavingResults r;
    r.run({{QStringLiteral("/data/a.xlsx"), makePngPicture(4, 4)}});
    r.form->Text1->setText(r.out.path());
    r.form->Option2->click();
    for (int quality : {0, 100, 37}) {
        r.form->Slider1->setValue(quality);
        r.form->PushButton6_Click();
        ASSERT_FALSE(r.jpegWrites.isEmpty());
        EXPECT_EQ(r.jpegWrites.last().quality, quality);
        EXPECT_EQ(r.jpegWrites.last().path, r.outPath(QStringLiteral("a_1.jpg")));
    }
}

TEST(Form2Save, NoFolderMeansNoFileAndAnEmptyListStillSaysDone) {
    SavingResults r;
    r.run({{QStringLiteral("/data/book.xlsx"), makePngPicture(4, 4)}});
    const QString missing = r.out.path() + QStringLiteral("/not-there/");
    QFile plainFile(r.outPath(QStringLiteral("plain")));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    for (const QString& folder : {missing, QString(), r.outPath(QStringLiteral("plain"))}) {
        r.f.dialogs.clear();
        r.form->Text1->setText(folder);
        r.form->PushButton6_Click();
        EXPECT_EQ(r.f.dialogs.messages(), QStringList{"Output folder does not exist."});
    }
    EXPECT_EQ(r.written(), QStringList{"plain"});
    EXPECT_FALSE(QFileInfo::exists(missing));

    r.f.dialogs.clear();
    r.run({});
    r.form->Text1->setText(r.out.path());
    r.form->PushButton6_Click();
    EXPECT_EQ(r.f.dialogs.messages(), QStringList{"Done."});
    EXPECT_EQ(r.written(), QStringList{"plain"});
}

TEST(Form2Save, SameNameFromTwoFoldersKeepsBothFiles) {
    SavingResults r;
    r.run({{QStringLiteral("/a/book.xlsx"), pngOf(patternImage(5, 5))},
           {QStringLiteral("/b/book.xlsm"), pngOf(patternImage(6, 6))}});
    r.form->Text1->setText(r.out.path());
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written(), (QStringList{"book_1 (2).bmp", "book_1.bmp"}));
    EXPECT_EQ(QImage(r.outPath(QStringLiteral("book_1 (2).bmp"))).size(), QSize(6, 6));
    // A second save replaces its own files instead of numbering them again.
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written().size(), 2);
}

TEST(Form2Save, FailuresAreReportedAndTheSaveGoesOn) {
    SavingResults r;
    r.run({{QStringLiteral("/data/a.xlsx"), makePngPicture(4, 4)},
           {QStringLiteral("/data/b.xlsx"), Picture::fromBytes("not a picture")},
           {QStringLiteral("/data/c.xlsx"), makePngPicture(4, 4)}});
    // A row whose holder was never made, as the extraction can leave.
    r.form->appendResultRow(QStringLiteral("/data/d.xlsx"), QStringLiteral("1"));
    r.form->Text1->setText(r.out.path());
    r.form->PushButton6_Click();
    EXPECT_EQ(r.written(), (QStringList{"a_1.bmp", "c_1.bmp"}));
    const QStringList messages = r.f.dialogs.messages();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages[0].contains("in Tarnwick2/19/2015.Form2.PushButton6_Click at line 6"));
    EXPECT_TRUE(
        messages[1].startsWith("d.xlsx, picture 1: Control array element '3' doesn't exist\r\n"));
    EXPECT_EQ(messages[2], QStringLiteral("Done."));
    EXPECT_EQ(r.f.dialogs.shown()[0].title, QStringLiteral("Application Error"));

    r.f.dialogs.clear();
    r.form->Option2->click();
    r.jpegFailure = true;
    r.form->PushButton6_Click();
    ASSERT_EQ(r.f.dialogs.messages().size(), 5);
    EXPECT_TRUE(r.f.dialogs.messages()[0].startsWith(
        "a.xlsx, picture 1: Cannot save the image. GDI+ Error:7\r\nin "
        "Tarnwick2/19/2015.Form2.PushButton6_Click at line 7"));
    EXPECT_EQ(r.jpegWrites.size(), 3);
    EXPECT_EQ(r.f.dialogs.messages().last(), QStringLiteral("Done."));
}

// An EMF that states a picture of width x height pixels (its frame at 96 dpi) and draws
// nothing: cheap to keep, as costly as any to save.
Picture emfOfSize(int width, int height) {
    QByteArray b;
    auto le32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b.append(char(v >> (8 * i)));
        }
    };
    const auto frame = [](int pixels) { return std::uint32_t(pixels * 2540.0 / 96.0); };
    for (std::uint32_t v : {1u,
                            88u,
                            0u,
                            0u,
                            std::uint32_t(width),
                            std::uint32_t(height),
                            0u,
                            0u,
                            frame(width),
                            frame(height),
                            0x464D4520u,
                            0x10000u,
                            108u,
                            2u,
                            16u,
                            0u,
                            0u,
                            0u,
                            1000u,
                            1000u,
                            250u,
                            250u,
                            14u,
                            20u,
                            0u,
                            16u,
                            20u}) {
        le32(v);
    }
    return Picture::fromBytes(b);
}

// One image on many rows (a logo on every worksheet) is made once per save and copied.
TEST(Form2Save, OnePictureOnManyRowsIsMadeOnceAndCopied) {
    SavingResults r;
    auto spill = platform::PictureSpill::create(r.out.path() + "/spill");
    const Picture logo = spill->keep(pngOf(gradientImage(40, 30)));
    const Picture other = spill->keep(pngOf(gradientImage(30, 40)));
    QList<std::pair<QString, Picture>> rows;
    for (int i = 0; i < 6; ++i) {
        rows.push_back({QStringLiteral("/data/a.xlsx"), i == 3 ? other : logo});
    }
    r.run(rows);
    r.form->Text1->setText(r.out.path());
    r.form->Option2->click();
    r.form->saveWorkers = 3;
    r.form->PushButton6_Click();
    EXPECT_EQ(r.jpegWrites.size(), 2);
    EXPECT_EQ(r.f.dialogs.messages(), QStringList{"Done."});
    QFile first(r.outPath("a_1.jpg"));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QByteArray made = first.readAll();
    for (const char* copy : {"a_2.jpg", "a_3.jpg", "a_5.jpg", "a_6.jpg"}) {
        QFile f(r.outPath(copy));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << copy;
        EXPECT_EQ(f.readAll(), made) << copy;
    }
    EXPECT_EQ(QImage(r.outPath("a_4.jpg")).size(), QSize(30, 40));
}

// Rows of one workbook whose pictures come to more pixels than its limit: the first row past
// it is told, with its workbook, and the later ones are left out; other workbooks go on.
TEST(Form2Save, PicturesPastTheWorkbooksPixelLimitAreToldOnceAndLeftOut) {
    SavingResults r;
    auto spill = platform::PictureSpill::create(r.out.path() + "/spill");
    const Picture huge = spill->keep(emfOfSize(5000, 4000));  // 20 megapixels
    QList<std::pair<QString, Picture>> rows;
    for (int i = 0; i < 103; ++i) {
        rows.push_back({QStringLiteral("/data/many.xlsx"), huge});
    }
    rows.push_back({QStringLiteral("/data/other.xlsx"), huge});
    r.run(rows);
    r.form->Text1->setText(r.out.path());
    r.form->Option2->click();
    r.form->PushButton6_Click();
    const QStringList messages = r.f.dialogs.messages();
    ASSERT_EQ(messages.size(), 2) << messages.join("\n").toStdString();
    EXPECT_TRUE(messages[0].startsWith(
        "many.xlsx, picture 101: The workbook's pictures come to more pixels "
        "than its limit (2,000 megapixels, and 64 more for each byte they store)"))
        << messages[0].toStdString();
    EXPECT_EQ(messages[1], QStringLiteral("Done."));
    const QStringList files = r.written();
    EXPECT_EQ(files.size(), 101);  // 100 of many.xlsx and other.xlsx's
    EXPECT_TRUE(files.contains("many_100.jpg"));
    EXPECT_FALSE(files.contains("many_101.jpg"));
    EXPECT_TRUE(files.contains("other_1.jpg"));
}

TEST(Form2Back, DestroysTheRunsHoldersShowsTheMainWindowAndHides) {
    SavingResults r;
    QList<std::pair<QString, Picture>> five;
    for (int i = 0; i < 5; ++i) {
        five.append({QStringLiteral("/data/book.xlsx"), makePngPicture(4 + i, 4)});
    }
    r.run(five);
    r.form->setPreviewPicture(five[0].second);
    r.form->show();
    QTest::mouseClick(r.form->PushButton8, Qt::LeftButton);
    EXPECT_FALSE(r.form->isVisible());
    EXPECT_TRUE(r.mainWindow.isVisible());
    EXPECT_EQ(r.form->imageHolderCount(), 1);
    EXPECT_EQ(r.form->imageHolderPicture(0), five[0].second);
    EXPECT_EQ(r.form->ListView1->topLevelItemCount(), 5);
    EXPECT_EQ(r.form->Picture1->size(), QSize(4, 4));
    EXPECT_TRUE(r.f.dialogs.shown().isEmpty());

    // A run without images destroys nothing.
    r.run({});
    r.form->show();
    r.form->PushButton8_Click();
    EXPECT_TRUE(r.f.dialogs.shown().isEmpty());
    EXPECT_EQ(r.form->imageHolderCount(), 1);
}

TEST(Form2Back, MissingHolderIsReportedAndTheOthersStillGo) {
    SavingResults r;
    r.run({{QStringLiteral("/d/a.xlsx"), makePngPicture(4, 4)},
           {QStringLiteral("/d/a.xlsx"), makePngPicture(4, 4)},
           {QStringLiteral("/d/a.xlsx"), makePngPicture(4, 4)},
           {QStringLiteral("/d/a.xlsx"), makePngPicture(4, 4)}});
    r.form->destroyImageHolder(2);
    r.form->show();
    r.form->PushButton8_Click();
    ASSERT_EQ(r.f.dialogs.messages().size(), 1);
    EXPECT_TRUE(r.f.dialogs.messages()[0].startsWith(
        "Control array element '2' doesn't exist\r\nin Tarnwick2/19/2015.Form2.PushButton8_Click "
        "at line 1\r\r"));
    EXPECT_EQ(r.form->imageHolderCount(), 1);
    EXPECT_FALSE(r.form->isVisible());
    EXPECT_TRUE(r.mainWindow.isVisible());
}

namespace {

// Records, with each message, which output files were whole at that moment.
class WatchingDialogs : public platform::ScriptedDialogs {
public:
    explicit WatchingDialogs(const QString& folder) : m_folder(folder) {}
    using ScriptedDialogs::msgBox;
    int msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) override {
        QStringList files = QDir(m_folder).entryList(QDir::Files);
        files.sort();
        filesAtMessage << files;
        return ScriptedDialogs::msgBox(owner, prompt, style, title);
    }
    QList<QStringList> filesAtMessage;

private:
    QString m_folder;
};

longwork::ProgressWindow* progressWindow(QWidget* owner) {
    return owner->findChild<longwork::ProgressWindow*>();
}

}  // namespace

TEST(Form2SaveInParallel, NamesAndReportsFollowTheRowsWhateverTheWorkersTiming) {
    for (int workers : {1, 4}) {
        SCOPED_TRACE(workers);
        SavingResults r;
        WatchingDialogs dialogs(r.out.path());
        r.f.services.dialogs = &dialogs;
        r.form->saveWorkers = workers;
        // The first row is slow, "fail" rows fail in the encoder, and row 5 has no holder.
        r.run({{"/a/book.xlsx", pngOf(patternImage(11, 7))},
               {"/b/book.xlsx", pngOf(patternImage(12, 7))},
               {"/c/fail.xlsx", makePngPicture(4, 4)},
               {"/d/d.xlsx", makePngPicture(4, 4)},
               {"/e/gone.xlsx", makePngPicture(4, 4)},
               {"/f/f.xlsx", makePngPicture(4, 4)},
               {"/g/fail.xlsx", makePngPicture(4, 4)}});
        r.form->destroyImageHolder(4);
        r.jpegHook = [](const QString& name) {
            if (name == QStringLiteral("book_1.jpg")) {
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
            if (name.startsWith(QStringLiteral("fail"))) {
                throw platform::RuntimeError(5, "Cannot save the image. GDI+ Error:7 " + name);
            }
        };
        r.form->Option2->click();
        r.form->Text1->setText(r.out.path());
        r.form->PushButton6_Click();

        const QStringList messages = dialogs.messages();
        ASSERT_EQ(messages.size(), 4);
        // Each report names the workbook and the picture it is about.
        EXPECT_TRUE(messages[0].startsWith(
            "fail.xlsx, picture 1: Cannot save the image. GDI+ Error:7 fail_1.jpg\r\nin "
            "Tarnwick2/19/2015.Form2.PushButton6_Click at line 7"));
        EXPECT_TRUE(messages[1].startsWith(
            "gone.xlsx, picture 1: Control array element '4' doesn't exist\r\n"));
        EXPECT_TRUE(messages[1].contains("PushButton6_Click at line 7"));
        EXPECT_TRUE(messages[2].startsWith(
            "fail.xlsx, picture 1: Cannot save the image. GDI+ Error:7 fail_1 (2).jpg"));
        EXPECT_EQ(messages[3], QStringLiteral("Done."));
        // Each report comes in its row's turn: the slow first row was already whole.
        EXPECT_TRUE(dialogs.filesAtMessage[0].contains("book_1.jpg"));
        EXPECT_TRUE(dialogs.filesAtMessage[1].contains("d_1.jpg"));
        EXPECT_EQ(r.written(), (QStringList{"book_1 (2).jpg", "book_1.jpg", "d_1.jpg", "f_1.jpg"}));
        EXPECT_EQ(QImage(r.outPath("book_1.jpg")).size(), QSize(11, 7));
        EXPECT_EQ(QImage(r.outPath("book_1 (2).jpg")).size(), QSize(12, 7));
        EXPECT_EQ(r.form->pointer().value(), platform::MousePointer::kDefault);
        r.f.services.dialogs = &r.f.dialogs;
    }
}

TEST(Form2SaveInParallel, OneAndFourWorkersWriteTheSameFiles) {
    for (bool jpg : {false, true}) {
        SCOPED_TRACE(jpg ? "JPG" : "BMP");
        QMap<QString, QByteArray> files[2];
        for (int i = 0; i < 2; ++i) {
            SavingResults r;
            r.form->saveWorkers = i == 0 ? 1 : 4;
            QList<std::pair<QString, Picture>> rows;
            for (int k = 0; k < 12; ++k) {
                rows.append(
                    {QStringLiteral("/in/%1.xlsx").arg(k % 5),
                     pngOf(k % 2 ? patternImage(20 + k * 7, 9 + k) : gradientImage(64, 48))});
            }
            r.run(rows);
            if (jpg) {
                r.form->Option2->click();
            }
            r.form->Text1->setText(r.out.path());
            r.form->PushButton6_Click();
            for (const QString& name : r.written()) {
                QFile file(r.outPath(name));
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                files[i][name] = file.readAll();
            }
        }
        EXPECT_EQ(files[0].size(), 12);
        EXPECT_TRUE(files[0] == files[1]);
    }
}

// Under a limit on processes the pool works with the threads that start, or on the thread that
// waits when none does; threads refused never end the program.
TEST(WorkerPool, ThreadsAProcessLimitRefusesLeaveTheWorkToThoseThatStarted) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a process limit is set for another user, which needs root";
    }
    for (rlim_t limit : {1, 4}) {
        const int status = inForkedChild({.limits = {{RLIMIT_NPROC, limit}}, .asNobody = true}, [] {
            std::atomic<int> ran{0};
            longwork::WorkerPool pool(16);
            std::vector<longwork::WorkerPool::Handle> jobs;
            for (int i = 0; i < 32; ++i) {
                jobs.push_back(pool.submit([&] { ++ran; }));
            }
            for (const auto& job : jobs) {
                if (pool.wait(job)) {
                    return 2;
                }
            }
            return pool.threads() < 16 && ran.load() == 32 ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << "limit " << limit;
    }
}

TEST(Form2SaveInParallel, CancelFinishesTheFilesInFlightAndSaysHowManyWereSaved) {
    SavingResults r;
    r.f.services.progressDelayMs = 0;
    r.form->saveWorkers = 1;  // two rows in flight
    QList<std::pair<QString, Picture>> rows;
    for (int k = 0; k < 6; ++k) {
        rows.append({QStringLiteral("/in/book.xlsx"), makePngPicture(4 + k, 4)});
    }
    r.run(rows);
    r.form->Option2->click();
    r.form->Text1->setText(r.out.path());
    // The first file waits until Cancel has been pressed in the progress window.
    std::atomic<bool> cancelled{false};
    QString label;
    r.jpegHook = [&](const QString& name) {
        for (int i = 0; i < 500 && name == QStringLiteral("book_1.jpg") && !cancelled; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    QTimer::singleShot(0, r.form.get(), [&] {
        longwork::ProgressWindow* window = progressWindow(r.form.get());
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Saving pictures - Quillfen"));
        label = window->label->text();
        QTest::mouseClick(window->cancelButton, Qt::LeftButton);
        cancelled = true;
    });
    r.form->PushButton6_Click();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(label, QStringLiteral("Picture 1 of 6"));
    EXPECT_EQ(r.written(), (QStringList{"book_1.jpg", "book_2.jpg"}));
    EXPECT_EQ(r.f.dialogs.messages(),
              QStringList{QStringLiteral("Saving cancelled: 2 of 6 pictures saved.")});
    EXPECT_EQ(progressWindow(r.form.get()), nullptr);
}

TEST(Form2SaveInParallel, CancelWhileAReportIsUpEndsTheSaveOnceItIsAnswered) {
    SavingResults r;
    // The clock stands still: the progress window shows only because a report does.
    r.f.services.clockMs = [] { return qint64(0); };
    r.form->saveWorkers = 1;  // two rows in flight
    QList<std::pair<QString, Picture>> rows;
    for (int k = 0; k < 6; ++k) {
        rows.append({QStringLiteral("/in/book.xlsx"), makePngPicture(4 + k, 4)});
    }
    r.run(rows);
    r.form->Option2->click();
    r.form->Text1->setText(r.out.path());
    r.jpegFailure = true;
    r.f.dialogs.whileShown = [&](const platform::ScriptedDialogs::Shown&) {
        if (longwork::ProgressWindow* window = progressWindow(r.form.get())) {
            QTest::mouseClick(window->cancelButton, Qt::LeftButton);
        }
    };
    r.form->PushButton6_Click();
    // The second row was in flight and is finished, its failure no longer told.
    const QStringList messages = r.f.dialogs.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith("book.xlsx, picture 1: Cannot save the image."));
    EXPECT_EQ(messages[1], QStringLiteral("Saving cancelled: 0 of 6 pictures saved."));
    EXPECT_EQ(r.jpegWrites.size(), 2);
}

TEST(Form2SaveTexts, CancelledSaveCountsInThousands) {
    EXPECT_EQ(results::cancelledSaveText(2431, 4017),
              QStringLiteral("Saving cancelled: 2,431 of 4,017 pictures saved."));
    EXPECT_EQ(results::cancelledSaveText(0, 1),
              QStringLiteral("Saving cancelled: 0 of 1 picture saved."));
}

TEST(Form2SaveInParallel, ProgressWindowShowsOnlyOnceTheSaveHasTakenASecond) {
    // Each reading of the clock finds the save `step` ms further on.
    for (qint64 step : {0, 600}) {
        SCOPED_TRACE(step);
        SavingResults r;
        qint64 now = 0;
        r.f.services.clockMs = [&] { return now += step; };
        r.run({{"/in/a.xlsx", makePngPicture(4, 4)},
               {"/in/b.xlsx", makePngPicture(4, 4)},
               {"/in/c.xlsx", makePngPicture(4, 4)}});
        r.form->Text1->setText(r.out.path());
        ProgressWatch watch;
        r.form->PushButton6_Click();
        EXPECT_EQ(watch.shown, step > 0 ? 1 : 0);
        EXPECT_EQ(progressWindow(r.form.get()), nullptr);
        EXPECT_EQ(r.written().size(), 3);
    }
}
