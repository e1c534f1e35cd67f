// The lower part of Form2: the output folder and format, the save, and "< Back".
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include "encode/bmpfile.h"
#include "encode/outputnames.h"
#include "encode/pixelbudget.h"
#include "encode/wholefile.h"
#include "longwork/inputguard.h"
#include "longwork/progress.h"
#include "longwork/workerpool.h"
#include "platform/dialogs.h"
#include "platform/errorreport.h"
#include "platform/mainmodule.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "render/renderer.h"
#include "results/form2.h"

namespace results {

namespace {

const QString kOutputFolderKey = QStringLiteral("Output Folder");
const QString kOption1Key = QStringLiteral("Option1");
const QString kOption2Key = QStringLiteral("Option2");

// An option button that comes out false is simply not chosen, even when it was the only one.
void setChosen(QRadioButton* option, bool chosen) {
    if (chosen) {
        option->setChecked(true);
        return;
    }
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

}  // namespace

void Form2::restoreOutputFolder() {
    platform::SettingsStore& settings = *m_services.settings;
    if (settings.hasSetting(kOutputFolderKey)) {
        Text1->setText(settings.getSetting(kOutputFolderKey));
        return;
    }
    try {
        Text1->setText(platform::DesktopFolderPath());
    } catch (const platform::RuntimeError&) {
        // No desktop folder to offer: the folder stays empty until the user picks one.
    }
}

void Form2::restoreOutputFormat() {
    // Both are read before either acts as a click, since a click writes both keys. BMP comes
    // first, then JPG, so when both are stored as true JPG wins.
    const platform::SettingsStore& settings = *m_services.settings;
    const bool bmp = platform::settingToBool(settings.getSetting(kOption1Key), true);
    const bool jpg = platform::settingToBool(settings.getSetting(kOption2Key), false);
    setChosen(Option1, bmp);
    if (bmp) {
        Option1_Click();
    }
    setChosen(Option2, jpg);
    if (jpg) {
        Option2_Click();
    }
}

void Form2::Text1_Change() {
    m_services.settings->saveSetting(kOutputFolderKey, Text1->text());
}

void Form2::Option1_Click() {
    m_services.settings->saveSetting(kOption1Key, platform::boolToSetting(Option1->isChecked()));
    m_services.settings->saveSetting(kOption2Key, platform::boolToSetting(Option2->isChecked()));
    Slider1->setEnabled(false);
}

void Form2::Option2_Click() {
    m_services.settings->saveSetting(kOption1Key, platform::boolToSetting(Option1->isChecked()));
    m_services.settings->saveSetting(kOption2Key, platform::boolToSetting(Option2->isChecked()));
    Slider1->setEnabled(true);
}

void Form2::PushButton7_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton7_Click"));
    QString folder;
    trap.run(1, [&] {
        // The browse opens at the output folder when it exists.
        const QString current = QFileInfo(Text1->text()).isDir() ? Text1->text() : QString();
        folder = m_services.dialogs->browseForFolder(this, QStringLiteral("Please select folder:"),
                                                     current);
    });
    if (folder.isEmpty()) {
        return;
    }
    trap.run(2,
             [&] { Text1->setText(folder.endsWith(QChar('/')) ? folder : folder + QChar('/')); });
}

namespace {

// A file that one row of a save writes and later rows of the same picture, format and quality
// copy instead of making it again: one image shown many times is drawn once per save.
struct MadeOnce {
    QString path;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool written = false;

    void finish(bool ok) {
        {
            std::lock_guard lock(mutex);
            done = true;
            written = ok;
        }
        finished.notify_all();
    }
    // Waits for the first row's file; false when it was not written.
    bool wait() {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return done; });
        return written;
    }
};

// What one save keeps from row to row, all on the GUI thread: each workbook's pixel limit,
// the workbooks whose limit was told, and the files made once.
struct SaveMemory {
    std::map<QString, encode::PixelBudget> budgets;
    std::set<QString> toldPastLimit;
    std::map<std::tuple<qint64, bool, int>, std::shared_ptr<MadeOnce>> made;
};

// Writes to path the bytes of the file an earlier row made: "" or the reason it failed.
QString copyMadeFile(const QString& from, const QString& path) {
    QFile made(from);
    if (!made.open(QIODevice::ReadOnly)) {
        return made.errorString();
    }
    const QByteArray bytes = made.readAll();
    if (made.error() != QFileDevice::NoError) {
        return made.errorString();
    }
    return encode::writeWholeFile(path, {QByteArrayView(bytes)});
}

