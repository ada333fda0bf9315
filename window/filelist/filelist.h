#pragma once
// The file list: the ordered queue of source paths that the list view holds.
// Positions count from 1; duplicates are allowed; nothing else mirrors it.
#include <QList>
#include <QSet>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

// Appends one item whose text is path. No test of any kind.
void AddToFileList(QTreeWidget* list, const QString& path);

// Collects additions and appends them in one go, as many single additions
// would, when Flush() is called and at the latest when it goes out of scope
// (also when a failure unwinds it): the folder commands add thousands of
// items, and the list lays itself out once for all of them instead of once
// per item. Callers flush before anything else can look at the list.
class FileListAppender {
public:
    explicit FileListAppender(QTreeWidget* list) : list_(list) {}
    ~FileListAppender();
    FileListAppender(const FileListAppender&) = delete;
    FileListAppender& operator=(const FileListAppender&) = delete;

    void Add(const QString& path);
    void Flush();

private:
    QTreeWidget* list_;
    QList<QTreeWidgetItem*> pending_;
};

int FileListCount(const QTreeWidget* list);

// The text of item i, 1 to FileListCount. Raises error 9 for a position that
// does not exist.
QString FileListText(const QTreeWidget* list, int i);

// The texts of every item. A path is in the file list when it equals one of
// them exactly (case-sensitive); for many such tests in a row the list is
// read once.
QSet<QString> FileListTexts(const QTreeWidget* list);
