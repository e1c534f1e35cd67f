#include "platform/qtdialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <algorithm>
#include <functional>

#include "platform/filepath.h"
#include "platform/windowframe.h"

namespace platform {
namespace {

// What a title bar takes besides the title: the window icon, three buttons and the gaps, at
// the sizes common window managers draw them.
constexpr int kTitleBarRoom = 160;

// The boxes' texts use CR and CR LF as line breaks; Qt breaks lines on LF only.
QString displayText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    return text;
}

// Multiple selection, yet a typed name is taken as it is, as the dialog component did: only a
// typed folder is entered; existence of a file is not checked.
class OpenDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        for (const QString& file : files) {
            if (QFileInfo(file).isDir()) {
                QFileDialog::accept();
                return;
            }
        }
        if (files.isEmpty()) {
            return;
        }
        QDialog::accept();
    }
};

// Room between a live window and the box shown beside it.
constexpr int kGapBesideLiveWindow = 12;
// The height of a title bar, as most window managers draw one.
constexpr int kTitleBarAllowance = 32;

// A message box that is placed once it knows its size, before it appears.
class MessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    std::function<void(QWidget&)> place;

protected:
    void showEvent(QShowEvent* event) override {
        // The box sizes itself to its text here.
        QMessageBox::showEvent(event);
        if (place) {
            place(*this);
        }
    }
};

bool liveBesideBoxes(const QWidget* window) {
    return window->property(kLiveBesideBoxes).toBool();
}

// Centred below the live window, or above it where the screen ends there, and on the screen.
void placeBeside(QWidget& box, const QWidget& live) {
    const QMargins frame = windowFrameMargins(box);
    const QSize outer = box.size().grownBy(frame);
    const QRect beside = live.frameGeometry();
    // A window shown a moment ago may still be known where it was asked to stand, without the
    // frame the window manager then puts around it: below it, room for one more title bar
    // (the box's own, or a common one's when the window manager does not tell it).
    QPoint origin(
        beside.center().x() - outer.width() / 2,
        beside.bottom() + 1 + kGapBesideLiveWindow + std::max(frame.top(), kTitleBarAllowance));
    if (const QScreen* screen = live.screen()) {
        const QRect area = screen->availableGeometry();
        if (origin.y() + outer.height() > area.bottom() + 1) {
            origin.setY(beside.top() - kGapBesideLiveWindow - outer.height());
        }
        origin.setX(std::clamp(origin.x(), area.left(),
                               std::max(area.left(), area.right() + 1 - outer.width())));
        origin.setY(std::clamp(origin.y(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - outer.height())));
    }
    box.setGeometry(QRect(origin + QPoint(frame.left(), frame.top()), box.size()));
}

// Holds off the user's input to every window but the box and the live ones while the box
// waits for its answer, as Qt's modality would, and keeps them from being closed. The box
// follows the live window it was placed beside: a window shown just before the box is put in
// its place by the window manager only after the box has been placed.
class BoxInputGuard : public QObject {
public:
    BoxInputGuard(QWidget& box, QPointer<QWidget> beside)
        : m_box(box), m_beside(std::move(beside)) {
        qApp->installEventFilter(this);
    }
    ~BoxInputGuard() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
                if (watched == m_beside && m_box.isVisible()) {
                    placeBeside(m_box, *m_beside);
                }
                break;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
            case QEvent::Close: {
                auto* widget = qobject_cast<QWidget*>(watched);
                if (widget != nullptr && widget->window() != &m_box &&
                    !liveBesideBoxes(widget->window())) {
                    event->ignore();
                    return true;
                }
                break;
            }
            default:
                break;
        }
        return false;
    }

private:
    QWidget& m_box;
    QPointer<QWidget> m_beside;
};

QList<QPointer<QWidget>> liveWindows() {
    QList<QPointer<QWidget>> live;
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->isVisible() && liveBesideBoxes(window)) {
            live << window;
        }
    }
    return live;
}

}  // namespace

