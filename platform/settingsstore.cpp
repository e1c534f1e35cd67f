#include "platform/settingsstore.h"

#include <QSettings>

namespace platform {
namespace {
const QString kSection = QStringLiteral("Quillfen");
}

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Velmora"))) {}

SettingsStore::SettingsStore(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::getSetting(const QString& key, const QString& defaultValue) const {
    return m_settings->value(kSection + QChar('/') + key, defaultValue).toString();
}

bool SettingsStore::hasSetting(const QString& key) const {
    return m_settings->contains(kSection + QChar('/') + key);
}

void SettingsStore::saveSetting(const QString& key, const QString& value) {
    m_settings->setValue(kSection + QChar('/') + key, value);
    m_settings->sync();
}

QString SettingsStore::fileName() const { return m_settings->fileName(); }

bool settingToBool(const QString& text, bool defaultValue) {
    QString t = text.trimmed();
    if (t.isEmpty()) {
        return defaultValue;
    }
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool ok = false;
    double number = t.toDouble(&ok);
    return ok && number != 0.0;
}

QString boolToSetting(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

}  // namespace platform
