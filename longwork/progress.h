#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QWidget;

namespace platform {
struct Services;
}

namespace longwork {

class ProgressWindow;

// Follows one piece of long work: its progress window shows once the work has gone on longer
// than the services' delay (short work never shows one), follows the count and the label,
// takes the user's Cancel and goes when the work ends.
class Progress : public QObject {
public:
    Progress(const platform::Services& services, QWidget* owner, QString title, int total);
    ~Progress() override;

    // The work has done `done` of its steps and is at `label` now.
    void update(int done, const QString& label);
    // Shows the window once the delay has passed; cheap enough for every turn of the work.
    void tick();
    // Shows the window now, whatever the delay: work that waits for the answer to one of its
    // reports is long work, and its Cancel belongs beside the report.
    void showNow();
    bool cancelled() const;

    ProgressWindow* window() const { return m_window.get(); }

private:
    qint64 now() const;
    void refresh();

    const platform::Services& m_services;
    QWidget* m_owner;
    QString m_title;
    int m_total;
    int m_done = 0;
    QString m_label;
    qint64 m_start;
    qint64 m_shownAt = 0;  // when the window last took the count and the label
    // Wakes a waiting event loop when the delay is up, so one long step still shows the window.
    QTimer m_timer;
    // The window takes the latest count a few times a second, not at every step: short steps
    // would spend more on painting than on the work.
    QTimer m_refresh;
    std::unique_ptr<ProgressWindow> m_window;
};

// "2,000": counts in the progress texts are grouped in thousands.
QString countText(int n);

}  // namespace longwork
