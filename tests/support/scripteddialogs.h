#pragma once
// A Dialogs implementation for tests: it records everything shown and
// answers from a script instead of a user.
#include "app/dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

struct ShownDialog {
    enum Kind { Message, Input, OpenFile, Folder, Url };
    Kind kind = Message;
    QString text;         // prompt, title of the open-file dialog, or the url
    int style = 0;        // message box style
    QString title;        // the title as the user sees it (application title when none was given)
    QString defaultText;  // input box default, folder picker start folder
    OpenFileRequest request;
};

class ScriptedDialogs : public Dialogs {
public:
    // Answers, taken in order; when a queue is empty the dialog is cancelled
    // (message boxes answer OK, or No for Yes/No questions).
    QQueue<int> messageAnswers;
    QQueue<QString> inputAnswers;
    QQueue<QString> openAnswers;  // raw results
    QQueue<QString> folderAnswers;
    bool urlOpens = true;

    // Runs while a dialog is showing, after it has been recorded: tests use it
    // to act in the middle of a command (the user clicking elsewhere).
    std::function<void(const ShownDialog&)> whileShown;

    QList<ShownDialog> shown;

    int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString()) override;
    QString InputBox(const QString& prompt, const QString& title = QString(),
                     const QString& defaultText = QString()) override;
    QString ShowOpen(const OpenFileRequest& request) override;
    QString PickFolder(const QString& prompt, const QString& startFolder) override;
    bool OpenUrl(const QUrl& url) override;

    // The texts of the message boxes shown so far.
    QStringList messages() const;
    QList<ShownDialog> ofKind(ShownDialog::Kind kind) const;
    void clear() { shown.clear(); }

private:
    void record(const ShownDialog& d);
};
