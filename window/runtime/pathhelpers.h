#pragma once
// Path strings: splitting and tidying, no file-system access. The separator
// is "/"; positions follow QString indexing.
#include <QString>

// The characters after the last "/"; the whole path when it has none; empty
// when the path ends with "/".
QString FileNameOfPath(const QString& path);

// Everything up to and including the last "/"; empty when the path has none.
QString FolderOfPath(const QString& path);

// Cuts the path before its last "." (searched over the whole path, folders
// included) unless that dot is the first character or there is none.
QString StripExtension(const QString& path);

// Collapses each "//" to "/" in one left-to-right pass without overlap (so
// three separators become two); a leading run of separators of any length
// becomes exactly one.
QString NormalizePath(const QString& path);
