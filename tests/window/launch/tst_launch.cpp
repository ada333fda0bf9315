// Brenvale as a desktop program: the command line of the real executable,
// the hand-over of files to the window that already runs, and the program
// installed into a prefix and started from its menu entry's Exec line.
//
// Each started program runs offscreen with the "brenvale.launch" log on, which
// tells the program folder in use and the list's items after each addition.
#include "convert/formats.h"
#include "support/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 60000;

QString BuiltProgram() {
    return BuildProgramFolder() + QStringLiteral("/brenvale");
}

// "@" in a test's paths stands for its fixture folder.
QStringList Expand(const QStringList& items, const QString& root) {
    QStringList out;
    for (const QString& item : items)
        out << QString(item).replace(QLatin1Char('@'), root);
    return out;
}

// A started Brenvale and what it has said on stderr.
class Program {
public:
    Program(const QString& program, const QStringList& arguments, const QString& folder,
            const QProcessEnvironment& environment) {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.setWorkingDirectory(folder);
        process_.setProcessEnvironment(environment);
        process_.setReadChannel(QProcess::StandardError);
        process_.start();
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kWaitMs);
        }
    }

    // The next list that the program reports, or none when it ended or
    // said nothing in time.
    std::optional<QStringList> nextList() {
        const std::optional<QString> json = nextLogged(QStringLiteral("list: "));
        if (!json)
            return std::nullopt;
        QStringList items;
        for (const QJsonValue& v : QJsonDocument::fromJson(json->toUtf8()).array())
            items << v.toString();
        return items;
    }
    std::optional<QString> programFolder() { return nextLogged(QStringLiteral("program folder: ")); }

    // Waits for the program to end by itself; false when it still runs.
    bool finished() {
        if (!process_.waitForFinished(kWaitMs))
            return false;
        err_ += process_.readAllStandardError();
        return true;
    }
    int exitCode() const { return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1; }
    QString out() { return QString::fromLocal8Bit(process_.readAllStandardOutput()); }
    QString err() const { return QString::fromLocal8Bit(err_); }

    // Ends the program as a crash would: nothing of it is cleaned up.
    void crash() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(kWaitMs);
    }

private:
    std::optional<QString> nextLogged(const QString& what) {
        const QString prefix = QStringLiteral("brenvale.launch: ") + what;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const qsizetype end = err_.indexOf('\n', read_);
            if (end >= 0) {
                const QString line = QString::fromLocal8Bit(err_.mid(read_, end - read_));
                read_ = end + 1;
                if (line.startsWith(prefix))
                    return line.mid(prefix.size());
                continue;
            }
            if (process_.state() == QProcess::NotRunning || clock.elapsed() > kWaitMs)
                return std::nullopt;
            process_.waitForReadyRead(100);
            err_ += process_.readAllStandardError();
        }
    }

    QProcess process_;
    QByteArray err_;
    qsizetype read_ = 0;
};

// Every file and folder below root with what would show a change to it.
QMap<QString, QString> Snapshot(const QString& root) {
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            entries.insert(path, QStringLiteral("%1 %2 %3.%4")
                                     .arg(st.st_mode)
                                     .arg(st.st_size)
                                     .arg(st.st_mtim.tv_sec)
                                     .arg(st.st_mtim.tv_nsec));
    }
    return entries;
}

int Run(const QString& program, const QStringList& arguments, QString* output,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(environment);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(kWaitMs))
        return -1;
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The text that roff lines print, in words: macro lines left out (those of
// the help's options carry no text), the escapes of fonts, hyphens,
// backslashes and non-printing marks undone.
QString Unroffed(const QString& roff) {
    QString text;
    for (const QString& line : roff.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('.')))
            continue;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] != QLatin1Char('\\') || i + 1 == line.size()) {
                text += line[i];
                continue;
            }
            const QChar escape = line[++i];
            if (escape == QLatin1Char('f'))
                ++i;  // \fB, \fI, \fR
            else if (escape == QLatin1Char('e'))
                text += QLatin1Char('\\');
            else if (escape == QLatin1Char('-'))
                text += QLatin1Char('-');
        }
        text += QLatin1Char(' ');
    }
    return text.simplified();
}

}  // namespace

