#include "batch/extraction.h"

#include <QRandomGenerator>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "batch/partrecord.h"
#include "batch/pathtext.h"
#include "batch/picturefile.h"
#include "batch/workbookreport.h"
#include "encode/outputnames.h"
#include "encode/pixelbudget.h"
#include "metafile/metafile.h"
#include "platform/directorylisting.h"
#include "platform/threadstart.h"
#include "render/renderer.h"
#include "workbook/bytesink.h"
#include "workbook/sha256.h"
#include "workbook/workbook.h"

namespace batch {
namespace {

using Clock = std::chrono::steady_clock;

// Workbooks open or waiting for their turn at once, per job: enough that a job finds work while
// an earlier workbook is still busy, few enough that memory stays flat.
constexpr std::size_t kWorkbooksAheadPerJob = 2;
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
// Stored bytes read ahead of the jobs at most, beside at most one picture per job: enough to
// hide reading and inflating, little beside the pixels the jobs hold.
constexpr std::size_t kReadAheadBytes = 32u << 20;

const char* const kSkipLabels[kSkipKinds] = {"only linked",       "cannot be read",
                                             "cannot be decoded", "cannot be written",
                                             "interrupted",       "past the pixel limit"};

class QByteArraySink : public workbook::ByteSink {
public:
    std::uint8_t* allocate(std::size_t size) override {
        bytes = QByteArray(qsizetype(size), Qt::Uninitialized);
        return reinterpret_cast<std::uint8_t*>(bytes.data());
    }
    QByteArray bytes;
};

struct PictureSlot {
    std::size_t sheet = 0;
    std::size_t index = 0;
    int number = 0;  // within its workbook, across worksheets
    workbook::PictureInfo info;

    enum class Read { Pending, Ok, Failed } read = Read::Pending;
    bool claimed = false;
    QString baseName;  // the name it asks for
    QString extension;
    QString outputPath;  // the name it was given
    bool done = false;
    std::optional<SkipKind> skip;
    std::string reason;
    std::optional<std::uint64_t> bytes;
    std::string sha256;
    int width = 0;
    int height = 0;
    bool tooManyPixels = false;  // past its workbook's pixel limit: not drawn
};

struct WorkbookSlot {
    std::string path;
    QString listedPath;  // as the window's list spells it: the output names come from it
    bool listed = false;
    std::string error;  // the workbook did not open
    std::vector<std::string> problems;
    std::unique_ptr<workbook::Workbook> book;
    std::mutex readMutex;  // the engine reads one picture of a workbook at a time
    std::vector<std::string> sheetNames;
    std::vector<PictureSlot> pictures;
    std::size_t unfinished = 0;
    encode::PixelBudget pixels;  // charged as the names are claimed, in picture order
};

// Files made once and written again for every later picture whose stored bytes are the same,
// so that one image shown many times is drawn once per run. Bounded in bytes, the oldest going
// first; the same output format and quality hold for the whole run.
class MadeFiles {
public:
    std::shared_ptr<const PictureFile> find(const QByteArray& stored) {
        std::lock_guard lock(m_mutex);
        const auto [first, last] = m_index.equal_range(key(stored));
        for (auto it = first; it != last; ++it) {
            if (it->second->stored == stored) {
                return it->second->file;
            }
        }
        return nullptr;
    }

    void add(const QByteArray& stored, std::shared_ptr<const PictureFile> file) {
        const std::size_t cost = std::size_t(stored.size()) + file->byteCount();
        if (cost > kMaxMadeFileBytes) {
            return;
        }
        std::lock_guard lock(m_mutex);
        const std::uint64_t k = key(stored);
        const auto [first, last] = m_index.equal_range(k);
        for (auto it = first; it != last; ++it) {
            if (it->second->stored == stored) {
                return;  // another job made the same one meanwhile
            }
        }
        m_entries.push_front({k, stored, std::move(file), cost});
        m_index.emplace(k, m_entries.begin());
        m_bytes += cost;
        while (m_bytes > kMaxMadeFileBytes) {
            const Entry& oldest = m_entries.back();
            const auto [from, to] = m_index.equal_range(oldest.key);
            for (auto it = from; it != to; ++it) {
                if (it->second == std::prev(m_entries.end())) {
                    m_index.erase(it);
                    break;
                }
            }
            m_bytes -= oldest.cost;
            m_entries.pop_back();
        }
    }

private:
    // A few large files or many small ones; a job holds one file besides.
    static constexpr std::size_t kMaxMadeFileBytes = 256u << 20;

