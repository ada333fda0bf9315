#pragma once
// A shown main window for the file-list suites, and the real mouse and key
// events that drive it: events go in through the window, so Qt routes them
// to the widget under the point, with the implicit grab of a held button.
#include "app/form1.h"
#include "filelist/filelist.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QScrollBar>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <memory>

struct ListWindow {
    explicit ListWindow(const QString& programFolder = BuildProgramFolder())
        : form(std::make_unique<Form1>(dialogs, programFolder)) {
        form->setEndProcessForTests([] {});
        form->Form_Load();
        form->show();
        exposed = QTest::qWaitForWindowExposed(form.get());
    }

    QWindow* window() const { return form->windowHandle(); }
    QTreeWidget* list() const { return form->ListView1; }
    QWidget* viewport() const { return form->ListView1->viewport(); }

    void add(const QStringList& paths) {
        for (const QString& path : paths)
            AddToFileList(list(), path);
    }

    QStringList texts() const {
        QStringList result;
        for (int i = 1; i <= FileListCount(list()); ++i)
            result << FileListText(list(), i);
        return result;
    }

    // The selected item's position (from 1), or 0 when none is selected.
    int selectedPosition() const {
        const QList<QTreeWidgetItem*> selected = list()->selectedItems();
        return selected.isEmpty() ? 0 : list()->indexOfTopLevelItem(selected.first()) + 1;
    }

    // The centre of item i (from 1) in the window's coordinates.
    QPoint itemPoint(int i) const {
        const QRect r = list()->visualItemRect(list()->topLevelItem(i - 1));
        return viewport()->mapTo(form.get(), r.center());
    }
    // A point of the list's item area below the last item.
    QPoint emptyPoint() const { return viewport()->mapTo(form.get(), QPoint(40, viewport()->height() - 6)); }
    // The centre of a control in the window's coordinates.
    QPoint centreOf(const QWidget* w) const { return w->mapTo(form.get(), w->rect().center()); }

    void press(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mousePress(window(), b, {}, p); }
    void move(QPoint p) { QTest::mouseMove(window(), p); }
    void release(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseRelease(window(), b, {}, p); }
    void click(QPoint p) {
        press(p);
        release(p);
    }
    void doubleClick(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseDClick(window(), b, {}, p); }
    // A key pressed while the list has the keyboard focus.
    void key(Qt::Key k) {
        list()->setFocus();
        QTest::keyClick(window(), k);
    }

    int scrollTop() const { return list()->verticalScrollBar()->value(); }

    // The list's top edge on the screen.
    int listTop() const { return list()->mapToGlobal(QPoint(0, 0)).y(); }
    // The drag reads the pointer's screen row as fromListTop pixels below the
    // list's top edge, wherever the window stands.
    void pointerRow(int fromListTop) {
        form->setScreenPointerForTests([this, fromListTop] { return QPoint(0, listTop() + fromListTop); });
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;
    bool exposed = false;
};
