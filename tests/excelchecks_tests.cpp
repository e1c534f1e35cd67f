#include <gtest/gtest.h>

#include "extract/excel1.h"
#include "extract/isinstalled.h"
#include "support/appfixture.h"
#include "support/fakeexcel.h"

using namespace testing_support;

namespace {
const QString kNotInstalled = QStringLiteral(
    "Excel is not installed on this computer. You need to have it installed to use this "
    "software without error.");
}

TEST(ExcelChecks, NotInstalledWarnsOnceWithOkOnlyAndTheAppTitle) {
    FakeServices f;
    extract::CheckExcelInstalled(f.registry, f.dialogs, nullptr);
    ASSERT_EQ(f.dialogs.shown().size(), 1);
    EXPECT_EQ(f.dialogs.shown()[0].prompt, kNotInstalled);
    EXPECT_EQ(f.dialogs.shown()[0].style, platform::vbOKOnly);
    EXPECT_EQ(f.dialogs.shown()[0].title, QStringLiteral("Quillfen"));
    EXPECT_FALSE(extract::IsExcelRunning(f.registry));
    EXPECT_FALSE(extract::ExcelRunningPrompt(f.registry, f.dialogs, nullptr));
    EXPECT_EQ(f.dialogs.shown().size(), 1);
}

TEST(ExcelChecks, CreatableApplicationShowsNothingAndIsReleasedAtOnce) {
    FakeServices f;
    auto world = installFakeExcel(f.registry);
    extract::CheckExcelInstalled(f.registry, f.dialogs, nullptr);
    EXPECT_TRUE(f.dialogs.shown().isEmpty());
    EXPECT_EQ(world->created, 1);
    EXPECT_EQ(world->alive, 0);
}

TEST(ExcelChecks, RunningMeansTheDefaultPropertyIsExactlyMicrosoftExcel) {
    FakeServices f;
    auto world = installFakeExcel(f.registry, /*running=*/true);
    EXPECT_TRUE(extract::IsExcelRunning(f.registry));
    for (const char* other : {"microsoft excel", "Microsoft Excel ", "Calc", ""}) {
        world->defaultProperty = QString::fromLatin1(other);
        EXPECT_FALSE(extract::IsExcelRunning(f.registry)) << other;
    }
    world->defaultProperty = QStringLiteral("Microsoft Excel");
    world->failing << QStringLiteral("defaultProperty");
    EXPECT_FALSE(extract::IsExcelRunning(f.registry));
    EXPECT_EQ(world->alive, 0);
}

TEST(ExcelChecks, RunningPromptTextAndAnswers) {
    FakeServices f;
    installFakeExcel(f.registry, /*running=*/true);
    f.dialogs.answer(platform::vbYes);
    EXPECT_FALSE(extract::ExcelRunningPrompt(f.registry, f.dialogs, nullptr));
    f.dialogs.answer(platform::vbNo);
    EXPECT_TRUE(extract::ExcelRunningPrompt(f.registry, f.dialogs, nullptr));
    ASSERT_EQ(f.dialogs.shown().size(), 2);
    const auto& box = f.dialogs.shown()[0];
    EXPECT_EQ(box.prompt,
              QStringLiteral("Excel may be open. It is recommended that you close Excel first.") +
                  QChar(13) + QStringLiteral("Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.") +
                  QChar(13) + QChar(10) + QChar(13) + QChar(10) +
                  QStringLiteral("Would you like to proceed anyway?"));
    EXPECT_EQ(box.style, platform::vbYesNo);
    EXPECT_EQ(box.title, QStringLiteral("Quillfen"));
}
