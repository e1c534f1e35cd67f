#include "longwork/progresswindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "platform/dialogs.h"
#include "platform/mainmodule.h"

namespace longwork {

namespace {

QFont arialBold(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner, const QString& title, int total)
    : QWidget(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ProgressWindow"));
    setWindowTitle(title);
    setFixedSize(400, 112);
    setFont(arialBold(9));
    // Cancel still works while the work waits for the answer to one of its reports.
    setProperty(platform::kLiveBesideBoxes, true);

    label = new QLabel(this);
    label->setObjectName(QStringLiteral("ProgressLabel"));
    label->setGeometry(12, 12, 376, 20);
    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("ProgressBar"));
    bar->setGeometry(12, 38, 376, 22);
    bar->setRange(0, std::max(total, 1));
    bar->setValue(0);
    // The label says how far the work is; a percentage beside the bar would repaint the bar at
    // every step.
    bar->setTextVisible(false);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("CancelButton"));
    cancelButton->setGeometry(288, 74, 100, 27);
    cancelButton->setFont(arialBold(11.25));
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel(); });
    platform::ApplyFormColors(*this);

    // Over the window whose work it shows, or in the middle of the screen.
    if (owner != nullptr && owner->isVisible()) {
        const QRect area = owner->frameGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    } else {
        platform::CenterForm(*this);
    }
}

void ProgressWindow::setProgress(int done, const QString& text) {
    bar->setValue(std::clamp(done, bar->minimum(), bar->maximum()));
    // A long workbook name is shortened in the middle, where it says the least.
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
}

void ProgressWindow::cancel() {
    m_cancelled = true;
    // The work stops at its next safe point; the button says it was heard.
    cancelButton->setEnabled(false);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    // The window goes when the work ends, not before.
    event->ignore();
    cancel();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace longwork
