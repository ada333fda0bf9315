// The file list's handlers of the main window: removing and
// clearing items, reordering them by dragging, and the pointer feedback of
// the whole window.
#include "app/errorreport.h"
#include "app/form1.h"
#include "filelist/filelist.h"

#include <QCursor>
#include <QFileInfo>
#include <QPixmap>
#include <QTreeWidget>

namespace {

// A drag step scrolls the item before the hit item into view when the
// pointer is less than kScrollUpAbove pixels below the list's top edge on the
// screen, and the item after it from kScrollDownFrom pixels on.
//
// The window was designed for a 1024-row screen, where these were the fixed
// screen rows 305 and 365. The window's client area is 7860 twips (524
// pixels at 15 twips per pixel) high and opens centred on the screen, so
// its top stood at row (1024 - 524) / 2 = 250, and the list, 120 twips (8
// pixels) below that, at row 258. The rows therefore lie 305 - 258 = 47 and
// 365 - 258 = 107 pixels below the list's top edge: the pointer over the top
// of the item area (just below the header) scrolls up, over its lower part
// it scrolls down, and in between is the designed dead band. Taken from the
// list, they hold on any screen and at any window position.
constexpr int kDesignedScreenRows = 1024;
constexpr int kDesignedClientHeight = 7860;  // twips
constexpr int kDesignedListTop = (kDesignedScreenRows - Twips(kDesignedClientHeight)) / 2 + Twips(120);
constexpr int kScrollUpAbove = 305 - kDesignedListTop;   // 47
constexpr int kScrollDownFrom = 365 - kDesignedListTop;  // 107

// The list's selected item, or none.
QTreeWidgetItem* SelectedItem(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// Item i of the list, counted from 1; none for a position that does not exist.
QTreeWidgetItem* ItemAt(const QTreeWidget* list, int i) {
    return i >= 1 ? list->topLevelItem(i - 1) : nullptr;
}

}  // namespace

void Form1::ListView1_KeyDown(int keyCode, int /*shift*/) {
    if (keyCode == 46)  // Delete
        RemoveSelectedItem();
}

void Form1::ListView1_DblClick() {
    RemoveSelectedItem();
}

void Form1::RemoveSelectedItem() {
    if (mousePointer_ == kPointerHourglass)
        return;
    if (FileListCount(ListView1) == 0)
        return;
    QTreeWidgetItem* selected = SelectedItem(ListView1);
    if (!selected)
        return;
    const int index = ListView1->indexOfTopLevelItem(selected);
    if (index < 0)
        return;
    ForgetDragItems();
    delete ListView1->takeTopLevelItem(index);
    // Nothing else changes: the list does not move the selection on to a
    // neighbour, so a second Delete removes nothing.
    ListView1->clearSelection();
}

void Form1::ForgetDragItems() {
    // The drag source and hit item refer to items; an item that leaves the
    // list is deleted, so a later drag step must not reach it.
    dragSource_ = nullptr;
    hitItem_ = nullptr;
}

void Form1::PushButton8_Click() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("PushButton8_Click")));
    if (trap.test(100, [this] { return mousePointer_ != kPointerHourglass; })) {
        trap.run(100, [this] {
            ForgetDragItems();
            ListView1->clear();
        });
    }
}

void Form1::ListView1_MouseDown(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {
    dragFlag_ = true;
}

void Form1::ListView1_ItemClick(QTreeWidgetItem* /*item*/) {
    // The drag pointer. Its picture is read afresh at every click; a missing
    // or unreadable "drag.ico" leaves the setting 99 without a picture, which
    // shows the arrow.
    const QString dragPath = programFolder_ + QStringLiteral("/drag.ico");
    QPixmap picture;
    if (QFileInfo(dragPath).isFile())
        picture.load(dragPath, "ICO");
    hasDragCursor_ = !picture.isNull();
    // The hot spot is the tip of the drawn arrow.
    dragCursor_ = hasDragCursor_ ? QCursor(picture, 0, 0) : QCursor(Qt::ArrowCursor);
    SetListMousePointer(kPointerCustom);

    // The list never starts a drag-and-drop operation of its own.
    ListView1->setDragEnabled(false);
    dragSource_ = SelectedItem(ListView1);
}

void Form1::ListView1_MouseMove(int button, int shift, int x, int y) {
    PointerOverBackground();
    if (!dragFlag_)
        return;
    // A move with no button held ends the drag as the release would: the
    // release went elsewhere (to a message box that came up while the button
    // was held), and a drag never outlives its button.
    if (button == 0) {
        ListView1_MouseUp(0, shift, x, y);
        return;
    }

    // A point outside the list's item area hits no item, even where the
    // list has items scrolled out of view.
    const QPoint at(x, y);
    hitItem_ = ListView1->viewport()->rect().contains(at) ? ListView1->itemAt(at) : nullptr;

    if (dragSource_ && hitItem_ && hitItem_->text(0) != dragSource_->text(0)) {
        const QString kept = dragSource_->text(0);
        dragSource_->setText(0, hitItem_->text(0));
        hitItem_->setText(0, kept);

        // Select the item where the dragged path now stands, without the
        // list's own scrolling to the current item: only the edge rule
        // below scrolls.
        const bool autoScroll = ListView1->hasAutoScroll();
        ListView1->setAutoScroll(false);
        ListView1->setCurrentItem(hitItem_);
        ListView1->setAutoScroll(autoScroll);
        dragSource_ = hitItem_;

        // The pointer's screen row, taken from the list's top edge.
        const int screenY = (screenPointer_ ? screenPointer_() : QCursor::pos()).y();
        const int fromListTop = screenY - ListView1->mapToGlobal(QPoint(0, 0)).y();
        const int n = ListView1->indexOfTopLevelItem(hitItem_) + 1;
        if (fromListTop < kScrollUpAbove) {
            if (n >= 2)
                ListView1->scrollToItem(ItemAt(ListView1, n - 1), QAbstractItemView::EnsureVisible);
        } else if (fromListTop >= kScrollDownFrom) {
            if (n + 1 <= FileListCount(ListView1))
                ListView1->scrollToItem(ItemAt(ListView1, n + 1), QAbstractItemView::EnsureVisible);
        }
    }
    hitItem_ = nullptr;
}

void Form1::ListView1_MouseUp(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {
    dragFlag_ = false;
    SetListMousePointer(kPointerArrow);
}

void Form1::PointerOverButton() {
    if (mousePointer_ != kPointerHourglass && mousePointer_ != kPointerCustom)
        SetMousePointer(kPointerCustom);
}

void Form1::PointerOverBackground() {
    if (mousePointer_ != kPointerHourglass && mousePointer_ != kPointerDefault)
        SetMousePointer(kPointerDefault);
}
