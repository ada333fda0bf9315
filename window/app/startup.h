#pragma once
// Start-up helpers of the main window: the application title, the special
// folders and the skin.
#include <QByteArray>
#include <QString>

class QPixmap;
class QWidget;

// The product title and the program-wide title of message and input boxes
// whose caller names none.
inline constexpr const char kProductTitle[] = "Brenvale";
QString AppTitle();

// Shortens a product title by whole words to at most 40 characters, always
// removing at least the last word; a title without a blank stays whole.
QString ShortenedAppTitle(const QString& productTitle);
void SetAppTitle(const QString& productTitle = QLatin1String(kProductTitle));

// The path of a special folder (0: the desktop, the XDG desktop folder when
// it exists, else the home folder) in a 512-character buffer: the path, a
// NUL character, then spaces. Empty when the folder cannot be resolved.
QString GetSpecialFolderPath(int folderId);

// The desktop folder followed by "/". Raises error 5 when the desktop
// cannot be resolved.
QString DesktopFolderPath();

// Skins the window when "x/o.cjs" (a Qt style sheet) stands in the program
// folder: the window and its option buttons, check boxes, frames and labels
// take the palette's button colour, then the sheet is applied to the window.
// Without the file nothing happens. A sheet that cannot be read raises the
// error of its cause (70 when permission is denied). Returns whether the
// window was skinned.
bool LoadSkin(QWidget* form, const QString& programFolder);

// The whole content of a regular file, opened as OpenRegularSource opens
// one. Raises the error of the system's refusal (53 missing, 70 permission
// denied, ...), 75 for anything but a regular file with data (a pipe or a
// device is never opened), 57 when reading fails.
QByteArray ReadWholeFile(const QString& path);

// A cursor or icon file as a picture. Raises as ReadWholeFile, and 481 when
// the file holds no picture.
QPixmap LoadPicture(const QString& path);
