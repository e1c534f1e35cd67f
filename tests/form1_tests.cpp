#include <gtest/gtest.h>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "app/form1.h"
#include "platform/services.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"

using namespace testing_support;
using platform::MousePointer;

namespace {

void moveOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

}  // namespace

TEST(Form1Layout, ControlsSitAtTheirTwipPositions) {
    FakeServices f;
    app::Form1 form(f.services);
    EXPECT_EQ(form.size(), QSize(536, 272));
    // A fixed layout: minimise and close, no maximise.
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form.ListView1->geometry(), QRect(8, 8, 520, 153));
    EXPECT_EQ(form.PushButton1->geometry(), QRect(8, 168, 256, 27));
    EXPECT_EQ(form.PushButton4->geometry(), QRect(272, 168, 256, 27));
    EXPECT_EQ(form.PushButton6->geometry(), QRect(8, 202, 256, 27));
    EXPECT_EQ(form.PushButton7->geometry(), QRect(272, 202, 256, 27));
    EXPECT_EQ(form.PushButton2->geometry(), QRect(8, 236, 520, 27));
    EXPECT_EQ(form.PushButton1->text(), QStringLiteral("Add Excel Files"));
    EXPECT_EQ(form.PushButton4->text(), QStringLiteral("Add All Excel Files In Folder"));
    EXPECT_EQ(form.PushButton6->text(), QStringLiteral("Clear List"));
    EXPECT_EQ(form.PushButton7->text(), QStringLiteral("Load Sample/Example Files"));
    EXPECT_EQ(form.PushButton2->text(), QStringLiteral("Start Extracting"));
    EXPECT_EQ(form.ListView1->toolTip(),
              QStringLiteral("Drag and drop files here. Double-click item to remove it. Move bar "
                             "to right and out of window to reveal full names."));
    EXPECT_TRUE(form.font().bold());
    EXPECT_DOUBLE_EQ(form.font().pointSizeF(), 9.0);
    EXPECT_DOUBLE_EQ(form.PushButton2->font().pointSizeF(), 11.25);
    EXPECT_EQ(form.findChild<QTreeWidget*>(QStringLiteral("ListView1")), form.ListView1);
}

TEST(Form1Load, SetsCaptionAndTheOneColumnAndReportsNothingWithoutACursor) {
    FakeServices f;
    installFakeExcel(f.registry);
    app::Form1 form(f.services);
    form.Form_Load();
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillfen"));
    ASSERT_EQ(form.ListView1->columnCount(), 1);
    EXPECT_EQ(form.ListView1->headerItem()->text(0), QStringLiteral("Excel File(s)"));
    EXPECT_EQ(form.ListView1->columnWidth(0), 467);
    EXPECT_EQ(form.ListView1->topLevelItemCount(), 0);
    EXPECT_FALSE(form.pointer().hasMouseIcon());
    EXPECT_EQ(form.pointer().value(), MousePointer::kDefault);
    for (QPushButton* b : form.findChildren<QPushButton*>()) {
        EXPECT_TRUE(b->isEnabled());
    }
}

TEST(Form1Load, WithoutTheApplicationWarnsAndTheWindowStillLoads) {
    FakeServices f;
    app::Form1 form(f.services);
    form.Form_Load();
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].startsWith(QStringLiteral("Excel is not installed")));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillfen"));
    EXPECT_EQ(form.ListView1->columnCount(), 1);
}

TEST(Form1Load, BadCursorFileIsReportedAtItsLineAndTheSequenceGoesOn) {
    FakeServices f;
    installFakeExcel(f.registry);
    QFile bad(f.programFolder + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("garbage");
    bad.close();
    app::Form1 form(f.services);
    form.Form_Load();
    ASSERT_EQ(f.dialogs.messages().size(), 1);
    EXPECT_TRUE(f.dialogs.messages()[0].contains(
        QStringLiteral("\r\nin Tarnwick2/19/2015.Form1.Form_Load at line 4\r\r")));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillfen"));
}

TEST(Form1Hover, ButtonsShowTheHandListAndWindowTheArrowNeverOverWait) {
    FakeServices f;
    QFile::copy(
        platform::besideProgram(platform::applicationFolder(), QStringLiteral("HAND-M.CUR")),
        f.programFolder + QStringLiteral("/HAND-M.CUR"));
    installFakeExcel(f.registry);
    app::Form1 form(f.services);
    form.Form_Load();
    ASSERT_TRUE(form.pointer().hasMouseIcon());

    moveOver(form.PushButton4);
    EXPECT_EQ(form.pointer().value(), MousePointer::kCustom);
    EXPECT_EQ(form.cursor().shape(), Qt::BitmapCursor);
    moveOver(form.ListView1->viewport());
    EXPECT_EQ(form.pointer().value(), MousePointer::kDefault);
    moveOver(form.PushButton2);
    QMouseEvent bare(QEvent::MouseMove, QPointF(530, 100), form.mapToGlobal(QPointF(530, 100)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &bare);
    EXPECT_EQ(form.pointer().value(), MousePointer::kDefault);

    form.pointer().set(MousePointer::kWait);
    for (QWidget* w : {static_cast<QWidget*>(form.PushButton1), form.ListView1->viewport(),
                       static_cast<QWidget*>(&form)}) {
        moveOver(w);
        EXPECT_EQ(form.pointer().value(), MousePointer::kWait);
    }
}

TEST(Form1Close, ClosingEndsTheProgramWithoutAQuestion) {
    FakeServices f;
    app::Form1 form(f.services);
    form.addListRow(QStringLiteral("/in/a.xlsx"));
    form.show();
    form.close();
    EXPECT_EQ(f.endProgramCalls, 1);
    EXPECT_TRUE(f.services.ending);
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
}
