#include "runtime/errors.h"

#include "system/systemerror.h"

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

VbError CurrentFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const VbError& e) {
        return e;
    } catch (const SystemError& e) {
        // The engine's way of telling a failure: the runtime's number for
        // its errno.
        return VbError(ErrorNumberForErrno(e.code().value(), e.aboutFolder), QString());
    } catch (const std::bad_alloc&) {
        return VbError(7, QString());
    } catch (const std::exception& e) {
        return VbError(51, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return VbError(51, QString());
    }
}
