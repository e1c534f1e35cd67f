#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

#include "automation/excelapplication.h"
#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "workbook/workbook.h"

namespace automation {

// The spreadsheet application played by the native workbook engine: one active workbook at a
// time, its worksheets and pictures, and Copy onto the in-process clipboard.
class NativeExcel : public ExcelApplication {
public:
    explicit NativeExcel(PictureClipboard& clipboard) : m_clipboard(clipboard) {}

    void openWorkbook(const QString& path) override;
    int worksheetCount() override;
    int pictureCount(int sheet) override;
    void selectPicture(int sheet, int picture) override;
    void copyPicture(int sheet, int picture) override;
    void setDisplayAlerts(bool value) override;
    void quit() override;
    QString defaultProperty() override;

    bool displayAlerts() const { return m_displayAlerts; }
    bool hasActiveWorkbook() const { return m_workbook != nullptr; }

private:
    void requireRunning() const;
    workbook::Workbook& activeWorkbook() const;
    const workbook::Worksheet& worksheetAt(int sheet) const;
    const workbook::PictureInfo& pictureAt(int sheet, int picture) const;

    // The bytes handed out for the image the engine holds whole for several pictures, so every
    // copy of it shares one buffer.
    struct SharedImage {
        std::weak_ptr<const std::vector<std::uint8_t>> source;
        QByteArray bytes;
    };

    PictureClipboard& m_clipboard;
    std::unique_ptr<workbook::Workbook> m_workbook;
    SharedImage m_sharedImage;
    QString m_path;
    bool m_displayAlerts = true;
    bool m_quit = false;
};

// Makes "Excel.Application" creatable as the native engine, copying to clipboard. No running
// instance is ever found by attach.
void registerNativeExcel(Registry& registry, PictureClipboard& clipboard);

}  // namespace automation
