#pragma once
// One file's conversion, stage by stage, each stage with a result that says
// what happened and why. Both front ends use it: the window calls the
// stages inside its numbered steps, with its working files (the source
// copied into the work folder, the format's script run there); a batch job
// calls them in a row and streams (the decoder reads the source where it
// lies and pipes its audio into the encoder). Either way the result ends
// whole and tagged in the work folder, from where the caller saves it.
#include "common/uniquefd.h"
#include "convert/formats.h"
#include "convert/staging.h"
#include "system/toolrun.h"
#include "tags/tags.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What a stage came to.
enum class StageOutcome {
    Done,              // the stage did its part
    CutShort,          // done, from a source cut short: the audio up to the cut
    SourceGone,        // the source is not there, or cannot be read
    SourceUnusable,    // the source is empty, a folder, a FIFO, device or socket
    NotWma,            // the source is no WMA file
    DrmProtected,      // the source is DRM-protected
    Damaged,           // the source is damaged
    DecodingFailed,    // the source did not decode, the cause cannot be told
    TooLong,           // the audio is more than the format's file can hold
    ToolKilled,        // a tool (or the supervisor of the tools) was ended by a signal
    EncoderFailed,     // the encoder failed; detail gives its status and its own words
    SourceChanged,     // the source was written to while it was converted
    OutputFailed,      // the result could not be written where it is made; detail: the tool's words
    WorkFolderFailed,  // the work folder could not hold or run what was needed
};

struct StageResult {
    StageOutcome outcome = StageOutcome::Done;
    // For SourceGone, the errno; for ToolKilled, the tool and the signal
    // ("lame (the encoder) was killed by signal 9 (Killed)"); for CutShort,
    // the decoder's account ("cut short: 53.9 s of 60.0 s"); for NotWma from
    // Stream, the audio the source holds instead when its first bytes tell
    // it ("MP3", see AudioKindOf); for EncoderFailed, the encoder's status
    // and its last line.
    QString detail;
    int error = 0;
    // What a tool noted of a result it made all the same ("Opus takes at
    // most 256 kb/s for 1 channel: 256 kb/s used").
    QString note;

    bool ok() const { return outcome == StageOutcome::Done || outcome == StageOutcome::CutShort; }
};

// What a decoder's exit status says of the source. The statuses that are
// not the decoder's own (an encoder's, a lost one) come out as
// DecodingFailed.
StageOutcome DecoderOutcome(int status);

// What became of one file's conversion in the work folder, as the window
// tells it.
enum class FileOutcome {
    ResultReady,       // the result is whole in the work folder
    DecodingFailed,    // DRM-protected, damaged, not WMA, or a cause that cannot be told
    WorkFolderFailed,  // decoded, but the result could not be made or kept there
    TooLongForWav,     // the audio is more than a WAV file can hold
};

// Tells from a script's status what became of the file:
// - 0: the result when it is there; without one, a cause that cannot be told;
// - the decoder's 3 (not WMA), 4 (DRM-protected), 5 (damaged) and 2 (wrong
//   arguments, which the scripts never give): decoding failed;
// - the decoder's 7 from a script whose result is the decoder's own file
//   (WAV): the audio does not fit in that file;
// - the decoder's 6 (its output cannot be written), the shell's 126 and 127
//   (a tool cannot be started), a script that could not be started or was
//   not run: the work folder failed;
// - any other status of a script with an encoder is the encoder's (LAME
//   exits 1 or 255; a tool ended by a signal gives 128 + N): the work folder
//   failed; of a script whose only tool is the decoder, a cause that cannot
//   be told, as is a status that was lost (-1).
FileOutcome OutcomeOfScript(const WorkContext& work, int status, ConversionFormat format);

class FileConversion {
public:
    // The source as the system names it; nothing is opened yet.
    FileConversion(const WorkContext& work, const QByteArray& source);
    ~FileConversion();
    FileConversion(const FileConversion&) = delete;
    FileConversion& operator=(const FileConversion&) = delete;

    // Opens the source once, for streaming: a regular file with data. Its
    // tags and audio are read from this one file, whatever its name comes
    // to lead to meanwhile.
    StageResult OpenSource();

    // The window's way: copies the source into the work folder (working.wma
    // and the marker; see PrepareWorkingFiles) and reads its tags from there.
    StageResult PrepareWorkingCopy();

    // The window's way: runs the format's script on the working copy and
    // waits for it (work.runScript), keeping the working result.
    StageResult RunScript(ConversionFormat format, const ScriptCommands& commands);

    // The batch's way: the decoder reads the open source and, for a format
    // with an encoder, pipes its audio into it; the result is written into
    // output, an empty file open for reading and writing (where it is to
    // stay, not yet named), with room left in front for its tags where the
    // format has them there. The decoder takes a file cut short up to the
    // cut. The source's tags are read first.
    StageResult Stream(ConversionFormat format, const PipelineRunner& run, int output);

    // A picture for a source that has none of its own (the album art beside
    // it): Tag writes it as the result's front cover.
    void SetFallbackPicture(const CoverPicture& picture) { fallbackPicture_ = picture; }

    // Writes the source's tags into the whole result: the working result in
    // the work folder (a result whose tags cannot be written stays as it
    // was), or with an output, the result Stream wrote there (false when
    // its tags could not be written: it is not to be kept). Never throws.
    bool Tag(int output = -1);
    // True when the fallback picture went into the result's tags.
    bool UsedFallbackPicture() const { return usedFallback_; }

    // The opened source's size and modification time (nanoseconds), as they
    // were when it was opened.
    qint64 SourceSize() const { return sourceSize_; }
    qint64 SourceTime() const { return sourceTime_; }
    // True when the opened source was written to since it was opened (its
    // size, modification or change time differ): a result of it would mix
    // two files.
    bool SourceChanged() const;

    // The result in the work folder, of the format last converted to.
    const QString& ResultPath() const { return result_; }
    bool ResultPresent() const;

private:
    void Choose(ConversionFormat format);
    TrackTags TagsToWrite() const;

    WorkContext work_;
    const FormatRow* format_ = nullptr;
    QByteArray source_;
    QString result_;
    UniqueFd fd_;  // the source, open for as long as the conversion lives
    qint64 sourceSize_ = 0;
    qint64 sourceTime_ = 0;
    qint64 sourceChange_ = 0;
    TrackTags tags_;
    std::optional<CoverPicture> fallbackPicture_;
    bool usedFallback_ = false;
    int tagRoomPadding_ = -1;  // the padding the encoder was asked to leave, or -1
};
