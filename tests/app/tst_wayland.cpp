// The window on Qt's Wayland platform under a headless weston that the suite
// starts: a maximized or full-screen state neither ends nor reshapes it.
#include "support/windowfixture.h"

#include <QApplication>
#include <QProcess>
#include <QThread>
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
        const QRect list = w.form->ListView1->geometry();
        for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowFullScreen}) {
            w.form->setWindowState(state);
            // A window held to its fixed size would end here with a protocol error.
            QTRY_VERIFY(w.form->width() > designed.width());
            const QSize grown = w.form->size() - designed;
            QCOMPARE(w.form->ListView1->geometry(), list.translated(grown.width() / 2, grown.height() / 2));
            w.form->setWindowState(Qt::WindowNoState);
            QTRY_COMPARE(w.form->size(), designed);
            QCOMPARE(w.form->ListView1->geometry(), list);
        }
    }
};

int main(int argc, char* argv[]) {
    QTemporaryDir runtime;  // private, as Wayland wants it
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString socket = runtime.path() + QStringLiteral("/brenvale-test");
    QProcess weston;
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.start(QStringLiteral("weston"), {"--backend=headless-backend.so", "--socket=brenvale-test"});
    for (int i = 0; i < 200 && !QFileInfo::exists(socket) && weston.state() != QProcess::NotRunning; ++i)
        QThread::msleep(50);
    g_noWeston = QFileInfo::exists(socket)
                     ? QString()
                     : "weston could not start: " + weston.errorString() + weston.readAll();
    qputenv("WAYLAND_DISPLAY", "brenvale-test");
    qputenv("QT_QPA_PLATFORM", g_noWeston.isEmpty() ? "wayland" : "offscreen");
    QApplication app(argc, argv);
    TestWayland test;
    return QTest::qExec(&test, argc, argv);  // weston ends with its QProcess, after the window
}

#include "tst_wayland.moc"
