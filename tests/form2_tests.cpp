#include <gtest/gtest.h>
#include <QBuffer>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <QWheelEvent>
#include <memory>

#include "encode/outputpixels.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "render/renderer.h"
#include "results/form2.h"
#include "results/picturebox.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"

using namespace testing_support;
using platform::MousePointer;
using platform::Picture;
using results::Form2;

namespace {

// A results window as a finished run leaves it: one row and one holder per picture, the first
// picture in the preview, the window shown and active.
struct ShownResults {
    ShownResults() : form(std::make_unique<Form2>(f.services, &mainWindow)) {}

    // A new run: the holders of the last one go, as "< Back" leaves them.
    void load(const QList<Picture>& pictures) {
        for (int i = 1; i < form->mTotalImages; ++i) {
            form->destroyImageHolder(i);
        }
        form->clearResults();
        for (int i = 0; i < pictures.size(); ++i) {
            if (i > 0) {
                form->createImageHolder(i);
            }
            form->setImageHolderPicture(i, pictures[i]);
            form->appendResultRow(QStringLiteral("/in/book.xlsx"), QString::number(i + 1));
        }
        form->mTotalImages = int(pictures.size());
        if (!pictures.isEmpty()) {
            form->setPreviewPicture(pictures[0]);
        }
        form->show();
    }

    // A picture that exceeds the view by the given pixels (0 or less: that much smaller).
    Picture exceeding(int excessX, int excessY) const {
        const QSize inner = form->viewInnerSize();
        return makePngPicture(inner.width() + excessX, inner.height() + excessY);
    }

    QPoint at() const { return form->Picture1->pos(); }

    // Press at `from` within the picture, move by `by` with the button held, release.
    void drag(QPoint from, QPoint by) {
        QTest::mousePress(form->Picture1, Qt::LeftButton, {}, from);
        QTest::mouseMove(form->Picture1, from + by);
        QTest::mouseRelease(form->Picture1, Qt::LeftButton, {}, from);
    }

