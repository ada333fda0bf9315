#pragma once
// The folder picker.
#include <QString>

class Dialogs;

// Lets the user choose a folder, starting on startFolder when it exists.
// Returns the folder without a trailing "/" ("/" for the root), or "" when
// the user cancels.
QString BrowseForFolder(Dialogs& owner, const QString& prompt, const QString& startFolder);
