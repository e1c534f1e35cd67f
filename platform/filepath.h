#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes on Linux; a name that is not valid UTF-8 must still reach the file system
// exactly as it is. Such a path keeps its bytes inside a QString: each byte that is not part of a
// valid UTF-8 sequence is held as the lone surrogate U+DC00 + byte (U+DC80 to U+DCFF), the
// convention other systems use for the same problem. Every other path is its plain text.
namespace platform {

// The path for the file system's bytes; lossless, whatever the bytes are.
QString pathFromBytes(const QByteArray& bytes);
// The bytes the file system knows for a path made by pathFromBytes (or any plain path).
QByteArray pathToBytes(const QString& path);
// The path as the lists show it: each byte kept from an undecodable name shows as "?".
QString shownPath(const QString& path);

// Qt's own file dialog shows an undecodable byte as U+FFFD, so the path it hands back names no
// file. Each such part of the path is looked up in its folder and replaced by the entry whose
// name Qt shows that way; a path without U+FFFD comes back unchanged.
QString pathFromQtName(const QString& path);

}  // namespace platform
