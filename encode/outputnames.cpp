#include "encode/outputnames.h"

#include <QDir>
#include <QFileInfo>

#include "encode/wholefile.h"

namespace encode {

QString outputBaseName(const QString& rowText, const QString& imageNo) {
    QString fileName = rowText.mid(rowText.lastIndexOf(QLatin1Char('/')) + 1);
    qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        fileName.truncate(dot);
    }
    return fileName + QLatin1Char('_') + imageNo;
}

QString outputFilePath(const QString& folderText, const QString& fileName) {
    if (folderText.endsWith(QLatin1Char('/'))) {
        return folderText + fileName;
    }
    return folderText + QLatin1Char('/') + fileName;
}

QString fittedFileName(const QString& baseName, const QString& tail) {
    QString name = baseName + tail;
    if (name.toUtf8().size() <= kMaxFileNameBytes) {
        return name;
    }
    const qsizetype underscore = baseName.lastIndexOf(QLatin1Char('_'));
    const QString kept = (underscore < 0 ? QString() : baseName.mid(underscore)) + tail;
    QString stem = underscore < 0 ? baseName : baseName.left(underscore);
    qsizetype room = kMaxFileNameBytes - kept.toUtf8().size();
    qsizetype end = 0;
    // Whole characters while they fit; a surrogate pair is one character.
    for (qsizetype i = 0; i < stem.size();) {
        const qsizetype length = stem.at(i).isHighSurrogate() && i + 1 < stem.size() ? 2 : 1;
        const qsizetype bytes = stem.mid(i, length).toUtf8().size();
        if (bytes > room) {
            break;
        }
        room -= bytes;
        i += length;
        end = i;
    }
    return stem.left(end) + kept;
}

OutputPaths::OutputPaths() : m_started(QDateTime::currentDateTimeUtc()) {}

QString OutputPaths::claim(const QString& folderText, const QString& baseName,
                           const QString& extension) {
    // Compared as cleaned absolute paths without letter case: "/out/" and "/out//" name the
    // same file, and so do "Book_1.bmp" and "book_1.bmp" on a folder that ignores case.
    auto key = [](const QString& path) {
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded();
    };
    const QString folder = key(outputFilePath(folderText, QString()));
    if (!m_swept.contains(folder)) {
        m_swept.insert(folder);
        removeStaleTemporaries(folderText, m_started);
    }
    QString path = outputFilePath(folderText, fittedFileName(baseName, extension));
    for (int n = 2; m_claimed.contains(key(path)); ++n) {
        path = outputFilePath(folderText,
                              fittedFileName(baseName, QStringLiteral(" (%1)").arg(n) + extension));
    }
    m_claimed.insert(key(path));
    return path;
}

}  // namespace encode