class TestLaunch : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<QTemporaryDir> fixture_;  // the files the rows name
    std::unique_ptr<QTemporaryDir> runtime_;  // XDG_RUNTIME_DIR, private to the user
    std::unique_ptr<QTemporaryDir> temp_;     // TMPDIR

    QString root() const { return fixture_->path(); }

    // The environment of a started program: offscreen, its log on, and a
    // runtime folder of this test's own, so that no other Brenvale is found.
    QProcessEnvironment programEnvironment(const QString& runtime = QString()) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("brenvale.launch.info=true"));
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.isEmpty() ? runtime_->path() : runtime);
        e.insert(QStringLiteral("TMPDIR"), temp_->path());
        e.insert(QStringLiteral("DISPLAY"), QStringLiteral(":7"));
        e.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return e;
    }

private slots:
    void init() {
        env_ = std::make_unique<TestEnvironment>();
        fixture_ = std::make_unique<QTemporaryDir>();
        runtime_ = std::make_unique<QTemporaryDir>();
        temp_ = std::make_unique<QTemporaryDir>();
        for (const char* f : {"single.wma", "a b#1.wma", "-dash.wma", "music/one.wma", "music/~three.wma",
                              "music/sub/two.wma"})
            MakeFile(root() + QLatin1Char('/') + QLatin1String(f));
    }
    void cleanup() {
        temp_.reset();
        runtime_.reset();
        fixture_.reset();
        env_.reset();
    }

    void commandLine_data() {
        QTest::addColumn<QString>("folder");  // below the fixture
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");  // -1: the window opens and stays
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QStringList>("errors");  // each must appear on stderr
        QTest::addColumn<QString>("output");      // what stdout begins with

        QTest::newRow("file") << "" << QStringList{"@/single.wma"} << -1 << QStringList{"@/single.wma"}
                              << QStringList{} << "";
        // As a drop: the whole tree, without names that begin with "~".
        QTest::newRow("folder") << "" << QStringList{"@/music"} << -1
                                << QStringList{"@/music/one.wma", "@/music/sub/two.wma"} << QStringList{}
                                << "";
        QTest::newRow("relative to the current folder")
            << "music" << QStringList{"one.wma", "sub/", "../single.wma"} << -1
            << QStringList{"@/music/one.wma", "@/music/sub/two.wma", "@/single.wma"} << QStringList{} << "";
        QTest::newRow("file URIs") << ""
                                   << QStringList{"file://@/a%20b%231.wma", "file://localhost@/single.wma"}
                                   << -1 << QStringList{"@/a b#1.wma", "@/single.wma"} << QStringList{} << "";
        QTest::newRow("missing paths are named and left out")
            << "" << QStringList{"@/gone.wma", "https://example.org/x.wma", "@/single.wma"} << -1
            << QStringList{"@/single.wma"}
            << QStringList{"brenvale: cannot open '@/gone.wma': No such file or directory",
                           "brenvale: cannot open 'https://example.org/x.wma': not a file of this computer"}
            << "";
        QTest::newRow("a file after --") << "" << QStringList{"--", "-dash.wma"} << -1
                                         << QStringList{"@/-dash.wma"} << QStringList{} << "";
        QTest::newRow("Qt's options go to Qt") << "" << QStringList{"-platform", "offscreen", "@/single.wma"}
                                               << -1 << QStringList{"@/single.wma"} << QStringList{} << "";
        QTest::newRow("--help") << "" << QStringList{"--help", "@/single.wma"} << 0 << QStringList{}
                                << QStringList{} << "Usage: brenvale [OPTION]... [FILE]...\n";
        QTest::newRow("--version") << "" << QStringList{"--version"} << 0 << QStringList{} << QStringList{}
                                   << "Brenvale " BRENVALE_VERSION "\n";
        QTest::newRow("unknown option")
            << "" << QStringList{"--frobnicate", "@/single.wma"} << 2 << QStringList{}
            << QStringList{"brenvale: unknown option '--frobnicate'", "Usage: brenvale [OPTION]... [FILE]..."}
            << "";
    }
    void commandLine() {
        QFETCH(QString, folder);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, list);
        QFETCH(QStringList, errors);
        QFETCH(QString, output);

        Program program(BuiltProgram(), Expand(arguments, root()), root() + QLatin1Char('/') + folder,
                        programEnvironment());
        if (exitCode >= 0) {
            QVERIFY2(program.finished(), "the program opened a window");
            QCOMPARE(program.exitCode(), exitCode);
            const QString out = program.out();
            if (output.isEmpty())
                QCOMPARE(out, QString());
            else
                QVERIFY2(out.startsWith(output), qPrintable(out));
            QVERIFY(!program.err().contains(QLatin1String("brenvale.launch: list:")));
        } else {
            const std::optional<QStringList> shown = program.nextList();
            QVERIFY2(shown.has_value(), qPrintable(program.err()));
            QCOMPARE(*shown, Expand(list, root()));
        }
        for (const QString& e : Expand(errors, root()))
            QVERIFY2(program.err().contains(e), qPrintable(program.err()));
    }

    void secondStartHandsOver_data() {
        QTest::addColumn<QString>("before");
        QTest::newRow("to the running window") << "";
        // The socket of a window that was killed stays behind; the next
        // start takes it over instead of sending files to nobody.
        QTest::newRow("after a crashed window") << "crash";
        // A runtime folder that others may write is not used: what stands
        // there could have been planted by another user.
        QTest::newRow("past a shared runtime folder") << "shared";
        QTest::newRow("on the same display") << "unix:7.0";  // as ":7"
        QTest::newRow("not to another display's window") << ":8";
    }
    void secondStartHandsOver() {
        QFETCH(QString, before);

        QString runtime = runtime_->path();
        QLocalServer planted;
        QFile plantedLock;
        if (before == QLatin1String("crash")) {
            Program crashed(BuiltProgram(), {}, root(), programEnvironment());
            QVERIFY(crashed.nextList().has_value());
            crashed.crash();
            QVERIFY(QFileInfo::exists(runtime + QStringLiteral("/brenvale/socket-x11-_7")));
        } else if (before == QLatin1String("shared")) {
            runtime = root() + QStringLiteral("/shared");
            QVERIFY(QDir().mkpath(runtime + QStringLiteral("/brenvale")));
            for (const QString& f : {runtime, runtime + QStringLiteral("/brenvale")})
                QVERIFY(::chmod(QFile::encodeName(f).constData(), 0777) == 0);
            // Another user's stand-in window: it holds the lock and listens.
            QVERIFY(planted.listen(runtime + QStringLiteral("/brenvale/socket-x11-_7")));
            plantedLock.setFileName(runtime + QStringLiteral("/brenvale/lock-x11-_7"));
            QVERIFY(plantedLock.open(QIODevice::ReadWrite));
            QVERIFY(::flock(plantedLock.handle(), LOCK_EX | LOCK_NB) == 0);
        }

        Program first(BuiltProgram(), {QStringLiteral("single.wma")}, root(), programEnvironment(runtime));
        std::optional<QStringList> list = first.nextList();
        QVERIFY2(list.has_value(), qPrintable(first.err()));
        QCOMPARE(*list, QStringList{root() + QStringLiteral("/single.wma")});

        // A relative path is taken from the second start's own folder.
        QProcessEnvironment e = programEnvironment(runtime);
        if (before.contains(QLatin1Char(':')))
            e.insert(QStringLiteral("DISPLAY"), before);
        Program second(BuiltProgram(), {QStringLiteral("one.wma"), QStringLiteral("sub")},
                       root() + QStringLiteral("/music"), e);
        if (before == QLatin1String(":8")) {
            QCOMPARE(second.nextList(), Expand({"@/music/one.wma", "@/music/sub/two.wma"}, root()));
            return;
        }
        QVERIFY2(second.finished(), "the second start opened a window of its own");
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(!second.err().contains(QLatin1String("brenvale.launch: list:")), qPrintable(second.err()));

        list = first.nextList();
        QVERIFY2(list.has_value(), qPrintable(first.err()));
        QCOMPARE(*list, Expand({"@/single.wma", "@/music/one.wma", "@/music/sub/two.wma"}, root()));
        if (planted.isListening())
            QVERIFY2(!planted.waitForNewConnection(0), "a planted socket got the files");
    }

    void installedProgram_data() {
        QTest::addColumn<bool>("destdir");
        QTest::newRow("into a prefix") << false;
        // Staged for a package: installed for /opt/brenvale, run from where
        // it was staged.
        QTest::newRow("with DESTDIR") << true;
    }
    void installedProgram() {
        QFETCH(bool, destdir);
        QTemporaryDir target;
        QString output;
        QProcessEnvironment install = QProcessEnvironment::systemEnvironment();
        const QString prefix =
            destdir ? QStringLiteral("/opt/brenvale") : target.path() + QStringLiteral("/usr");
        if (destdir)
            install.insert(QStringLiteral("DESTDIR"), target.path() + QStringLiteral("/stage"));
        const QString installed = destdir ? target.path() + QStringLiteral("/stage") + prefix : prefix;
        QCOMPARE(Run(QStringLiteral(BRENVALE_CMAKE_COMMAND),
                     {QStringLiteral("--install"), BuildProgramFolder(), QStringLiteral("--prefix"), prefix},
                     &output, install),
                 0);

        // The command on the PATH is a relative link to the program in its
        // own folder, where the files beside it stand.
        const QString programFolder = installed + QStringLiteral("/lib/brenvale");
        char link[4096] = {};
        QVERIFY(::readlink(QFile::encodeName(installed + QStringLiteral("/bin/brenvale")).constData(), link,
                           sizeof link - 1) > 0);
        QVERIFY2(link[0] != '/', link);
        QCOMPARE(QFileInfo(installed + QStringLiteral("/bin/brenvale")).canonicalFilePath(),
                 QFileInfo(programFolder + QStringLiteral("/brenvale")).canonicalFilePath());
        for (const char* f :
             {"lib/brenvale/HAND-M.CUR", "lib/brenvale/drag.ico", "lib/brenvale/drm-protection.html",
              "lib/brenvale/Samples/Sample 1 - Spoken Words.wma", "share/man/man1/brenvale.1.gz",
              "share/bash-completion/completions/brenvale",
              "share/applications/org.brenvale.Brenvale.desktop",
              "share/metainfo/org.brenvale.Brenvale.metainfo.xml",
              "share/icons/hicolor/scalable/apps/org.brenvale.Brenvale.svg"})
            QVERIFY2(QFileInfo(installed + QLatin1Char('/') + QLatin1String(f)).isFile(), f);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QImage icon(
                installed +
                QStringLiteral("/share/icons/hicolor/%1x%1/apps/org.brenvale.Brenvale.png").arg(size));
            QCOMPARE(icon.size(), QSize(size, size));
        }

        // Started as the menu entry starts it, on a WMA file: the window
        // lists the file, uses the installed files, and writes nothing below
        // the prefix.
        const QString desktopFile =
            installed + QStringLiteral("/share/applications/org.brenvale.Brenvale.desktop");
        QFile entry(desktopFile);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch exec =
            QRegularExpression(QStringLiteral("^Exec=(.*)$"), QRegularExpression::MultilineOption)
                .match(QString::fromUtf8(entry.readAll()));
        QVERIFY(exec.hasMatch());
        const QString song = root() + QStringLiteral("/music/one.wma");
        QVERIFY(QFile::remove(song));
        QVERIFY(QFile::copy(programFolder + QStringLiteral("/Samples/Sample 1 - Spoken Words.wma"), song));
        QString commandLine = exec.captured(1);
        QVERIFY(commandLine.contains(QLatin1String("%F")));
        commandLine.replace(QLatin1String("%F"), QLatin1Char('\'') + song + QLatin1Char('\''));

        const QMap<QString, QString> before = Snapshot(installed);
        QProcessEnvironment e = programEnvironment();
        e.insert(QStringLiteral("PATH"),
                 installed + QStringLiteral("/bin:") + e.value(QStringLiteral("PATH")));
        {
            Program program(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), QStringLiteral("exec ") + commandLine}, root(), e);
            const std::optional<QString> folder = program.programFolder();
            QVERIFY2(folder.has_value(), qPrintable(program.err()));
            QCOMPARE(*folder, QFileInfo(programFolder).canonicalFilePath());
            const std::optional<QStringList> list = program.nextList();
            QVERIFY2(list.has_value(), qPrintable(program.err()));
            QCOMPARE(*list, QStringList{song});
        }
        QCOMPARE(Snapshot(installed), before);

        // The menu entry and the metadata pass the desktop's own checks.
        const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (validate.isEmpty() || appstream.isEmpty())
            QSKIP("desktop-file-validate or appstreamcli is missing (scripts/setup installs them)");
        QVERIFY2(Run(validate, {desktopFile}, &output) == 0 && output.isEmpty(), qPrintable(output));
        QVERIFY2(Run(appstream,
                     {QStringLiteral("validate"), QStringLiteral("--no-net"),
                      installed + QStringLiteral("/share/metainfo/org.brenvale.Brenvale.metainfo.xml")},
                     &output) == 0,
                 qPrintable(output));
    }

    // The manual page gives each help text from its first option on, word
    // for word.
    void manualPage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("the window's options") << QStringList{"--help"};
        QTest::newRow("the batch's options") << QStringList{"--convert", "--help"};
    }
    void manualPage() {
        QFETCH(QStringList, arguments);
        QString help, page;
        QCOMPARE(Run(BuiltProgram(), arguments, &help), 0);
        const qsizetype options = help.indexOf(QLatin1String("\n  -"));
        QVERIFY2(options > 0, qPrintable(help));
        QCOMPARE(Run(QStringLiteral("gzip"),
                     {QStringLiteral("-dc"), QStringLiteral(BRENVALE_BUILD_DIR "/desktop/brenvale.1.gz")}, &page),
                 0);
        QVERIFY2(Unroffed(page).contains(help.mid(options).simplified()),
                 qPrintable(QStringLiteral("not in the manual page as --help has it:") + help.mid(options)));
    }

    // What bash completes, with the program on the PATH, in the fixture.
    void completion_data() {
        QTest::addColumn<QStringList>("words");  // the last is the word completed
        QTest::addColumn<QStringList>("completed");
        QStringList formats;
        for (const FormatRow& row : kFormats)
            formats << QLatin1String(row.name);
        QTest::newRow("the window's options") << QStringList{"brenvale", "--c"} << QStringList{"--convert"};
        QTest::newRow("the batch's options")
            << QStringList{"brenvale", "--convert", "--sk"} << QStringList{"--skip-existing"};
        QTest::newRow("the formats") << QStringList{"brenvale", "--convert", "--to", ""} << formats;
        QTest::newRow("a folder for --output") << QStringList{"brenvale", "--convert", "-o", ""}
                                               << QStringList{"music"};
        QTest::newRow("folders and .wma files")
            << QStringList{"brenvale", "--convert", ""}
            << QStringList{"-dash.wma", "LOUD.WMA", "a b#1.wma", "music", "single.wma"};
    }
    void completion() {
        QFETCH(QStringList, words);
        QFETCH(QStringList, completed);
        MakeFile(root() + QStringLiteral("/LOUD.WMA"));
        MakeFile(root() + QStringLiteral("/notes.txt"));
        QProcess bash;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("PATH"), BuildProgramFolder() + QLatin1Char(':') + e.value(QStringLiteral("PATH")));
        bash.setProcessEnvironment(e);
        bash.setWorkingDirectory(root());
        bash.start(QStringLiteral("bash"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                              "_brenvale; printf '%s\\n' \"${COMPREPLY[@]}\""),
                               QStringLiteral(BRENVALE_SOURCE_DIR "/desktop/brenvale.bash")} +
                       words);
        QVERIFY(bash.waitForFinished(kWaitMs));
        QStringList got =
            QString::fromLocal8Bit(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        got.sort();
        completed.sort();
        QCOMPARE(got, completed);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