    struct Entry {
        std::uint64_t key;
        QByteArray stored;
        std::shared_ptr<const PictureFile> file;
        std::size_t cost;
    };
    std::uint64_t key(const QByteArray& stored) const {
        return std::uint64_t(qHash(QByteArrayView(stored), size_t(m_seed)));
    }

    std::mutex m_mutex;
    std::list<Entry> m_entries;  // the newest first
    std::unordered_multimap<std::uint64_t, std::list<Entry>::iterator> m_index;
    std::size_t m_bytes = 0;
    const quint64 m_seed = QRandomGenerator::global()->generate64();
};

struct Task {
    std::size_t workbook;
    std::size_t picture;
};

// A picture whose bytes are read, waiting for a job to make its file.
struct ReadPicture {
    Task task;
    QByteArray bytes;
};

std::string durationText(double seconds) {
    char buffer[32];
    const long s = long(seconds + 0.5);
    if (s >= 3600) {
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld", s / 60, s % 60);
    }
    return buffer;
}

class Extraction {
public:
    Extraction(const std::vector<std::string>& workbooks, const ExtractionSettings& settings,
               std::ostream& err, const std::atomic<int>* interruptSignal)
        : m_workbooks(workbooks),
          m_settings(settings),
          m_err(err),
          m_interruptSignal(interruptSignal),
          m_slots(workbooks.size()),
          m_window(std::size_t(settings.jobs) * kWorkbooksAheadPerJob + 1),
          m_reporter(m_tally, settings.manifest, [this](const std::string& text) { line(text); }) {
        m_tally.workbooks = workbooks.size();
    }

    Tally run() {
        m_start = Clock::now();
        // A limit on processes may refuse some of the jobs: the run goes on with those that
        // started, and says so; with none it cannot run at all.
        // The jobs wait for the lock until all are started, so how many can run at once does
        // not depend on how soon the first ones finish.
        std::unique_lock starting(m_mutex);
        std::string refused;
        std::vector<std::jthread> jobs = platform::startThreads(
            m_settings.jobs, [this] { work(Role::Job); }, &refused);
        if (jobs.empty()) {
            throw std::runtime_error("cannot start a job: " + refused);
        }
        if (int(jobs.size()) < m_settings.jobs) {
            line("quillfen-batch: " + std::to_string(jobs.size()) + " of " +
                 std::to_string(m_settings.jobs) + " jobs started (" + refused +
                 "); the run goes on with those");
        }
        // The reader only runs ahead of the jobs: without it they read for themselves.
        for (std::jthread& reader : platform::startThreads(1, [this] { work(Role::Reader); })) {
            jobs.push_back(std::move(reader));
        }
        starting.unlock();
        {
            std::unique_lock lock(m_mutex);
            // A signal handler cannot wake anyone, so the signal is looked for at each tick.
            while (m_nextCommit < m_slots.size()) {
                if (m_interruptSignal && m_interruptSignal->load() != 0) {
                    m_stopping = true;
                    m_stopDrawing.store(true);
                    m_changed.notify_all();
                    break;
                }
                // Every finished picture wakes this loop; the line is redrawn a few times a
                // second at most.
                if (m_settings.progress && Clock::now() - m_lastDraw >= kProgressInterval) {
                    m_lastDraw = Clock::now();
                    drawProgress();
                }
                m_changed.wait_for(lock, kProgressInterval);
            }
        }
        for (std::jthread& job : jobs) {
            job.join();
        }
        std::unique_lock lock(m_mutex);
        // Whatever was begun is reported; a picture the interruption caught counts as such.
        m_tally.interrupted = m_stopping;
        commitFinished(true);
        clearProgress();
        return m_tally;
    }

private:
    // The jobs make the files; the reader reads the next pictures meanwhile, so reading and
    // inflating never hold up a decoder, also with one job. Each side does the other's work
    // rather than wait: a job reads when nothing is read, and either lists the next workbooks.
    enum class Role { Job, Reader };

