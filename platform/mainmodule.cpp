#include "platform/mainmodule.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>
#include <cmath>

#include "platform/fileattributes.h"
#include "platform/filepath.h"
#include "platform/runtimeerror.h"
#include "platform/services.h"
#include "platform/windowframe.h"

namespace platform {

QString desktopFolder() {
    // Many Linux accounts have no desktop folder, and a default the save then refuses is no
    // default: the pictures folder comes next, then home, which is always there.
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::PicturesLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).isDir()) {
            return path;
        }
    }
    return QDir::homePath();
}

QString SpecialFolderPath(int csidl) {
    if (csidl != CSIDL_DESKTOP) {
        return {};
    }
    QString path = desktopFolder();
    if (path.isEmpty()) {
        return {};
    }
    QString buffer = path.left(kShellPathBufferLength - 1) + QChar(u'\0');
    return buffer.leftJustified(kShellPathBufferLength, QChar(' '));
}

QString DesktopFolderPath(const std::function<QString(int)>& specialFolderPath) {
    QString buffer = specialFolderPath(CSIDL_DESKTOP);
    qsizetype lastNul = -1;
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        if (buffer[i] == QChar(u'\0')) {
            lastNul = i;
        }
    }
    if (lastNul < 0) {
        throw RuntimeError(err::kInvalidProcedureCall,
                           QStringLiteral("Invalid procedure call or argument"));
    }
    QString folder = buffer.left(lastNul);
    return folder.endsWith(QChar('/')) ? folder : folder + QChar('/');
}

QPointF centeredOrigin(const QSizeF& screen, const QSizeF& window) {
    return QPointF((screen.width() - window.width()) / 2.0,
                   (screen.height() - window.height()) / 2.0);
}

void CenterForm(QWidget& form) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    // The outer window is centred: the frame the window manager gives (or will give) is known
    // before the window shows, so it appears in place without a jump.
    const QMargins frame = windowFrameMargins(form);
    const QPointF origin = centeredOrigin(screen->geometry().size(), form.size().grownBy(frame));
    const QPoint outerTopLeft = screen->geometry().topLeft() +
                                QPoint(int(std::floor(origin.x())), int(std::floor(origin.y())));
    // Placed by its client area, which means the same to the window manager whether the window
    // is made yet or not.
    form.setGeometry(QRect(outerTopLeft + QPoint(frame.left(), frame.top()), form.size()));
}

bool PathExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    struct stat st {};
    return ::stat(pathToBytes(path).constData(), &st) == 0;
}

void DeleteFileQuietly(const QString& path) {
    // Folders are not files, and a read-only file is left alone, as the quiet delete does.
    const int attributes = GetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return;
    }
    ::unlink(pathToBytes(path).constData());
}

void ApplyFormColors(QWidget& form) {
    auto paint = [&form](QWidget& w) {
        QPalette palette = w.palette();
        palette.setColor(QPalette::Window, w.palette().color(QPalette::Button));
        w.setPalette(palette);
        // Inside a frame the style shades the frame's panel itself; a control filling its own
        // rectangle there would show as a lighter patch, so it takes the colour and lets the
        // panel show through.
        bool inFrame = false;
        for (QWidget* p = w.parentWidget(); p != nullptr && p != &form; p = p->parentWidget()) {
            inFrame = inFrame || qobject_cast<QGroupBox*>(p) != nullptr;
        }
        w.setAutoFillBackground(!inFrame);
    };
    paint(form);
    const QList<QWidget*> children = form.findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child)) {
            paint(*child);
        }
    }
}

void ApplySkin(QWidget& mainWindow, const QString& programFolder) {
    const QString skinFile = besideProgram(programFolder, QStringLiteral("x/o.cjs"));
    QFileInfo info(skinFile);
    if (!info.isFile() || info.fileName().startsWith(QChar('.'))) {
        return;
    }
    ApplyFormColors(mainWindow);
    QFile file(skinFile);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError(err::kPermissionDenied,
                           QStringLiteral("Cannot read the skin file '%1'").arg(skinFile));
    }
    mainWindow.setStyleSheet(QString::fromUtf8(file.readAll()));
}

}  // namespace platform
