#pragma once
// The folder walk and the listing of one folder's files.
//
// A folder set is an ordered list of folder paths, each ending in "/". The
// walk extends a caller's set in place, breadth first, with every folder
// beneath its entries that may be entered; the listing returns the names of
// one folder's files that match a wildcard pattern. Nothing here touches the
// window: callers decide what to add.
#include "runtime/filehelpers.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <unordered_map>
#include <vector>

class Dialogs;

// The files of one folder listing, in listing order, each with whether it
// is a plain hidden file: its attribute value is exactly 34, hidden and
// archive and nothing else (a plain dot-file), which the folder commands
// leave out. The names are kept as the listing read them, so that a
// command makes each file's path in one go.
class FileListing {
public:
    size_t size() const { return files_.size(); }
    QString Name(size_t i) const;
    // True when the name begins with the ASCII character c.
    bool NameStartsWith(size_t i, char c) const;
    bool PlainHidden(size_t i) const { return files_[i].plainHidden; }
    // The file's path: folder, "/" and its name.
    QString PathIn(const QString& folder, size_t i) const;

    // Room for so many files whose names hold so many bytes in all.
    void Reserve(size_t files, size_t nameBytes);
    // Adds a file at the end: its name's encoded bytes, and the decoded name
    // when it is not all ASCII.
    void Append(const char* bytes, size_t length, const QString* decoded, bool plainHidden);

private:
    struct File {
        quint32 offset;  // of its name's bytes in names_
        quint32 length;
        qint32 decoded;  // its place in decoded_, or -1 for an ASCII name
        bool plainHidden;
    };
    QByteArray names_;
    std::vector<File> files_;
    std::vector<QString> decoded_;
};

// A wildcard pattern as MatchesWildcard takes it, prepared once for many
// names.
class WildcardPattern {
public:
    explicit WildcardPattern(const QString& pattern = QStringLiteral("*.*"));
    bool Matches(QStringView name) const;
    // The answer for a name given by its encoded bytes where they are enough
    // to tell (1 matches, 0 does not), and -1 where only the decoded name
    // can tell.
    int MatchesEncoded(const char* name, size_t length) const;

private:
    bool matchesAll_ = false;
    bool suffixOnly_ = false;
    QString suffix_;          // the plain end of "*" + suffix
    QByteArray asciiSuffix_;  // the same in lower case, when it is all ASCII
    QString folded_;          // the pattern, case-folded
};

// Where the walk meets the file system: the folder object's attributes, its
// root flag and its sub-folders. The program uses the real file system;
// tests replace parts of it, for instance to make a folder deny access the
// way it would for an ordinary user (root is never refused).
class FolderSystem {
public:
    // With a notePattern, every folder that ForEachSubFolder reads whole is
    // also noted with its files that match the pattern, so that ListFiles
    // with that pattern need not read it a second time.
    explicit FolderSystem(const QString& notePattern = QString());
    virtual ~FolderSystem();

    // True when the path's attributes can be read and carry the directory
    // bit; never raises.
    virtual bool IsFolder(const QString& path) const;

    // Opens the folder object of a path that was just found to be a folder.
    // The real file system has nothing to open here: listing a folder that
    // has gone since raises 76.
    virtual void GetFolder(const QString& folder) const;

    // The folder's attribute value (22 and 1046 mark hidden system folders:
    // kernel pseudo file systems and symbolic links to folders).
    virtual int Attributes(const QString& folder) const;

    // The same for a folder the user chose or dropped: a symbolic link is
    // judged by the folder it points to, so that it is walked.
    virtual int ChosenFolderAttributes(const QString& folder) const;

    // True for the root folder "/" (written with any number of "/").
    virtual bool IsRootFolder(const QString& folder) const;

    // Calls onName with the bare name of each sub-folder of folder, by name
    // ignoring letter case; symbolic links to folders count as
    // sub-folders, names that are not valid UTF-8 are left out. Raises 70
    // when the folder cannot be read, 76 when it is gone; a failure of
    // onName ends the enumeration and is passed on. Reading a folder of
    // many thousands of entries yields to the event loop now and then.
    virtual void ForEachSubFolder(const QString& folder,
                                  const std::function<void(const QString& name)>& onName) const;

