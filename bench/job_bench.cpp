// The whole job through the real windows (offscreen) on a generated set: "Start Extracting" to
// the results window, then "Save Results To Images" on every core, beside the same save on one
// worker, with the peak memory of the process (VmHWM) over the extraction and the first save.
// The job is set against the codec floor measured in the same run: the extraction plus the
// processor time of a plain decode+encode loop over the same pictures spread over the cores.
//
// usage: job_bench [workbooks=200] [pictures=10] [min=0.5] [max=6] [times=1] [format=jpg]
//                  [reference=1]
// times lists every workbook that many times; reference=0 leaves out the one-worker save;
// format=none stops after the extraction (the peak of a long run's holders, without a save that
// takes many minutes). The set is generated once into $XDG_CACHE_HOME/quillfen-bench and reused.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include <QThread>

#include "app/form1.h"
#include "codecfloor.h"
#include "generatedset.h"
#include "results/form2.h"
#include "windowservices.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double mib(long kib) {
    return double(kib) / 1024;
}

// Processor time of the whole process, every thread: beside the clock it tells how many cores
// a save kept busy, which a shared machine does not hide.
double processSeconds() {
    return bench::processCpuSeconds();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::map<std::string, std::string> args = {
        {"workbooks", "200"}, {"pictures", "10"}, {"min", "0.5"},    {"max", "6"},
        {"times", "1"},       {"format", "jpg"},  {"reference", "1"}};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto eq = arg.find('=');
        if (eq == std::string::npos || args.count(arg.substr(0, eq)) == 0) {
            std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
        args[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
    const int workbooks = std::stoi(args["workbooks"]);
    const int pictures = std::stoi(args["pictures"]);
    const int times = std::max(1, std::stoi(args["times"]));
    const bool jpg = args["format"] == "jpg";
    const bool reference = args["reference"] != "0";
    QApplication application(argc, argv);

    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                          QStringLiteral("/quillfen-bench");
    const std::string setFolder =
        QStringLiteral("%1/set-%2x%3-%4-%5")
            .arg(cache)
            .arg(workbooks)
            .arg(pictures)
            .arg(QString::fromStdString(args["min"]), QString::fromStdString(args["max"]))
            .toStdString();
    QDir().mkpath(QString::fromStdString(setFolder));
    std::printf("set: %d workbooks x %d pictures (%s-%s MP), listed %d times\n", workbooks,
                pictures, args["min"].c_str(), args["max"].c_str(), times);
    std::fflush(stdout);
    bench::GeneratedSet set = bench::cachedWorkbooks(
        setFolder, workbooks, pictures, std::stod(args["min"]), std::stod(args["max"]));
    std::printf("%zu pictures, %.1f MiB stored per listing\n", set.pictures,
                double(set.totalBytes) / (1 << 20));

    QTemporaryDir work(cache + QStringLiteral("/work-XXXXXX"));
    bench::WindowServices fakes(work.path());
    platform::ScriptedDialogs& dialogs = fakes.dialogs;

    app::Form1 form(fakes.services);
    form.Form_Load();
    form.show();
    for (int t = 0; t < times; ++t) {
        for (const std::string& path : set.paths) {
            form.addListRow(QString::fromStdString(path));
        }
    }

    bench::resetPeakMemory();
    const long idleKiB = bench::statusKiB("VmRSS:");
    Clock::time_point start = Clock::now();
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
    const double extraction = secondsSince(start);
    results::Form2* form2 = form.existingForm2();
    const int expected = int(set.pictures) * times;
    if (form2 == nullptr || !form2->isVisible() || form2->mTotalImages != expected) {
        std::printf("the run did not keep all %d pictures\n", expected);
        return 1;
    }
    std::printf("extraction: %.2f s to the results window\n", extraction);
    std::fflush(stdout);
    if (args["format"] == "none") {
        const long peakKiB = bench::statusKiB("VmHWM:");
        std::printf("peak memory (VmHWM) over the extraction: %.1f MiB (%.1f MiB above idle)\n",
                    mib(peakKiB), mib(peakKiB - idleKiB));
        return 0;
    }

    const QString out = work.filePath(QStringLiteral("out"));
    form2->Text1->setText(out + QChar('/'));
    if (jpg) {
        QTest::mouseClick(form2->Option2, Qt::LeftButton);
    }
    double saveCpu = 0;
    auto save = [&](int workers) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        dialogs.clear();
        form2->saveWorkers = workers;
        Clock::time_point begin = Clock::now();
        const double cpu = processSeconds();
        QTest::mouseClick(form2->PushButton6, Qt::LeftButton);
        const double seconds = secondsSince(begin);
        saveCpu = processSeconds() - cpu;
        if (dialogs.messages() != QStringList{QStringLiteral("Done.")}) {
            std::printf("unexpected messages: %s\n", qPrintable(dialogs.messages().join("\n")));
            std::exit(1);
        }
        return seconds;
    };
    const double parallel = save(0);
    const long peakKiB = bench::statusKiB("VmHWM:");
    std::printf("save (%s, every core): %.2f s, %.2f s of processor time (%.2f cores busy)\n",
                jpg ? "JPEG q85" : "BMP", parallel, saveCpu, saveCpu / parallel);
    std::printf("peak memory (VmHWM) over extraction and save: %.1f MiB (%.1f MiB above idle)\n",
                mib(peakKiB), mib(peakKiB - idleKiB));
    std::fflush(stdout);
    if (jpg) {
        const bench::CodecLoop loop = bench::codecLoop(set.paths);
        const int cores = std::max(1, QThread::idealThreadCount());
        const double floor = extraction + times * loop.cpuSeconds / cores;
        std::printf(
            "codec floor: decode+encode loop %.2f s of processor time over %zu pictures "
            "(%.2f ms per megapixel), / %d cores + extraction = %.2f s\n"
            "whole job %.2f s = %.2fx the codec floor (target <= 1.10x); the save's processor "
            "time %.2fx the loop's\n",
            loop.cpuSeconds, loop.pictures, 1000 * loop.cpuSeconds / loop.megapixels, cores, floor,
            extraction + parallel, (extraction + parallel) / floor,
            saveCpu / (times * loop.cpuSeconds));
        std::fflush(stdout);
    }
    if (reference) {
        const double single = save(1);
        std::printf(
            "save on one worker: %.2f s, %.2f s of processor time; every core / one "
            "worker = %.2fx (target <= 0.60x on two cores)\n",
            single, saveCpu, parallel / single);
    }
    QDir(out).removeRecursively();
    return 0;
}
