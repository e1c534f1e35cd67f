#include "platform/filepath.h"

#include <QFile>

#include "platform/directorylisting.h"

namespace platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at data[at], or 0 when the byte there starts none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
int sequenceLength(const unsigned char* data, qsizetype at, qsizetype size) {
    const unsigned char c = data[at];
    int length = c < 0x80             ? 1
                 : (c & 0xE0) == 0xC0 ? 2
                 : (c & 0xF0) == 0xE0 ? 3
                 : (c & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (length == 0 || at + length > size) {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(data[at + i])) {
            return 0;
        }
    }
    const unsigned char next = length > 1 ? data[at + 1] : 0;
    if ((length == 2 && c < 0xC2) || (length == 3 && c == 0xE0 && next < 0xA0) ||
        (length == 3 && c == 0xED && next >= 0xA0) || (length == 4 && c == 0xF0 && next < 0x90) ||
        (length == 4 && (c > 0xF4 || (c == 0xF4 && next >= 0x90)))) {
        return 0;
    }
    return length;
}

bool isEscapedByte(const QString& path, qsizetype i) {
    const char16_t u = path[i].unicode();
    return u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF &&
           (i == 0 || !path[i - 1].isHighSurrogate());
}

QString joined(const QString& folder, const QString& name) {
    return folder.endsWith(QChar('/')) ? folder + name : folder + QChar('/') + name;
}

}  // namespace

QString pathFromBytes(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    QString path;
    path.reserve(bytes.size());
    qsizetype start = 0;  // the valid run not yet decoded
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = sequenceLength(data, at, bytes.size());
        if (length > 0) {
            at += length;
            continue;
        }
        path += QString::fromUtf8(bytes.constData() + start, at - start);
        path += QChar(char16_t(kEscapeBase + data[at]));
        start = ++at;
    }
    path += QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
    return path;
}

QByteArray pathToBytes(const QString& path) {
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscapedByte(path, i)) {
            bytes += QStringView(path).mid(start, i - start).toUtf8();
            bytes += char(path[i].unicode() - kEscapeBase);
            start = i + 1;
        }
    }
    bytes += QStringView(path).mid(start).toUtf8();
    return bytes;
}

QString shownPath(const QString& path) {
    QString shown = path;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (isEscapedByte(path, i)) {
            shown[i] = QChar('?');
        }
    }
    return shown;
}

QString pathFromQtName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QChar('/'));
    if (!path.contains(QChar(QChar::ReplacementCharacter)) || slash < 0) {
        return path;
    }
    const QString folder = slash == 0 ? QStringLiteral("/") : pathFromQtName(path.left(slash));
    const QString name = path.mid(slash + 1);
    if (name.contains(QChar(QChar::ReplacementCharacter))) {
        for (const DirectoryEntry& entry : readDirectory(folder)) {
            if (QFile::decodeName(pathToBytes(entry.name)) == name) {
                return joined(folder, entry.name);
            }
        }
    }
    return joined(folder, name);
}

}  // namespace platform
