#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace platform {

// The per-user settings store: text values under the application "Velmora" and the section
// "Quillfen", in $XDG_CONFIG_HOME/Velmora.conf (~/.config/Velmora.conf).
class SettingsStore {
public:
    SettingsStore();
    // A store kept in the given file instead, for tests and for a second program start.
    explicit SettingsStore(const QString& fileName);
    ~SettingsStore();

    // The stored text, or defaultValue when the key is absent.
    QString getSetting(const QString& key, const QString& defaultValue = {}) const;
    bool hasSetting(const QString& key) const;
    // Written through at once, so nothing is lost when the program ends abruptly.
    void saveSetting(const QString& key, const QString& value);

    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

// "True" and "False", or a decimal number with non-zero meaning true. Anything else is false.
bool settingToBool(const QString& text, bool defaultValue);
QString boolToSetting(bool value);

}  // namespace platform
