// quillfen-batch: every picture of many workbooks written as files, from the command line, for
// scripts, servers and large batches. Runs without any display.
#include <unistd.h>

#include <QGuiApplication>
#include <iostream>

#include "batch/interrupt.h"
#include "batch/runbatch.h"

namespace {

std::atomic<int> interruptSignal{0};

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
    const bool errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    batch::installInterruptHandlers(&interruptSignal, errIsTerminal);
    qInstallMessageHandler(quietQt);
    // Drawing a picture may need fonts, and so a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Qt takes options such as -platform from the arguments it is given; it gets none of ours.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication application(qtArgc, qtArgv);

    batch::Console console{.in = &std::cin,
                           .out = std::cout,
                           .err = std::cerr,
                           .errIsTerminal = errIsTerminal,
                           .interruptSignal = &interruptSignal};
    int status = batch::kExitFailed;
    try {
        status = batch::runBatch(arguments, console);
    } catch (const std::exception& e) {
        std::cerr << "quillfen-batch: " << e.what() << "\n";
    }
    // The run stopped in time: what it wrote is flushed without a deadline.
    batch::disarmStopGrace();
    return status;
}
