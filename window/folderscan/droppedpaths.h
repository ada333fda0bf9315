#pragma once
// The files and folders that a drag carries: the local paths of its
// text/uri-list, as file managers write it (RFC 2483).
#include <QStringList>

#include <optional>

class QMimeData;

// The dropped paths in the drag's order, each as a file manager names it: a
// folder without a trailing "/", the root as "/". Lines that begin with "#"
// are comments and blank lines are skipped; "file:///p" and
// "file://localhost/p" both name the local path /p. A path whose bytes are
// not valid UTF-8 cannot be represented in the list's text and is left out.
//
// None when the drag offers no list of local files: no text/uri-list, a line
// that names anything but a local file (a web address, another host's file),
// or no line that names a file at all.
std::optional<QStringList> DroppedPaths(const QMimeData* data);
