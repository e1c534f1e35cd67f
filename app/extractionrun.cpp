// "Start Extracting": the extraction run over the input list.
#include <QApplication>
#include <QFileInfo>
#include <QTreeWidget>

#include "app/form1.h"
#include "extract/excel1.h"
#include "extract/image.h"
#include "longwork/inputguard.h"
#include "longwork/progress.h"
#include "platform/dialogs.h"
#include "platform/errorreport.h"
#include "platform/filepath.h"
#include "platform/picturespill.h"
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
    longwork::InputGuard guard(this);
    // The pictures' bytes go to a spill file in a folder of the run's own; the holders refer
    // to them there, and the file goes with the last of them (the next run, or the end).
    std::shared_ptr<platform::PictureSpill> spill;
    int number = 0;
    int rows = 0;
    // Without its folder the run could only lose every picture: it is told once and the run
    // ends before the first workbook.
    if (!trap.run(5, [&] { spill = platform::PictureSpill::create(platform::runFoldersRoot()); })) {
        m_running = false;
        trap.run(20, [&] { m_pointer.set(platform::MousePointer::kDefault); });
        return;
    }
    trap.run(6, [&] { number = 1; });
    trap.run(7, [&] { form2().clearResults(); });

    extract::ExtractionContext context;
    context.registry = m_services.automation;
    context.clipboard = m_services.clipboard;
    context.dialogs = m_services.dialogs;
    context.owner = this;
    context.results = m_form2.get();
    context.spill = spill.get();
    trap.run(8, [&] { rows = ListView1->topLevelItemCount(); });
    // A run that takes long shows how far it is; its Cancel stops after the picture in hand,
    // and the results window shows what was taken so far.
    auto progress = std::make_unique<longwork::Progress>(
        m_services, this, QStringLiteral("Extracting pictures - Quillfen"), rows);
    // A spill that cannot take a picture (a full cache folder) would fail every picture after
    // it, each with a report: the first is told, and the run ends as after Cancel.
    auto stopped = [&] { return m_services.ending || progress->cancelled() || spill->failed(); };
    context.yield = [&progress] {
        QCoreApplication::processEvents();
        progress->tick();
    };
    context.ending = stopped;
    // A report can come before the progress window would show: it shows with the report, so
    // the run can be cancelled from the first one on.
    context.beforeReport = [&progress] { progress->showNow(); };
    trap.setBeforeReport(context.beforeReport);

    for (int row = 1; row <= rows && !stopped(); ++row) {
        QString path;
        trap.run(9, [&] { QCoreApplication::processEvents(); });
        if (stopped()) {
            break;
        }
        trap.run(10, [&] { m_pointer.set(platform::MousePointer::kWait); });
        trap.run(11, [&] { path = listRowPath(row - 1); });
        progress->update(row - 1, QStringLiteral("Workbook %1 of %2: %3")
                                      .arg(longwork::countText(row), longwork::countText(rows),
                                           QFileInfo(platform::shownPath(path)).fileName()));
        trap.run(12, [&] { m_pointer.set(platform::MousePointer::kWait); });
        trap.run(13, [&] {
            if (context.results == nullptr) {
                throw platform::RuntimeError(platform::err::kObjectRequired,
                                             QStringLiteral("Object required"));
            }
            extract::ExtractImagesByFile(path, number, context);
        });
    }
    // The progress window goes with the work, before the results window shows.
    trap.setBeforeReport({});
    progress.reset();
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
