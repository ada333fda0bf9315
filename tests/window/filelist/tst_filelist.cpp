// Through the window: the add operation, removal by the Delete key
// and by a double-click, "Clear List" with its hourglass guard, reordering by
// dragging, and the pointer feedback of the whole window.
#include "listwindow.h"

#include "app/dialogs.h"

#include <QCursor>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolTip>

namespace {

const QStringList kThree = {QStringLiteral("/music/one.wma"), QStringLiteral("/music/two.wma"),
                            QStringLiteral("/music/three.wma")};

// A row of the pointer between the two edge-scrolling rows, taken from the
// list's top edge: a drag step there never scrolls.
constexpr int kDeadBand = 77;

// The edge-scrolling row that stands for the pointer's real place.
constexpr int kOnTheItem = -100000;

QStringList Numbered(int count) {
    QStringList paths;
    for (int i = 1; i <= count; ++i)
        paths << QStringLiteral("/music/track%1.wma").arg(i, 2, 10, QLatin1Char('0'));
    return paths;
}

}  // namespace

class TestFileList : public QObject {
    Q_OBJECT

private slots:
    void init() { env_ = std::make_unique<TestEnvironment>(); }
    void cleanup() { env_.reset(); }

    // --- The add operation -------------------------------------------------

    void addAppendsWithoutAnyTest() {
        ListWindow w;
        QVERIFY(w.exposed);
        QCOMPARE(FileListCount(w.list()), 0);
        w.add({QStringLiteral("/a/x.wma"), QStringLiteral("not even a path"), QStringLiteral("/a/x.wma")});
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/a/x.wma"), QStringLiteral("not even a path"),
                                         QStringLiteral("/a/x.wma")}));
        // No selection change, no message, the header unchanged.
        QCOMPARE(w.selectedPosition(), 0);
        QVERIFY(w.dialogs.shown.isEmpty());
        QCOMPARE(w.list()->headerItem()->text(0), QStringLiteral(" WMA File(s)"));
        QVERIFY(
            w.list()->toolTip().startsWith(QStringLiteral("Drag and drop files here. Double-click item")));
    }

    // Tracks of one album deep in folders, and the same track of another
    // user's album: each item keeps its whole path, the column fills the
    // list, and the middle of a long path gives way, so that items differing
    // only at either end still look different. Resting the pointer on an
    // item shows its whole path.
    void longPathsShowBothEnds() {
        ListWindow w;
        QVERIFY(w.exposed);
        const QString folders = QStringLiteral("/Music/Some Artist With A Long Name/The Album Of The Year "
                                               "(Deluxe Edition)/Disc 1/Bonus Tracks/");
        const QStringList paths = {QStringLiteral("/home/ann") + folders + QStringLiteral("07 Song.wma"),
                                   QStringLiteral("/home/ann") + folders + QStringLiteral("08 Song.wma"),
                                   QStringLiteral("/home/bob") + folders + QStringLiteral("07 Song.wma")};
        w.add(paths);
        QCOMPARE(w.texts(), paths);
        QCOMPARE(w.list()->columnWidth(0), w.viewport()->width());
        QList<QImage> rows;
        for (int i = 0; i < paths.size(); ++i) {
            const QRect row = w.list()->visualItemRect(w.list()->topLevelItem(i));
            rows << w.viewport()->grab(row).toImage();
            QHelpEvent rest(QEvent::ToolTip, row.center(), w.viewport()->mapToGlobal(row.center()));
            QApplication::sendEvent(w.viewport(), &rest);
            QCOMPARE(QToolTip::text(), paths[i]);
            QToolTip::hideText();
        }
        QVERIFY(rows[0] != rows[1]);
        QVERIFY(rows[0] != rows[2]);
    }

    void samePathTwiceThenOneRemoved() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add({QStringLiteral("/m/song.wma"), QStringLiteral("/m/song.wma")});
        QCOMPARE(FileListCount(w.list()), 2);
        w.click(w.itemPoint(2));
        QCOMPARE(w.selectedPosition(), 2);
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/m/song.wma")}));
    }

    // --- Removal ------------------------------------------------------------

    void deleteKeyRemovesTheSelectedItem() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(2));
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), QStringList({kThree[0], kThree[2]}));
        QVERIFY(w.dialogs.shown.isEmpty());
        // The selection does not pass to a neighbour: pressing Delete again
        // removes nothing more.
        QCOMPARE(w.selectedPosition(), 0);
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), QStringList({kThree[0], kThree[2]}));
    }

    void deleteOnEmptyListDoesNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.key(Qt::Key_Delete);
        QCOMPARE(FileListCount(w.list()), 0);
        w.form->ListView1_KeyDown(46, 0);
        QCOMPARE(FileListCount(w.list()), 0);
        QVERIFY(w.dialogs.shown.isEmpty());
    }

    void deleteWithNoSelectionDoesNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        QCOMPARE(w.selectedPosition(), 0);
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), kThree);
        // A selection that was cleared again counts as none.
        w.click(w.itemPoint(1));
        w.list()->clearSelection();
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), kThree);
        QVERIFY(w.dialogs.shown.isEmpty());
    }

    void otherKeysRemoveNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(1));
        w.key(Qt::Key_Backspace);
        w.form->ListView1_KeyDown(8, 0);
        w.key(Qt::Key_Insert);
        w.key(Qt::Key_Period);  // key code 46 as a character is not the Delete key
        QCOMPARE(w.texts(), kThree);
        // The shift state is not looked at.
        w.list()->setFocus();
        QTest::keyClick(w.window(), Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(FileListCount(w.list()), 2);
    }

    void doubleClickRemovesTheItemUnderThePointer_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("removes");
        QTest::newRow("left button") << Qt::LeftButton << true;
        QTest::newRow("right button") << Qt::RightButton << false;
        QTest::newRow("middle button") << Qt::MiddleButton << false;
    }
    void doubleClickRemovesTheItemUnderThePointer() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, removes);
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.doubleClick(w.itemPoint(3), button);
        QCOMPARE(w.texts(), removes ? QStringList({kThree[0], kThree[1]}) : kThree);
        w.doubleClick(w.itemPoint(1), button);
        QCOMPARE(w.texts(), removes ? QStringList({kThree[1]}) : kThree);
        QVERIFY(w.dialogs.shown.isEmpty());
        // The release after the double-click ends the drag.
        QCOMPARE(w.form->ListMousePointer(), 1);
    }

    void doubleClickOnEmptySpaceRemovesNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(2));
        w.doubleClick(w.emptyPoint());
        QCOMPARE(w.texts(), kThree);
    }

    void clearListEmptiesTheList() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(Numbered(12));
        w.click(w.itemPoint(3));
        QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), 0);
        QCOMPARE(w.list()->headerItem()->text(0), QStringLiteral(" WMA File(s)"));
        QCOMPARE(w.list()->columnCount(), 1);
        QVERIFY(w.dialogs.shown.isEmpty());
        // Clearing an empty list is harmless.
        QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), 0);
        // New items join an empty list at position 1.
        w.add({QStringLiteral("/again.wma")});
        QCOMPARE(w.texts(), QStringList({QStringLiteral("/again.wma")}));
    }

    void hourglassRefusesRemovalAndClearingUntilItEnds() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(2));
        w.form->SetMousePointer(kPointerHourglass);

        w.key(Qt::Key_Delete);
        w.doubleClick(w.itemPoint(2));
        QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        w.form->ListView1_DblClick();
        w.form->PushButton8_Click();
        QCOMPARE(w.texts(), kThree);
        QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));
        QCOMPARE(w.form->cursor().shape(), Qt::WaitCursor);
        QVERIFY(w.dialogs.shown.isEmpty());

        // The drag reordering is not refused in the hourglass state.
        w.press(w.itemPoint(1));
        w.move(w.itemPoint(2));
        w.release(w.itemPoint(2));
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[0], kThree[2]}));
        QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));

        // The command that set the hourglass sets 0 again: everything works.
        w.form->SetMousePointer(kPointerDefault);
        w.click(w.itemPoint(3));
        w.key(Qt::Key_Delete);
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[0]}));
        w.doubleClick(w.itemPoint(1));
        QCOMPARE(w.texts(), QStringList({kThree[0]}));
        w.add(kThree);
        QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        QCOMPARE(FileListCount(w.list()), 0);
    }

    void navigationKeysSelectTheItemTheyLandOn_data() {
        QTest::addColumn<int>("removed");  // the focus passes to its neighbour; 0: the list clicked instead
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("selected");
        QTest::newRow("Home onto the focused first item") << 1 << int(Qt::Key_Home) << 1;
        QTest::newRow("Up at the top") << 1 << int(Qt::Key_Up) << 1;
        QTest::newRow("Left") << 1 << int(Qt::Key_Left) << 1;
        QTest::newRow("Right") << 1 << int(Qt::Key_Right) << 1;
        QTest::newRow("End onto the focused last item") << 4 << int(Qt::Key_End) << 3;
        QTest::newRow("Down at the bottom") << 4 << int(Qt::Key_Down) << 3;
        QTest::newRow("Down onto the next item") << 2 << int(Qt::Key_Down) << 3;
        QTest::newRow("Home onto another item") << 3 << int(Qt::Key_Home) << 1;
        QTest::newRow("Shift+Tab back into the list") << 2 << int(Qt::Key_Backtab) << 2;
        QTest::newRow("End with no item focused") << 0 << int(Qt::Key_End) << 4;
    }
    void navigationKeysSelectTheItemTheyLandOn() {
        QFETCH(int, removed);
        QFETCH(int, key);
        QFETCH(int, selected);
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree + QStringList{QStringLiteral("/music/four.wma")});
        w.click(removed > 0 ? w.itemPoint(removed) : w.emptyPoint());
        if (removed > 0)
            w.key(Qt::Key_Delete);
        QCOMPARE(w.selectedPosition(), 0);  // a removal leaves nothing selected
        if (key == Qt::Key_Backtab) {
            w.form->PushButton1->setFocus();
            QTest::keyClick(w.window(), Qt::Key_Backtab);
        } else {
            w.key(Qt::Key(key));
        }
        QCOMPARE(w.selectedPosition(), selected);
        QCOMPARE(w.list()->selectedItems().size(), 1);
    }

    // --- Reordering by dragging ---------------------------------------------

    void eventOrderOfAPressOnAnItem() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        QCOMPARE(w.form->ListMousePointer(), int(kPointerDefault));
        // The press runs MouseDown and then ItemClick: the drag pointer shows
        // while the button is held, and the pressed item is the selected one.
        w.press(w.itemPoint(1));
        QCOMPARE(w.form->ListMousePointer(), int(kPointerCustom));
        QCOMPARE(w.viewport()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(w.selectedPosition(), 1);
        // The first move over another item is already a drag step.
        w.move(w.itemPoint(2));
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[0], kThree[2]}));
        w.release(w.itemPoint(2));
        QCOMPARE(w.form->ListMousePointer(), int(kPointerArrow));
        QCOMPARE(w.viewport()->cursor().shape(), Qt::ArrowCursor);
        // After the release a move carries nothing.
        w.move(w.itemPoint(3));
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[0], kThree[2]}));
    }

    void lostReleaseEndsTheDrag() {
        // A message box that comes up while the button is held on the list
        // takes the release; moving over the list afterwards carries nothing.
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.itemPoint(1));
        QCOMPARE(w.form->ListMousePointer(), int(kPointerCustom));
        {
            QWidget box;
            box.setWindowModality(Qt::ApplicationModal);
            box.resize(100, 60);
            box.show();
            QVERIFY(QTest::qWaitForWindowExposed(&box));
            QTest::mouseRelease(box.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
        }
        w.move(w.itemPoint(2));
        w.move(w.itemPoint(3));
        QCOMPARE(w.texts(), kThree);
        QCOMPARE(w.form->ListMousePointer(), int(kPointerArrow));
        QCOMPARE(w.viewport()->cursor().shape(), Qt::ArrowCursor);
        // The next drag works as ever.
        w.press(w.itemPoint(3));
        w.move(w.itemPoint(2));
        w.release(w.itemPoint(2));
        QCOMPARE(w.texts(), QStringList({kThree[0], kThree[2], kThree[1]}));
    }

    void slowDragOfTheFirstOfThree() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        const QPoint p1 = w.itemPoint(1), p2 = w.itemPoint(2), p3 = w.itemPoint(3);
        w.press(p1);
        w.move(p1 + QPoint(0, 2));  // within the same item: nothing
        QCOMPARE(w.texts(), kThree);
        w.move(p2);
        w.move(p2 + QPoint(5, 1));  // the dragged path is under the pointer now
        w.move(p3);
        w.release(p3);
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[2], kThree[0]}));
        QCOMPARE(w.selectedPosition(), 3);
        QCOMPARE(w.list()->currentItem(), w.list()->topLevelItem(2));
        QCOMPARE(w.list()->selectedItems().size(), 1);
    }

    void jumpFromTheFirstOntoTheThird() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.itemPoint(1));
        w.move(w.itemPoint(3));
        w.release(w.itemPoint(3));
        QCOMPARE(w.texts(), QStringList({kThree[2], kThree[1], kThree[0]}));
        QCOMPARE(w.selectedPosition(), 3);
    }

    void dragUpwards() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.itemPoint(3));
        w.move(w.itemPoint(2));
        w.move(w.itemPoint(1));
        w.release(w.itemPoint(1));
        QCOMPARE(w.texts(), QStringList({kThree[2], kThree[0], kThree[1]}));
        QCOMPARE(w.selectedPosition(), 1);
    }

    void itemWithTheSameTextExchangesNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.pointerRow(46);  // where the item before would scroll into view
        QStringList paths = Numbered(30);
        paths[10] = paths[9];  // items 10 and 11 hold the same path
        w.add(paths);
        w.list()->scrollToItem(w.list()->topLevelItem(9), QAbstractItemView::PositionAtTop);
        const int top = w.scrollTop();
        QVERIFY(top > 0);
        w.press(w.itemPoint(11));
        w.move(w.itemPoint(10));
        w.release(w.itemPoint(10));
        QCOMPARE(w.texts(), paths);
        QCOMPARE(w.scrollTop(), top);  // no exchange, no scrolling
        QCOMPARE(w.selectedPosition(), 11);
    }

    void movesWithoutAPressDoNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(1));
        w.move(w.itemPoint(2));
        w.move(w.itemPoint(3));
        QCOMPARE(w.texts(), kThree);
    }

    void pressOnEmptySpaceMovesTheItemClickedLast() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(1));
        w.press(w.emptyPoint());
        w.move(w.itemPoint(3));
        w.release(w.itemPoint(3));
        QCOMPARE(w.texts(), QStringList({kThree[2], kThree[1], kThree[0]}));
        QCOMPARE(w.selectedPosition(), 3);
        // The source followed the dragged path: the next such drag carries
        // it on.
        w.press(w.emptyPoint());
        w.move(w.itemPoint(2));
        w.release(w.itemPoint(2));
        QCOMPARE(w.texts(), QStringList({kThree[2], kThree[0], kThree[1]}));
    }

    void pressOnEmptySpaceBeforeAnyItemClickDoesNothing() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.emptyPoint());
        w.move(w.itemPoint(2));
        w.move(w.itemPoint(1));
        w.release(w.itemPoint(1));
        QCOMPARE(w.texts(), kThree);
        QCOMPARE(w.form->ListMousePointer(), int(kPointerArrow));
    }

    void removedSourceIsForgotten_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Delete key") << "delete";
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("Clear List") << "clear";
    }
    void removedSourceIsForgotten() {
        QFETCH(QString, how);
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.click(w.itemPoint(1));
        if (how == QLatin1String("delete"))
            w.key(Qt::Key_Delete);
        else if (how == QLatin1String("double-click"))
            w.doubleClick(w.itemPoint(1));
        else
            QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        w.add({QStringLiteral("/new/a.wma"), QStringLiteral("/new/b.wma")});
        const QStringList before = w.texts();
        // A drag that starts on empty space has no source any more.
        w.press(w.emptyPoint());
        for (int i = 1; i <= FileListCount(w.list()); ++i)
            w.move(w.itemPoint(i));
        w.release(w.emptyPoint());
        QCOMPARE(w.texts(), before);
    }

    void removalDuringAPressedDragForgetsTheSource() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.itemPoint(1));
        w.key(Qt::Key_Delete);  // removes the pressed, selected item
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[2]}));
        w.move(w.itemPoint(2));
        w.move(w.itemPoint(1));
        w.release(w.itemPoint(1));
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[2]}));
    }

    void edgeScrollingByScreenRow_data() {
        QTest::addColumn<int>("row");  // pixels below the list's top edge; kOnTheItem: the item's own row
        QTest::addColumn<bool>("upwards");  // drag onto the top row, else the bottom row
        QTest::addColumn<int>("scrollChange");
        QTest::addColumn<int>("windowTop");  // where the window stands; -1 where it opened
        QTest::newRow("46 up") << 46 << true << -1 << -1;
        QTest::newRow("47 up") << 47 << true << 0 << -1;
        QTest::newRow("106 up") << 106 << true << 0 << -1;
        QTest::newRow("107 up") << 107 << true << 0 << -1;  // the item after is in view already
        QTest::newRow("far above up") << -400 << true << -1 << -1;
        QTest::newRow("46 down") << 46 << false << 0 << -1;  // the item before is in view already
        QTest::newRow("47 down") << 47 << false << 0 << -1;
        QTest::newRow("106 down") << 106 << false << 0 << -1;
        QTest::newRow("107 down") << 107 << false << 1 << -1;
        QTest::newRow("far below down") << 2000 << false << 1 << -1;
        // On any screen and at any window position, the pointer on the top
        // visible item scrolls up and on the bottom one scrolls down.
        for (int top : {0, 258, 420, 900}) {
            const QByteArray at = " with the window at row " + QByteArray::number(top);
            QTest::newRow(("onto the top item" + at).constData()) << kOnTheItem << true << -1 << top;
            QTest::newRow(("onto the bottom item" + at).constData()) << kOnTheItem << false << 1 << top;
        }
    }
    void edgeScrollingByScreenRow() {
        QFETCH(int, row);
        QFETCH(bool, upwards);
        QFETCH(int, scrollChange);
        QFETCH(int, windowTop);
        ListWindow w;
        QVERIFY(w.exposed);
        if (windowTop >= 0) {
            w.form->move(w.form->x(), windowTop);
            QTRY_COMPARE(w.form->frameGeometry().top(), windowTop);
        }
        QPoint pointer;  // the pointer's place in the window
        if (row == kOnTheItem)
            w.form->setScreenPointerForTests([&] { return w.form->mapToGlobal(pointer); });
        else
            w.pointerRow(row);
        w.add(Numbered(40));
        w.list()->scrollToItem(w.list()->topLevelItem(14), QAbstractItemView::PositionAtTop);
        const int top = w.scrollTop();
        QCOMPARE(top, 14);  // the list scrolls item by item
        // The rows wholly in view: top + 1 .. top + visible.
        int visible = 0;
        while (w.viewport()->rect().contains(w.list()->visualItemRect(w.list()->topLevelItem(top + visible))))
            ++visible;
        QVERIFY(visible >= 4);
        const int topItem = top + 1;
        const int bottomItem = top + visible;
        const int from = upwards ? topItem + 1 : bottomItem - 1;
        const int onto = upwards ? topItem : bottomItem;
        const QStringList before = w.texts();

        w.press(w.itemPoint(from));
        pointer = w.itemPoint(onto);
        w.move(pointer);
        QCOMPARE(w.scrollTop(), top + scrollChange);
        w.release(w.itemPoint(onto));
        QCOMPARE(w.texts()[onto - 1], before[from - 1]);
        QCOMPARE(w.texts()[from - 1], before[onto - 1]);
        QCOMPARE(w.selectedPosition(), onto);
    }

    void noScrollingAtTheEndsOfTheList_data() {
        QTest::addColumn<int>("row");
        QTest::newRow("46 onto the first") << 46;
        QTest::newRow("107 onto the last") << 107;
    }
    void noScrollingAtTheEndsOfTheList() {
        QFETCH(int, row);
        ListWindow w;
        QVERIFY(w.exposed);
        w.pointerRow(row);
        w.add(kThree);
        const int from = 2;
        const int onto = row < 47 ? 1 : 3;
        w.press(w.itemPoint(from));
        w.move(w.itemPoint(onto));
        w.release(w.itemPoint(onto));
        QCOMPARE(w.selectedPosition(), onto);
        QCOMPARE(w.scrollTop(), 0);
        QVERIFY(w.dialogs.shown.isEmpty());
    }

    void screenRowIsReadFromThePointer_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("scrollChange");
        QTest::newRow("above the upper row") << 20 << -1;
        QTest::newRow("between") << kDeadBand << 0;
        QTest::newRow("from the lower row") << 2000 << 1;
    }
    void screenRowIsReadFromThePointer() {
        // Without the seam the row comes from QCursor::pos(), the pointer's
        // place on the screen, and not from the event's place in the list;
        // row counts from the list's top edge.
        QFETCH(int, row);
        QFETCH(int, scrollChange);
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(Numbered(40));
        w.list()->scrollToItem(w.list()->topLevelItem(14), QAbstractItemView::PositionAtTop);
        const int top = w.scrollTop();
        QCursor::setPos(QPoint(3, w.listTop() + row));
        if (QCursor::pos().y() != w.listTop() + row)
            QSKIP("this platform does not let the test place the pointer");
        // A drag from the second row onto the top row, and one from the
        // next-to-last row onto the last row wholly in view.
        int visible = 0;
        while (w.viewport()->rect().contains(w.list()->visualItemRect(w.list()->topLevelItem(top + visible))))
            ++visible;
        const bool upwards = scrollChange < 0;
        const int from = upwards ? top + 2 : top + visible - 1;
        const int onto = upwards ? top + 1 : top + visible;
        w.press(w.itemPoint(from));
        w.move(w.itemPoint(onto));
        w.release(w.itemPoint(onto));
        QCOMPARE(w.selectedPosition(), onto);
        QCOMPARE(w.scrollTop(), top + scrollChange);
        QCursor::setPos(QPoint(3, w.listTop() + kDeadBand));
    }

    void exchangeOntoAPartlyShownRowDoesNotScrollByItself() {
        // Selecting the dragged path's new place must not scroll the list:
        // between the two edge-scrolling rows nothing scrolls, even onto a row that is
        // only partly in view.
        ListWindow w;
        QVERIFY(w.exposed);
        w.pointerRow(kDeadBand);
        w.add(Numbered(40));
        const QRect area = w.viewport()->rect();
        int partly = 0;
        for (int i = 1; i <= 40 && !partly; ++i) {
            const QRect r = w.list()->visualItemRect(w.list()->topLevelItem(i - 1));
            if (r.intersects(area) && !area.contains(r))
                partly = i;
        }
        if (!partly)
            QSKIP("the item area holds a whole number of rows");
        const QRect r = w.list()->visualItemRect(w.list()->topLevelItem(partly - 1));
        const QPoint onto =
            w.viewport()->mapTo(w.form.get(), QPoint(r.center().x(), (r.top() + area.bottom()) / 2));
        w.press(w.itemPoint(partly - 1));
        w.move(onto);
        QCOMPARE(w.selectedPosition(), partly);
        QCOMPARE(w.scrollTop(), 0);
        QTest::qWait(QApplication::doubleClickInterval() + 300);
        QCOMPARE(w.scrollTop(), 0);
        w.release(onto);
        QCOMPARE(w.scrollTop(), 0);
    }

    void movesOutsideTheItemAreaHitNothing() {
        // Rows scrolled out of view lie above and below the item area; a
        // move there (over the header, or below the list) hits no item.
        ListWindow w;
        QVERIFY(w.exposed);
        w.pointerRow(kDeadBand);
        w.add(Numbered(40));
        w.list()->scrollToItem(w.list()->topLevelItem(14), QAbstractItemView::PositionAtTop);
        const QStringList before = w.texts();
        const int top = w.scrollTop();
        w.press(w.itemPoint(top + 1));
        const QPoint header = w.centreOf(w.list()->header());
        w.move(header);
        w.move(header - QPoint(0, 30));  // above the list, still held
        const QPoint below = w.viewport()->mapTo(w.form.get(), QPoint(40, w.viewport()->height() + 30));
        w.move(below);
        w.release(below);
        QCOMPARE(w.texts(), before);
        QCOMPARE(w.scrollTop(), top);
    }

    void listsOwnAutoScrollDoesNotFightTheDrag() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.pointerRow(kDeadBand);  // no edge scrolling
        w.add(Numbered(40));
        w.list()->scrollToItem(w.list()->topLevelItem(14), QAbstractItemView::PositionAtTop);
        const int top = w.scrollTop();
        // Hold the pointer right at the bottom edge of the item area, where
        // the list would scroll by itself during a drag selection.
        const QPoint edge = w.viewport()->mapTo(w.form.get(), QPoint(40, w.viewport()->height() - 2));
        w.press(w.itemPoint(top + 2));
        w.move(edge);
        w.move(edge + QPoint(1, 0));
        QTest::qWait(QApplication::doubleClickInterval() + 400);
        QCOMPARE(w.scrollTop(), top);
        w.release(edge);
        QCOMPARE(w.list()->selectedItems().size(), 1);
    }

    void dragPointerWithoutDragIcoIsTheArrow() {
        QTemporaryDir bare;  // a program folder without "drag.ico"
        ListWindow w(bare.path());
        QVERIFY(w.exposed);
        w.add(kThree);
        w.press(w.itemPoint(1));
        QCOMPARE(w.form->ListMousePointer(), int(kPointerCustom));
        QCOMPARE(w.viewport()->cursor().shape(), Qt::ArrowCursor);
        w.move(w.itemPoint(2));
        w.release(w.itemPoint(2));
        QCOMPARE(w.texts(), QStringList({kThree[1], kThree[0], kThree[2]}));
        QCOMPARE(w.form->ListMousePointer(), int(kPointerArrow));
        QVERIFY(w.dialogs.shown.isEmpty());
    }

    void dragPointerIsTheProgramsDragIco() {
        ListWindow w;
        QVERIFY(w.exposed);
        QVERIFY(QFileInfo::exists(BuildProgramFolder() + QStringLiteral("/drag.ico")));
        w.add(kThree);
        w.press(w.itemPoint(2));
        const QCursor shown = w.viewport()->cursor();
        QCOMPARE(shown.shape(), Qt::BitmapCursor);
        QCOMPARE(shown.pixmap().size(), QSize(32, 32));
        QCOMPARE(shown.hotSpot(), QPoint(0, 0));
        w.release(w.itemPoint(2));
    }

    // --- Pointer feedback ---------------------------------------------------

    void handOverButtonsDefaultElsewhere() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        QCOMPARE(w.form->MousePointer(), int(kPointerDefault));
        const QList<QPushButton*> buttons = {w.form->PushButton1, w.form->PushButton2, w.form->PushButton3,
                                             w.form->PushButton4, w.form->PushButton8, w.form->PushButton9};
        QList<QWidget*> rest = {w.form->Frame1,  w.form->Frame2,    w.form->Frame5,  w.form->Option1,
                                w.form->Option2, w.form->Option3,   w.form->Option4, w.form->Text1,
                                w.viewport(),    w.list()->header()};
        for (QPushButton* button : buttons) {
            for (QWidget* other : rest) {
                w.move(w.centreOf(button));
                QVERIFY2(w.form->MousePointer() == kPointerCustom, qPrintable(button->objectName()));
                if (w.form->HasCustomPointerImage())
                    QCOMPARE(w.form->cursor().shape(), Qt::BitmapCursor);
                QPoint p = w.centreOf(other);
                if (other == w.form->Frame1 || other == w.form->Frame5)
                    p = other->mapTo(w.form.get(), QPoint(other->width() - 4, other->height() - 4));
                if (other == w.form->Frame2)
                    p = other->mapTo(w.form.get(), QPoint(4, other->height() - 4));
                w.move(p);
                QVERIFY2(w.form->MousePointer() == kPointerDefault,
                         qPrintable(button->objectName() + QLatin1Char(' ') + other->objectName()));
            }
        }
        // The window background between the controls.
        w.move(w.centreOf(w.form->PushButton1));
        w.move(QPoint(2, 2));
        QCOMPARE(w.form->MousePointer(), int(kPointerDefault));
        QCOMPARE(w.form->cursor().shape(), Qt::ArrowCursor);
    }

    void disabledOutputFolderButtonGivesNoHand() {
        ListWindow w;
        QVERIFY(w.exposed);
        QTest::mouseClick(w.form->Option4, Qt::LeftButton);
        QVERIFY(!w.form->PushButton4->isEnabled());
        w.move(w.centreOf(w.form->PushButton4));
        QCOMPARE(w.form->MousePointer(), int(kPointerDefault));
        w.move(w.centreOf(w.form->PushButton9));
        QCOMPARE(w.form->MousePointer(), int(kPointerCustom));
        w.move(w.centreOf(w.form->PushButton4));
        QCOMPARE(w.form->MousePointer(), int(kPointerDefault));
    }

    void hourglassStaysWhereverThePointerPasses() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.form->SetMousePointer(kPointerHourglass);
        for (QWidget* target :
             {static_cast<QWidget*>(w.form->PushButton1), static_cast<QWidget*>(w.form->PushButton4),
              w.viewport(), static_cast<QWidget*>(w.form->Option2),
              static_cast<QWidget*>(w.form->PushButton2), static_cast<QWidget*>(w.form->Text1)}) {
            w.move(w.centreOf(target));
            QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));
            QCOMPARE(w.form->cursor().shape(), Qt::WaitCursor);
        }
        w.move(QPoint(2, 2));
        QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));
        // A drag in the list during the hourglass leaves it standing.
        w.press(w.itemPoint(1));
        w.move(w.itemPoint(2));
        w.release(w.itemPoint(2));
        QCOMPARE(w.form->MousePointer(), int(kPointerHourglass));
        w.form->SetMousePointer(kPointerDefault);
        w.move(w.centreOf(w.form->PushButton2));
        QCOMPARE(w.form->MousePointer(), int(kPointerCustom));
    }

    void listMovesSetTheDefaultWhileDragging() {
        ListWindow w;
        QVERIFY(w.exposed);
        w.add(kThree);
        w.move(w.centreOf(w.form->PushButton8));
        QCOMPARE(w.form->MousePointer(), int(kPointerCustom));
        w.press(w.itemPoint(1));
        w.move(w.itemPoint(2));
        QCOMPARE(w.form->MousePointer(), int(kPointerDefault));
        w.release(w.itemPoint(2));
    }

private:
    std::unique_ptr<TestEnvironment> env_;
};

QTEST_MAIN(TestFileList)
#include "tst_filelist.moc"
