#include "batch/failurewords.h"

#include "batch/terminaltext.h"

#include <cerrno>
#include <cstring>

QString OpenFailureReason(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("not found");
        case EACCES:
        case EPERM:
            return QStringLiteral("permission denied");
        case EISDIR:
            return QStringLiteral("is a folder");
        case EINVAL:
            return QStringLiteral("not a regular file (a FIFO, device or socket)");
        default:
            return QStringLiteral("can not be read: ") + QString::fromLocal8Bit(std::strerror(err));
    }
}

QString ErrorText(int err) {
    QString s = QString::fromLocal8Bit(std::strerror(err));
    if (!s.isEmpty())
        s[0] = s[0].toLower();
    return s;
}

QString WorkFolderReason(const QString& folder) {
    return QStringLiteral("work folder: check that ") + folder +
           QStringLiteral(" has free space, can be written to and allows programs to run");
}

QString StageFailure(const StageResult& stage, const QString& workFolder) {
    switch (stage.outcome) {
        case StageOutcome::SourceGone:
        case StageOutcome::SourceUnusable:
            return stage.error != 0 ? OpenFailureReason(stage.error) : QStringLiteral("empty");
        case StageOutcome::NotWma:
            return stage.detail.isEmpty() ? QStringLiteral("not a WMA file")
                                          : QStringLiteral("holds %1 audio, not WMA").arg(stage.detail);
        case StageOutcome::DrmProtected:
            return QStringLiteral("may be DRM protected");
        case StageOutcome::Damaged:
            return QStringLiteral("damaged");
        case StageOutcome::TooLong:
            return QStringLiteral("too long for a WAV file, which holds at most 4 GB: convert it to MP3");
        case StageOutcome::ToolKilled:
        case StageOutcome::DecodingFailed:
        case StageOutcome::EncoderFailed:
            return stage.detail;
        case StageOutcome::SourceChanged:
            return QStringLiteral("changed while converting");
        case StageOutcome::OutputFailed:
            return QStringLiteral("the result could not be written: ") + stage.detail;
        case StageOutcome::WorkFolderFailed:
            return stage.detail.isEmpty() ? WorkFolderReason(workFolder)
                                          : stage.detail + QStringLiteral(": ") + WorkFolderReason(workFolder);
        case StageOutcome::Done:
        case StageOutcome::CutShort:
            break;
    }
    return QString();
}

QString SaveFailure(int err, const QByteArray& target) {
    const QString shown = QString::fromUtf8(PrintableName(target));
    if (err == ENOSPC)
        return QStringLiteral("no space left on the output disk: ") + shown;
    if (err == EDQUOT)
        return QStringLiteral("the disk quota of the output disk is used up: ") + shown;
    return QStringLiteral("can not save %1: %2").arg(shown, ErrorText(err));
}

QString CannotSave(const QByteArray& target, const QByteArray& problem) {
    return QStringLiteral("can not save %1: %2")
        .arg(QString::fromUtf8(PrintableName(target)), QString::fromUtf8(PrintableName(problem)));
}

QString CannotWrite(const QByteArray& folder, int err) {
    return QStringLiteral("cannot write to %1: %2")
        .arg(QString::fromUtf8(PrintableName(folder)), ErrorText(err));
}