    // The files of folder (without its trailing "/"; the root is "/") that
    // ListFilesInFolder(folder, pattern) returns, in the same order, each
    // with whether it is a plain hidden file, learnt in the same look at it.
    // A folder that ForEachSubFolder read and noted for this pattern is not
    // read again: its notes are handed out once.
    FileListing ListFiles(const QString& folder, const QString& pattern) const;

private:
    mutable FileSystemKinds kinds_;
    // The walk tests a folder and reads its attributes moments later: the
    // value IsFolder read is handed to Attributes once, for the same path,
    // and ForEachSubFolder takes the folder's device from it.
    mutable QString lastPath_;
    mutable int lastAttributes_ = -1;
    mutable QString statPath_;
    mutable dev_t statDevice_ = 0;
    // Per folder read whole: its files that match notePattern_ and open, in
    // listing order.
    bool noting_ = false;
    QString notePattern_;
    WildcardPattern noteWanted_;
    mutable std::unordered_map<QString, FileListing> notes_;
};

// Extends folders, whose entries the caller chose, with their sub-folders,
// and with recursive set with every deeper level too. Hidden system folders
// below the chosen entries are neither entered nor returned; sub-folders
// whose names are unsafe or too long are skipped with their subtrees. A
// folder that denies access or has vanished is removed from the set
// silently; other failures show the uniform error report through dialogs
// and the walk carries on. Yields to the event loop while it works.
void GetSubDirectories2016(Dialogs& dialogs, QStringList& folders, bool recursive);
// The same over another view of the file system (tests).
void GetSubDirectories2016(Dialogs& dialogs, QStringList& folders, bool recursive, const FolderSystem& fs);

// True when a name holds a character that the walk refuses in a folder name:
// a control character (below 32), a character from 127 to 159, or one that
// the system's code page cannot represent (a name whose bytes are not valid
// UTF-8 decodes with U+FFFD in their place).
bool HasUnsafeNameChars(const QString& name);

// True when name matches the wildcard pattern: case-insensitive, "*" for any
// run of characters, "?" for one; "*.*" matches every name, with or without
// a dot.
bool MatchesWildcard(const QString& name, const QString& pattern);

// The system's limits, counted in encoded bytes: a path is accepted when it
// is shorter than 4096 bytes, a name when it has at most 255.
bool FitsPathLimit(const QString& path);
bool FitsNameLimit(const QString& name);

// The names a file listing returns, in listing order, at indices 1 to
// UBound(); an empty listing holds one empty name at index 0, so a loop from
// 1 to UBound() visits nothing.
class FileNameArray {
public:
    FileNameArray();  // the empty listing

    int LBound() const { return lowerBound_; }
    int UBound() const { return lowerBound_ + static_cast<int>(slots_.size()) - 1; }
    // The name at index i; raises 9 outside LBound() to UBound().
    const QString& operator[](int i) const;

    // Every stored name, in order (none for the empty listing).
    QStringList names() const;

    // Filling: the slots grow by 100 at first, then by 50 whenever they are
    // full; Finish() cuts them to the names stored.
    void Append(const QString& name);
    void Finish();
    // Slots held at the moment (for the growth steps).
    int SlotCount() const { return static_cast<int>(slots_.size()); }

private:
    int lowerBound_ = 0;
    int stored_ = 0;
    std::vector<QString> slots_;
};

// The names of the files in folder (with or without a trailing "/") that
// match pattern, hidden ones included, folders never, by name ignoring letter
// case; a name is kept only when the file can be opened (IsExistingFile) and
// its path fits the system's limit. A name that is not valid UTF-8 is left
// out: it cannot be written in the list's text, and a stand-in would name
// another file. A folder that does not exist or cannot be read, and a folder
// of a kernel pseudo file system, list nothing.
FileNameArray ListFilesInFolder(const QString& folder, const QString& pattern);
