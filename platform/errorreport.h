#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace platform {

class Dialogs;

// The support address named at the end of every report; set at build time.
QString supportEmail();

// "description CR LF in Tarnwick2/19/2015.<where> at line N CR CR Please email ..."
// where is "Form1.Form_Load" or "Image.ExtractImagesByFile".
QString errorReportText(const QString& description, const QString& where, int line);

// The description a report shows for anything a statement throws.
QString describe(const std::exception_ptr& error);

// Runs the numbered statements of one handler: a statement that throws is reported in the
// standard error box and the handler goes on with the next statement.
class ErrorTrap {
public:
    ErrorTrap(Dialogs& dialogs, QWidget* owner, QString module, QString procedure);

    // One statement. Returns false when it threw (and was reported).
    bool run(int line, const std::function<void()>& statement);

    // The test of a conditional. A test that throws is reported and counts as true, so the
    // statement it guards runs next.
    bool test(int line, const std::function<bool()>& condition);

    // Reports an error that was caught elsewhere in the handler, at the given line.
    void report(int line, const QString& description);

    // Once quiet() holds, what the statements throw is no longer reported: the work is ending
    // (the user cancelled it), and what it still runs only tidies up. A statement that was
    // run before it held is still told. run() and test() still answer as for a reported error.
    void setQuietWhen(std::function<bool()> quiet) { m_quiet = std::move(quiet); }
    // Runs before each report is shown: long work shows its progress window then, so that its
    // Cancel is there beside the report however soon the report comes.
    void setBeforeReport(std::function<void()> before) { m_beforeReport = std::move(before); }

    int reports() const { return m_reports; }

private:
    bool quiet() const;
    void tell(int line, const QString& description);

    Dialogs& m_dialogs;
    QWidget* m_owner;
    QString m_where;
    std::function<bool()> m_quiet;
    std::function<void()> m_beforeReport;
    int m_reports = 0;
};

}  // namespace platform
