#pragma once
// The batch mode: converts many files without a window, several at once,
// through the same engine as the window's run (the tools, the formats, the
// tags, the result's saving). The plan names every result first
// (batchplan), jobs convert the files (fileconverter), and the report tells
// what became of each (batchreport).
#include <QByteArrayList>

struct BatchOptions;

// The whole mode for main(): reads the command line, converts, prints a
// line per file and the summary on stdout, the updating progress line and
// what stops the run on stderr, and returns the exit status (0 every
// file converted or skipped, 1 a file failed, 2 wrong usage, 128 + N after
// signal N: SIGINT, SIGTERM and SIGHUP stop the run). Makes no display connection:
// only a QCoreApplication is created.
int RunBatchCommand(int argc, char* argv[]);

// Converts what options name; returns the exit status as above.
int RunBatch(const BatchOptions& options);