    void work(Role role) {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (role == Role::Job && !m_read.empty()) {
                ReadPicture next = std::move(m_read.front());
                m_read.pop_front();
                m_readBytes -= std::size_t(next.bytes.size());
                m_changed.notify_all();
                lock.unlock();
                makeFile(next.task, std::move(next.bytes));
                lock.lock();
            } else if (!m_tasks.empty() && (role == Role::Job || readAheadRoom())) {
                Task task = m_tasks.front();
                m_tasks.pop_front();
                lock.unlock();
                std::optional<QByteArray> bytes = readPicture(task);
                if (bytes && role == Role::Job) {
                    makeFile(task, std::move(*bytes));
                }
                lock.lock();
                if (bytes && role == Role::Reader) {
                    m_readBytes += std::size_t(bytes->size());
                    m_read.push_back({task, std::move(*bytes)});
                    m_changed.notify_all();
                }
            } else if (m_nextOpen < m_slots.size() && m_nextOpen - m_nextCommit < m_window) {
                const std::size_t i = m_nextOpen++;
                m_slots[i] = std::make_unique<WorkbookSlot>();
                WorkbookSlot& slot = *m_slots[i];
                lock.unlock();
                // Readers report bad input as problems; what is left (no memory) is this
                // workbook's failure, and the run goes on.
                try {
                    listWorkbook(i, slot);
                } catch (const std::exception& e) {
                    slot.book.reset();
                    slot.pictures.clear();
                    slot.unfinished = 0;
                    slot.error = std::string("the workbook cannot be read: ") + e.what();
                }
                lock.lock();
                slot.listed = true;
                queueListed();
                advanceClaims();
                commitFinished(false);
                m_changed.notify_all();
            } else if (m_nextCommit == m_slots.size() ||
                       (role == Role::Reader && m_nextQueue == m_slots.size() && m_tasks.empty())) {
                break;
            } else {
                m_changed.wait(lock);
            }
        }
    }

    // The reader stays a few pictures ahead of the jobs, and within a budget of bytes.
    bool readAheadRoom() const {
        return m_read.empty() ||
               (m_read.size() <= std::size_t(m_settings.jobs) && m_readBytes < kReadAheadBytes);
    }

    // Opens the workbook and notes its worksheets and pictures; nothing is read yet.
    void listWorkbook(std::size_t i, WorkbookSlot& slot) {
        slot.path = m_workbooks[i];
        slot.listedPath = platform::entryNameFromBytes(slot.path.c_str());
        auto opened = workbook::openWorkbook(slot.path, {.sniff = metafile::sniffDrawnImage});
        if (!opened) {
            slot.error = opened.problem().describe();
            return;
        }
        slot.book = std::move(opened.value());
        for (const workbook::Problem& problem : slot.book->problems()) {
            slot.problems.push_back(problem.describe());
        }
        int number = 0;
        const auto& sheets = slot.book->worksheets();
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            slot.sheetNames.push_back(sheets[s].name);
            const std::size_t floating = sheets[s].pictures.size();
            const std::size_t inCells = m_settings.cellPictures ? sheets[s].cellPictures.size() : 0;
            for (std::size_t p = 0; p < floating + inCells; ++p) {
                PictureSlot picture;
                picture.sheet = s;
                picture.index = p;  // in-cell pictures are read with the indexes that follow
                picture.number = ++number;
                picture.info =
                    p < floating ? sheets[s].pictures[p] : sheets[s].cellPictures[p - floating];
                slot.pictures.push_back(std::move(picture));
            }
        }
        slot.unfinished = slot.pictures.size();
        if (slot.unfinished == 0) {
            slot.book.reset();
        }
    }

    // Pictures become tasks in input order, each workbook's once all before it are listed.
    void queueListed() {
        while (m_nextQueue < m_nextOpen && m_slots[m_nextQueue]->listed) {
            WorkbookSlot& slot = *m_slots[m_nextQueue];
            for (std::size_t p = 0; p < slot.pictures.size(); ++p) {
                m_tasks.push_back({m_nextQueue, p});
            }
            ++m_nextQueue;
        }
    }

