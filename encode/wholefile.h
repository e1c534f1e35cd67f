#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <initializer_list>

namespace encode {

// Writes the pieces one after another to path through a temporary file in the same folder,
// which replaces path only once every byte is written: a reader never sees half a file, and a
// failure leaves neither a partial file nor the temporary one. Returns "" or the reason.
QString writeWholeFile(const QString& path, std::initializer_list<QByteArrayView> pieces);

// Whether a file name is one of writeWholeFile's temporary names: ".quillfen-" and 16 lowercase
// hexadecimal digits, then ".tmp". No person names a file so, and a name merely like it
// (".notes.20231231.tmp") is never ours.
bool isTemporaryName(const QString& name);

// Removes the temporary files of earlier writes that never finished (the program was killed
// mid-write) from the folder: only names of our exact pattern, only this user's regular files,
// only those last written well before the given time, and only when no program holds the lock
// a write keeps on its temporary, so that another save into the same folder, going on now in
// this program or in another, is never touched.
void removeStaleTemporaries(const QString& folder, const QDateTime& before);

}  // namespace encode
