// quillfen-batch: every picture of many workbooks written as files, from the command line, for
// scripts, servers and large batches. Runs without any display.
#include <unistd.h>

#include <QGuiApplication>
#include <csignal>
#include <iostream>

#include "batch/runbatch.h"

namespace {

std::atomic<int> interruptSignal{0};

void interrupted(int signal) {
    interruptSignal.store(signal);
}

// Qt's own warnings (a missing runtime folder, an image plugin's complaint) are not the
// tool's messages: each problem already reaches standard error as "path: reason".
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::cerr << "quillfen-batch: " << message.toStdString() << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    qInstallMessageHandler(quietQt);
    // Drawing a picture may need fonts, and so a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt takes options such as -platform from the arguments it is given; it gets none of ours.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication application(qtArgc, qtArgv);

    struct sigaction action {};
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    batch::Console console{.in = &std::cin,
                           .out = std::cout,
                           .err = std::cerr,
                           .errIsTerminal = ::isatty(STDERR_FILENO) == 1,
                           .interruptSignal = &interruptSignal};
    try {
        return batch::runBatch(arguments, console);
    } catch (const std::exception& e) {
        std::cerr << "quillfen-batch: " << e.what() << "\n";
        return batch::kExitFailed;
    }
}
