#pragma once
// Every modal interaction of the program goes through one Dialogs object:
// message and input boxes, the open-file dialog, the folder picker, and
// handing a page or a folder to the desktop. The program uses QtDialogs;
// tests put a scripted implementation in its place and answer for the user.
#include "runtime/shell.h"

#include <QString>
#include <QUrl>

class QWidget;

// Message box styles and answers, with the classic numbers so that callers
// and tests speak the same values.
enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbYesNo = 4,
    vbExclamation = 48,
};
enum MsgBoxResult : int {
    vbOK = 1,
    vbYes = 6,
    vbNo = 7,
};

// Settings of the open-file dialog, made anew for every showing.
struct OpenFileRequest {
    QString fileName;
    int flags = 0;
    QString title;
    QString filter;           // "Description|pattern|" pairs
    int maxFileSize = 30000;  // characters the raw result may hold
};

class Dialogs : public UrlOpener {
public:
    virtual ~Dialogs();

    // A box whose caller names no title shows the application title.
    virtual int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString()) = 0;

    // "" when the user cancels.
    virtual QString InputBox(const QString& prompt, const QString& title = QString(),
                             const QString& defaultText = QString()) = 0;

    // The raw result: "" on cancel; one file: its full path; several: the
    // folder, then each name preceded by a NUL character. A result longer
    // than request.maxFileSize raises error 20476.
    virtual QString ShowOpen(const OpenFileRequest& request) = 0;

    // The chosen folder without a trailing "/" ("/" for the root), or "" on
    // cancel. The dialog opens on startFolder when that folder exists.
    virtual QString PickFolder(const QString& prompt, const QString& startFolder) = 0;

    // Hands a page or a folder to the desktop. Returns false when nothing
    // could open it.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// Joins the open-file dialog's chosen files into the raw result: one file is
// its full path; several give their longest common folder, then each name
// relative to it preceded by a NUL character.
QString JoinOpenFileResult(const QStringList& files);

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString()) override;
    QString InputBox(const QString& prompt, const QString& title = QString(),
                     const QString& defaultText = QString()) override;
    QString ShowOpen(const OpenFileRequest& request) override;
    QString PickFolder(const QString& prompt, const QString& startFolder) override;
    bool OpenUrl(const QUrl& url) override;

private:
    QWidget* owner_;
};
