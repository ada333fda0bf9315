#include "launch/openfiles.h"

#include "app/errorreport.h"
#include "app/form1.h"
#include "launch/instance.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeData>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

Q_LOGGING_CATEGORY(lcLaunch, "brenvale.launch", QtWarningMsg)

namespace {

void LogList(const Form1& form) {
    if (!lcLaunch().isInfoEnabled())
        return;
    QStringList items;
    for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i)
        items << form.ListView1->topLevelItem(i)->text(0);
    qCInfo(lcLaunch).noquote()
        << "list:" << QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact);
}

void BringToFront(Form1& form) {
    form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
    form.show();
    form.raise();
    form.activateWindow();
}

}  // namespace

void ListPaths(Form1& form, const QStringList& paths) {
    RunUntrapped(form.dialogs(), QStringLiteral("ListView1_OLEDragDrop"), [&] {
        if (!paths.isEmpty()) {
            QList<QUrl> urls;
            for (const QString& p : paths)
                urls << QUrl::fromLocalFile(p);
            QMimeData data;
            data.setUrls(urls);
            form.ListView1_OLEDragDrop(&data, Qt::CopyAction);
        }
        LogList(form);
    });
}

void OpenOnStart(Form1& form, const QStringList& paths, InstanceServer* server) {
    qCInfo(lcLaunch).noquote() << "program folder:" << form.programFolder();
    QTimer::singleShot(0, &form, [&form, paths, server] {
        ListPaths(form, paths);
        if (server) {
            server->setReceiver([&form](const QStringList& received) {
                RunUntrapped(form.dialogs(), QStringLiteral("ListView1_OLEDragDrop"),
                             [&] { BringToFront(form); });
                ListPaths(form, received);
            });
        }
    });
}
