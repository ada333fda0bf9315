#include "filelist/filelist.h"

#include "app/errorreport.h"

#include <QTreeWidget>

void AddToFileList(QTreeWidget* list, const QString& path) {
    auto* item = new QTreeWidgetItem(QStringList{path});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    list->addTopLevelItem(item);
}

int FileListCount(const QTreeWidget* list) {
    return list->topLevelItemCount();
}

QString FileListText(const QTreeWidget* list, int i) {
    const QTreeWidgetItem* item = i >= 1 ? list->topLevelItem(i - 1) : nullptr;
    if (!item)
        RaiseError(9, QStringLiteral("Index out of bounds"));
    return item->text(0);
}

bool IsInFileList(const QTreeWidget* list, const QString& path) {
    const int count = FileListCount(list);
    bool found = false;
    for (int i = 1; i <= count; ++i) {
        if (FileListText(list, i) == path)
            found = true;
    }
    return found;
}
