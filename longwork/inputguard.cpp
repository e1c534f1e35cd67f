#include "longwork/inputguard.h"

#include <QApplication>
#include <QWidget>

namespace longwork {

InputGuard::InputGuard(QWidget* window) : m_window(window) {
    qApp->installEventFilter(this);
}

InputGuard::~InputGuard() {
    qApp->removeEventFilter(this);
}

bool InputGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
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
        case QEvent::Drop: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && (widget == m_window || m_window->isAncestorOf(widget))) {
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

}  // namespace longwork
