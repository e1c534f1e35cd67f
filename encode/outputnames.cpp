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
    QString path = outputFilePath(folderText, baseName + extension);
    for (int n = 2; m_claimed.contains(key(path)); ++n) {
        path = outputFilePath(folderText, baseName + QStringLiteral(" (%1)").arg(n) + extension);
    }
    m_claimed.insert(key(path));
    return path;
}

}  // namespace encode
