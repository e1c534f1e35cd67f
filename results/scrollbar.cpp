#include "results/scrollbar.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace results {

void ScrollBar::paintEvent(QPaintEvent* event) {
    if (isEnabled()) {
        QScrollBar::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SubControls(QStyle::SC_All) & ~QStyle::SC_ScrollBarSlider;
    style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
}

}  // namespace results
