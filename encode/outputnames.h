#pragma once

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

// Hands out the output paths of one save: the first row that asks for a path keeps it (and
// replaces a file that was in the folder before the save); a later row that would land on the
// same path gets " (2)", " (3)"... before the extension, so no row overwrites another's file.
class OutputPaths {
public:
    // extension with its dot: ".bmp" or ".jpg".
    QString claim(const QString& folderText, const QString& baseName, const QString& extension);

private:
    QSet<QString> m_claimed;
};

}  // namespace encode