    FakeServices f;
    QWidget mainWindow;
    std::unique_ptr<Form2> form;
};

QStyleOptionSlider barOption(QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.upsideDown = bar->invertedAppearance();
    if (bar->orientation() == Qt::Horizontal) {
        option.state |= QStyle::State_Horizontal;
    }
    return option;
}

QRect barPart(QScrollBar* bar, QStyle::SubControl part) {
    QStyleOptionSlider option = barOption(bar);
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
}

void moveOver(QWidget* widget, QPoint where = QPoint(3, 3)) {
    QMouseEvent move(QEvent::MouseMove, QPointF(where), widget->mapToGlobal(QPointF(where)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

}  // namespace

TEST(Form2Layout, ControlsSitAtTheirTwipPositions) {
    FakeServices f;
    QWidget main;
    Form2 form(f.services, &main);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.size(), QSize(536, 629));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.ListView1->geometry(), QRect(8, 8, 520, 121));
    EXPECT_EQ(form.Label3->geometry(), QRect(8, 138, 153, 17));
    EXPECT_EQ(form.Picture2->geometry(), QRect(8, 160, 504, 298));
    EXPECT_EQ(form.VScroll1->geometry(), QRect(511, 160, 17, 298));
    EXPECT_EQ(form.HScroll1->geometry(), QRect(8, 458, 504, 17));
    EXPECT_EQ(form.Frame2->geometry(), QRect(8, 480, 160, 49));
    EXPECT_EQ(form.Option1->geometry(), QRect(16, 18, 53, 22));
    EXPECT_EQ(form.Option2->geometry(), QRect(96, 18, 45, 22));
    EXPECT_EQ(form.Label5->geometry(), QRect(176, 480, 169, 17));
    EXPECT_EQ(form.Slider1->geometry(), QRect(176, 496, 352, 32));
    EXPECT_EQ(form.Frame1->geometry(), QRect(8, 534, 520, 54));
    EXPECT_EQ(form.Text1->geometry(), QRect(16, 20, 436, 23));
    EXPECT_EQ(form.PushButton7->geometry(), QRect(464, 20, 40, 23));
    EXPECT_EQ(form.PushButton8->geometry(), QRect(8, 596, 248, 27));
    EXPECT_EQ(form.PushButton6->geometry(), QRect(264, 596, 264, 27));
    EXPECT_EQ(form.Creator->geometry(), QRect(48, 639, 33, 35));
    EXPECT_EQ(form.Option1->parentWidget(), form.Frame2);
    EXPECT_EQ(form.Text1->parentWidget(), form.Frame1);
    EXPECT_EQ(form.PushButton7->parentWidget(), form.Frame1);
    EXPECT_TRUE(form.Picture2->isAncestorOf(form.Picture1));
    EXPECT_TRUE(form.Creator->isHidden());

    EXPECT_EQ(form.Label3->text(), QStringLiteral("Results:"));
    EXPECT_EQ(form.Frame2->title(), QStringLiteral("Save Output Files As"));
    EXPECT_EQ(form.Option1->text(), QStringLiteral("BMP"));
    EXPECT_EQ(form.Option2->text(), QStringLiteral("JPG"));
    EXPECT_EQ(form.Label5->text(), QStringLiteral("JPG Image Quality"));
    EXPECT_EQ(form.Frame1->title(), QStringLiteral("Save Image(s) To This Folder"));
    EXPECT_EQ(form.PushButton7->text(), QStringLiteral("..."));
    EXPECT_EQ(form.PushButton8->text(), QStringLiteral("< Back"));
    EXPECT_EQ(form.PushButton6->text(), QStringLiteral("Save Results To Images"));
    EXPECT_DOUBLE_EQ(form.font().pointSizeF(), 9.0);
    EXPECT_DOUBLE_EQ(form.PushButton6->font().pointSizeF(), 11.25);

    for (QScrollBar* bar : {form.HScroll1, form.VScroll1}) {
        EXPECT_FALSE(bar->isEnabled());
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 32767);
    }
    EXPECT_EQ(form.Slider1->minimum(), 0);
    EXPECT_EQ(form.Slider1->maximum(), 100);
    EXPECT_EQ(form.Slider1->value(), 85);
    EXPECT_EQ(form.Picture2->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST(Form2Creation, CaptionColumnsAndTheHandWhenItsFileIsThere) {
    FakeServices f;
    QFile::copy(
        platform::besideProgram(platform::applicationFolder(), QStringLiteral("HAND-M.CUR")),
        f.programFolder + QStringLiteral("/HAND-M.CUR"));
    QWidget main;
    Form2 form(f.services, &main);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillfen"));
    ASSERT_EQ(form.ListView1->columnCount(), 2);
    EXPECT_EQ(form.ListView1->headerItem()->text(0), QStringLiteral("Preview"));
    EXPECT_EQ(form.ListView1->headerItem()->text(1), QStringLiteral("Image No."));
    EXPECT_EQ(form.ListView1->columnWidth(0), 400);
    EXPECT_EQ(form.ListView1->columnWidth(1), 100);
    EXPECT_TRUE(form.pointer().hasMouseIcon());
    EXPECT_EQ(form.pointer().value(), MousePointer::kDefault);
    EXPECT_EQ(form.mTotalImages, 0);
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
}

TEST(Form2Creation, AnUnreadableCursorFileLeavesTheArrowAndReportsNothing) {
    FakeServices f;
    QFile bad(f.programFolder + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a cursor");
    bad.close();
    QWidget main;
    Form2 form(f.services, &main);
    EXPECT_FALSE(form.pointer().hasMouseIcon());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillfen"));
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
}

TEST(Form2Holders, ElementZeroAlwaysThereOthersComeAndGo) {
    FakeServices f;
    QWidget main;
    Form2 form(f.services, &main);
    EXPECT_TRUE(form.hasImageHolder(0));
    EXPECT_EQ(form.imageHolderCount(), 1);
    const Picture red = makePngPicture(4, 4, 0xff0000);
    form.setImageHolderPicture(0, red);
    form.createImageHolder(1);
    form.createImageHolder(2);
    form.setImageHolderPicture(2, red);
    EXPECT_EQ(form.imageHolderCount(), 3);
    EXPECT_EQ(form.imageHolderPicture(2), red);
    EXPECT_TRUE(form.imageHolderPicture(1).isNull());

    auto number = [](const std::function<void()>& statement) {
        try {
            statement();
        } catch (const platform::RuntimeError& e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(number([&] { form.createImageHolder(2); }), 360);
    EXPECT_EQ(number([&] { form.createImageHolder(0); }), 360);
    EXPECT_EQ(number([&] { form.setImageHolderPicture(3, red); }), 340);
    EXPECT_EQ(number([&] { form.destroyImageHolder(3); }), 340);
    EXPECT_EQ(number([&] { form.destroyImageHolder(-1); }), 340);
    EXPECT_EQ(number([&] { form.createImageHolder(-5); }), 340);
    EXPECT_EQ(number([&] { form.createImageHolder(2'000'000'000); }), 340);
    EXPECT_NE(number([&] { form.destroyImageHolder(0); }), 0);
    EXPECT_EQ(number([&] { (void)form.imageHolderPicture(7); }), 340);

    form.destroyImageHolder(2);
    form.destroyImageHolder(1);
    EXPECT_EQ(number([&] { form.destroyImageHolder(1); }), 340);
    EXPECT_EQ(form.imageHolderCount(), 1);
    EXPECT_EQ(form.imageHolderPicture(0), red);
    // A holder may be made again after it was destroyed, as the next run does.
    form.createImageHolder(1);
    EXPECT_TRUE(form.hasImageHolder(1));
}

TEST(Form2Scrollbars, SmallPictureDisablesBothBarsAndSitsTopLeft) {
    ShownResults r;
    r.load({makePngPicture(40, 30)});
    EXPECT_EQ(r.form->Picture1->size(), QSize(40, 30));
    EXPECT_EQ(r.at(), QPoint(0, 0));
    EXPECT_FALSE(r.form->HScroll1->isEnabled());
    EXPECT_FALSE(r.form->VScroll1->isEnabled());
    EXPECT_EQ(r.form->mHStep, 0);
    EXPECT_EQ(r.form->mVStep, 0);
}

TEST(Form2Scrollbars, MaximumAndStepFollowTheExcess) {
    struct Case {
        int excess;
        int maximum;
        int step;
    };
    const Case cases[] = {{1, 1, 1},     {100, 100, 1}, {101, 10, 10},  {105, 10, 10},
                          {115, 12, 10}, {135, 14, 10}, {1000, 100, 10}};
    ShownResults r;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.excess);
        r.load({r.exceeding(c.excess, -10), r.exceeding(-10, c.excess)});
        EXPECT_TRUE(r.form->HScroll1->isEnabled());
        EXPECT_FALSE(r.form->VScroll1->isEnabled());
        EXPECT_EQ(r.form->HScroll1->maximum(), c.maximum);
        EXPECT_EQ(r.form->mHStep, c.step);
        EXPECT_EQ(r.form->HScroll1->value(), 0);
        r.form->hide();
        r.load({r.exceeding(-10, c.excess)});
        EXPECT_TRUE(r.form->VScroll1->isEnabled());
        EXPECT_EQ(r.form->VScroll1->maximum(), c.maximum);
        EXPECT_EQ(r.form->mVStep, c.step);
        r.form->hide();
    }
}

TEST(Form2Scrollbars, ShowingAgainAfterANewRunStartsAtTheOriginForTheFirstImage) {
    ShownResults r;
    r.load({r.exceeding(500, 200)});
    r.form->HScroll1->setValue(20);
    r.form->VScroll1->setValue(7);
    EXPECT_EQ(r.at(), QPoint(-200, -70));
    r.form->hide();
    // A disabled bar keeps its old position, and the picture still starts at the origin.
    r.load({r.exceeding(50, -5)});
    EXPECT_EQ(r.at(), QPoint(0, 0));
    EXPECT_EQ(r.form->HScroll1->maximum(), 50);
    EXPECT_EQ(r.form->HScroll1->value(), 0);
    EXPECT_FALSE(r.form->VScroll1->isEnabled());
    EXPECT_EQ(r.form->VScroll1->value(), 7);
}

TEST(Form2Scrollbars, StepTenBarMovesTenPixelsPerArrowOrTrackClick) {
    ShownResults r;
    r.load({r.exceeding(500, -10)});
    QScrollBar* bar = r.form->HScroll1;
    ASSERT_EQ(bar->maximum(), 50);
    QTest::mouseClick(bar, Qt::LeftButton, {}, barPart(bar, QStyle::SC_ScrollBarAddLine).center());
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(r.at(), QPoint(-10, 0));
    QTest::mouseClick(bar, Qt::LeftButton, {}, barPart(bar, QStyle::SC_ScrollBarAddPage).center());
    EXPECT_EQ(bar->value(), 2);
    EXPECT_EQ(r.at(), QPoint(-20, 0));
    QTest::mouseClick(bar, Qt::LeftButton, {}, barPart(bar, QStyle::SC_ScrollBarSubLine).center());
    EXPECT_EQ(r.at(), QPoint(-10, 0));
}

TEST(Form2Scrollbars, DraggedScrollBoxMovesThePictureOnlyWhenLetGo) {
    ShownResults r;
    r.load({r.exceeding(-10, 90)});
    QScrollBar* bar = r.form->VScroll1;
    ASSERT_EQ(bar->maximum(), 90);
    const QPoint box = barPart(bar, QStyle::SC_ScrollBarSlider).center();
    QTest::mousePress(bar, Qt::LeftButton, {}, box);
    QTest::mouseMove(bar, box + QPoint(0, 120));
    EXPECT_GT(bar->sliderPosition(), 0);
    EXPECT_EQ(r.at(), QPoint(0, 0));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, box + QPoint(0, 120));
    EXPECT_GT(bar->value(), 0);
    EXPECT_EQ(r.at(), QPoint(0, -bar->value()));
}

TEST(Form2Panning, SmallPictureDraggedLeftJumpsFlushRightAndBackLeft) {
    ShownResults r;
    r.load({makePngPicture(60, 40)});
    const QSize inner = r.form->viewInnerSize();
    const int hValue = r.form->HScroll1->value(), vValue = r.form->VScroll1->value();
    r.drag(QPoint(30, 20), QPoint(-5, -5));
    EXPECT_EQ(r.at(), QPoint(inner.width() - 60, inner.height() - 40));
    r.drag(QPoint(30, 20), QPoint(4, 3));
    EXPECT_EQ(r.at(), QPoint(0, 0));
    r.drag(QPoint(30, 20), QPoint(-1, 0));
    EXPECT_EQ(r.at(), QPoint(inner.width() - 60, inner.height() - 40));
    EXPECT_FALSE(r.form->HScroll1->isEnabled());
    EXPECT_FALSE(r.form->VScroll1->isEnabled());
    EXPECT_EQ(r.form->HScroll1->value(), hValue);
    EXPECT_EQ(r.form->VScroll1->value(), vValue);
}

TEST(Form2Panning, MovementWithoutAButtonDoesNothing) {
    ShownResults r;
    r.load({r.exceeding(300, 300)});
    r.form->Picture1_MouseDown(Qt::LeftButton, 50, 50);
    r.form->Picture1_MouseMove(Qt::NoButton, 10, 10);
    EXPECT_EQ(r.at(), QPoint(0, 0));
    r.form->Picture1_MouseMove(Qt::RightButton, 10, 20);
    EXPECT_EQ(r.at(), QPoint(-40, -30));
}

TEST(Form2Panning, DragStopsAtTheFarEdgesOfALargePicture) {
    ShownResults r;
    r.load({r.exceeding(80, 60)});
    r.drag(QPoint(200, 200), QPoint(-150, -150));
    EXPECT_EQ(r.at(), QPoint(-80, -60));
    EXPECT_EQ(r.form->HScroll1->value(), 80);
    EXPECT_EQ(r.form->VScroll1->value(), 60);
    r.drag(QPoint(200, 200), QPoint(150, 150));
    EXPECT_EQ(r.at(), QPoint(0, 0));
    EXPECT_EQ(r.form->HScroll1->value(), 0);
}

TEST(Form2Panning, ReleaseSnapsToTheScrollGrid) {
    ShownResults r;
    r.load({r.exceeding(1000, 0)});
    r.drag(QPoint(400, 100), QPoint(-333, 0));
    EXPECT_EQ(r.form->HScroll1->value(), 33);
    EXPECT_EQ(r.at(), QPoint(-330, 0));
    // One pixel further still gives 33%: the position does not change, so the picture stays
    // where the drag left it.
    r.drag(QPoint(400, 100), QPoint(-1, 0));
    EXPECT_EQ(r.form->HScroll1->value(), 33);
    EXPECT_EQ(r.at(), QPoint(-331, 0));
}

TEST(Form2Panning, ClickWithoutMovingKeepsThePosition) {
    ShownResults r;
    r.load({r.exceeding(57, -20)});
    r.form->HScroll1->setValue(30);
    ASSERT_EQ(r.at(), QPoint(-30, 0));
    QTest::mouseClick(r.form->Picture1, Qt::LeftButton, {}, QPoint(100, 50));
    EXPECT_EQ(r.form->HScroll1->value(), 30);
    EXPECT_EQ(r.at(), QPoint(-30, 0));
}

TEST(Form2Panning, FarEndOfARoundedUpBarStaysWithinItsMaximum) {
    ShownResults r;
    r.load({r.exceeding(135, 0)});
    ASSERT_EQ(r.form->HScroll1->maximum(), 14);
    r.form->HScroll1->setValue(14);
    ASSERT_EQ(r.at(), QPoint(-140, 0));
    QTest::mouseClick(r.form->Picture1, Qt::LeftButton, {}, QPoint(300, 50));
    EXPECT_EQ(r.form->HScroll1->value(), 14);
    EXPECT_EQ(r.at(), QPoint(-140, 0));
    r.form->SetHScrollbarByPercent(r.form->HScroll1, 104);
    EXPECT_EQ(r.form->HScroll1->value(), 14);
    // A drag to the edge (left -135, 100%) lands on the last position.
    r.form->HScroll1->setValue(0);
    r.drag(QPoint(300, 50), QPoint(-200, 0));
    EXPECT_EQ(r.form->HScroll1->value(), 14);
    EXPECT_EQ(r.at(), QPoint(-140, 0));
}

TEST(Form2Panning, NegativePercentageLeavesTheBarAlone) {
    ShownResults r;
    r.load({r.exceeding(60, -20)});
    r.form->HScroll1->setValue(12);
    r.form->SetHScrollbarByPercent(r.form->HScroll1, -1);
    r.form->SetVScrollbarByPercent(r.form->HScroll1, -100);
    EXPECT_EQ(r.form->HScroll1->value(), 12);
    r.form->SetVScrollbarByPercent(r.form->HScroll1, 50);
    EXPECT_EQ(r.form->HScroll1->value(), 30);
}

TEST(Form2Panning, PictureLargerThan32767PixelsStillScrolls) {
    // 40000 x 1 pixels: far wider than a 16-bit position allows.
    ShownResults r;
    r.load({makePngPicture(40000, 1)});
    const int excess = 40000 - r.form->viewInnerSize().width();
    EXPECT_EQ(r.form->HScroll1->maximum(), (excess + 5) / 10);
    r.drag(QPoint(30000, 0), QPoint(-29990, 0));
    EXPECT_EQ(r.at().x(), -10 * r.form->HScroll1->value());
    EXPECT_LT(r.at().x(), -29000);
}

TEST(Form2Selection, KeysPreviewEachRowFromTheOrigin) {
    ShownResults r;
    r.load({r.exceeding(300, 100), r.exceeding(50, 50), makePngPicture(20, 20)});
    QTreeWidget* list = r.form->ListView1;
    list->setFocus();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(0)).center());
    r.drag(QPoint(200, 200), QPoint(-100, -40));
    ASSERT_NE(r.at(), QPoint(0, 0));

    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(r.form->Picture1->size(), r.form->imageHolderPicture(1).size());
    EXPECT_EQ(r.at(), QPoint(0, 0));
    EXPECT_EQ(r.form->HScroll1->maximum(), 50);
    EXPECT_EQ(r.form->pointer().value(), MousePointer::kDefault);

    r.drag(QPoint(100, 100), QPoint(-20, -20));
    ASSERT_EQ(r.at(), QPoint(-20, -20));
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Shift}) {
        QTest::keyClick(list, key);
        EXPECT_EQ(r.at(), QPoint(0, 0));
        r.drag(QPoint(100, 100), QPoint(-20, -20));
    }

    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(r.form->Picture1->size(), QSize(20, 20));
    EXPECT_FALSE(r.form->HScroll1->isEnabled());
    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(r.form->Picture1->size(), r.form->imageHolderPicture(0).size());
    EXPECT_EQ(r.form->HScroll1->maximum(), 30);
}

TEST(Form2Selection, EmptyListIgnoresClicksAndKeys) {
    ShownResults r;
    r.load({r.exceeding(200, 200)});
    r.form->clearResults();
    r.drag(QPoint(100, 100), QPoint(-50, -50));
    const QPoint before = r.at();
    const int h = r.form->HScroll1->value();
    QTest::mouseClick(r.form->ListView1->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
    QTest::keyClick(r.form->ListView1, Qt::Key_Down);
    EXPECT_EQ(r.at(), before);
    EXPECT_EQ(r.form->HScroll1->value(), h);
    EXPECT_EQ(r.form->pointer().value(), MousePointer::kDefault);
}

TEST(Form2Selection, RowWithoutAHolderLeavesThePreviewAsItWas) {
    ShownResults r;
    r.load({r.exceeding(200, 200)});
    r.form->appendResultRow(QStringLiteral("/in/other.xlsx"), QStringLiteral("1"));
    r.drag(QPoint(100, 100), QPoint(-50, -50));
    const QPoint before = r.at();
    QTreeWidget* list = r.form->ListView1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(1)).center());
    ASSERT_EQ(list->selectedItems().value(0), list->topLevelItem(1));
    EXPECT_EQ(r.at(), before);
    EXPECT_EQ(r.form->Picture1->size(), r.form->imageHolderPicture(0).size());
}

TEST(Form2Preview, PicturesThatDoNotDecodeSayWhyInTheEmptyView) {
    // An enhanced metafile header with no records to draw.
    QByteArray emf(88, '\0');
    emf[0] = 1;
    emf[8] = 0;
    emf[16] = char(99);
    emf[20] = char(99);
    emf.replace(40, 4, " EMF");
    // A PNG whose header claims 20000 x 20000 pixels, more than the preview decodes.
    QByteArray huge = makePngPicture(2, 2).bytes();
    huge[16] = 0, huge[17] = 0, huge[18] = char(0x4e), huge[19] = char(0x20);
    huge[20] = 0, huge[21] = 0, huge[22] = char(0x4e), huge[23] = char(0x20);
    ASSERT_EQ(Picture::fromBytes(huge).size(), QSize(20000, 20000));
    // JPEG and PNG cut short: Qt's JPEG reader would show grey rows as if the picture were whole.
    QImage gradient(160, 120, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y) {
        for (int x = 0; x < gradient.width(); ++x) {
            gradient.setPixel(x, y, qRgb(x, y, x + y));
        }
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    gradient.save(&buffer, "JPG");
    const QByteArray cutShort[] = {jpeg.left(jpeg.size() * 6 / 10),
                                   makePngPicture(300, 300).bytes().left(60)};

    ShownResults r;
    r.load({r.exceeding(100, 100)});
    for (const QByteArray& bytes :
         {QByteArray("not a picture at all"), emf, huge, cutShort[0], cutShort[1]}) {
        r.form->setImageHolderPicture(0, Picture::fromBytes(bytes));
        r.form->ListView1->setCurrentItem(r.form->ListView1->topLevelItem(0));
        r.form->ListView1_Click();
        EXPECT_EQ(r.form->Picture1->size(), QSize(0, 0));
        EXPECT_FALSE(r.form->HScroll1->isEnabled());
        EXPECT_FALSE(r.form->VScroll1->isEnabled());
        EXPECT_TRUE(r.form->PreviewMessage->isVisible());
        // In the words the save gives.
        QString saveSays;
        try {
            encode::decodeOntoWhite(Picture::fromBytes(bytes), encode::ChannelOrder::Rgb);
        } catch (const platform::RuntimeError& e) {
            saveSays = e.description();
        }
        EXPECT_EQ(r.form->PreviewMessage->text(), "This picture cannot be shown.\n\n" + saveSays);
        r.drag(QPoint(1, 1), QPoint(-5, -5));
    }
    EXPECT_TRUE(r.form->PreviewMessage->text().endsWith(
        "the picture's data is damaged (it ends before its last row)"));
    // A whole JPEG shows the save's pixels.
    r.form->setImageHolderPicture(0, Picture::fromBytes(jpeg));
    r.form->ListView1_Click();
    const QImage shown = r.form->Picture2->grab().toImage();
    const encode::PixelBuffer saved =
        encode::decodeOntoWhite(Picture::fromBytes(jpeg), encode::ChannelOrder::Rgb);
    const QPoint origin = r.form->Picture1->mapTo(r.form->Picture2, QPoint(0, 0));
    for (const QPoint p : {QPoint(0, 0), QPoint(37, 101), QPoint(159, 119)}) {
        const std::uint8_t* rgb = saved.row(p.y()) + 3 * p.x();
        EXPECT_EQ(shown.pixel(origin + p), qRgb(rgb[0], rgb[1], rgb[2])) << p.x() << "," << p.y();
    }
    // A picture that shows, and no picture at all (a run that kept none), say nothing.
    for (const Picture& shown : {makePngPicture(4, 4), Picture()}) {
        r.form->setPreviewPicture(shown);
        EXPECT_FALSE(r.form->PreviewMessage->isVisible());
    }
}

TEST(Form2Preview, WheelMovesTheBarsOnePositionPerStepAsTheirArrowsDo) {
    ShownResults r;
    r.load({r.exceeding(500, 50)});  // horizontal: step 10, maximum 50; vertical: step 1
    auto turn = [&](QWidget* over, QPoint delta, Qt::KeyboardModifiers modifiers = {}) {
        QWheelEvent wheel(QPointF(5, 5), over->mapToGlobal(QPointF(5, 5)), QPoint(), delta,
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &wheel);
    };
    struct Turn {
        QPoint delta;
        Qt::KeyboardModifiers modifiers;
        int h;
        int v;
    };
    const Turn turns[] = {
        {{0, -120}, {}, 0, 1},                 // one step down
        {{0, -360}, {}, 0, 4},                 // three more
        {{0, -60}, {}, 0, 4},                  // half a step waits for its other half
        {{0, -60}, {}, 0, 5},                  //
        {{0, -120}, Qt::ShiftModifier, 1, 5},  // Shift turns the wheel sideways
        {{-240, 0}, {}, 3, 5},                 // a horizontal wheel
        {{0, 480}, {}, 3, 1},                  // back up
        {{960, 0}, {}, 0, 1},                  // stops at the first position
    };
    for (const Turn& t : turns) {
        turn(r.form->Picture1, t.delta, t.modifiers);
        EXPECT_EQ(r.form->HScroll1->value(), t.h);
        EXPECT_EQ(r.form->VScroll1->value(), t.v);
        EXPECT_EQ(r.at(), QPoint(-10 * t.h, -t.v));
    }
    // Over the view's border the wheel scrolls too.
    turn(r.form->Picture2, QPoint(0, -120));
    EXPECT_EQ(r.at(), QPoint(0, -2));
    // A picture that fits leaves its disabled bars alone.
    r.load({r.exceeding(-10, -10)});
    r.form->SetupScrollbars();
    turn(r.form->Picture1, QPoint(0, -120));
    EXPECT_EQ(r.at(), QPoint(0, 0));
}

TEST(Form2Holders, ANewRunStartsWithAnEmptyElementZero) {
    ShownResults r;
    r.load({makePngPicture(4, 4)});
    r.form->clearResults();
    // A new run whose first picture cannot be put there shows and saves nothing of this one.
    EXPECT_TRUE(r.form->imageHolderPicture(0).isNull());
}

TEST(Form2Preview, TransparentAreasShowTheWhiteView) {
    QImage clear(30, 30, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    for (int x = 0; x < 10; ++x) {
        clear.setPixelColor(x, 0, QColor(255, 0, 0));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    clear.save(&buffer, "PNG");
    ShownResults r;
    r.load({Picture::fromBytes(bytes)});
    const QImage shot = r.form->Picture2->grab().toImage();
    const QPoint origin = r.form->Picture1->mapTo(r.form->Picture2, QPoint(0, 0));
    EXPECT_EQ(shot.pixelColor(origin + QPoint(15, 15)), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(origin + QPoint(5, 0)), QColor(255, 0, 0));
}

TEST(Form2Hover, ButtonsShowTheHandListFramesAndWindowTheArrowNeverOverWait) {
    FakeServices f;
    QWidget main;
    Form2 form(f.services, &main);
    for (QWidget* button :
         std::initializer_list<QWidget*>{form.PushButton6, form.PushButton7, form.PushButton8}) {
        form.pointer().set(MousePointer::kDefault);
        moveOver(button);
        EXPECT_EQ(form.pointer().value(), MousePointer::kCustom);
    }
    const QList<std::pair<QWidget*, QPoint>> arrows = {{form.ListView1->viewport(), QPoint(3, 3)},
                                                       {form.ListView1->header(), QPoint(3, 3)},
                                                       {form.Text1, QPoint(3, 3)},
                                                       {form.Frame1, QPoint(510, 45)},
                                                       {form.Frame2, QPoint(150, 42)},
                                                       {&form, QPoint(530, 140)}};
    for (const auto& [widget, where] : arrows) {
        SCOPED_TRACE(widget->objectName().toStdString());
        form.pointer().set(MousePointer::kCustom);
        moveOver(widget, where);
        EXPECT_EQ(form.pointer().value(), MousePointer::kDefault);
    }
    // Other controls leave the pointer alone, also the option buttons inside a watched frame.
    for (QWidget* other : std::initializer_list<QWidget*>{form.Option1, form.Label3, form.Label5,
                                                          form.Slider1, form.Picture2}) {
        SCOPED_TRACE(other->objectName().toStdString());
        form.pointer().set(MousePointer::kCustom);
        moveOver(other);
        EXPECT_EQ(form.pointer().value(), MousePointer::kCustom);
    }
    form.pointer().set(MousePointer::kWait);
    for (QWidget* w : std::initializer_list<QWidget*>{form.PushButton6, form.ListView1->viewport(),
                                                      form.Text1, &form}) {
        moveOver(w);
        EXPECT_EQ(form.pointer().value(), MousePointer::kWait);
    }
}

TEST(Form2Close, ClosingEndsTheProgramWithoutAQuestionWhileTheMainWindowIsHidden) {
    FakeServices f;
    QWidget main;
    Form2 form(f.services, &main);
    form.show();
    ASSERT_FALSE(main.isVisible());
    form.close();
    EXPECT_EQ(f.endProgramCalls, 1);
    EXPECT_TRUE(f.services.ending);
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
}

TEST(RenderPicture, AHundredMegapixelPhotoDecodesAndALargerOneDoesNot) {
    auto jpeg = [](int width, int height) {
        QImage photo(width, height, QImage::Format_RGB888);
        photo.fill(QColor(40, 90, 160));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, "JPEG", 10);
        return Picture::fromBytes(bytes);
    };
    // Four bytes a pixel: beyond the 256 MiB Qt allows unless told otherwise.
    const QImage decoded = render::renderPicture(jpeg(10000, 10000)).image;
    EXPECT_EQ(decoded.size(), QSize(10000, 10000));
    EXPECT_NEAR(decoded.pixelColor(5000, 5000).blue(), 160, 12);
    EXPECT_TRUE(render::renderPicture(jpeg(10000, 10001)).image.isNull());
}

TEST(Form2Selection, FirstRowIsSelectedAndAClickBelowTheRowsPreviewsItAgain) {
    ShownResults r;
    r.load({r.exceeding(200, 200), r.exceeding(10, 10)});
    QTreeWidget* list = r.form->ListView1;
    EXPECT_EQ(list->selectedItems().value(0), list->topLevelItem(0));
    r.drag(QPoint(100, 100), QPoint(-50, -50));
    ASSERT_NE(r.at(), QPoint(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(40, 80));
    EXPECT_EQ(r.at(), QPoint(0, 0));
    EXPECT_EQ(r.form->HScroll1->maximum(), 20);
}

TEST(Form2Scrollbars, ADisabledBarDrawsNoThumb) {
    ShownResults r;
    r.load({r.exceeding(300, 0)});
    QScrollBar* bar = r.form->HScroll1;
    // The grab at either end of the range: the thumb shows where it sits while the bar is on,
    // and nowhere once it is off, as after a run without pictures.
    auto grabsAtBothEnds = [bar] {
        bar->setValue(bar->minimum());
        const QImage low = bar->grab().toImage();
        bar->setValue(bar->maximum());
        return std::make_pair(low, bar->grab().toImage());
    };
    ASSERT_TRUE(bar->isEnabled());
    const auto enabled = grabsAtBothEnds();
    EXPECT_NE(enabled.first, enabled.second);
    r.form->hide();
    r.load({r.exceeding(-10, -10)});
    ASSERT_FALSE(bar->isEnabled());
    const auto disabled = grabsAtBothEnds();
    EXPECT_EQ(disabled.first, disabled.second);
}

TEST(Form2Focus, TabEntersTheFormatGroupAtTheChosenOptionAndLeavesIt) {
    ShownResults r;
    r.load({r.exceeding(-10, -10)});
    QApplication::setActiveWindow(r.form.get());
    // With JPG chosen the slider is on and follows the group; with BMP it is off.
    for (QRadioButton* chosen : {r.form->Option2, r.form->Option1}) {
        QTest::mouseClick(chosen, Qt::LeftButton);
        QWidget* after =
            chosen == r.form->Option2 ? static_cast<QWidget*>(r.form->Slider1) : r.form->Text1;
        r.form->ListView1->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(r.form->ListView1, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), chosen) << chosen->text().toStdString();
        QTest::keyClick(chosen, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), after) << chosen->text().toStdString();
        QTest::keyClick(after, Qt::Key_Backtab);
        EXPECT_EQ(QApplication::focusWidget(), chosen) << chosen->text().toStdString();
    }
}

TEST(Form2Quality, TheSliderShowsItsValueInItsTipAndWhileDragged) {
    ShownResults r;
    EXPECT_EQ(r.form->Slider1->toolTip(), QStringLiteral("Quality: 85"));
    QTest::mouseClick(r.form->Option2, Qt::LeftButton);
    r.form->Slider1->setValue(40);
    EXPECT_EQ(r.form->Slider1->toolTip(), QStringLiteral("Quality: 40"));

    r.form->Slider1->setSliderDown(true);
    r.form->Slider1->setSliderPosition(62);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Quality: 62"));
    r.form->Slider1->setSliderDown(false);
    QToolTip::hideText();
    // The quality is shown nowhere else.
    EXPECT_EQ(r.form->Label5->text(), QStringLiteral("JPG Image Quality"));
    EXPECT_EQ(r.form->Slider1->value(), 62);
}
