// The window on Qt's Wayland platform under a headless weston that the suite
// starts: whatever state the compositor gives it, it lives on at its size.
#include "support/windowfixture.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

namespace {
QString g_noWeston;  // why the suite cannot run
}

class TestWayland : public QObject {
    Q_OBJECT

private slots:
    void compositorStatesLeaveTheWindowAsDesigned_data() {
        QTest::addColumn<int>("state");
        QTest::newRow("maximized") << int(Qt::WindowMaximized);
        QTest::newRow("full screen") << int(Qt::WindowFullScreen);
    }
    void compositorStatesLeaveTheWindowAsDesigned() {
        if (!g_noWeston.isEmpty())
            QSKIP(qPrintable(g_noWeston));
        QFETCH(int, state);
        WindowFixture w;
        w.start();
        w.load();
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QSize designed(Twips(8040), Twips(7860));
        const QRect list = w.form->ListView1->geometry();
        w.form->setWindowState(Qt::WindowState(state));
        // The compositor's size arrives (a window that kept its fixed size
        // would end here with a protocol error); the controls keep theirs.
        QTRY_VERIFY(w.form->width() > designed.width());
        const QSize grown = w.form->size();
        QCOMPARE(w.form->ListView1->geometry(),
                 list.translated((grown.width() - designed.width()) / 2, (grown.height() - designed.height()) / 2));
        w.form->setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(w.form->size(), designed);
        QTest::qWait(300);
        QCOMPARE(w.form->ListView1->geometry(), list);
        QVERIFY(w.form->windowHandle()->isExposed());
    }
};

int main(int argc, char* argv[]) {
    QTemporaryDir runtime;
    QProcess weston;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("weston"));
    const QString socket = runtime.path() + QStringLiteral("/brenvale-test");
    if (program.isEmpty()) {
        g_noWeston = QStringLiteral("weston is not installed (scripts/setup installs it)");
    } else {
        ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        weston.setProcessEnvironment(e);
        weston.setProcessChannelMode(QProcess::MergedChannels);
        weston.start(program, {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=brenvale-test"),
                               QStringLiteral("--idle-time=0")});
        for (int i = 0; i < 200 && !QFileInfo::exists(socket) && weston.state() != QProcess::NotRunning; ++i)
            QThread::msleep(50);
        if (!QFileInfo::exists(socket))
            g_noWeston = QStringLiteral("weston could not start: ") + QString::fromLocal8Bit(weston.readAll());
    }
    if (g_noWeston.isEmpty()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("WAYLAND_DISPLAY", "brenvale-test");
        qputenv("QT_QPA_PLATFORM", "wayland");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestWayland test;
        result = QTest::qExec(&test, argc, argv);
    }
    weston.terminate();
    weston.waitForFinished();
    return result;
}

#include "tst_wayland.moc"
