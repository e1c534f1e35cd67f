#pragma once

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "automation/excelapplication.h"
#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "platform/picture.h"

namespace testing_support {

// What the fake application knows and how it misbehaves, shared by every instance it makes.
struct FakeExcelWorld {
    // Workbooks by path: worksheets, each a list of pictures.
    QMap<QString, QVector<QVector<platform::Picture>>> workbooks;
    QString defaultProperty = QStringLiteral("Microsoft Excel");
    // Members that throw, by name: "openWorkbook", "worksheetCount", "pictureCount",
    // "selectPicture", "copyPicture", "setDisplayAlerts", "quit", "defaultProperty".
    QSet<QString> failing;
    // Finer control: throw when this returns true for (member, sheet, picture).
    std::function<bool(const QString&, int, int)> failWhen;
    automation::PictureClipboard* clipboard = nullptr;

    QStringList calls;  // every member called, e.g. "copyPicture(1,2)"
    int created = 0;
    int alive = 0;
};

class FakeExcel : public automation::ExcelApplication {
public:
    explicit FakeExcel(std::shared_ptr<FakeExcelWorld> world);
    ~FakeExcel() override;

    void openWorkbook(const QString& path) override;
    int worksheetCount() override;
    int pictureCount(int sheet) override;
    void selectPicture(int sheet, int picture) override;
    void copyPicture(int sheet, int picture) override;
    void setDisplayAlerts(bool value) override;
    void quit() override;
    QString defaultProperty() override;

private:
    void enter(const QString& member, int sheet = 0, int picture = 0);
    const platform::Picture& at(int sheet, int picture) const;

    std::shared_ptr<FakeExcelWorld> m_world;
    QString m_active;
    bool m_open = false;
};

// Registers a creatable fake; with running set, also a running instance that attach finds.
std::shared_ptr<FakeExcelWorld> installFakeExcel(automation::Registry& registry,
                                                 bool running = false);

// A small PNG of the given size and colour, for fixtures.
platform::Picture makePngPicture(int width, int height, unsigned rgb = 0x3366cc);

}  // namespace testing_support