void prepareMessageBox(QMessageBox& box, const QString& prompt, int style, const QString& title) {
    box.setWindowFlags(kDialogWindowFlags);
    box.setWindowTitle(title);
    box.setText(displayText(prompt));
    box.setIcon((style & vbExclamation) ? QMessageBox::Warning : QMessageBox::NoIcon);
    if ((style & 7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // The box sizes itself to its text alone, so "Done." left no room for the title. Title
    // bars mostly use a bold face; the button row carries the width, as the box re-makes its
    // layout and keeps its widgets.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarRoom;
    const QMargins margins = box.layout()->contentsMargins();
    if (auto* buttons = box.findChild<QDialogButtonBox*>()) {
        buttons->setMinimumWidth(width - margins.left() - margins.right());
    }
}

int QtDialogs::msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) {
    MessageBox box(owner);
    prepareMessageBox(box, prompt, style, title);
    int answer = 0;
    const QList<QPointer<QWidget>> live = liveWindows();
    if (live.isEmpty()) {
        answer = box.exec();
    } else {
        // Qt's modality would hold off the live windows too, as they belong to the owner: the
        // box waits without it, beside the first of them, and holds off the others itself.
        box.place = [&live](QWidget& shown) {
            if (live.front()) {
                placeBeside(shown, *live.front());
            }
        };
        box.setWindowModality(Qt::NonModal);
        BoxInputGuard guard(box, live.front());
        QEventLoop loop;
        QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
        box.show();
        loop.exec(QEventLoop::DialogExec);
        answer = box.standardButton(box.clickedButton());
    }
    if ((style & 7) == vbYesNo) {
        return answer == QMessageBox::Yes ? vbYes : vbNo;
    }
    return vbOK;
}

QString QtDialogs::inputBox(QWidget* owner, const QString& prompt, const QString& title,
                            const QString& defaultAnswer) {
    bool ok = false;
    QString answer = QInputDialog::getText(owner, title, displayText(prompt), QLineEdit::Normal,
                                           defaultAnswer, &ok, kDialogWindowFlags);
    return ok ? answer : QString();
}

QString qtFileFilter(const QString& componentFilter) {
    QStringList parts = componentFilter.split(QChar('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            continue;
        }
        QString patterns = parts[i + 1];
        patterns.replace(QChar(';'), QChar(' '));
        const QString named = QStringLiteral("(%1)").arg(patterns);
        filters << (parts[i].endsWith(named) ? parts[i]
                                             : QStringLiteral("%1 %2").arg(parts[i], named));
    }
    return filters.join(QStringLiteral(";;"));
}

QString fileDialogText(const QStringList& chosen) {
    if (chosen.isEmpty()) {
        return {};
    }
    if (chosen.size() == 1) {
        return chosen.front();
    }
    QString folder = QFileInfo(chosen.front()).absolutePath();
    QString text = folder;
    for (const QString& path : chosen) {
        text += QChar(u'\0');
        text += QFileInfo(path).fileName();
    }
    return text;
}

QString QtDialogs::showOpen(QWidget* owner, const FileOpenRequest& request) {
    OpenDialog dialog(owner, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(qtFileFilter(request.filter));
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    // Qt's dialog has no text buffer to overflow: the whole selection is taken, and each name
    // that is not valid UTF-8 gets its real bytes back.
    QStringList chosen = dialog.selectedFiles();
    for (QString& path : chosen) {
        path = pathFromQtName(path);
    }
    return fileDialogText(chosen);
}

QString QtDialogs::browseForFolder(QWidget* owner, const QString& prompt,
                                   const QString& startFolder) {
    QString folder = QFileDialog::getExistingDirectory(owner, prompt, startFolder);
    if (folder.isEmpty()) {
        return {};
    }
    folder = QDir::cleanPath(folder);
    while (folder.size() > 1 && folder.endsWith(QChar('/'))) {
        folder.chop(1);
    }
    return folder;
}

}  // namespace platform