    // Output names are claimed in input order, and only by pictures whose bytes were read: a
    // picture the window's run could not copy has no row there and claims no name.
    void advanceClaims() {
        bool claimed = false;
        while (m_claimWorkbook < m_nextQueue) {
            WorkbookSlot& slot = *m_slots[m_claimWorkbook];
            for (; m_claimPicture < slot.pictures.size(); ++m_claimPicture) {
                PictureSlot& picture = slot.pictures[m_claimPicture];
                if (picture.read == PictureSlot::Read::Pending) {
                    if (claimed) {
                        m_changed.notify_all();
                    }
                    return;
                }
                if (picture.read == PictureSlot::Read::Ok) {
                    picture.baseName =
                        encode::outputBaseName(slot.listedPath, QString::number(picture.number));
                    picture.extension = outputExtension(m_settings.format, picture.info.format);
                    picture.outputPath =
                        m_paths.claim(m_settings.outFolder, picture.baseName, picture.extension);
                    // Every picture made into pixels counts, drawn or made once and reused:
                    // each is a file of that many pixels.
                    if (m_settings.format != OutputFormat::Original) {
                        picture.tooManyPixels = !slot.pixels.charge(
                            std::int64_t(picture.info.width) * picture.info.height,
                            std::int64_t(picture.bytes.value_or(0)));
                    }
                    picture.claimed = true;
                    claimed = true;
                }
            }
            ++m_claimWorkbook;
            m_claimPicture = 0;
        }
        if (claimed) {
            m_changed.notify_all();
        }
    }

    // The picture's bytes as stored, or nothing when they cannot be read (the picture is then
    // finished with its reason).
    std::optional<QByteArray> readPicture(const Task& task) {
        WorkbookSlot& slot = *m_slots[task.workbook];
        PictureSlot& picture = slot.pictures[task.picture];
        QByteArraySink sink;
        std::optional<workbook::Problem> problem;
        try {
            std::lock_guard read(slot.readMutex);
            problem = slot.book->readPictureBytes(picture.sheet, picture.index, sink);
        } catch (const std::exception&) {
            problem = workbook::tooLarge(picture.info.name, "not enough memory for the image");
        }
        if (!problem && sink.bytes.isEmpty()) {
            problem = workbook::damaged(picture.info.name, "the image is empty");
        }
        {
            std::lock_guard lock(m_mutex);
            picture.read = problem ? PictureSlot::Read::Failed : PictureSlot::Read::Ok;
            if (!problem) {
                picture.bytes = std::uint64_t(sink.bytes.size());
            }
            advanceClaims();
        }
        if (problem) {
            finishPicture(task,
                          problem->kind == workbook::ProblemKind::LinkedImage
                              ? SkipKind::Linked
                              : SkipKind::Unreadable,
                          problem->describe());
            return std::nullopt;
        }
        return std::move(sink.bytes);
    }

