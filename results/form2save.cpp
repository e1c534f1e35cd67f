// The lower part of Form2: the output folder and format, the save, and "< Back".
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>

#include "encode/bmpfile.h"
#include "encode/outputnames.h"
#include "platform/dialogs.h"
#include "platform/errorreport.h"
#include "platform/mainmodule.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "results/form2.h"

namespace results {

namespace {

const QString kOutputFolderKey = QStringLiteral("Output Folder");
const QString kOption1Key = QStringLiteral("Option1");
const QString kOption2Key = QStringLiteral("Option2");

// An option button that comes out false is simply not chosen, even when it was the only one.
void setChosen(QRadioButton* option, bool chosen) {
    if (chosen) {
        option->setChecked(true);
        return;
    }
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

}  // namespace

void Form2::restoreOutputFolder() {
    platform::SettingsStore& settings = *m_services.settings;
    if (settings.hasSetting(kOutputFolderKey)) {
        Text1->setText(settings.getSetting(kOutputFolderKey));
        return;
    }
    try {
        Text1->setText(platform::DesktopFolderPath());
    } catch (const platform::RuntimeError&) {
        // No desktop folder to offer: the folder stays empty until the user picks one.
    }
}

void Form2::restoreOutputFormat() {
    // Both are read before either acts as a click, since a click writes both keys. BMP comes
    // first, then JPG, so when both are stored as true JPG wins.
    const platform::SettingsStore& settings = *m_services.settings;
    const bool bmp = platform::settingToBool(settings.getSetting(kOption1Key), true);
    const bool jpg = platform::settingToBool(settings.getSetting(kOption2Key), false);
    setChosen(Option1, bmp);
    if (bmp) {
        Option1_Click();
    }
    setChosen(Option2, jpg);
    if (jpg) {
        Option2_Click();
    }
}

void Form2::Text1_Change() {
    m_services.settings->saveSetting(kOutputFolderKey, Text1->text());
}

void Form2::Option1_Click() {
    m_services.settings->saveSetting(kOption1Key, platform::boolToSetting(Option1->isChecked()));
    m_services.settings->saveSetting(kOption2Key, platform::boolToSetting(Option2->isChecked()));
    Slider1->setEnabled(false);
}

void Form2::Option2_Click() {
    m_services.settings->saveSetting(kOption1Key, platform::boolToSetting(Option1->isChecked()));
    m_services.settings->saveSetting(kOption2Key, platform::boolToSetting(Option2->isChecked()));
    Slider1->setEnabled(true);
}

void Form2::PushButton7_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton7_Click"));
    QString folder;
    trap.run(1, [&] {
        // The browse opens at the output folder when it exists.
        const QString current = QFileInfo(Text1->text()).isDir() ? Text1->text() : QString();
        folder = m_services.dialogs->browseForFolder(this, QStringLiteral("Please select folder:"),
                                                     current);
    });
    if (folder.isEmpty()) {
        return;
    }
    trap.run(2,
             [&] { Text1->setText(folder.endsWith(QChar('/')) ? folder : folder + QChar('/')); });
}

void Form2::PushButton6_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton6_Click"));
    if (trap.test(1, [&] { return !QFileInfo(Text1->text()).isDir(); })) {
        trap.run(2, [&] {
            m_services.dialogs->msgBox(this, QStringLiteral("Output folder does not exist."));
        });
        return;
    }
    // Two rows of one save that would share a file name both survive: the later one is
    // numbered. Each JPEG is encoded straight from its holder, so no intermediate file can
    // replace one of the user's, and a row that fails never leaves another row's picture
    // under its name.
    encode::OutputPaths paths;
    int rows = 0;
    trap.run(3, [&] { rows = ListView1->topLevelItemCount(); });
    for (int k = 1; k <= rows; ++k) {
        const QTreeWidgetItem* row = ListView1->topLevelItem(k - 1);
        QString baseName;
        if (!trap.run(4, [&] { baseName = encode::outputBaseName(row->text(0), row->text(1)); })) {
            continue;
        }
        // The folder and the format are read afresh for every row.
        const bool jpg = Option2->isChecked();
        QString path;
        if (!trap.run(5, [&] {
                path = paths.claim(Text1->text(), baseName,
                                   jpg ? QStringLiteral(".jpg") : QStringLiteral(".bmp"));
            })) {
            continue;
        }
        if (jpg) {
            trap.run(7, [&] {
                saveJpg(imageHolderPicture(k - 1), path, std::uint8_t(Slider1->value()));
            });
        } else {
            trap.run(6, [&] { encode::writeBmpFile(imageHolderPicture(k - 1), path); });
        }
    }
    trap.run(8, [&] { m_services.dialogs->msgBox(this, QStringLiteral("Done.")); });
}

void Form2::PushButton8_Click() {
    platform::ErrorTrap trap(*m_services.dialogs, this, QStringLiteral("Form2"),
                             QStringLiteral("PushButton8_Click"));
    for (int i = 1; i <= mTotalImages - 1; ++i) {
        trap.run(1, [&] { destroyImageHolder(i); });
    }
    trap.run(2, [&] {
        if (mainWindow == nullptr) {
            throw platform::RuntimeError(platform::err::kObjectRequired,
                                         QStringLiteral("Object required"));
        }
        mainWindow->show();
    });
    trap.run(3, [&] { hide(); });
}

}  // namespace results
