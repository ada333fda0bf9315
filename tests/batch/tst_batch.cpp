// brenvale --convert on a small tree, run as a user runs it: no display.
#include "../convert/mp3check.h"
#include "support/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QtTest>

#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <signal.h>

namespace {

const QString kMedia = QStringLiteral(BRENVALE_TESTMEDIA_DIR "/");

// The results under root, relative to it, sorted.
QStringList Results(const QString& root) {
    QStringList found;
    QDirIterator it(root, {"*.mp3", "*.wav", ".*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env_;
    QString lib_, out_;

    void start(QProcess& p, const QStringList& args) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            e.remove(name);
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(env_->root());
        p.start(BRENVALE_EXECUTABLE, QStringList{"--convert"} + args);
        QVERIFY(p.waitForStarted());
    }
    QStringList jobFolders() const { return QDir(env_->work()).entryList({"batch-job-*"}, QDir::AllEntries); }

private slots:
    void init() {
        env_ = std::make_unique<TestEnvironment>();
        lib_ = env_->root() + "/lib";
        out_ = env_->root() + "/out";
        const QStringList tree = {"wmav2_stereo_44100_title.wma:A/one.wma", "tags_all.wma:A/B/Song.WMA",
                                  "wmav2_stereo_44100_title.wma:C/one.wma", "drm_protected.wma:drm.wma",
                                  "truncated_mid_data.wma:A/bad.wma",       "mp3_renamed.wma:ren.wma"};
        for (const QString& entry : tree) {
            const QStringList parts = entry.split(':');
            QDir().mkpath(QFileInfo(lib_ + "/" + parts[1]).path());
            QVERIFY(QFile::copy(kMedia + parts[0], lib_ + "/" + parts[1]));
        }
    }

    void convert_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("rerun");  // a second run's options, if any
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("summary");

        const QStringList kept = {"out/A/B/Song.mp3", "out/A/one.mp3", "out/C/one.mp3"};
        const QString failedThree = ", failed: 3.";
        QTest::newRow("keep folders")
            << QStringList{"--jobs", "2", "--keep-folders", "-o", "out", "lib"} << QStringList() << 1 << kept
            << "Converted: 3, skipped: 0" + failedThree;
        QTest::newRow("one folder numbers a second name")
            << QStringList{"--jobs=2", "--output", "out", "lib"} << QStringList() << 1
            << QStringList{"out/Song.mp3", "out/one (2).mp3", "out/one.mp3"}
            << "Converted: 3, skipped: 0" + failedThree;
        QTest::newRow("beside the sources, wav")
            << QStringList{"--to", "wav", "lib/A/B", "lib/C/one.wma"} << QStringList() << 0
            << QStringList{"lib/A/B/Song.wav", "lib/C/one.wav"} << "Converted: 2, skipped: 0, failed: 0.";
        QTest::newRow("skip existing on a re-run")
            << QStringList{"--keep-folders", "-o", "out", "lib"} << QStringList{"--skip-existing"} << 1
            << kept << "Converted: 0, skipped: 3" + failedThree;
        QTest::newRow("a re-run replaces its earlier results")
            << QStringList{"--keep-folders", "-o", "out", "--vbr", "4", "lib"} << QStringList() << 1 << kept
            << "Converted: 3, skipped: 0" + failedThree;
        QTest::newRow("bad value") << QStringList{"--jobs", "0", "lib"} << QStringList() << 2 << QStringList()
                                   << "Usage: brenvale --convert";
        QTest::newRow("bitrate and vbr")
            << QStringList{"--bitrate", "128", "--vbr", "2", "lib"} << QStringList() << 2 << QStringList()
            << "Usage: brenvale --convert";
    }
    void convert() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, rerun);
        QFETCH(int, status);
        QFETCH(QStringList, results);
        QFETCH(QString, summary);

        QProcess p;
        start(p, args);
        QVERIFY(p.waitForFinished(120000));
        QDateTime firstWrite;
        if (QTest::currentDataTag() == QLatin1String("skip existing on a re-run") ||
            QTest::currentDataTag() == QLatin1String("a re-run replaces its earlier results")) {
            firstWrite = QFileInfo(out_ + "/A/one.mp3").lastModified();
            QTest::qWait(20);
            start(p, rerun + args);
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(QFileInfo(out_ + "/A/one.mp3").lastModified() == firstWrite, !rerun.isEmpty());
        }
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitCode(), status);
        QVERIFY2(err.contains(summary), qPrintable(err));
        QCOMPARE(Results(env_->root()), results);
        QCOMPARE(jobFolders(), QStringList());
        if (status == 2)
            return;
        // Every failure is named with the window's cause; every result is
        // whole and carries its source's tags.
        if (results.first().startsWith("out/")) {
            QVERIFY(err.contains(lib_ + "/drm.wma: may be DRM protected"));
            QVERIFY(err.contains(lib_ + "/A/bad.wma: damaged"));
            QVERIFY(err.contains(lib_ + "/ren.wma: not a WMA file"));
            for (const QString& r : results)
                QCOMPARE(ReadMp3(env_->root() + "/" + r).error, QString());
            const QString song = env_->root() + "/" + results.first();
            TagLib::MPEG::File tagged(QFile::encodeName(song).constData());
            QVERIFY(tagged.tag());
            QCOMPARE(QString::fromStdString(tagged.tag()->title().to8Bit(true)), QString("Evening Tide"));
        }
    }

    // Ctrl-C in the middle: every job and its tools stop, nothing partial
    // is left, the job folders go, and the status is 130.
    void interrupt() {
        QDir().mkpath(lib_ + "/long");
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QProcess::execute(MKWMA_EXECUTABLE, {"encode", lib_ + QString("/long/%1.wma").arg(i),
                                                          "--codec", "wmav2", "--seconds", "40"}),
                     0);
        QProcess p;
        start(p, {"--jobs", "2", "-o", "out", "lib/long"});
        QTRY_VERIFY_WITH_TIMEOUT(
            jobFolders().size() == 2 &&
                QFile::exists(env_->work() + "/" + jobFolders().first() + "/working.wav"),
            60000);
        const QString jobs = env_->work() + "/batch-job-";
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QCOMPARE(jobFolders(), QStringList());
        for (const QString& r : Results(out_))
            QCOMPARE(ReadMp3(out_ + "/" + r).error, QString());
        // No tool still works in a job folder.
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
            QVERIFY(!QFileInfo("/proc/" + pid + "/cwd").symLinkTarget().startsWith(jobs));

        // A batch killed outright leaves its job folders behind; the next
        // batch removes them, and never the folder of a batch still running.
        QProcess running, next;
        start(running, QStringList{"--jobs", "1", "-o", "out"} + QStringList(8, "lib/long"));
        QTRY_COMPARE_WITH_TIMEOUT(jobFolders().size(), 1, 60000);
        const QStringList live = jobFolders();
        start(p, {"--jobs", "2", "-o", "out", "lib/long"});
        QTRY_COMPARE_WITH_TIMEOUT(jobFolders().size(), 3, 60000);
        p.kill();
        QVERIFY(p.waitForFinished(30000));
        start(next, {"-o", "out", "lib/C"});
        QVERIFY(next.waitForFinished(60000));
        QCOMPARE(next.exitCode(), 0);
        QCOMPARE(jobFolders(), live);
        ::kill(static_cast<pid_t>(running.processId()), SIGINT);
        QVERIFY(running.waitForFinished(30000));
        QCOMPARE(running.exitCode(), 130);
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
