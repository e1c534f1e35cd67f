// quillfen-batch over a generated set of realistic pictures, each figure beside a floor measured
// in the same run:
// - "--format original" against "unzip -p" of the same media entries;
// - "--format jpg -j 1" against one in-process loop of libjpeg-turbo/libpng decoding and
//   TurboJPEG encoding of the same pictures (read from the workbooks beforehand, untimed);
// - "-j 2" against "-j 1";
// and the peak memory of each run of the program. Figures are medians over the rounds.
//
// usage: batch_bench [folder] [workbooks=200] [pictures per workbook=10] [rounds=3]
// The set is generated into the folder unless it already holds as many workbooks (the first of
// them are taken), so repeated runs share it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codecfloor.h"
#include "generatedset.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

struct Timed {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the program
    double peakMiB = 0;
    int status = 0;
};

// Runs a program to its end with its output thrown away; its time and its peak memory.
Timed runProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // The child must not inherit (and print again) what is still buffered here.
    std::fflush(stdout);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    auto secondsOf = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime), double(usage.ru_maxrss) / 1024,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The floor of "original": unzip writing every media entry of each workbook to nowhere.
Timed unzipMedia(const std::vector<std::string>& paths) {
    Timed total;
    for (const std::string& path : paths) {
        Timed one = runProgram({"/usr/bin/unzip", "-p", path, "xl/media/*"});
        total.seconds += one.seconds;
        total.peakMiB = std::max(total.peakMiB, one.peakMiB);
    }
    return total;
}

std::vector<std::string> workbooksIn(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".xlsx") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir scratch;
    const std::string folder = argc > 1 ? argv[1] : scratch.path().toStdString();
    const int workbooks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const int pictures = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths = workbooksIn(folder);
    if (paths.size() >= std::size_t(workbooks)) {
        paths.resize(std::size_t(workbooks));
    } else {
        std::printf("generating %d workbooks with %d pictures each (0.5-6 MP)...\n", workbooks,
                    pictures);
        paths = bench::generateWorkbooks(folder, workbooks, pictures).paths;
    }
    std::uintmax_t stored = 0;
    for (const std::string& path : paths) {
        stored += std::filesystem::file_size(path);
    }
    std::printf("%zu workbooks, %.1f MiB\n", paths.size(), double(stored) / (1 << 20));

    const std::string program =
        QCoreApplication::applicationDirPath().toStdString() + "/quillfen-batch";
    const std::string out = scratch.filePath(QStringLiteral("out")).toStdString();
    auto batch = [&](const std::string& format, const std::string& jobs) {
        std::filesystem::remove_all(out);
        std::vector<std::string> arguments{program, "--quiet", "--format", format,
                                           "-j",    jobs,      "--out",    out};
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        Timed t = runProgram(arguments);
        if (t.status != 0) {
            std::printf("quillfen-batch %s -j %s ended with %d\n", format.c_str(), jobs.c_str(),
                        t.status);
        }
        return t;
    };

    // Every figure is the median of its rounds, the floors measured in the same rounds: on a
    // shared machine one quiet round says less than the middle of several.
    std::vector<Timed> unzip, original1, original2, jpg1, jpg2;
    std::vector<bench::CodecLoop> loop;
    for (int round = 0; round < rounds; ++round) {
        unzip.push_back(unzipMedia(paths));
        original1.push_back(batch("original", "1"));
        original2.push_back(batch("original", "2"));
        loop.push_back(bench::codecLoop(paths));
        jpg1.push_back(batch("jpg", "1"));
        jpg2.push_back(batch("jpg", "2"));
        std::printf(
            "round %d: jpg -j 1 %.2f s (%.2f s of processor time), -j 2 %.2f s, loop %.2f s "
            "(%.2f s)\n",
            round + 1, jpg1.back().seconds, jpg1.back().cpuSeconds, jpg2.back().seconds,
            loop.back().wallSeconds, loop.back().cpuSeconds);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    auto seconds = [&](const std::vector<Timed>& runs) {
        std::vector<double> v;
        for (const Timed& t : runs) {
            v.push_back(t.seconds);
        }
        return median(v);
    };
    auto cpu = [&](const std::vector<Timed>& runs) {
        std::vector<double> v;
        for (const Timed& t : runs) {
            v.push_back(t.cpuSeconds);
        }
        return median(v);
    };
    auto peak = [](const std::vector<Timed>& runs) {
        double most = 0;
        for (const Timed& t : runs) {
            most = std::max(most, t.peakMiB);
        }
        return most;
    };
    std::vector<double> loopWall, loopCpu;
    for (const bench::CodecLoop& l : loop) {
        loopWall.push_back(l.wallSeconds);
        loopCpu.push_back(l.cpuSeconds);
    }
    const double floorWall = median(loopWall), floorCpu = median(loopCpu);
    std::printf("medians of %d rounds; %zu pictures, %.0f megapixels\n", rounds,
                loop.front().pictures, loop.front().megapixels);
    std::printf("original -j 1: %.2f s, unzip -p floor %.2f s, ratio %.2fx (target <= 1.30x)\n",
                seconds(original1), seconds(unzip), seconds(original1) / seconds(unzip));
    std::printf("original -j 2: %.2f s, ratio to the floor %.2fx\n", seconds(original2),
                seconds(original2) / seconds(unzip));
    std::printf(
        "jpg -j 1: %.2f s, decode+encode loop floor %.2f s on one core, ratio %.2fx "
        "(target <= 1.10x)\n",
        seconds(jpg1), floorWall, seconds(jpg1) / floorWall);
    std::printf(
        "jpg -j 1 processor time: %.2f s against the loop's %.2f s, ratio %.2fx (all its work, "
        "reading and writing too, on every thread)\n",
        cpu(jpg1), floorCpu, cpu(jpg1) / floorCpu);
    std::printf("jpg -j 2: %.2f s, ratio to -j 1 %.2fx (target <= 0.55x); processor time %.2f s\n",
                seconds(jpg2), seconds(jpg2) / seconds(jpg1), cpu(jpg2));
    std::printf(
        "peak memory: original %.0f / %.0f MiB, jpg %.0f / %.0f MiB (-j 1 / -j 2; "
        "target < 150 MiB)\n",
        peak(original1), peak(original2), peak(jpg1), peak(jpg2));
    return 0;
}
