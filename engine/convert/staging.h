#pragma once
// The work folder, the tools and scripts staged in it, and the fixed-name
// working files through which one file is converted.
#include "convert/formats.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <climits>
#include <functional>
#include <iterator>
#include <memory>

// Starts a script (a path in folder, with arguments) in folder and waits
// until it has ended; returns the script's exit status (128 + N after
// signal N), or a negative value when it could not be started.
using ScriptRunner =
    std::function<int(const QString& script, const QStringList& arguments, const QString& folder)>;

// Where conversions work, decided once for a run: the window's run works in
// the user's work folder; a batch job works in a private folder of its own
// and may choose the encoder's quality.
struct WorkContext {
    QString folder;              // the work folder; "" when there is none
    QStringList encoderOptions;  // handed to the encoder; empty: its own defaults
    ScriptRunner runScript;      // starts a script; empty: started hidden under the supervisor
    // Called now and then during long work (a copy of a large source,
    // before each removal), so that a window can answer meanwhile.
    std::function<void()> between;
    // What the encoder's own tag takes beside the room it leaves for the
    // result's (FormatRow::tagRoomOverhead), as learnt by the jobs of a
    // batch; null: the format's rule.
    std::shared_ptr<std::atomic<int>> tagRoomOverhead = nullptr;
};

// The user's work folder (chosen now, as WorkFolder does) as the context
// of a run, which lets the program's event loop run while it works.
WorkContext UserWorkContext();

// The staged files: resource id, file name in the work folder, and whether
// the window's run stages it (the others serve the batch's formats only).
struct StagedTool {
    int resourceId;
    const char* fileName;
    bool window;
};
inline constexpr StagedTool kStagedTools[] = {
    {101, "lame", true},
    {102, "wmawav", true},
    {103, "wma2mp3.sh", true},
    {104, "wma2wav.sh", true},
    {105, "audioenc", false},
};

// True when a staged file may be used as it is: nobody but the current user
// can have put it there or changed it since, and it can serve its purpose (a
// regular file of the current user's, which neither group nor others may
// write, and which its owner may execute).
bool UsableAsStaged(const QString& path);

// The bytes of resource 101 to 105 as compiled into the program.
QByteArray ConversionResource(int resourceId);

// Writes each of the window's four resources to the work folder where it is missing
// (mode 0700). An existing file is used unchanged only when the current user
// owns it and neither group nor others may write it; otherwise it is
// replaced. Throws std::system_error (the errno) when a file cannot be
// written; does nothing when there is no work folder.
void StageTools(const WorkContext& work);

// Makes stagedSet, a private folder of the user's, hold one staged copy of
// each tool and script for a batch's jobs: a copy there is rewritten only
// where it is not usable as staged or its bytes are not the program's. Run
// once, before any job starts a tool: a tool is never written while another
// is started. Throws as StageTools does.
void StageToolSet(const QString& stagedSet);

// Gives a batch job's private folder (work's) each staged file of
// stagedSet as a hard link to it (written anew where no link can be made),
// so that a job starts without writing the tools again. Throws as
// StageTools does.
void StageToolsLinked(const QString& stagedSet, const WorkContext& work);

// Deletes the staged files, whoever put them there. Never throws.
void RemoveStagedTools(const WorkContext& work);

// Deletes what the last file left in the work folder: the working files
// (its result among them, once copied out) and the tools' temporary
// outputs. Run at the end of a run, so that no copy of a 4-hour WAV stays
// in the user's cache. Never throws.
void RemoveWorkingFiles(const WorkContext& work);

// What preparing one file's working files came to.
enum class Preparation {
    Ready,             // working.wma and the marker working.nfo hold the source's bytes
    SourceUnusable,    // the source is no regular file, or does not start as an ASF file does
    SourceGone,        // the source is no longer there, or can not be read
    WorkFolderFailed,  // no work folder, a stale working file that stays, or no room to copy
};

// For one source: removes the working files and the tools' temporary outputs
// that an earlier file or a killed tool left, then looks at the source's
// first bytes: only a file that starts with an ASF Header Object (after an
// ID3v2 tag, if any) is copied, to working.wma, and that to the marker
// working.nfo. The copies are new files of mode 0600, never written through
// anything that stood there; a long copy yields to the event loop every few
// MiB. Never throws; when the source cannot be copied no marker is made
// either, and a failed copy leaves nothing behind.
Preparation PrepareWorkingFiles(const WorkContext& work, const QString& source);

// The quoted script command of each format ("\"<work folder>/wma2mp3.sh\""),
// built once per run.
struct ScriptCommands {
    QString commands[std::size(kFormats)];
    const QString& of(ConversionFormat format) const { return commands[static_cast<size_t>(format)]; }
};
ScriptCommands BuildScriptCommands(const WorkContext& work);

// RunConversionScript's result when it ran nothing, and when the script
// could not be started.
inline constexpr int kScriptNotRun = INT_MIN;
inline constexpr int kScriptNotStarted = -2;

// Runs the format's script (hidden, in the work folder) and waits until its
// process has ended or could not be started, keeping the window responsive
// meanwhile. Right before, the work folder, the script and each tool that it
// runs must be the user's own (a regular file that neither group nor others
// may write); otherwise nothing is run and the result is kScriptNotRun.
// Returns RunAndWait's result: the script's exit status, which is that of
// its first tool that failed (0 when all succeeded), or a negative value when
// it could not be started. A script that did not run leaves no working file
// behind either.
// The script is started through work.runScript; a script whose format has
// an encoder gets work.encoderOptions as its arguments.
int RunConversionScript(const WorkContext& work, ConversionFormat format, const ScriptCommands& commands);

// The format's working result (working.mp3, working.wav) in the work folder.
QString ResultFilePath(const WorkContext& work, ConversionFormat format);

// working.wma in the work folder: the copy of the source in work.
QString WorkingSourcePath(const WorkContext& work);

// True when the format's result file is in the work folder: a regular file
// of the current user's, not a link.
bool ResultFilePresent(const WorkContext& work, ConversionFormat format);
