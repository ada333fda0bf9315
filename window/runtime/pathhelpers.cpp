#include "runtime/pathhelpers.h"

#include "runtime/errors.h"

namespace {

// Positions are held as 16-bit signed numbers by the helpers that search
// from the end, so longer paths overflow the way the rest of the program
// expects.
void CheckPathPosition(qsizetype position) {
    if (position > 32767)
        RaiseError(6);
}

QString CollapseDoubledSeparators(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == u'/' && i + 1 < s.size() && s[i + 1] == u'/')
            ++i;  // drop the second of the pair; the pass does not overlap
    }
    return out;
}

}  // namespace

QString FileNameOfPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return path;
    return path.mid(slash + 1);
}

QString FolderOfPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    CheckPathPosition(slash + 1);
    return path.left(slash + 1);
}

QString StripExtension(const QString& path) {
    if (path.isEmpty())
        return path;
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot >= 0)
        CheckPathPosition(dot + 1);
    if (dot > 0)
        return path.left(dot);
    return path;
}

QString NormalizePath(const QString& path) {
    if (path.isEmpty())
        return QString();
    // Most paths hold no doubled separator: they stay as they are.
    if (!path.contains(QLatin1String("//")))
        return path;
    if (path[0] != u'/')
        return CollapseDoubledSeparators(path);
    qsizetype k = 1;
    while (k < path.size() && path[k] == u'/')
        ++k;
    return QStringLiteral("/") + CollapseDoubledSeparators(path.mid(k));
}
