#pragma once
// The walk of a whole folder tree for the files of one extension, for the
// batch mode: every entry it meets ends up as a file to convert, a folder
// that cannot be read, or an entry left out by a rule that says why.
// Paths are the system's bytes, so names in any encoding (a Latin-1 name
// from a Windows archive) are walked and kept as they are.
#include <QByteArray>
#include <QHash>

#include <sys/types.h>

#include <vector>

enum class LeftOutRule {
    Hidden,        // a file whose name begins with "."
    Tilde,         // a file whose name begins with "~" (an editor's or Office's temporary file)
    NotRegular,    // a FIFO, device or socket with the extension
    BrokenLink,    // a link with the extension that leads nowhere
    ForeignLink,   // a link that another user could have planted, not followed
    WalkedAlready, // a link to a folder the walk has entered already (a loop)
    SystemFolder,  // a folder of a kernel pseudo file system (/proc, /sys)
    OtherFile,     // a file without the extension
    GivenTwice,    // a file met already: named twice, or by two names (a folder and a file in it)
};
inline constexpr int kLeftOutRules = 9;

// What the rule says, for the summary: "hidden", "name begins with ~" ...
const char* LeftOutRuleText(LeftOutRule rule);

struct TreeWalk {
    struct Unreadable {
        QByteArray path;
        int error;  // errno
        bool folder;
    };
    struct LeftOut {
        int count = 0;
        std::vector<QByteArray> paths;  // all of them, but for OtherFile the first few
    };
    std::vector<QByteArray> files;  // to convert, sorted by their bytes
    // For each of files, its device and the inode number its folder's
    // listing gives: a hint of which files are one (to be confirmed by
    // asking for the file itself, since some file systems list none).
    struct FileId {
        dev_t device;
        ino_t inode;
    };
    std::vector<FileId> ids;
    std::vector<Unreadable> unreadable;
    LeftOut leftOut[kLeftOutRules];
    // The album art that Windows keeps beside the files of a folder (see
    // IsFolderArtName), the largest of them, by the folder's path; such a
    // file is not left out.
    QHash<QByteArray, QByteArray> folderArt;
};

// True for the names of the album art that Windows Media Player keeps beside
// the files of an album: Folder.jpg, AlbumArtSmall.jpg and
// AlbumArt_{GUID}_Large.jpg or _Small.jpg, in any letter case.
bool IsFolderArtName(const char* name, size_t length);

// How many paths of files without the extension are kept (they are counted
// all the same).
inline constexpr size_t kOtherFilesKept = 10;

// Walks the tree of the folder root (an absolute path; a link there is
// followed, since the user named it) and adds to walk every file whose name
// ends in "." + extension, in any letter case of ASCII letters. Folders
// whose names begin with "." are walked as any other; a link is followed
// only when MayFollowLink allows it, a folder only once. The files found in
// this call are appended sorted, after those of earlier calls.
void WalkTree(const QByteArray& root, const QByteArray& extension, TreeWalk& walk);
