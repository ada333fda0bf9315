#include "app/errorreport.h"

#include "app/dialogs.h"

#include <cerrno>
#include <new>

VbError::VbError(int number_, QString description_, QString source_)
    : number(number_),
      description(description_.isEmpty() ? ErrorDescription(number_) : std::move(description_)),
      source(std::move(source_)),
      whatText_(description.toStdString()) {}

const char* VbError::what() const noexcept {
    return whatText_.c_str();
}

QString ErrorDescription(int number) {
    switch (number) {
        case 5:
            return QStringLiteral("Invalid procedure call or argument");
        case 6:
            return QStringLiteral("Overflow");
        case 7:
            return QStringLiteral("Out of memory");
        case 9:
            return QStringLiteral("Subscript out of range");
        case 13:
            return QStringLiteral("Type mismatch");
        case 51:
            return QStringLiteral("Internal error");
        case 52:
            return QStringLiteral("Bad file name or number");
        case 53:
            return QStringLiteral("File not found");
        case 55:
            return QStringLiteral("File already open");
        case 57:
            return QStringLiteral("Device I/O error");
        case 58:
            return QStringLiteral("File already exists");
        case 61:
            return QStringLiteral("Disk full");
        case 67:
            return QStringLiteral("Too many files");
        case 68:
            return QStringLiteral("Device unavailable");
        case 70:
            return QStringLiteral("Permission denied");
        case 75:
            return QStringLiteral("Path/File access error");
        case 76:
            return QStringLiteral("Path not found");
        case 481:
            return QStringLiteral("Invalid picture");
        default:
            return QStringLiteral("Application-defined or object-defined error");
    }
}

void RaiseError(int number, const QString& description, const QString& source) {
    throw VbError(number, description, source);
}

int ErrorNumberForErrno(int errnoValue, bool aboutFolder) {
    switch (errnoValue) {
        case ENOENT:
        case ENOTDIR:
            return aboutFolder ? 76 : 53;
        case EACCES:
        case EPERM:
        case EROFS:
            return 70;
        case ENOSPC:
        case EDQUOT:
            return 61;
        case ENAMETOOLONG:
            return 52;
        case EMFILE:
        case ENFILE:
            return 67;
        case EIO:
            return 57;
        case ENOMEM:
            return 7;
        case EEXIST:
            return 58;
        default:
            return 75;
    }
}

void RaiseErrno(int errnoValue, bool aboutFolder) {
    RaiseError(ErrorNumberForErrno(errnoValue, aboutFolder));
}

QString ErrorReportText(const QString& description, const QString& location, int line) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") + QLatin1String(kSupportAddress);
}

void ShowErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int line) {
    dialogs.MsgBox(ErrorReportText(description, location, line), vbOKOnly | vbExclamation,
                   QStringLiteral("Application Error"));
}

VbError CurrentFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const VbError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return VbError(7, QString());
    } catch (const std::exception& e) {
        return VbError(51, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return VbError(51, QString());
    }
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
