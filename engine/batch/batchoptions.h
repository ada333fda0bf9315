#pragma once
// The command line of the batch mode: `brenvale --convert [OPTION]... PATH...`.
#include "batch/namepattern.h"
#include "convert/formats.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

struct BatchOptions {
    enum Action {
        Convert,   // convert the paths
        ShowHelp,  // print the help text, exit 0
        BadUsage,  // print the problem and the usage on stderr, exit 2
    };
    Action action = Convert;
    QString problem;  // what was wrong (BadUsage only)

    ConversionFormat format = ConversionFormat::MP3;
    QByteArray outputFolder;  // absolute; "" puts each result beside its source
    bool keepFolders = false;
    bool skipExisting = false;
    bool quiet = false;
    bool dryRun = false;  // say what would be converted and where, convert nothing
    // Names any file system takes (as FAT and exFAT need them), whatever
    // the output's file system takes.
    bool portableNames = false;
    // A file of the user's at a result's name is replaced (else the result
    // takes the next free name).
    bool overwrite = false;
    // Results named and filed from their tags (--name); none: each result
    // takes its source's name.
    std::optional<NamePattern> name;
    // Album art that Windows keeps beside the files (Folder.jpg ...) goes
    // into the results of sources without a picture of their own.
    bool folderArt = true;
    // Each result gets its source's modification time.
    bool keepDates = false;
    int jobs = 0;                // files at once
    EncoderQuality quality;      // none chosen: the encoder's own defaults
    // The FILE and FOLDER arguments, absolute and tidied, as the system's
    // bytes: a name need not be valid UTF-8.
    QByteArrayList paths;
    // The same arguments as typed, one for each of paths.
    QByteArrayList givenPaths;
    // The whole command as typed, the program's name first: a stopped run
    // prints it again, to convert the rest.
    QByteArrayList commandLine;

    // What a result is made with, as a ledger records it: "mp3",
    // "mp3 --vbr 2", "opus --bitrate 96".
    QByteArray OptionsText() const;
};

// True when the arguments after the program's name ask for the batch mode:
// "--convert" stands among the options (before any "--").
bool IsBatchCommand(const QByteArrayList& arguments);

// Reads the arguments after the program's name ("--convert" among them).
// Relative paths are taken from currentFolder; defaultJobs is the number of
// files at once when --jobs is not given. "--" ends the options. An argument
// that begins with "-" but names an existing file is a FILE where it is no
// option; where it is one too (a file named "--output=x.wma" among *.wma),
// the usage is refused rather than guessed.
BatchOptions ParseBatchOptions(const QByteArrayList& arguments, const QByteArray& currentFolder,
                               int defaultJobs);

QString BatchHelpText();
QString BatchUsageText();

// The cores this process may run on (its affinity mask), at least 1.
int UsableCores();
