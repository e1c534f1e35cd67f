#pragma once

#include <QCursor>
#include <optional>

class QWidget;
class QString;

namespace platform {

// A window's pointer state (its MousePointer): 0 arrow, 11 wait, 99 the hand from MouseIcon.
class MousePointer {
public:
    static constexpr int kDefault = 0;
    static constexpr int kWait = 11;
    static constexpr int kCustom = 99;

    explicit MousePointer(QWidget* window) : m_window(window) {}

    int value() const { return m_value; }
    void set(int value);

    // A hover rule: takes the new value unless the wait pointer of a running operation shows.
    void hover(int value) {
        if (m_value != kWait) {
            set(value);
        }
    }

    // The hover rule of the window's bare client area: moves that a control leaves unhandled
    // reach the window too, so only a point with no control under it sets the arrow.
    void hoverBareArea(const QPoint& position);

    // Loads a .cur file as the MouseIcon, with the hot spot the file names. Throws
    // RuntimeError(481) when the file is not a cursor Qt can read.
    void loadMouseIcon(const QString& fileName);
    bool hasMouseIcon() const { return m_icon.has_value(); }
    const std::optional<QCursor>& mouseIcon() const { return m_icon; }

private:
    QWidget* m_window;
    int m_value = kDefault;
    std::optional<QCursor> m_icon;
};

}  // namespace platform
