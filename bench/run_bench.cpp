// Drives the real windows offscreen over a generated set: the time from a click on "Start
// Extracting" to the results window shown, against the engine's own list-and-copy over the
// same set in the same run, and the peak memory above the idle size against the pictures kept
// in the run's spill. Both roads run on this one thread, so their processor times are printed
// too: on a shared machine they say more than the clock.
//
// usage: run_bench [workbooks=200] [pictures per workbook=10] [min MP=0.05] [max MP=0.6]
//        run_bench --shared COUNT (one workbook whose COUNT pictures all show one 20 MB image;
//        one run through the windows, its time, peak memory and what it kept and reported)
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/form1.h"
#include "generatedset.h"
#include "results/form2.h"
#include "windowservices.h"

namespace {

using Clock = std::chrono::steady_clock;

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A workbook whose pictures all show one 20 MB image, once through the windows: what the run
// keeps within the copy limit of one workbook, how long it takes and its peak memory.
int sharedImageRun(const QTemporaryDir& folder, int count) {
    const QString path = folder.filePath(QStringLiteral("shared.xlsx"));
    bench::writeSharedImageWorkbook(path.toStdString(), count, 20u << 20);
    bench::WindowServices fakes(folder.path());
    platform::ScriptedDialogs& dialogs = fakes.dialogs;
    app::Form1 form(fakes.services);
    form.Form_Load();
    form.show();
    form.addListRow(path);
    bench::resetPeakMemory();
    long idleKiB = bench::statusKiB("VmRSS:");
    Clock::time_point start = Clock::now();
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double peakMiB = double(bench::statusKiB("VmHWM:") - idleKiB) / 1024;
    int kept = form.existingForm2() ? form.existingForm2()->mTotalImages : -1;
    std::printf(
        "shared 20 MB image, %d pictures through the windows: %.2f s, kept %d, %lld "
        "reports; peak %.1f MiB above idle (target < 300 MiB)\n",
        count, seconds, kept, static_cast<long long>(dialogs.messages().size()), peakMiB);
    if (!dialogs.messages().isEmpty()) {
        std::printf("first report: %s\n", qPrintable(dialogs.messages().first()));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int workbooks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    int pictures = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    double minMp = argc > 3 ? std::atof(argv[3]) : 0.05;
    double maxMp = argc > 4 ? std::atof(argv[4]) : 0.6;
    const bool shared = argc > 2 && std::string(argv[1]) == "--shared";
    QApplication application(argc, argv);

    QTemporaryDir folder;
    if (shared) {
        return sharedImageRun(folder, std::atoi(argv[2]));
    }
    std::printf("%d workbooks with %d pictures each (%.2f-%.2f MP)\n", workbooks, pictures, minMp,
                maxMp);
    // Generated once into the cache folder, and reused by later runs.
    const QString setFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
        QStringLiteral("/quillfen-bench/set-%1x%2-%3-%4")
            .arg(workbooks)
            .arg(pictures)
            .arg(argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("0.05"),
                 argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("0.6"));
    QDir().mkpath(setFolder);
    bench::GeneratedSet set =
        bench::cachedWorkbooks(setFolder.toStdString(), workbooks, pictures, minMp, maxMp);
    std::printf("%zu pictures, %.1f MiB stored\n", set.pictures,
                double(set.totalBytes) / (1 << 20));

    bench::WindowServices fakes(folder.path());
    platform::ScriptedDialogs& dialogs = fakes.dialogs;

    app::Form1 form(fakes.services);
    form.Form_Load();
    form.show();
    for (const std::string& path : set.paths) {
        form.addListRow(QString::fromStdString(path));
    }

    double engine = 1e9, run = 1e9, engineCpu = 1e9, runCpu = 1e9;
    double peakAboveIdleMiB = 0;
    std::size_t copied = 0;
    for (int round = 0; round < 2; ++round) {
        copied = 0;
        double cpu = threadSeconds();
        engine = std::min(engine, bench::listAndCopy(set.paths, copied));
        engineCpu = std::min(engineCpu, threadSeconds() - cpu);

        bench::resetPeakMemory();
        long idleKiB = bench::statusKiB("VmRSS:");
        Clock::time_point start = Clock::now();
        cpu = threadSeconds();
        QTest::mouseClick(form.PushButton2, Qt::LeftButton);
        runCpu = std::min(runCpu, threadSeconds() - cpu);
        run = std::min(run, std::chrono::duration<double>(Clock::now() - start).count());
        peakAboveIdleMiB = double(bench::statusKiB("VmHWM:") - idleKiB) / 1024;
        if (!form.existingForm2() || !form.existingForm2()->isVisible()) {
            std::printf("the results window was not shown\n");
            return 1;
        }
        if (form.existingForm2()->mTotalImages != int(set.pictures)) {
            std::printf("kept %d of %zu pictures\n", form.existingForm2()->mTotalImages,
                        set.pictures);
            return 1;
        }
        form.existingForm2()->PushButton8_Click();  // "< Back" for the next round
    }
    if (!dialogs.shown().isEmpty()) {
        std::printf("unexpected message: %s\n", qPrintable(dialogs.messages().value(0)));
        return 1;
    }
    double held = double(set.totalBytes) / (1 << 20);
    std::printf(
        "time: click to results window %.3f s, engine list+copy %.3f s, ratio %.2fx "
        "(target <= 1.30x)\n",
        run, engine, run / engine);
    std::printf("processor time: run %.3f s, engine %.3f s, ratio %.2fx\n", runCpu, engineCpu,
                runCpu / engineCpu);
    std::printf(
        "memory: peak %.1f MiB above idle during the run, for %.1f MiB of pictures kept "
        "in the spill\n",
        peakAboveIdleMiB, held);
    return 0;
}
