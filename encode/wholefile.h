#pragma once

#include <QByteArrayView>
#include <QString>
#include <initializer_list>

namespace encode {

// Writes the pieces one after another to path through a temporary file in the same folder,
// which replaces path only once every byte is written: a reader never sees half a file, and a
// failure leaves neither a partial file nor the temporary one. Returns "" or the reason.
QString writeWholeFile(const QString& path, std::initializer_list<QByteArrayView> pieces);

}  // namespace encode
