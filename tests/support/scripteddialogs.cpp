#include "support/scripteddialogs.h"

#include "runtime/errors.h"
#include "app/startup.h"

void ScriptedDialogs::record(const ShownDialog& d) {
    shown.append(d);
    if (whileShown)
        whileShown(d);
}

int ScriptedDialogs::MsgBox(const QString& prompt, int style, const QString& title) {
    ShownDialog d;
    d.kind = ShownDialog::Message;
    d.text = prompt;
    d.style = style;
    d.title = title.isEmpty() ? AppTitle() : title;
    record(d);
    if (!messageAnswers.isEmpty())
        return messageAnswers.dequeue();
    return (style & 7) == vbYesNo ? vbNo : vbOK;
}

QString ScriptedDialogs::InputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    ShownDialog d;
    d.kind = ShownDialog::Input;
    d.text = prompt;
    d.title = title.isEmpty() ? AppTitle() : title;
    d.defaultText = defaultText;
    record(d);
    return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
}

QString ScriptedDialogs::ShowOpen(const OpenFileRequest& request) {
    ShownDialog d;
    d.kind = ShownDialog::OpenFile;
    d.text = request.title;
    d.request = request;
    record(d);
    const QString result = openAnswers.isEmpty() ? QString() : openAnswers.dequeue();
    if (result.size() > request.maxFileSize)
        RaiseError(20476, QStringLiteral("The file name buffer is too small for the selection"));
    return result;
}

QString ScriptedDialogs::PickFolder(const QString& prompt, const QString& startFolder) {
    ShownDialog d;
    d.kind = ShownDialog::Folder;
    d.text = prompt;
    d.defaultText = startFolder;
    record(d);
    return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
}

bool ScriptedDialogs::OpenUrl(const QUrl& url) {
    ShownDialog d;
    d.kind = ShownDialog::Url;
    d.text = url.toString();
    record(d);
    return urlOpens;
}

QStringList ScriptedDialogs::messages() const {
    QStringList texts;
    for (const ShownDialog& d : shown)
        if (d.kind == ShownDialog::Message)
            texts << d.text;
    return texts;
}

QList<ShownDialog> ScriptedDialogs::ofKind(ShownDialog::Kind kind) const {
    QList<ShownDialog> result;
    for (const ShownDialog& d : shown)
        if (d.kind == kind)
            result << d;
    return result;
}
