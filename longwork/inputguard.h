#pragma once

#include <QObject>

class QWidget;

namespace longwork {

// Ignores the user's input to one window and its controls while it lives, without disabling
// their look: the window still repaints, shows its pointer and can be closed.
class InputGuard : public QObject {
public:
    explicit InputGuard(QWidget* window);
    ~InputGuard() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
};

}  // namespace longwork