    // Decodes and encodes the picture as asked, and writes its file under the name it claimed.
    void makeFile(const Task& task, QByteArray bytes) {
        WorkbookSlot& slot = *m_slots[task.workbook];
        PictureSlot& picture = slot.pictures[task.picture];
        // A part's record serves a manifest the merge may write.
        if (m_settings.manifest || m_settings.part) {
            picture.sha256 =
                workbook::Sha256::hex(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      std::size_t(bytes.size()));
        }
        // The name, and with it whether the workbook's pixel limit lets the picture be drawn,
        // is claimed once every earlier picture's bytes are read, which is by now almost
        // always the case.
        QString path;
        bool tooManyPixels = false;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return picture.claimed || m_stopping; });
            // Once interrupted, no new picture is begun.
            path = m_stopping ? QString() : picture.outputPath;
            tooManyPixels = picture.tooManyPixels;
        }
        if (path.isEmpty()) {
            finishPicture(task, SkipKind::Interrupted, "");
            return;
        }
        if (tooManyPixels) {
            finishPicture(task, SkipKind::TooManyPixels,
                          encode::PixelBudget::limitText().toStdString());
            return;
        }
        std::string reason;
        const bool reusable = m_settings.format != OutputFormat::Original;
        std::shared_ptr<const PictureFile> file = reusable ? m_made.find(bytes) : nullptr;
        if (!file) {
            std::optional<PictureFile> made;
            {
                // An interruption abandons the drawing in hand.
                metafile::PlayStop stop(&m_stopDrawing);
                // PictureFile::make turns every failure into a reason.
                made = PictureFile::make(bytes, picture.info.format, m_settings.format,
                                         m_settings.quality, &reason,
                                         QSize(picture.info.width, picture.info.height));
            }
            if (made) {
                file = std::make_shared<const PictureFile>(std::move(*made));
                if (reusable) {
                    m_made.add(bytes, file);
                }
            }
        }
        bytes = QByteArray();
        if (!file && m_stopDrawing.load()) {
            finishPicture(task, SkipKind::Interrupted, "");
            return;
        }
        if (file) {
            picture.width = file->width();
            picture.height = file->height();
        }
        if (m_stopDrawing.load()) {
            finishPicture(task, SkipKind::Interrupted, "");
            return;
        }
        if (!file) {
            finishPicture(task, SkipKind::Undecodable, reason);
            return;
        }
        if (std::string failed = outFolderMade(); !failed.empty()) {
            finishPicture(task, SkipKind::NotWritten, failed);
            return;
        }
        if (std::string failed = file->write(path); !failed.empty()) {
            finishPicture(task, SkipKind::NotWritten, failed);
            return;
        }
        finishPicture(task, std::nullopt, "");
    }

    void finishPicture(const Task& task, std::optional<SkipKind> skip, std::string reason) {
        std::lock_guard lock(m_mutex);
        WorkbookSlot& slot = *m_slots[task.workbook];
        PictureSlot& picture = slot.pictures[task.picture];
        picture.done = true;
        picture.skip = skip;
        picture.reason = std::move(reason);
        m_tally.bytesRead += picture.bytes.value_or(0);
        if (!skip) {
            ++m_tally.picturesWritten;
        }
        if (--slot.unfinished == 0) {
            slot.book.reset();
            commitFinished(false);
        }
        m_changed.notify_all();
    }

    // Reports the workbooks that are complete, in input order, and lets them go. At the end of
    // an interrupted run every workbook begun is reported, its unfinished pictures as such.
    void commitFinished(bool final) {
        while (m_nextCommit < m_nextOpen) {
            WorkbookSlot& slot = *m_slots[m_nextCommit];
            // A workbook the names have not passed yet may still be being listed.
            if (!final && (m_claimWorkbook <= m_nextCommit || slot.unfinished > 0)) {
                return;
            }
            commit(slot);
            m_slots[m_nextCommit].reset();
            ++m_nextCommit;
        }
    }

    void commit(WorkbookSlot& slot) {
        WorkbookReport report;
        report.path = slot.path;
        report.error = slot.error;
        report.problems = std::move(slot.problems);
        for (PictureSlot& picture : slot.pictures) {
            const workbook::PictureInfo& info = picture.info;
            const bool written = picture.done && !picture.skip;
            report.pictures.push_back(
                {.worksheet = slot.sheetNames[picture.sheet],
                 .number = picture.number,
                 .cell = info.cell,
                 .format = info.linked ? "" : std::string(workbook::formatName(info.format)),
                 .width = info.width > 0 ? info.width : picture.width,
                 .height = info.height > 0 ? info.height : picture.height,
                 .bytes = picture.bytes,
                 .sha256 = picture.sha256,
                 .baseName = picture.claimed ? picture.baseName : QString(),
                 .extension = picture.claimed ? picture.extension : QString(),
                 .outputPath = picture.claimed ? picture.outputPath.toStdString() : "",
                 .written = written,
                 .skip = picture.done ? picture.skip : std::nullopt,
                 .reason = std::move(picture.reason)});
        }
        if (m_settings.part) {
            m_settings.part->add(report);
        }
        m_reporter.add(report);
    }

    void line(const std::string& text) {
        clearProgress();
        m_err << text << "\n" << std::flush;
    }

    void drawProgress() {
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        const std::size_t done = m_tally.workbooksDone;
        char text[160];
        std::snprintf(text, sizeof text, "\r%zu/%zu workbooks, %zu pictures written, %.1f MB/s",
                      done, m_tally.workbooks, m_tally.picturesWritten,
                      elapsed > 0 ? double(m_tally.bytesRead) / 1e6 / elapsed : 0.0);
        std::string progress = text;
        if (done > 0) {
            progress += ", " +
                        durationText(elapsed * double(m_tally.workbooks - done) / double(done)) +
                        " left";
        }
        m_err << progress << "\033[K" << std::flush;
        m_progressShown = true;
    }

    void clearProgress() {
        if (m_progressShown) {
            m_err << "\r\033[K" << std::flush;
            m_progressShown = false;
        }
    }

    // The output folder is made with the first file, so a run that writes nothing leaves no
    // folder behind. Returns "" or why the folder cannot be made.
    std::string outFolderMade() {
        std::call_once(m_outFolderOnce, [this] {
            const std::string folder = m_settings.outFolder.toStdString();
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error) {
                m_outFolderError = "cannot make the output folder '" + displayText(folder) +
                                   "': " + error.message();
            }
        });
        return m_outFolderError;
    }

    const std::vector<std::string>& m_workbooks;
    const ExtractionSettings& m_settings;
    std::once_flag m_outFolderOnce;
    std::string m_outFolderError;
    std::ostream& m_err;
    const std::atomic<int>* m_interruptSignal;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<WorkbookSlot>> m_slots;
    const std::size_t m_window;
    std::deque<Task> m_tasks;        // pictures to read, in input order
    std::deque<ReadPicture> m_read;  // read ahead, waiting for a job
    std::size_t m_readBytes = 0;
    std::size_t m_nextOpen = 0;
    std::size_t m_nextQueue = 0;
    std::size_t m_claimWorkbook = 0;
    std::size_t m_claimPicture = 0;
    std::size_t m_nextCommit = 0;
    encode::OutputPaths m_paths;
    MadeFiles m_made;
    bool m_stopping = false;
    std::atomic<bool> m_stopDrawing{false};  // m_stopping, for the drawings in hand
    bool m_progressShown = false;
    Tally m_tally;
    Reporter m_reporter;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

}  // namespace

