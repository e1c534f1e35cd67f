#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

#include "automation/excelapplication.h"

namespace automation {

inline const QString kExcelProgId = QStringLiteral("Excel.Application");

// Creates and attaches automation objects by programmatic identifier. main.cpp registers the
// native engine; tests register fakes.
class Registry {
public:
    using Factory = std::function<std::unique_ptr<ExcelApplication>()>;

    // A class that "create" makes a new instance of.
    void registerClass(const QString& progId, Factory create);
    // A running instance that "attach" finds; an empty factory removes it.
    void registerRunning(const QString& progId, Factory attach);
    void unregister(const QString& progId);

    // CreateObject(progId). Throws RuntimeError 429 when the class is not registered or its
    // factory gives nothing.
    std::unique_ptr<ExcelApplication> createObject(const QString& progId) const;
    // GetObject(, progId). Throws RuntimeError 429 when no instance is running.
    std::unique_ptr<ExcelApplication> getObject(const QString& progId) const;

private:
    QHash<QString, Factory> m_classes;
    QHash<QString, Factory> m_running;
};

}  // namespace automation
