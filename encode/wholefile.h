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

// Whether a file name is one of writeWholeFile's temporary names (".name.1234abcd.tmp").
bool isTemporaryName(const QString& name);

// Removes the temporary files of earlier writes that never finished (the program was killed
// mid-write) from the folder: only names of our own pattern, only regular files, and only
// those last written before the given time, so a write that is going on now is never touched.
void removeStaleTemporaries(const QString& folder, const QDateTime& before);

}  // namespace encode
