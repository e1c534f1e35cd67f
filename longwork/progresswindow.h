#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace longwork {

// The small window that long work shows: what is being done, a bar, and Cancel. Closing it or
// pressing Escape counts as Cancel.
class ProgressWindow : public QWidget {
    Q_OBJECT

public:
    ProgressWindow(QWidget* owner, const QString& title, int total);

    void setProgress(int done, const QString& label);
    bool cancelled() const { return m_cancelled; }

    QLabel* label = nullptr;
    QProgressBar* bar = nullptr;
    QPushButton* cancelButton = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void cancel();

    bool m_cancelled = false;
};

}  // namespace longwork
