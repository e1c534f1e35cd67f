// "Start Extracting": the extraction run over the input list.
#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/form1.h"
#include "app/inputguard.h"
#include "extract/excel1.h"
#include "extract/image.h"
#include "extract/sharedpictures.h"
#include "platform/dialogs.h"
#include "platform/errorreport.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "results/form2.h"

namespace app {

results::Form2& Form1::form2() {
    if (!m_form2) {
        // The first reference creates the results window hidden and runs its creation sequence.
        m_form2 = std::make_unique<results::Form2>(m_services, this);
    }
    return *m_form2;
}

void Form1::PushButton2_Click() {
    if (m_running) {
        return;
    }
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form1"),
                             QStringLiteral("PushButton2_Click"));
    trap.run(1, [&] { m_pointer.set(platform::MousePointer::kWait); });
    if (trap.test(2, [&] { return ListView1->topLevelItemCount() == 0; })) {
        trap.run(3, [&] { m_services.dialogs->msgBox(this, QStringLiteral("No files added.")); });
        trap.run(20, [&] { m_pointer.set(platform::MousePointer::kDefault); });
        return;
    }
    if (trap.test(4, [&] {
            return extract::ExcelRunningPrompt(*m_services.automation, *m_services.dialogs, this);
        })) {
        trap.run(20, [&] { m_pointer.set(platform::MousePointer::kDefault); });
        return;
    }

    // The list stays as it is while the run goes through it: input to this window is ignored
    // until the run ends, while it keeps repainting and can still be closed.
    m_running = true;
    InputGuard guard(this);
    // The short-lived picture files live in a folder of the run's own, gone when it ends.
    std::unique_ptr<QTemporaryDir> scratch;
    int number = 0;
    int rows = 0;
    // Without its folder the run could only lose every picture (or write them where it must
    // not): it is told once and the run ends before the first workbook.
    if (!trap.run(5, [&] {
            // A temporary folder that does not exist comes back as "", which would put the
            // run's folder at the root.
            const QString temp = QDir::tempPath();
            if (temp.isEmpty()) {
                throw platform::RuntimeError(
                    platform::err::kPathNotFound,
                    QStringLiteral("Cannot make a temporary folder for the pictures: the "
                                   "temporary folder '%1' does not exist")
                        .arg(qEnvironmentVariable("TMPDIR")));
            }
            scratch =
                std::make_unique<QTemporaryDir>(temp + QStringLiteral("/quillfen-run-XXXXXX"));
            if (!scratch->isValid()) {
                throw platform::RuntimeError(
                    platform::err::kPathNotFound,
                    QStringLiteral("Cannot make a temporary folder for the pictures: %1")
                        .arg(scratch->errorString()));
            }
        })) {
        m_running = false;
        trap.run(20, [&] { m_pointer.set(platform::MousePointer::kDefault); });
        return;
    }
    trap.run(6, [&] { number = 1; });
    trap.run(7, [&] { form2().clearResults(); });

    extract::SharedPictures shared;
    extract::ExtractionContext context;
    context.registry = m_services.automation;
    context.clipboard = m_services.clipboard;
    context.dialogs = m_services.dialogs;
    context.owner = this;
    context.results = m_form2.get();
    context.scratchFolder = scratch->path();
    context.shared = &shared;
    context.yield = [] { QCoreApplication::processEvents(); };
    context.ending = [this] { return m_services.ending; };

    trap.run(8, [&] { rows = ListView1->topLevelItemCount(); });
    for (int row = 1; row <= rows && !m_services.ending; ++row) {
        QString path;
        trap.run(9, [&] { QCoreApplication::processEvents(); });
        if (m_services.ending) {
            break;
        }
        trap.run(10, [&] { m_pointer.set(platform::MousePointer::kWait); });
        trap.run(11, [&] { path = listRowPath(row - 1); });
        trap.run(12, [&] { m_pointer.set(platform::MousePointer::kWait); });
        trap.run(13, [&] {
            if (context.results == nullptr) {
                throw platform::RuntimeError(platform::err::kObjectRequired,
                                             QStringLiteral("Object required"));
            }
            extract::ExtractImagesByFile(path, number, context);
        });
    }
    m_running = false;
    if (m_services.ending) {
        // The program is closing: nothing more is shown, and the run's folder goes with it.
        return;
    }
    trap.run(14, [&] { form2().mTotalImages = number - 1; });
    // A run that kept no image shows an empty preview, not a picture of an earlier run.
    trap.run(15, [&] {
        form2().setPreviewPicture(form2().mTotalImages > 0 ? form2().imageHolderPicture(0)
                                                           : platform::Picture());
    });
    trap.run(16, [&] { form2().show(); });
    trap.run(17, [&] { hide(); });
    trap.run(20, [&] { m_pointer.set(platform::MousePointer::kDefault); });
}

}  // namespace app
