#pragma once
// The work folder, the tools and scripts staged in it, and the fixed-name
// working files through which one file is converted.
#include <QByteArray>
#include <QString>

enum class ConversionFormat { MP3, WAV };

// $TEMP when it is set and not empty (read afresh every time); otherwise a
// private per-user folder, $XDG_CACHE_HOME/brenvale/work (default
// ~/.cache/brenvale/work), created on demand with mode 0700.
QString WorkFolder();

// The work folder, "/" and name, joined as plain strings.
QString WorkPath(const QString& name);

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

// The bytes of resource 101 to 104 as compiled into the program.
QByteArray ConversionResource(int resourceId);

// Writes each of the four resources to the work folder where it is missing
// (mode 0700). An existing file is used unchanged only when the current user
// owns it and neither group nor others may write it; otherwise it is
// replaced. Raises when a file cannot be written.
void StageTools();

// Deletes the four staged files, whoever put them there. Never raises.
void RemoveStagedTools();

// For one source: deletes stale working files, copies the source to
// working.wma and working.wma to the marker working.nfo. Never raises; when
// the source cannot be copied no marker is made either.
void PrepareWorkingFiles(const QString& source);

// The quoted script command of each format, built once per run.
struct ScriptCommands {
    QString mp3;  // "\"<work folder>/wma2mp3.sh\""
    QString wav;  // "\"<work folder>/wma2wav.sh\""
};
ScriptCommands BuildScriptCommands();

// Runs the format's script (hidden, in the work folder) and waits until the
// script has deleted the marker, or its process has ended or could not be
// started. Keeps the window responsive meanwhile.
void RunConversionScript(ConversionFormat format, const ScriptCommands& commands);

// working.mp3 or working.wav in the work folder.
QString ResultFilePath(ConversionFormat format);

// True when the format's result file is in the work folder (a normal file:
// hidden ones do not count).
bool ResultFilePresent(ConversionFormat format);
