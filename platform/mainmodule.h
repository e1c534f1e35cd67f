#pragma once

#include <QPointF>
#include <QSizeF>
#include <QString>
#include <functional>

class QWidget;

// The helpers of the module Main, shared by both windows, the extraction and the save. They
// trap nothing: what they raise reaches the calling handler's trap.
namespace platform {

constexpr int CSIDL_DESKTOP = 0;
constexpr int kShellPathBufferLength = 512;

// The folder that stands for the desktop: the XDG desktop folder when it exists, else the XDG
// pictures folder when it exists, else the home folder.
QString desktopFolder();

// The special folder's path as the shell fills a 512-character buffer of spaces: the path, its
// NUL terminator and the remaining spaces. "" when the lookup fails. CSIDL_DESKTOP is
// desktopFolder().
QString SpecialFolderPath(int csidl);

// The desktop folder with one "/" appended. Raises the invalid-argument error (5) when the
// special-folder lookup gave no NUL terminator (that is, when it failed).
QString DesktopFolderPath(const std::function<QString(int)>& specialFolderPath = SpecialFolderPath);

// Left := (screen width - window width) / 2, then Top likewise; not rounded, not clamped.
QPointF centeredOrigin(const QSizeF& screen, const QSizeF& window);
// Centres the window's outer size, its frame included, on the primary screen.
void CenterForm(QWidget& form);

// True exactly when the path's time stamp can be read (files and folders alike).
bool PathExists(const QString& path);

// Deletes one file; every failure is swallowed.
void DeleteFileQuietly(const QString& path);

// Gives the window and its option buttons, check boxes, frames and labels the button-face
// colour.
void ApplyFormColors(QWidget& form);

// When "x/o.cjs" lies beside the program: the window colours, then the skin (a Qt style sheet)
// on the main window. Without the file nothing is touched.
void ApplySkin(QWidget& mainWindow, const QString& programFolder);

}  // namespace platform
