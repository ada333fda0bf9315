#include "app/dialogs.h"

#include "app/errorreport.h"
#include "app/startup.h"
#include "app/windowfit.h"

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLayout>
#include <QMessageBox>
#include <QStringList>

Dialogs::~Dialogs() = default;

namespace {

// Message texts keep their bare carriage returns; a Qt label breaks lines
// only at line feeds.
QString DisplayText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString TitleOrAppTitle(const QString& title) {
    return title.isEmpty() ? AppTitle() : title;
}

// On Wayland every window may be maximized or made full screen: Qt's own
// title bar offers maximize on every window, and the compositor then demands
// a surface of exactly the size it gives. A window held to a fixed size there
// ends the program with a protocol error, so on Wayland the boxes take any
// size from their own upwards and lay their content out in it.
//
// A message box fits itself to its text, with a fixed size, when it is shown
// and again whenever its layout changes. On Wayland it keeps the size it was
// shown with as its least one: a layout change while the compositor resizes
// it (to fill the screen, or back) must not set a size of its own.
class GrowingMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent* e) override {
        if (!OnWayland())
            return QMessageBox::event(e);
        if (e->type() == QEvent::LayoutRequest)
            return QDialog::event(e);
        const bool handled = QMessageBox::event(e);
        if (maximumSize() != QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX))
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return handled;
    }
};

// An input box holds its height to that of its content; on Wayland it keeps
// only the least size.
class GrowingInputDialog : public QInputDialog {
public:
    using QInputDialog::QInputDialog;

protected:
    void showEvent(QShowEvent* e) override {
        if (OnWayland() && layout()) {
            layout()->setSizeConstraint(QLayout::SetMinimumSize);
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
        QInputDialog::showEvent(e);
    }
};

// "Wma Files (*.wma)|*.wma|" becomes "Wma Files (*.wma) (*.wma)" entries
// separated by ";;" as QFileDialog wants them.
QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (description.contains(QLatin1Char('(')))
            entries << description.left(description.indexOf(QLatin1Char('('))).trimmed() +
                           QStringLiteral(" (") + patterns + QLatin1Char(')');
        else
            entries << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace

QString JoinOpenFileResult(const QStringList& files) {
    if (files.isEmpty())
        return QString();
    if (files.size() == 1)
        return files.first();

    // The longest folder that holds every chosen file.
    QString common = QFileInfo(files.first()).path();
    for (const QString& file : files) {
        const QString folder = QFileInfo(file).path();
        while (common != QLatin1String("/") && folder != common &&
               !folder.startsWith(common + QLatin1Char('/'))) {
            common = QFileInfo(common).path();
        }
    }
    const qsizetype prefix = common == QLatin1String("/") ? 1 : common.size() + 1;
    QString result = common;
    for (const QString& file : files) {
        result += QChar(u'\0');
        result += file.mid(prefix);
    }
    return result;
}

int QtDialogs::MsgBox(const QString& prompt, int style, const QString& title) {
    GrowingMessageBox box(owner_);
    box.setWindowTitle(TitleOrAppTitle(title));
    box.setText(DisplayText(prompt));
    box.setIcon((style & vbExclamation) == vbExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if ((style & 7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

QString QtDialogs::InputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    GrowingInputDialog box(owner_);
    box.setWindowTitle(TitleOrAppTitle(title));
    box.setLabelText(DisplayText(prompt));
    box.setTextValue(defaultText);
    box.setTextEchoMode(QLineEdit::Normal);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}

QString QtDialogs::ShowOpen(const OpenFileRequest& request) {
    const QStringList files =
        QFileDialog::getOpenFileNames(owner_, request.title, QString(), QtFilter(request.filter));
    const QString result = JoinOpenFileResult(files);
    if (result.size() > request.maxFileSize)
        RaiseError(20476, QStringLiteral("The file name buffer is too small for the selection"));
    return result;
}

QString QtDialogs::PickFolder(const QString& prompt, const QString& startFolder) {
    QString start;
    if (!startFolder.isEmpty() && QFileInfo(startFolder).isDir())
        start = startFolder;
    const QString chosen = QFileDialog::getExistingDirectory(owner_, prompt, start);
    if (chosen.isEmpty())
        return QString();
    const QString clean = QDir::cleanPath(chosen);
    return clean;
}

bool QtDialogs::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}
