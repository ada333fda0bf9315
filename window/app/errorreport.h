#pragma once
// The uniform error report.
//
// A failure is a VbError (runtime/errors.h). A procedure that traps its
// failures runs its numbered steps through an ErrorTrap: a failing step is
// abandoned, the report is shown, and the procedure carries on with the next step. A failing test counts as
// passed, so the steps it guards still run.
#include "runtime/errors.h"

#include <QString>

#include <functional>
#include <utility>

class Dialogs;

// The address at the end of every report.
inline constexpr const char kSupportAddress[] = "support@brenvale.org";

// The report's text: description, CR LF, location text, "at line N",
// CR CR, and the request to mail a screenshot.
QString ErrorReportText(const QString& description, const QString& location, int line);

// Shows the report box: title "Application Error", OK only, warning icon.
void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int line);

class ErrorTrap {
public:
    // location is the procedure's complete location text, such as
    // "in Tarnwick2021/08/31.Form1.Form_Load ".
    ErrorTrap(Dialogs& dialogs, QString location);

    // Runs one numbered step. Returns false when it failed (the report has
    // been shown by then) or when the trap has ended the procedure.
    bool run(int line, const std::function<void()>& step);

    // Runs the test of a conditional. A failing test is reported and counts
    // as passed, so the guarded steps run.
    bool test(int line, const std::function<bool()>& condition);

    // Lets a procedure look at a failure before the uniform report. The
    // filter returns true when it has dealt with the failure and the
    // procedure must end: every later step is then skipped.
    void setFilter(std::function<bool(const VbError&)> filter) { filter_ = std::move(filter); }

    bool ended() const { return ended_; }
    int line() const { return line_; }
    int reports() const { return reports_; }
    const QString& location() const { return location_; }

    // Handles a failure at the current line, as run() does.
    void handle(std::exception_ptr failure);

private:
    Dialogs& dialogs_;
    QString location_;
    std::function<bool(const VbError&)> filter_;
    int line_ = 0;
    int reports_ = 0;
    bool ended_ = false;
};

// The location text of a main-window procedure.
QString FormLocation(const QString& procedure);

// Runs a handler that has no trap of its own; a failure still shows the
// uniform report (at line 0) instead of escaping into the event loop.
void RunUntrapped(Dialogs& dialogs, const QString& procedure, const std::function<void()>& body);
