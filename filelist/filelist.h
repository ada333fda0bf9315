#pragma once
// The file list: the ordered queue of source paths that the list view holds.
// Positions count from 1; duplicates are allowed; nothing else mirrors it.
#include <QString>

class QTreeWidget;

// Appends one item whose text is path. No test of any kind.
void AddToFileList(QTreeWidget* list, const QString& path);

int FileListCount(const QTreeWidget* list);

// The text of item i, 1 to FileListCount. Raises error 9 for a position that
// does not exist.
QString FileListText(const QTreeWidget* list, int i);

// True when any item's text equals path exactly (case-sensitive).
bool IsInFileList(const QTreeWidget* list, const QString& path);