std::size_t Tally::picturesSkipped() const {
    std::size_t sum = 0;
    for (std::size_t n : skipped) {
        sum += n;
    }
    return sum;
}

Tally extractPictures(const std::vector<std::string>& workbooks, const ExtractionSettings& settings,
                      std::ostream& err, const std::atomic<int>* interruptSignal) {
    // Raised once here, before the jobs start, rather than by each job on its first picture.
    render::raiseAllocationLimit();
    return Extraction(workbooks, settings, err, interruptSignal).run();
}

std::string summaryText(const Tally& t, const QString& outFolder,
                        std::chrono::duration<double> elapsed) {
    auto plural = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = "quillfen-batch: " + plural(t.workbooksDone, "workbook", "workbooks");
    if (t.workbooksDone < t.workbooks) {
        text += " of " + std::to_string(t.workbooks);
    }
    text += ": " + std::to_string(t.workbooksDone - t.workbooksFailed) + " read, " +
            std::to_string(t.workbooksFailed) + " failed";
    if (t.workbooksDamaged > 0) {
        text += ", " + std::to_string(t.workbooksDamaged) + " damaged";
    }
    text += "\nquillfen-batch: " + plural(t.picturesFound, "picture", "pictures") + " found, " +
            std::to_string(t.picturesWritten) + " written to " +
            displayText(outFolder.toStdString()) + ", " + std::to_string(t.picturesSkipped()) +
            " skipped";
    std::string kinds;
    for (std::size_t k = 0; k < kSkipKinds; ++k) {
        if (t.skipped[k] > 0) {
            kinds +=
                (kinds.empty() ? "" : ", ") + std::to_string(t.skipped[k]) + " " + kSkipLabels[k];
        }
    }
    if (!kinds.empty()) {
        text += " (" + kinds + ")";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, " in %.1f s", elapsed.count());
    text += seconds;
    if (t.interrupted) {
        text += "\nquillfen-batch: interrupted";
    }
    return text + "\n";
}

}  // namespace batch
