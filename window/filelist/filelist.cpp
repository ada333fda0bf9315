#include "filelist/filelist.h"

#include "runtime/errors.h"

#include <QTreeWidget>

namespace {

// An item that holds its text and nothing else, as the file list's items
// are: a hundred thousand of them are made, laid out and cleared in a
// fraction of the time and memory that the general item needs.
class FileListItem : public QTreeWidgetItem {
public:
    explicit FileListItem(const QString& path) : text_(path) {
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    QVariant data(int column, int role) const override {
        if (column == 0 && (role == Qt::DisplayRole || role == Qt::EditRole))
            return text_;
        return QTreeWidgetItem::data(column, role);
    }

    void setData(int column, int role, const QVariant& value) override {
        if (column != 0 || (role != Qt::DisplayRole && role != Qt::EditRole)) {
            QTreeWidgetItem::setData(column, role, value);
            return;
        }
        const QString text = value.toString();
        if (text == text_)
            return;
        text_ = text;
        emitDataChanged();
    }

private:
    QString text_;
};

QTreeWidgetItem* NewItem(const QString& path) {
    return new FileListItem(path);
}

}  // namespace

void AddToFileList(QTreeWidget* list, const QString& path) {
    list->addTopLevelItem(NewItem(path));
}

FileListAppender::~FileListAppender() {
    try {
        Flush();
    } catch (...) {
        // Out of memory while unwinding: what could not be added is lost.
    }
}

void FileListAppender::Add(const QString& path) {
    pending_.append(NewItem(path));
}

void FileListAppender::Flush() {
    if (pending_.isEmpty())
        return;
    QList<QTreeWidgetItem*> items;
    items.swap(pending_);
    list_->addTopLevelItems(items);
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

QSet<QString> FileListTexts(const QTreeWidget* list) {
    const int count = FileListCount(list);
    QSet<QString> texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.insert(list->topLevelItem(i)->text(0));
    return texts;
}