// One row of a save, from its naming on the GUI thread, in row order, to its turn, when its
// reports are made, again in row order.
struct RowTurn {
    // Which picture the row saves, as its reports name it: "book.xlsx, picture 3".
    QString picture;
    // What naming the row raised, reported in its turn: line and description.
    std::vector<std::pair<int, QString>> reports;
    // The file being written on a worker, once the row got that far, and its statement.
    longwork::WorkerPool::Handle job;
    int jobLine = 0;
};

// Names row k and hands its file to a worker. Two rows of one save that would share a file
// name both survive: the later one is numbered, and names are claimed in row order, so the
// numbering does not depend on the workers. Each file is encoded straight from its holder, so
// no intermediate file can replace one of the user's, and a row that fails never leaves
// another row's picture under its name.
RowTurn startRow(Form2& form, int k, encode::OutputPaths& paths, longwork::WorkerPool& workers,
                 SaveMemory& memory) {
    RowTurn turn;
    auto attempt = [&turn](int line, const std::function<void()>& statement) {
        try {
            statement();
            return true;
        } catch (...) {
            turn.reports.emplace_back(line, platform::describe(std::current_exception()));
            return false;
        }
    };
    const QTreeWidgetItem* row = form.ListView1->topLevelItem(k - 1);
    turn.picture =
        QStringLiteral("%1, picture %2").arg(QFileInfo(row->text(0)).fileName(), row->text(1));
    QString baseName;
    if (!attempt(4, [&] { baseName = encode::outputBaseName(row->text(0), row->text(1)); })) {
        return turn;
    }
    // The folder, the format and the quality are read afresh for every row.
    const bool jpg = form.Option2->isChecked();
    QString path;
    if (!attempt(5, [&] {
            path = paths.claim(form.Text1->text(), baseName,
                               jpg ? QStringLiteral(".jpg") : QStringLiteral(".bmp"));
        })) {
        return turn;
    }
    turn.jobLine = jpg ? 7 : 6;
    platform::Picture picture;
    if (!attempt(turn.jobLine, [&] { picture = form.imageHolderPicture(k - 1); })) {
        return turn;
    }
    // Every picture made into pixels counts against its workbook's limit, in row order. The
    // first row past it is told, with its workbook; the later rows of that workbook are left
    // out without a word.
    const QString workbookPath = row->text(0);
    if (!memory.budgets[workbookPath].charge(
            qint64(picture.size().width()) * picture.size().height(), picture.byteCount())) {
        if (memory.toldPastLimit.insert(workbookPath).second) {
            const QString why = encode::PixelBudget::limitText();
            turn.reports.emplace_back(turn.jobLine, why.left(1).toUpper() + why.mid(1));
        }
        return turn;
    }
    const auto quality = std::uint8_t(form.Slider1->value());
    std::function<void()> write;
    if (jpg) {
        write = [save = form.saveJpg, picture, path, quality] { save(picture, path, quality); };
    } else {
        write = [picture, path] { encode::writeBmpFile(picture, path); };
    }
    // A picture the save has made before, as this format at this quality, is copied from that
    // file once it is written; the first row of it makes it.
    const qint64 place = picture.spillOffset();
    if (place >= 0) {
        auto [at, first] = memory.made.try_emplace({place, jpg, jpg ? quality : 0});
        if (first) {
            at->second = std::make_shared<MadeOnce>();
            at->second->path = path;
            write = [write, made = at->second] {
                try {
                    write();
                } catch (...) {
                    made->finish(false);
                    throw;
                }
                made->finish(true);
            };
        } else {
            write = [write, made = at->second, path, jpg] {
                if (!made->wait()) {
                    write();  // the first one failed: this row tries for itself
                    return;
                }
                const QString reason = copyMadeFile(made->path, path);
                if (reason.isEmpty()) {
                    return;
                }
                if (jpg) {
                    throw platform::RuntimeError(
                        platform::err::kInvalidProcedureCall,
                        QStringLiteral("Cannot save the image. GDI+ Error:7"));
                }
                throw platform::RuntimeError(
                    platform::err::kPathNotFound,
                    QStringLiteral("Cannot write '%1': %2").arg(path, reason));
            };
        }
    }
    turn.job = workers.submit(std::move(write));
    return turn;
}

}  // namespace

