#pragma once
// Folders reached without following a link that another user could have
// planted or swapped. In a folder that others may write, anyone can put a
// link there that leads into the user's own files; writing or reading
// through it would act on files the user never named. A link is followed
// only when nobody but the user, root or the folder's owner can have made
// it, as the kernel's protected-symlinks rule has it for sticky folders.
#include <QByteArray>

struct stat;

// True when a link (link: its lstat) found in a folder (folder: its stat)
// may be followed: the link is the user's own or root's, or it belongs to
// the folder's owner and the folder lets nobody else put or swap entries
// (closed to writes by group and others, or sticky).
bool MayFollowLink(const struct stat& link, const struct stat& folder);

// Opens the folder at an absolute path for use as the base of *at() calls
// (O_PATH, close-on-exec), resolving every component and every link on the
// way by MayFollowLink. With make, missing folders are made (mode 0777 less
// the umask). Returns the descriptor, or -1 with problem set to what stood
// in the way: "link of another user: PATH", "not a folder: PATH", or the
// system's error with the path ("PATH: Permission denied"). errnum gets the
// errno of a system error, 0 for a refused link.
int OpenFolderSafely(const QByteArray& path, bool make, QByteArray* problem, int* errnum = nullptr);

// The same for a path relative to the folder open at base ("" is base
// itself); shown is how the problem names base. With ownFoldersOnly, no
// folder below base that another user owns (root aside) is entered, even
// one that lets everybody write: "folder of another user: PATH". Its
// entries, links among them, are never looked at.
int OpenFolderSafelyAt(int base, const QByteArray& relative, bool make, const QByteArray& shown,
                       QByteArray* problem, int* errnum = nullptr, bool ownFoldersOnly = false);
