#pragma once
// Failures: a VbError carries the runtime's error number and a description.
// The numbering and raising live here, below every subsystem; showing a
// failure to the user is the caller's business (the window's error report,
// the batch's line of text).
#include <QString>

#include <exception>
#include <string>

struct VbError : std::exception {
    VbError(int number, QString description, QString source = QString());
    const char* what() const noexcept override;

    int number;
    QString description;
    QString source;

private:
    std::string whatText_;
};

// The runtime's wording for the error numbers the program raises.
QString ErrorDescription(int number);

[[noreturn]] void RaiseError(int number, const QString& description = QString(),
                             const QString& source = QString());

// Maps a system errno to the runtime's numbers: ENOENT is 53 for a file and
// 76 for a folder, EACCES and EPERM 70, ENOSPC 61, others 75.
[[noreturn]] void RaiseErrno(int errnoValue, bool aboutFolder = false);
int ErrorNumberForErrno(int errnoValue, bool aboutFolder = false);

// Turns whatever a step threw into a VbError.
VbError CurrentFailure(std::exception_ptr failure);
