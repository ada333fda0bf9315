#pragma once
// The work folder, the tools and scripts staged in it, and the fixed-name
// working files through which one file is converted.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <climits>
#include <functional>

enum class ConversionFormat { MP3, WAV };

// The work folder: a folder that the current user owns, that neither group
// nor others may write, and that no other user can rename away or replace
// (every folder on the way to it belongs to the user or to root and is
// closed to others' writes or sticky). Links are resolved: the path returned
// is the folder's real path. Chosen afresh at every call, the first that
// serves of:
// - $TEMP, when it is set, absolute and such a folder itself;
// - otherwise (TEMP shared, like /tmp, or not the user's) "brenvale-UID"
//   inside $TEMP, made with mode 0700; one that exists and is not the user's
//   own is not used;
// - $XDG_CACHE_HOME/brenvale/work (default ~/.cache/brenvale/work), made with
//   mode 0700.
// A folder of the program's own making that the user owns but others may
// write (brenvale-UID, the cache folder) is closed to mode 0700 first; $TEMP
// itself is never changed. Returns "" when no folder serves.
QString WorkFolder();

// The folder that messages about the work folder name: the work folder, or
// when there is none the last one tried.
QString WorkFolderForMessages();

// The work folder, "/" and name, joined as plain strings; "" when there is no
// work folder.
QString WorkPath(const QString& name);

// Starts a script (a path in folder, with arguments) in folder and waits
// until it has ended; returns as RunAndWait does.
using ScriptRunner =
    std::function<int(const QString& script, const QStringList& arguments, const QString& folder)>;

// Where one conversion works. The window's run works in the user's work
// folder, chosen afresh at each call of the functions below that take no
// context; a batch job works in a private folder of its own, starts the
// scripts its own way and may choose the encoder's quality.
struct WorkContext {
    QString folder;              // the work folder; "" when there is none
    QStringList encoderOptions;  // handed by the MP3 script to the encoder; empty: its own defaults
    ScriptRunner runScript;      // empty: RunAndWait, which yields to the event loop meanwhile
};

// The user's work folder as the context of one call.
WorkContext UserWorkContext();

// The staged files: resource id and file name in the work folder.
struct StagedTool {
    int resourceId;
    const char* fileName;
};
inline constexpr StagedTool kStagedTools[] = {
    {101, "lame"},
    {102, "wmawav"},
    {103, "wma2mp3.sh"},
    {104, "wma2wav.sh"},
};

// True when a staged file may be used as it is: nobody but the current user
// can have put it there or changed it since, and it can serve its purpose (a
// regular file of the current user's, which neither group nor others may
// write, and which its owner may execute).
bool UsableAsStaged(const QString& path);

// The bytes of resource 101 to 104 as compiled into the program.
QByteArray ConversionResource(int resourceId);

// Writes each of the four resources to the work folder where it is missing
// (mode 0700). An existing file is used unchanged only when the current user
// owns it and neither group nor others may write it; otherwise it is
// replaced. Raises when a file cannot be written; does nothing when there is
// no work folder.
void StageTools();
void StageTools(const WorkContext& work);

// Makes stagedSet, a private folder of the user's, hold one staged copy of
// each tool and script for a batch's jobs: a copy there is rewritten only
// where it is not usable as staged or its bytes are not the program's. Run
// once, before any job starts a tool: a tool is never written while another
// is started. Raises as StageTools does.
void StageToolSet(const QString& stagedSet);

// Gives a batch job's private folder (work's) each staged file of
// stagedSet as a hard link to it (written anew where no link can be made),
// so that a job starts without writing the tools again. Raises as
// StageTools does.
void StageToolsLinked(const QString& stagedSet, const WorkContext& work);

// Deletes the four staged files, whoever put them there. Never raises.
void RemoveStagedTools();
void RemoveStagedTools(const WorkContext& work);

// Deletes what the last file left in the work folder: the working files
// (its result among them, once copied out) and the tools' temporary
// outputs. Run at the end of a run, so that no copy of a 4-hour WAV stays
// in the user's cache. Never raises.
void RemoveWorkingFiles();
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
// MiB. Never raises; when the source cannot be copied no marker is made
// either, and a failed copy leaves nothing behind.
Preparation PrepareWorkingFiles(const QString& source);
Preparation PrepareWorkingFiles(const WorkContext& work, const QString& source);

// The quoted script command of each format, built once per run.
struct ScriptCommands {
    QString mp3;  // "\"<work folder>/wma2mp3.sh\""
    QString wav;  // "\"<work folder>/wma2wav.sh\""
};
ScriptCommands BuildScriptCommands();
ScriptCommands BuildScriptCommands(const WorkContext& work);

// RunConversionScript's result when it ran nothing.
inline constexpr int kScriptNotRun = INT_MIN;

// Runs the format's script (hidden, in the work folder) and waits until its
// process has ended or could not be started, keeping the window responsive
// meanwhile. Right before, the work folder, the script and each tool that it
// runs must be the user's own (a regular file that neither group nor others
// may write); otherwise nothing is run and the result is kScriptNotRun.
// Returns RunAndWait's result: the script's exit status, which is that of
// its first tool that failed (0 when all succeeded), or a negative value when
// it could not be started. A script that did not run leaves no working file
// behind either.
int RunConversionScript(ConversionFormat format, const ScriptCommands& commands);
// The same in work's folder, started through work.runScript when it is set;
// the MP3 script gets work.encoderOptions as its arguments.
int RunConversionScript(const WorkContext& work, ConversionFormat format, const ScriptCommands& commands);

// What became of one file's conversion in the work folder.
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
// - the decoder's 7 from the WAV script: the audio does not fit in a WAV
//   file;
// - the decoder's 6 (its output cannot be written), the shell's 126 and 127
//   (a tool cannot be started), a script that could not be started or was
//   not run: the work folder failed;
// - any other status of the MP3 script is the encoder's (LAME exits 1 or
//   255; a tool ended by a signal gives 128 + N): the work folder failed;
//   of the WAV script, whose only tool is the decoder, a cause that cannot
//   be told, as is a status that was lost (-1).
FileOutcome OutcomeOfScript(int status, ConversionFormat format);
FileOutcome OutcomeOfScript(const WorkContext& work, int status, ConversionFormat format);

// working.mp3 or working.wav in the work folder.
QString ResultFilePath(ConversionFormat format);
QString ResultFilePath(const WorkContext& work, ConversionFormat format);

// working.wma in the work folder: the copy of the source in work.
QString WorkingSourcePath();
QString WorkingSourcePath(const WorkContext& work);

// True when the format's result file is in the work folder: a regular file
// of the current user's, not a link.
bool ResultFilePresent(ConversionFormat format);
bool ResultFilePresent(const WorkContext& work, ConversionFormat format);
