#include <QApplication>
#include <QIcon>

#include "app/form1.h"
#include "automation/nativeexcel.h"
#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "platform/picturespill.h"
#include "platform/qtdialogs.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillfen"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/quillfen.png")));
    // Desktops match the running windows to the installed desktop entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLFEN_APP_ID));
    // Pictures that a program which did not end cleanly left in its spill go now.
    platform::removeStaleRunFolders(platform::runFoldersRoot());

    platform::QtDialogs dialogs;
    platform::SettingsStore settings;
    platform::DesktopShell shell;
    automation::PictureClipboard clipboard;
    automation::Registry registry;
    // The native workbook engine plays the spreadsheet application.
    automation::registerNativeExcel(registry, clipboard);

    platform::Services services;
    services.dialogs = &dialogs;
    services.settings = &settings;
    services.shell = &shell;
    services.automation = &registry;
    services.clipboard = &clipboard;
    services.programFolder = platform::applicationFolder();
    services.endProgram = [] { QCoreApplication::quit(); };

    app::Form1 form1(services);
    form1.Form_Load();
    form1.show();
    return QApplication::exec();
}
