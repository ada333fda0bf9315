#pragma once
// Files named on the command line, or sent by a later start, join the
// window's list exactly as a drop of those paths on the list would add them:
// a file is listed, a folder adds the files of its tree.
#include <QLoggingCategory>
#include <QStringList>

class Form1;
class InstanceServer;

// Start-up and hand-over diagnostics, off unless enabled with
// QT_LOGGING_RULES="brenvale.launch.info=true": the program folder in use,
// and the list's items after each addition.
Q_DECLARE_LOGGING_CATEGORY(lcLaunch)

// Adds paths to the list through the list's drop handler.
void ListPaths(Form1& form, const QStringList& paths);

// Once the event loop runs: adds the command line's paths, then whatever
// later starts send through server (nullptr when this window receives none),
// bringing the window to the front for each such request.
void OpenOnStart(Form1& form, const QStringList& paths, InstanceServer* server);
