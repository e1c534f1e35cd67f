#include "automation/registry.h"

#include "platform/runtimeerror.h"

namespace automation {
namespace {

std::unique_ptr<ExcelApplication> make(const QHash<QString, Registry::Factory>& table,
                                       const QString& progId) {
    auto it = table.constFind(progId);
    std::unique_ptr<ExcelApplication> object;
    if (it != table.constEnd() && *it) {
        object = (*it)();
    }
    if (!object) {
        throw platform::RuntimeError(platform::err::kCannotCreateObject,
                                     QStringLiteral("ActiveX component can't create object"));
    }
    return object;
}

}  // namespace

void Registry::registerClass(const QString& progId, Factory create) {
    m_classes.insert(progId, std::move(create));
}

void Registry::registerRunning(const QString& progId, Factory attach) {
    if (attach) {
        m_running.insert(progId, std::move(attach));
    } else {
        m_running.remove(progId);
    }
}

void Registry::unregister(const QString& progId) {
    m_classes.remove(progId);
    m_running.remove(progId);
}

std::unique_ptr<ExcelApplication> Registry::createObject(const QString& progId) const {
    return make(m_classes, progId);
}

std::unique_ptr<ExcelApplication> Registry::getObject(const QString& progId) const {
    return make(m_running, progId);
}

}  // namespace automation
