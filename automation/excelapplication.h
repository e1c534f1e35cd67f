#pragma once

#include <QString>

namespace automation {

// The spreadsheet application's automation object, reduced to the members the extraction and
// the availability checks call. Indexes are 1-based. Every member reports failure by throwing
// platform::RuntimeError with a description a user can act on.
class ExcelApplication {
public:
    virtual ~ExcelApplication() = default;

    // Workbooks.Open(path): the workbook becomes the active workbook.
    virtual void openWorkbook(const QString& path) = 0;
    // ActiveWorkbook.Worksheets.Count: worksheets only, chart sheets not counted.
    virtual int worksheetCount() = 0;
    // ActiveWorkbook.Worksheets(sheet).Pictures.Count
    virtual int pictureCount(int sheet) = 0;
    // ActiveWorkbook.Worksheets(sheet).Pictures(picture).Select
    virtual void selectPicture(int sheet, int picture) = 0;
    // ActiveWorkbook.Worksheets(sheet).Pictures(picture).Copy: the picture goes to the clipboard.
    virtual void copyPicture(int sheet, int picture) = 0;
    // DisplayAlerts = value
    virtual void setDisplayAlerts(bool value) = 0;
    // Quit: the instance ends without saving.
    virtual void quit() = 0;
    // The object's default property; a genuine instance answers "Microsoft Excel".
    virtual QString defaultProperty() = 0;
};

}  // namespace automation
