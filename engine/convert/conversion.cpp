#include "convert/conversion.h"

#include "asf/asfheader.h"
#include "convert/audiokind.h"
#include "system/fileio.h"
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
    return StageResult{outcome, detail, error, QString()};
}

qint64 NanosecondsOf(const struct timespec& t) {
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The line of the tools' messages that holds what, to its end.
QString LineWith(const QByteArray& messages, const char* what) {
    const qsizetype at = messages.indexOf(what);
    if (at < 0)
        return QString();
    const qsizetype end = messages.indexOf('\n', at);
    return QString::fromUtf8(messages.mid(at, end < 0 ? -1 : end - at)).trimmed();
}

// The last line a tool other than the decoder wrote: an encoder's own
// words on why it failed.
QString LastEncoderLine(const QByteArray& messages) {
    const QList<QByteArray> lines = messages.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (!line.isEmpty() && !line.startsWith("wmawav:"))
            return QString::fromUtf8(line);
    }
    return QString();
}

// The last line that begins with prefix.
QString LastToolLine(const QByteArray& messages, const char* prefix) {
    const QList<QByteArray> lines = messages.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (it->trimmed().startsWith(prefix))
            return QString::fromUtf8(it->trimmed());
    return QString();
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

void FileConversion::Choose(ConversionFormat format) {
    format_ = &FormatOf(format);
    result_ = ResultFilePath(work_, format);
}

FileConversion::~FileConversion() = default;

bool FileConversion::ResultPresent() const {
    return format_ && ResultFilePresent(work_, format_->id);
}

StageResult FileConversion::OpenSource() {
    fd_.reset(OpenRegularSource(source_.constData()));
    if (fd_.get() < 0) {
        const int err = errno;
        return Outcome(err == EISDIR || err == EINVAL ? StageOutcome::SourceUnusable : StageOutcome::SourceGone,
                       QString(), err);
    }
    struct stat st;
    if (::fstat(fd_.get(), &st) != 0)
        return Outcome(StageOutcome::SourceGone, QString(), errno);
    if (st.st_size == 0)
        return Outcome(StageOutcome::SourceUnusable);
    sourceSize_ = static_cast<qint64>(st.st_size);
    sourceTime_ = NanosecondsOf(st.st_mtim);
    sourceChange_ = NanosecondsOf(st.st_ctim);
    return Outcome(StageOutcome::Done);
}

bool FileConversion::SourceChanged() const {
    struct stat st;
    return fd_.get() >= 0 &&
           (::fstat(fd_.get(), &st) != 0 || static_cast<qint64>(st.st_size) != sourceSize_ ||
            NanosecondsOf(st.st_mtim) != sourceTime_ || NanosecondsOf(st.st_ctim) != sourceChange_);
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
    Choose(format);
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

StageResult FileConversion::Stream(ConversionFormat format, const PipelineRunner& run, int output) {
    Choose(format);
    const FormatRow& row = *format_;
    const QString folder = work_.folder + QLatin1Char('/');
    if (work_.folder.isEmpty() || fd_.get() < 0 || output < 0 ||
        !UsableAsStaged(folder + QLatin1String(kDecoder)) ||
        (row.encoder && !UsableAsStaged(folder + QLatin1String(row.encoder))))
        return Outcome(StageOutcome::WorkFolderFailed);
    // The tags are known before the audio: where they go in front of it,
    // the encoder leaves them room of the size they take.
    tags_ = ReadWmaTags(fd_.get());
    QStringList encoderArguments = work_.encoderOptions;
    tagRoomPadding_ = -1;
    if (row.tagBytes) {
        const int bytes = row.tagBytes(TagsToWrite());
        const int overhead = work_.tagRoomOverhead ? work_.tagRoomOverhead->load() : row.tagRoomOverhead;
        if (bytes > 0 && bytes - overhead >= 0) {
            tagRoomPadding_ = bytes - overhead;
            encoderArguments += row.tagRoomArguments(tagRoomPadding_);
        }
    }
    QStringList decoderArguments{QStringLiteral("--partial")};
    if (row.keepsDepth)
        decoderArguments << QStringLiteral("--keep-depth");
    decoderArguments << QStringLiteral("-") << (row.encoder ? QStringLiteral("-") : QLatin1String(row.givenOutput));
    const ProgramCommand decoder{folder + QLatin1String(kDecoder), decoderArguments};
    const ProgramCommand encoder{row.encoder ? folder + QLatin1String(row.encoder) : QString(),
                              encoderArguments + QStringList{QStringLiteral("-"), QLatin1String(row.givenOutput)}};
    const PipelineEnd end = run(decoder, row.encoder ? &encoder : nullptr, fd_.get(), output, work_.folder);

    if (end.supervisorSignal != 0)
        return Outcome(StageOutcome::ToolKilled,
                       QStringLiteral("the tool supervisor stopped: signal %1").arg(end.supervisorSignal));
    if (!end.decoder.started)
        return Outcome(StageOutcome::WorkFolderFailed);
    // The encoder's end comes first where the decoder only followed it: its
    // output pipe closed under it.
    const bool decoderFollowed = row.encoder && (end.decoder.signal == SIGPIPE || end.decoder.status == kStatusOutput);
    if (row.encoder && end.encoder.signal != 0)
        return Outcome(StageOutcome::ToolKilled, KilledText(EncoderName(row), end.encoder.signal));
    if (end.decoder.signal != 0 && end.decoder.signal != SIGPIPE)
        return Outcome(StageOutcome::ToolKilled,
                       KilledText(QStringLiteral("wmawav (the decoder)"), end.decoder.signal));
    StageResult decoded = Outcome(StageOutcome::Done);
    if (!decoderFollowed) {
        decoded.outcome = DecoderOutcome(end.decoder.status);
        if (decoded.outcome == StageOutcome::CutShort) {
            decoded.detail = LineWith(end.messages, "cut short");
            if (decoded.detail.isEmpty())
                decoded.detail = QStringLiteral("cut short");
        } else if (decoded.outcome == StageOutcome::WorkFolderFailed && end.decoder.status == kStatusOutput) {
            // Its output is the result itself.
            decoded.outcome = StageOutcome::OutputFailed;
            decoded.detail = LastToolLine(end.messages, "wmawav:");
        } else if (decoded.outcome == StageOutcome::TooLong && row.encoder) {
            decoded.outcome = StageOutcome::WorkFolderFailed;  // a stream has no such bound
        } else if (decoded.outcome == StageOutcome::NotWma) {
            decoded.detail = AudioKindOf(fd_.get());
        } else if (decoded.outcome == StageOutcome::DecodingFailed) {
            decoded.detail = QStringLiteral("wmawav (the decoder) failed with status %1").arg(end.decoder.status);
        }
        if (!decoded.ok())
            return Outcome(decoded.outcome, decoded.detail);
    }
    if (row.encoder && end.encoder.status != 0) {
        // A tool the system could not start is the work folder's; any other
        // failure is the encoder's, told in its own words.
        if (end.encoder.status == 126 || end.encoder.status == 127 || !end.encoder.started)
            return Outcome(StageOutcome::WorkFolderFailed);
        const QString words = LastEncoderLine(end.messages);
        return Outcome(
            StageOutcome::EncoderFailed,
            QStringLiteral("%1 failed with status %2").arg(EncoderName(row)).arg(end.encoder.status) +
                (words.isEmpty() ? QString() : QStringLiteral(": ") + words));
    }
    struct stat made;
    if (::fstat(output, &made) != 0 || made.st_size == 0)
        return Outcome(StageOutcome::WorkFolderFailed);
    const QString note = LineWith(end.messages, ": note: ");
    if (!note.isEmpty())
        decoded.note = note.mid(note.indexOf(QLatin1String(": note: ")) + 8);
    // What the encoder's own tag took beside the room: the next results are
    // given room by it.
    uint8_t header[10];
    if (tagRoomPadding_ >= 0 && work_.tagRoomOverhead && ::pread(output, header, sizeof header, 0) == 10)
        if (const uint64_t size = Id3v2PrefixLength(header, sizeof header))
            work_.tagRoomOverhead->store(static_cast<int>(size) - tagRoomPadding_);
    return decoded;
}

TrackTags FileConversion::TagsToWrite() const {
    TrackTags tags = tags_;
    if (tags.pictures.isEmpty() && fallbackPicture_)
        tags.pictures << *fallbackPicture_;
    return tags;
}

bool FileConversion::Tag(int output) {
    if (!format_)
        return false;
    const TrackTags tags = TagsToWrite();
    usedFallback_ = tags_.pictures.isEmpty() && fallbackPicture_;
    if (output >= 0)
        return format_->writeTags(TagTarget(output), tags);
    if (!ResultPresent())
        return false;
    format_->writeTags(result_, tags);
    return true;
}