void Form2::PushButton6_Click() {
    if (m_saving) {
        return;
    }
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton6_Click"));
    if (trap.test(1, [&] { return !QFileInfo(Text1->text()).isDir(); })) {
        trap.run(2, [&] {
            m_services.dialogs->msgBox(this, QStringLiteral("Output folder does not exist."));
        });
        return;
    }
    int rows = 0;
    trap.run(3, [&] { rows = ListView1->topLevelItemCount(); });
    m_saving = true;
    m_pointer.set(platform::MousePointer::kWait);
    const SaveOutcome outcome = saveRows(trap, rows);
    m_pointer.set(platform::MousePointer::kDefault);
    m_saving = false;
    if (m_services.ending) {
        // The program is closing: the files in flight were finished, and nothing more shows.
        return;
    }
    trap.run(8, [&] {
        m_services.dialogs->msgBox(this, outcome.cancelled ? cancelledSaveText(outcome.saved, rows)
                                                           : QStringLiteral("Done."));
    });
}

QString cancelledSaveText(int saved, int rows) {
    return QStringLiteral("Saving cancelled: %1 of %2 %3 saved.")
        .arg(longwork::countText(saved), longwork::countText(rows),
             rows == 1 ? QStringLiteral("picture") : QStringLiteral("pictures"));
}

Form2::SaveOutcome Form2::saveRows(platform::ErrorTrap& trap, int rows) {
    // The files are encoded on every core while this thread names the rows and reports in
    // row order; the window keeps repainting, its input is held off, and a progress window
    // shows when the save takes long.
    longwork::InputGuard guard(this);
    longwork::Progress progress(m_services, this, QStringLiteral("Saving pictures - Quillfen"),
                                rows);
    // Qt's limit is global: raised here, before the workers render at once.
    render::raiseAllocationLimit();
    longwork::WorkerPool workers(saveWorkers);
    // Only a few rows are in flight at a time, so the memory a save needs does not grow with
    // the number of rows.
    const std::size_t window = std::size_t(2 * workers.threads());
    std::deque<RowTurn> inFlight;
    encode::OutputPaths paths;
    SaveMemory memory;
    // A Cancel pressed while a report is up ends the save once it is answered: the files in
    // flight are finished, and what they raise is no longer told.
    trap.setQuietWhen([&progress] { return progress.cancelled(); });
    // A report shows the progress window with it, however soon it comes.
    trap.setBeforeReport([&progress] { progress.showNow(); });
    SaveOutcome outcome;
    int next = 1;
    int turnRow = 0;
    for (;;) {
        // Cancel and closing the window stop new rows; the files in flight are finished.
        while (next <= rows && inFlight.size() < window && !progress.cancelled() &&
               !m_services.ending) {
            inFlight.push_back(startRow(*this, next++, paths, workers, memory));
        }
        if (inFlight.empty()) {
            break;
        }
        RowTurn turn = std::move(inFlight.front());
        inFlight.pop_front();
        ++turnRow;
        progress.update(turnRow - 1,
                        QStringLiteral("Picture %1 of %2")
                            .arg(longwork::countText(turnRow), longwork::countText(rows)));
        const std::exception_ptr error = turn.job ? workers.wait(turn.job) : nullptr;
        if (m_services.ending) {
            continue;
        }
        // Each report names its picture: one save may hold thousands of rows.
        for (const auto& [line, description] : turn.reports) {
            trap.report(line, turn.picture + QStringLiteral(": ") + description);
        }
        if (error) {
            trap.report(turn.jobLine,
                        turn.picture + QStringLiteral(": ") + platform::describe(error));
        } else if (turn.job) {
            ++outcome.saved;
        }
    }
    trap.setQuietWhen({});
    trap.setBeforeReport({});
    // Rows that never started are what the Cancel left out.
    outcome.cancelled = next <= rows;
    return outcome;
}

void Form2::PushButton8_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton8_Click"));
    for (int i = 1; i <= mTotalImages - 1; ++i) {
        trap.run(1, [&] { destroyImageHolder(i); });
    }
    trap.run(2, [&] {
        if (mainWindow == nullptr) {
            throw platform::RuntimeError(platform::err::kObjectRequired,
                                         QStringLiteral("Object required"));
        }
        mainWindow->show();
    });
    trap.run(3, [&] { hide(); });
}

}  // namespace results
