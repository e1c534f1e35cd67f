#pragma once

#include <QScrollBar>

namespace results {

// A scroll bar that draws no thumb while it is disabled: a bar that is off shows its empty
// track, not a thumb left where the last picture had it.
class ScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace results
