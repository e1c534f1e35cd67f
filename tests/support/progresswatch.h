#pragma once

#include <QApplication>
#include <QEvent>

#include "longwork/progresswindow.h"

namespace testing_support {

// Counts the progress windows shown while it lives, and remembers the last one's texts.
class ProgressWatch : public QObject {
public:
    ProgressWatch() { qApp->installEventFilter(this); }
    ~ProgressWatch() override { qApp->removeEventFilter(this); }

    int shown = 0;
    QString title;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* window = qobject_cast<longwork::ProgressWindow*>(watched)) {
                ++shown;
                title = window->windowTitle();
            }
        }
        return false;
    }
};

}  // namespace testing_support
