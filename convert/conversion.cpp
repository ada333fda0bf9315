#include "convert/conversion.h"

#include "convert/audiokind.h"
#include "util/fileio.h"
#include "wmawav/decoder.h"

#include <QFile>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr char kDecoder[] = "wmawav";

QString KilledText(const QString& tool, int signal) {
    return QStringLiteral("%1 was killed by signal %2 (%3)")
        .arg(tool)
        .arg(signal)
        .arg(QString::fromLocal8Bit(::strsignal(signal)));
}

// How messages name a format's encoder: "lame (the encoder)".
QString EncoderName(const FormatRow& row) {
    return QLatin1String(row.encoder) + QStringLiteral(" (the encoder)");
}

StageResult Outcome(StageOutcome outcome, const QString& detail = QString(), int error = 0) {
    return StageResult{outcome, detail, error};
}

}  // namespace

StageOutcome DecoderOutcome(int status) {
    switch (status) {
        case kStatusOk:
            return StageOutcome::Done;
        case kStatusCutShort:
            return StageOutcome::CutShort;
        case kStatusUnsupported:
            return StageOutcome::NotWma;
        case kStatusDrm:
            return StageOutcome::DrmProtected;
        case kStatusDamaged:
            return StageOutcome::Damaged;
        case kStatusTooLong:
            return StageOutcome::TooLong;
        case kStatusOutput:  // its output cannot be written
        case 126:            // the shell cannot start a tool
        case 127:            // the shell, or the start of a tool, cannot find it
            return StageOutcome::WorkFolderFailed;
        default:  // wrong arguments (2), an encoder's status, a status that was lost
            return StageOutcome::DecodingFailed;
    }
}

FileOutcome OutcomeOfScript(const WorkContext& work, int status, ConversionFormat format) {
    // A script's status is that of its first tool that failed: the
    // decoder's own statuses say what they say; past them, in a script with
    // an encoder, the status is the encoder's.
    const bool encoder = FormatOf(format).encoder != nullptr;
    if (status < 0 && status != -1)  // not run, or could not be started
        return FileOutcome::WorkFolderFailed;
    // A status that was lost, or the decoder's wrong-arguments status, which
    // the scripts never give, tells nothing.
    const bool told = status != -1 && status != kStatusUsage;
    switch (told ? DecoderOutcome(status) : StageOutcome::DecodingFailed) {
        case StageOutcome::Done:
            return ResultFilePresent(work, format) ? FileOutcome::ResultReady : FileOutcome::DecodingFailed;
        case StageOutcome::NotWma:
        case StageOutcome::DrmProtected:
        case StageOutcome::Damaged:
            return FileOutcome::DecodingFailed;
        case StageOutcome::WorkFolderFailed:
            return FileOutcome::WorkFolderFailed;
        case StageOutcome::TooLong:  // only a decoder that writes the result itself says so
            return encoder ? FileOutcome::WorkFolderFailed : FileOutcome::TooLongForWav;
        default:
            // Past the decoder's own statuses: the encoder's, where there is one.
            return encoder && told ? FileOutcome::WorkFolderFailed : FileOutcome::DecodingFailed;
    }
}

FileConversion::FileConversion(const WorkContext& work, const QByteArray& source) : work_(work), source_(source) {}

void FileConversion::Convert(ConversionFormat format) {
    format_ = &FormatOf(format);
    result_ = ResultFilePath(work_, format);
}

FileConversion::~FileConversion() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileConversion::ResultPresent() const {
    return format_ && ResultFilePresent(work_, format_->id);
}

