#pragma once
// Helpers shared by the folder-scan suites.
#include "app/form1.h"
#include "filelist/filelist.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <dirent.h>

#include <algorithm>

// Names in the order the program lists them: by name, ignoring letter case.
inline void SortAsListed(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

// The names in a folder in the order the program lists them: its folders
// (links to folders too, unless withLinks is false), or its files.
inline QStringList ReaddirOrder(const QString& folder, bool folders, bool withLinks = true) {
    QStringList names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QFileInfo info(folder + QLatin1Char('/') + name);
        if (folders ? info.isDir() && (withLinks || !info.isSymLink()) : info.isFile())
            names << name;
    }
    ::closedir(dir);
    SortAsListed(names);
    return names;
}

// The texts of the file list, from the first item to the last.
inline QStringList ListTexts(const Form1& form) {
    QStringList texts;
    for (int i = 1; i <= FileListCount(form.ListView1); ++i)
        texts << FileListText(form.ListView1, i);
    return texts;
}

inline QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}
