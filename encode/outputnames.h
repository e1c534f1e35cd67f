#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

namespace encode {

// The output file's name without extension for one results row: the workbook's file name (after
// the last "/") without its last extension, "_", and the row's image number. A file name
// without any "." keeps the whole name.
QString outputBaseName(const QString& rowText, const QString& imageNo);

// Joins the output folder text and a file name with one "/"; a folder text that already ends in
// "/" gets no second one.
QString outputFilePath(const QString& folderText, const QString& fileName);

// The longest file name Linux file systems take, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;

// baseName + tail, with the part of baseName before its last "_" (the workbook's name) cut
// short at a character boundary where the whole would pass kMaxFileNameBytes in UTF-8, so
// that the "_N", the tail (a clash suffix and the extension) and the name fit.
QString fittedFileName(const QString& baseName, const QString& tail);

// Hands out the output paths of one save: the first row that asks for a path keeps it (and
// replaces a file that was in the folder before the save); a later row that would land on the
// same path gets " (2)", " (3)"... before the extension, so no row overwrites another's file.
// Paths that differ only in letter case count as the same, as they are on FAT, exFAT and most
// network shares. Names too long for the file system are shortened (fittedFileName) before
// the clash rule looks at them. The first path claimed in a folder also clears that folder of the
// temporary files that earlier, killed saves left behind.
class OutputPaths {
public:
    // The save starts now: temporary files written before this moment are leftovers.
    OutputPaths();

    // extension with its dot: ".bmp" or ".jpg".
    QString claim(const QString& folderText, const QString& baseName, const QString& extension);

private:
    QDateTime m_started;
    QSet<QString> m_claimed;
    QSet<QString> m_swept;
};

}  // namespace encode
