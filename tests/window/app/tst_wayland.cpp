// The window and its dialogs on Qt's Wayland platform under a headless weston
// that the suite starts: a maximized or full-screen state neither ends the
// program nor reshapes the window's controls.
#include "app/dialogs.h"
#include "support/scripteddialogs.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

static QString g_noWeston;  // why the suite cannot run

class TestWayland : public QObject {
    Q_OBJECT

private slots:
    void compositorStatesKeepTheLayout() {
        if (!g_noWeston.isEmpty())
            QSKIP(qPrintable(g_noWeston));
        WindowFixture w;
        w.start();
        w.load();
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QSize designed = w.form->size();
        auto listPlace = [&w] { return w.form->ListView1->mapTo(w.form.get(), QPoint()); };
        const QPoint list = listPlace();
        for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
            w.form->setWindowState(state);
            // A window held to its fixed size would end here with a protocol error.
            QTRY_VERIFY(w.form->width() > designed.width());
            const QSize grown = w.form->size() - designed;
            QCOMPARE(listPlace(), list + QPoint(grown.width() / 2, grown.height() / 2));
            QCOMPARE(w.form->ListView1->size(), QSize(520, 169));
            w.form->setWindowState(Qt::WindowNoState);
            QTRY_COMPARE(w.form->size(), designed);
            QCOMPARE(listPlace(), list);
        }
    }

    // The window with the title bar Qt draws for it within the screen (the
    // suite runs again on a small screen: tst_wayland_200).
    void windowFitsTheScreen() {
        if (!g_noWeston.isEmpty())
            QSKIP(qPrintable(g_noWeston));
        WindowFixture w;
        w.start();
        w.load();
        w.form->show();
        const QSize screen = w.form->screen()->geometry().size();
        QTRY_COMPARE(screen.expandedTo(w.form->frameGeometry().size()), screen);
    }

    // Every kind of box the program shows, asked to fill the screen while it
    // waits for the user.
    void dialogsTakeTheCompositorsSize_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("message box") << int(ShownDialog::Message);
        QTest::newRow("input box") << int(ShownDialog::Input);
        QTest::newRow("open-file dialog") << int(ShownDialog::OpenFile);
        QTest::newRow("folder picker") << int(ShownDialog::Folder);
    }
    void dialogsTakeTheCompositorsSize() {
        QFETCH(int, kind);
        if (!g_noWeston.isEmpty())
            QSKIP(qPrintable(g_noWeston));
        WindowFixture w;
        w.start();
        QtDialogs dialogs;
        bool checked = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            const auto answer = qScopeGuard([box] { box->close(); });
            QVERIFY(QTest::qWaitForWindowExposed(box));
            const QSize own = box->size();
            for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
                box->setWindowState(state);
                QTRY_VERIFY(box->width() > own.width() && box->height() > own.height());
                // Back to a size of its own (Qt may leave a resizable window
                // short of its old size by the title bar).
                const QSize filled = box->size();
                box->setWindowState(Qt::WindowNoState);
                QTRY_VERIFY(box->width() < filled.width() && box->height() < filled.height());
            }
            checked = true;
        });
        switch (kind) {
            case ShownDialog::Message:
                dialogs.MsgBox(QStringLiteral("Convert all files?"), vbYesNo);
                break;
            case ShownDialog::Input:
                dialogs.InputBox(QStringLiteral("Extension:"), QString(), QStringLiteral("wma"));
                break;
            case ShownDialog::OpenFile:
                dialogs.ShowOpen(OpenFileRequest{QString(), 0, QStringLiteral("Add"),
                                                 QStringLiteral("Wma Files (*.wma)|*.wma|"), 30000});
                break;
            default:
                dialogs.PickFolder(QStringLiteral("Please select folder:"), QDir::homePath());
        }
        QVERIFY(checked);
    }
};

int main(int argc, char* argv[]) {
    QTemporaryDir runtime;  // private, as Wayland wants it
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString socket = runtime.path() + QStringLiteral("/brenvale-test");
    QProcess weston;
    weston.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList screen = qEnvironmentVariable("BRENVALE_TEST_SCREEN").split(' ', Qt::SkipEmptyParts);
    weston.start("weston", QStringList{"--backend=headless-backend.so", "--socket=brenvale-test"} + screen);
    for (int i = 0; i < 200 && !QFileInfo::exists(socket) && weston.state() != QProcess::NotRunning; ++i)
        QThread::msleep(50);
    g_noWeston = QFileInfo::exists(socket)
                     ? QString()
                     : "weston could not start: " + weston.errorString() + weston.readAll();
    qputenv("WAYLAND_DISPLAY", "brenvale-test");
    // Qt's Wayland input method reads the seat, which a headless weston has
    // none of: a focused line edit would crash it while drawing its cursor.
    qputenv("QT_IM_MODULE", "compose");
    qputenv("QT_QPA_PLATFORM", g_noWeston.isEmpty() ? "wayland" : "offscreen");
    QApplication app(argc, argv);
    TestWayland test;
    return QTest::qExec(&test, argc, argv);  // weston ends with its QProcess, after the window
}

#include "tst_wayland.moc"
