#include "app/startup.h"

#include "runtime/errors.h"
#include "common/uniquefd.h"
#include "runtime/filehelpers.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QStandardPaths>
#include <QWidget>

#include <cerrno>

#include <unistd.h>

namespace {

QString& AppTitleStorage() {
    static QString title = QLatin1String(kProductTitle);
    return title;
}

}  // namespace

QString AppTitle() {
    return AppTitleStorage();
}

QString ShortenedAppTitle(const QString& productTitle) {
    QString title = productTitle;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;  // a single word has nothing left to remove
        title = title.left(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle(const QString& productTitle) {
    AppTitleStorage() = ShortenedAppTitle(productTitle);
}

QString GetSpecialFolderPath(int folderId) {
    if (folderId != 0)
        return QString();
    QString path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (path.isEmpty() || !QDir(path).exists())
        path = QDir::homePath();
    if (path.isEmpty() || !QDir(path).exists())
        return QString();
    if (path.size() >= 512)
        return QString();
    QString buffer = path;
    buffer += QChar(u'\0');
    buffer += QString(512 - buffer.size(), QLatin1Char(' '));
    return buffer;
}

QString DesktopFolderPath() {
    const QString s = GetSpecialFolderPath(0);
    const qsizetype p = s.lastIndexOf(QChar(u'\0')) + 1;  // 1-based; 0 when absent
    if (p - 1 < 0)
        RaiseError(5);
    QString path = s.left(p - 1);
    if (path != QLatin1String("/"))
        path += QLatin1Char('/');
    return path;
}

bool LoadSkin(QWidget* form, const QString& programFolder) {
    const QString skinPath = programFolder + QStringLiteral("/x/o.cjs");
    // Only a plain file counts: not a folder, not a hidden or system entry,
    // and not a pipe or device, whose reading could block start-up.
    const int attributes = TryFileAttributes(skinPath, 0);
    if (!QFileInfo(skinPath).isFile() || (attributes & (kAttrDirectory | kAttrHidden | kAttrSystem)) != 0)
        return false;

    // The button face with the text colour that goes with it.
    const QPalette face = form->palette();
    const QColor buttonFace = face.color(QPalette::Button);
    auto paint = [&](QWidget* w) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Window, buttonFace);
        palette.setColor(w->backgroundRole(), buttonFace);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::WindowText, face.color(group, QPalette::ButtonText));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
    };
    paint(form);
    for (QWidget* child : form->findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child))
            paint(child);
    }

    form->setStyleSheet(QString::fromUtf8(ReadWholeFile(skinPath)));
    return true;
}

QByteArray ReadWholeFile(const QString& path) {
    // Only a regular file with data is opened, so that a pipe put in the
    // file's place cannot block; anything else fails as EINVAL or EISDIR,
    // which are 75.
    const UniqueFd file(OpenRegularSource(path));
    if (file.get() < 0)
        RaiseErrno(errno);
    const int fd = file.get();
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, n);
        else if (n == 0)
            return bytes;
        else if (errno != EINTR)
            RaiseError(57);
    }
}

QPixmap LoadPicture(const QString& path) {
    const QByteArray bytes = ReadWholeFile(path);
    QPixmap picture;
    if (!picture.loadFromData(bytes, "CUR") && !picture.loadFromData(bytes, "ICO"))
        RaiseError(481);
    return picture;
}
