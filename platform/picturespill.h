#pragma once

#include <QByteArray>
#include <QMultiHash>
#include <QString>
#include <atomic>
#include <memory>

#include "platform/picture.h"

namespace platform {

// Where a run keeps its pictures' bytes instead of memory: one append-only file in a private
// folder of the run. A picture kept here is only its offset and length, read back when the
// preview or the save needs it, so memory does not grow with the run; identical pictures are
// kept once. The file and its folder go with the last picture that refers to them.
class PictureSpill : public std::enable_shared_from_this<PictureSpill> {
public:
    // Makes a private folder under root and the spill file in it, locked for as long as this
    // program keeps it, so that no other start takes it for a leftover. Throws RuntimeError when
    // either cannot be made.
    static std::shared_ptr<PictureSpill> create(const QString& root);
    ~PictureSpill();
    PictureSpill(const PictureSpill&) = delete;
    PictureSpill& operator=(const PictureSpill&) = delete;

    // Writes the picture's bytes at the end of the file, unless the same bytes are there
    // already, and returns the picture as kept here. Throws RuntimeError when there is no
    // picture or the bytes cannot be written (a full disk); nothing of them is kept then.
    Picture keep(const Picture& picture);
    // Makes sure a picture kept here can be read back whole: throws RuntimeError when not.
    void checkReadable(const Picture& picture) const;
    // Reads back length bytes from offset, on any thread. Throws RuntimeError when they cannot
    // be read whole.
    QByteArray read(qint64 offset, qint64 length) const;

    // Whether a write or a read of the file has failed (a full disk, a failing one): the run
    // then ends, rather than failing every picture after it one by one.
    bool failed() const { return m_failed.load(); }

    QString folder() const { return m_folder; }
    QString filePath() const;
    qint64 size() const { return m_size; }

    // Name of the spill file inside its folder, and the pattern of the folders.
    static constexpr const char* kFileName = "pictures";
    static constexpr const char* kFolderPrefix = "run-";

private:
    PictureSpill(QString folder, int fd);
    Picture keptAt(const Picture& picture, qint64 offset) const;
    [[noreturn]] void fail(const QString& what, int error) const;

    QString m_folder;
    int m_fd;
    qint64 m_size = 0;
    // Kept pictures by a seeded hash of all their bytes; the bytes themselves decide.
    struct Entry {
        qint64 offset;
        qint64 length;
    };
    QMultiHash<quint64, Entry> m_entries;
    quint64 m_seed;
    mutable std::atomic<bool> m_failed{false};
    // The bytes kept last, sharing the caller's buffer, and where they are.
    QByteArray m_last;
    qint64 m_lastOffset = 0;
};

// The folder under which runs make their private folders: "quillfen" in the user's cache
// folder ($XDG_CACHE_HOME, normally ~/.cache), which lies on disk where a temporary folder may
// live in memory; the temporary folder only when the cache folder cannot be made or written
// to, and there only a folder of this user's that no one else writes to; "" when neither can
// be used.
QString runFoldersRoot();

// Removes what runs of programs that did not end cleanly left under root: only folders named
// as ours whose spill no running program holds, and only our own file in them.
void removeStaleRunFolders(const QString& root);

}  // namespace platform
