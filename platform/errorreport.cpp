#include "platform/errorreport.h"

#include <new>

#include "platform/dialogs.h"
#include "platform/runtimeerror.h"

#ifndef QUILLFEN_SUPPORT_EMAIL
#define QUILLFEN_SUPPORT_EMAIL "support@quillfen.org"
#endif

namespace platform {

QString supportEmail() {
    return QStringLiteral(QUILLFEN_SUPPORT_EMAIL);
}

QString errorReportText(const QString& description, const QString& where, int line) {
    return description + QStringLiteral("\r\nin Tarnwick2/19/2015.") + where +
           QStringLiteral(" at line ") + QString::number(line) +
           QStringLiteral("\r\rPlease email screenshot of this message to ") + supportEmail();
}

QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const RuntimeError& e) {
        return e.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected error");
    }
}

ErrorTrap::ErrorTrap(Dialogs& dialogs, QWidget* owner, QString module, QString procedure)
    : m_dialogs(dialogs), m_owner(owner), m_where(module + QChar('.') + procedure) {}

bool ErrorTrap::quiet() const {
    return m_quiet && m_quiet();
}

bool ErrorTrap::run(int line, const std::function<void()>& statement) {
    // A statement that itself ends the work (the spill's first failure) is still told.
    const bool quietBefore = quiet();
    try {
        statement();
        return true;
    } catch (...) {
        if (!quietBefore) {
            tell(line, describe(std::current_exception()));
        }
        return false;
    }
}

bool ErrorTrap::test(int line, const std::function<bool()>& condition) {
    const bool quietBefore = quiet();
    try {
        return condition();
    } catch (...) {
        if (!quietBefore) {
            tell(line, describe(std::current_exception()));
        }
        return true;
    }
}

void ErrorTrap::report(int line, const QString& description) {
    if (!quiet()) {
        tell(line, description);
    }
}

void ErrorTrap::tell(int line, const QString& description) {
    if (m_beforeReport) {
        m_beforeReport();
    }
    ++m_reports;
    m_dialogs.msgBox(m_owner, errorReportText(description, m_where, line), vbExclamation,
                     QStringLiteral("Application Error"));
}

}  // namespace platform