StageResult FileConversion::OpenSource() {
    fd_ = OpenRegularSource(source_.constData());
    if (fd_ < 0) {
        const int err = errno;
        return Outcome(err == EISDIR || err == EINVAL ? StageOutcome::SourceUnusable : StageOutcome::SourceGone,
                       QString(), err);
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return Outcome(StageOutcome::SourceGone, QString(), errno);
    if (st.st_size == 0)
        return Outcome(StageOutcome::SourceUnusable);
    return Outcome(StageOutcome::Done);
}

StageResult FileConversion::PrepareWorkingCopy() {
    switch (PrepareWorkingFiles(work_, QFile::decodeName(source_))) {
        case Preparation::Ready:
            // The tags come from the work folder's own copy, never from the
            // source's name again, which could lead elsewhere by now.
            tags_ = ReadWmaTags(WorkingSourcePath(work_));
            return Outcome(StageOutcome::Done);
        case Preparation::SourceUnusable:
            return Outcome(StageOutcome::SourceUnusable);
        case Preparation::SourceGone:
            return Outcome(StageOutcome::SourceGone);
        case Preparation::WorkFolderFailed:
            break;
    }
    return Outcome(StageOutcome::WorkFolderFailed);
}

StageResult FileConversion::RunScript(ConversionFormat format, const ScriptCommands& commands) {
    Convert(format);
    switch (OutcomeOfScript(work_, RunConversionScript(work_, format, commands), format)) {
        case FileOutcome::ResultReady:
            return Outcome(StageOutcome::Done);
        case FileOutcome::WorkFolderFailed:
            return Outcome(StageOutcome::WorkFolderFailed);
        case FileOutcome::TooLongForWav:
            return Outcome(StageOutcome::TooLong);
        case FileOutcome::DecodingFailed:
            break;
    }
    return Outcome(StageOutcome::DecodingFailed);
}

StageResult FileConversion::Stream(ConversionFormat format, const PipelineRunner& run) {
    Convert(format);
    const FormatRow& row = *format_;
    const QString folder = work_.folder + QLatin1Char('/');
    if (work_.folder.isEmpty() || fd_ < 0 || !UsableAsStaged(folder + QLatin1String(kDecoder)) ||
        (row.encoder && !UsableAsStaged(folder + QLatin1String(row.encoder))))
        return Outcome(StageOutcome::WorkFolderFailed);
    ::unlink(SystemPath(result_).c_str());
    QStringList decoderArguments{QStringLiteral("--partial")};
    if (row.keepsDepth)
        decoderArguments << QStringLiteral("--keep-depth");
    decoderArguments << QStringLiteral("-") << (row.encoder ? QStringLiteral("-") : result_);
    const ToolCommand decoder{folder + QLatin1String(kDecoder), decoderArguments};
    const ToolCommand encoder{row.encoder ? folder + QLatin1String(row.encoder) : QString(),
                              work_.encoderOptions + QStringList{QStringLiteral("-"), result_}};
    const PipelineEnd end = run(decoder, row.encoder ? &encoder : nullptr, fd_, work_.folder);

    const auto failed = [this](StageOutcome outcome, const QString& detail = QString()) {
        ::unlink(SystemPath(result_).c_str());
        return Outcome(outcome, detail);
    };
    if (!end.decoder.started)
        return failed(StageOutcome::WorkFolderFailed);
    // The encoder's end comes first where the decoder only followed it: its
    // output pipe closed under it.
    const bool decoderFollowed = row.encoder && (end.decoder.signal == SIGPIPE || end.decoder.status == kStatusOutput);
    if (row.encoder && end.encoder.signal != 0)
        return failed(StageOutcome::ToolKilled, KilledText(EncoderName(row), end.encoder.signal));
    if (end.decoder.signal != 0 && end.decoder.signal != SIGPIPE)
        return failed(StageOutcome::ToolKilled, KilledText(QStringLiteral("wmawav (the decoder)"), end.decoder.signal));
    StageResult decoded = Outcome(StageOutcome::Done);
    if (!decoderFollowed) {
        decoded.outcome = DecoderOutcome(end.decoder.status);
        if (decoded.outcome == StageOutcome::CutShort) {
            const qsizetype at = end.decoderMessage.indexOf("cut short");
            decoded.detail = at < 0 ? QStringLiteral("cut short")
                                    : QString::fromUtf8(end.decoderMessage.mid(at)).trimmed();
        } else if (decoded.outcome == StageOutcome::TooLong && row.encoder) {
            decoded.outcome = StageOutcome::WorkFolderFailed;  // a stream has no such bound
        } else if (decoded.outcome == StageOutcome::NotWma) {
            decoded.detail = AudioKindOf(fd_);
        } else if (decoded.outcome == StageOutcome::DecodingFailed) {
            decoded.detail = QStringLiteral("wmawav (the decoder) failed with status %1").arg(end.decoder.status);
        }
        if (!decoded.ok())
            return failed(decoded.outcome, decoded.detail);
    }
    if (row.encoder && end.encoder.status != 0)
        return failed(StageOutcome::WorkFolderFailed,
                      end.encoder.status == 126 || end.encoder.status == 127 || !end.encoder.started
                          ? QString()
                          : QStringLiteral("%1 failed with status %2").arg(EncoderName(row)).arg(end.encoder.status));
    if (!ResultPresent())
        return failed(StageOutcome::WorkFolderFailed);
    tags_ = ReadWmaTags(fd_);
    return decoded;
}

void FileConversion::Tag() {
    if (ResultPresent())
        format_->writeTags(result_, tags_);
}
