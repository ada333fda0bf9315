#include "app/errorreport.h"

#include "app/dialogs.h"

QString ErrorReportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + QLatin1String(kSupportAddress);
}

void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int line) {
    dialogs.MsgBox(ErrorReportText(description, location, line), vbOKOnly | vbExclamation,
                   QStringLiteral("Application Error"));
}

ErrorTrap::ErrorTrap(Dialogs& dialogs, QString location)
    : dialogs_(dialogs), location_(std::move(location)) {}

void ErrorTrap::handle(std::exception_ptr failure) {
    const VbError error = CurrentFailure(failure);
    if (filter_) {
        bool endProcedure = false;
        try {
            endProcedure = filter_(error);
        } catch (...) {
            // A failing filter must not take the report with it.
        }
        if (endProcedure) {
            ended_ = true;
            return;
        }
    }
    ++reports_;
    try {
        ShowErrorReport(dialogs_, error.description, location_, line_);
    } catch (...) {
        // Nothing is left to report a failing report with; the procedure
        // still carries on.
    }
}

bool ErrorTrap::run(int line, const std::function<void()>& step) {
    if (ended_)
        return false;
    line_ = line;
    try {
        step();
        return true;
    } catch (...) {
        handle(std::current_exception());
        return false;
    }
}

bool ErrorTrap::test(int line, const std::function<bool()>& condition) {
    if (ended_)
        return false;
    line_ = line;
    try {
        return condition();
    } catch (...) {
        handle(std::current_exception());
        return !ended_;
    }
}

QString FormLocation(const QString& procedure) {
    return QStringLiteral("in Tarnwick2021/08/31.Form1.") + procedure + QLatin1Char(' ');
}

void RunUntrapped(Dialogs& dialogs, const QString& procedure, const std::function<void()>& body) {
    try {
        body();
    } catch (...) {
        const VbError error = CurrentFailure(std::current_exception());
        try {
            ShowErrorReport(dialogs, error.description, FormLocation(procedure), 0);
        } catch (...) {
        }
    }
}
