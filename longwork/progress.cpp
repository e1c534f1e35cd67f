#include "longwork/progress.h"

#include <QLocale>
#include <chrono>
#include <limits>

#include "longwork/progresswindow.h"
#include "platform/services.h"

namespace longwork {

namespace {

constexpr int kRefreshMs = 100;

}  // namespace

Progress::Progress(const platform::Services& services, QWidget* owner, QString title, int total)
    : m_services(services), m_owner(owner), m_title(std::move(title)), m_total(total) {
    m_start = now();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    m_timer.start(int(std::max<qint64>(m_services.progressDelayMs, 0)));
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, [this] { refresh(); });
}

Progress::~Progress() = default;

qint64 Progress::now() const {
    if (m_services.clockMs) {
        return m_services.clockMs();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Progress::update(int done, const QString& label) {
    m_done = done;
    m_label = label;
    if (!m_window) {
        tick();
    } else if (now() - m_shownAt >= kRefreshMs) {
        refresh();
    } else if (!m_refresh.isActive()) {
        m_refresh.start(kRefreshMs);
    }
}

void Progress::refresh() {
    m_refresh.stop();
    m_window->setProgress(m_done, m_label);
    // A window that had nothing to say yet takes the first label at once.
    m_shownAt = m_label.isEmpty() ? std::numeric_limits<qint64>::min() / 2 : now();
}

void Progress::tick() {
    if (m_window) {
        return;
    }
    const qint64 left = m_services.progressDelayMs - (now() - m_start);
    if (left > 0) {
        if (!m_timer.isActive()) {
            m_timer.start(int(std::min<qint64>(left, m_services.progressDelayMs)));
        }
        return;
    }
    showNow();
}

void Progress::showNow() {
    if (m_window) {
        return;
    }
    m_timer.stop();
    m_window = std::make_unique<ProgressWindow>(m_owner, m_title, m_total);
    refresh();
    m_window->show();
}

bool Progress::cancelled() const {
    return m_window && m_window->cancelled();
}

QString countText(int n) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

}  // namespace longwork
