// The shell layer: ShellExecuteA, GShell with its failure table and its
// show-command rules, and RunAndWait, all with real processes.
#include "app/errorreport.h"
#include "support/scripteddialogs.h"
#include "runtime/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include "support/testenv.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int B = -2147220456;  // base of the failure numbers without a row of their own
constexpr char kOtherMessage[] =
    "An error occurred occurred whilst trying to open or print the selected file.";

// Writes an executable shell script (mode 0700).
QString WriteScript(const QString& path, const QByteArray& body) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    ::chmod(QFile::encodeName(path).constData(), 0700);
    return path;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Reap(pid_t pid) {
    if (pid <= 0)
        return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// True when the event loop was not entered while body ran: a zero-timer
// posted before is still pending afterwards.
bool RunsWithoutYielding(const std::function<void()>& body) {
    bool fired = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    body();
    const bool yielded = fired;
    QCoreApplication::processEvents();  // let the timer go before `fired` goes out of scope
    return !yielded;
}

}  // namespace

class TestShell : public QObject {
    Q_OBJECT

private slots:
    void init();

    void failureTable_data();
    void failureTable();
    void failuresOfRealStarts_data();
    void failuresOfRealStarts();
    void permissionDenied();
    void startFailureReturnsAtOnce_data();
    void startFailureReturnsAtOnce();

    void exitCodes_data();
    void exitCodes();
    void waitKeepsEventsFlowingUntilTheEnd();

    void showCommandRules_data();
    void showCommandRules();
    void windowStyleClamp_data();
    void windowStyleClamp();

    void parametersAndDirectory();
    void relativeFileRunsFromTheDirectory();
    void splitShellParameters_data();
    void splitShellParameters();

    void desktopHandOver_data();
    void desktopHandOver();
    void processNobodyWaitsForLeavesNoZombie();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString root() const { return dir_->path(); }
};

void TestShell::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestShell::failureTable_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    QTest::newRow("0") << 0 << 7 << "Out of memory";
    QTest::newRow("2") << 2 << 53 << "File not found";
    QTest::newRow("3") << 3 << 76 << "Path not found";
    QTest::newRow("5") << 5 << 75 << "Path/file access error";
    QTest::newRow("8") << 8 << 7 << "Out of memory";
    QTest::newRow("11") << 11 << B + 11 << "The executable file is invalid or corrupt";
    QTest::newRow("26") << 26 << 75 << "A sharing violation occurred.";
    QTest::newRow("27") << 27 << B + 27 << "This file type does not have a valid file association.";
    QTest::newRow("28") << 28 << 286
                        << "The file could not be opened due to time out. Please try again in a moment.";
    QTest::newRow("29") << 29 << 285
                        << "The file could not be opened because the DDE transaction failed. Please try "
                           "again in a moment.";
    QTest::newRow("30") << 30 << 285
                        << "The file could not be opened because the target application is busy. Please "
                           "try again in a moment.";
    QTest::newRow("31") << 31 << B + 31 << "No application is associated with this file type.";
    QTest::newRow("32") << 32 << 48 << "The specified dynamic-link library was not found.";
    for (int r : {1, 4, 6, 7, 9, 10, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25})
        QTest::newRow(qPrintable(QString::number(r))) << r << B + r << kOtherMessage;
}

void TestShell::failureTable() {
    QFETCH(int, result);
    QFETCH(int, number);
    QFETCH(QString, message);
    const ShellFailure failure = ShellFailureFor(result);
    QCOMPARE(failure.number, number);
    QCOMPARE(failure.message, message);
}

void TestShell::failuresOfRealStarts_data() {
    QTest::addColumn<QString>("file");       // relative to the test folder unless it is blank
    QTest::addColumn<QString>("directory");  // relative to the test folder; "" for none
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("urlOpens");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing file") << "missing.sh"
                                  << ""
                                  << "open" << true << 2 << 53 << "File not found";
    QTest::newRow("missing file, quoted") << "\"missing.sh\""
                                          << ""
                                          << "open" << true << 2 << 53 << "File not found";
    QTest::newRow("missing folder") << "nowhere/run.sh"
                                    << ""
                                    << "open" << true << 3 << 76 << "Path not found";
    QTest::newRow("missing directory") << "ok.sh"
                                       << "nowhere"
                                       << "open" << true << 3 << 76 << "Path not found";
    QTest::newRow("directory is a file") << "ok.sh"
                                         << "ok.sh"
                                         << "open" << true << 3 << 76 << "Path not found";
    QTest::newRow("empty file") << ""
                                << ""
                                << "open" << true << 2 << 53 << "File not found";
    QTest::newRow("not a program") << "garbage.bin"
                                   << ""
                                   << "open" << true << 11 << B + 11
                                   << "The executable file is invalid or corrupt";
    // A program is never handed to the desktop, even where it cannot run.
    QTest::newRow("script without an execute bit") << "plain.sh"
                                                   << ""
                                                   << "open" << true << 5 << 75 << "Path/file access error";
    QTest::newRow("program on a noexec file system") << "noexec/ok.sh"
                                                     << ""
                                                     << "open" << true << 5 << 75 << "Path/file access error";
    QTest::newRow("nothing opens the document")
        << "notes.txt"
        << ""
        << "open" << false << 31 << B + 31 << "No application is associated with this file type.";
    QTest::newRow("nothing opens the folder")
        << "sub"
        << ""
        << "" << false << 31 << B + 31 << "No application is associated with this file type.";
    QTest::newRow("unknown verb") << "ok.sh"
                                  << ""
                                  << "print" << true << 31 << B + 31
                                  << "No application is associated with this file type.";
}

void TestShell::failuresOfRealStarts() {
    QFETCH(QString, file);
    QFETCH(QString, directory);
    QFETCH(QString, operation);
    QFETCH(bool, urlOpens);
    QFETCH(int, result);
    QFETCH(int, number);
    QFETCH(QString, message);

    std::unique_ptr<TmpfsMount> noexec;
    if (file.startsWith("noexec/")) {
        QVERIFY(QDir().mkpath(root() + "/noexec"));
        noexec = std::make_unique<TmpfsMount>(root() + "/noexec", "size=64k", true);
        if (!noexec->mounted())
            QSKIP("a noexec tmpfs cannot be mounted here (it takes root)");
        WriteScript(root() + "/noexec/ok.sh", "exit 0");
    }
    WriteScript(root() + "/ok.sh", "exit 0");
    WriteScript(root() + "/plain.sh", "exit 0");
    ::chmod(QFile::encodeName(root() + "/plain.sh").constData(), 0600);
    QFile garbage(root() + "/garbage.bin");
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray("\x7f"
                             "ELF",
                             4) +
                  QByteArray(64, '\x01'));
    garbage.close();
    ::chmod(QFile::encodeName(garbage.fileName()).constData(), 0700);
    QFile notes(root() + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("text");
    notes.close();
    QDir(root()).mkdir("sub");

    QString path;
    if (!file.isEmpty()) {
        const bool quoted = file.startsWith('"');
        path = root() + "/" + (quoted ? file.mid(1, file.size() - 2) : file);
        if (quoted)
            path = '"' + path + '"';
    }
    const QString dir = directory.isEmpty() ? QString() : root() + "/" + directory;

    ScriptedDialogs dialogs;
    dialogs.urlOpens = urlOpens;
    pid_t pid = 0;
    QCOMPARE(ShellExecuteA(&dialogs, operation, path, QString(), dir, SW_SHOWNORMAL, &pid), result);
    QCOMPARE(pid, pid_t(-1));

    bool raised = false;
    try {
        // A parameter makes GShell pass the directory and show command on.
        GShell(path, SW_SHOWNORMAL, QStringLiteral("x"), dir, operation, &dialogs, &pid);
    } catch (const VbError& e) {
        raised = true;
        QCOMPARE(e.number, number);
        QCOMPARE(e.description, message);
        QCOMPARE(e.source, QStringLiteral("tst_shell.GShell"));
    }
    QVERIFY(raised);
    QCOMPARE(pid, pid_t(-1));
}

void TestShell::permissionDenied() {
    if (::geteuid() == 0)
        QSKIP("root may enter every folder, so access cannot be denied here");
    const QString locked = root() + "/locked";
    WriteScript(locked + "/run.sh", "exit 0");
    ::chmod(QFile::encodeName(locked).constData(), 0);
    const int result =
        ShellExecuteA(nullptr, "open", locked + "/run.sh", QString(), QString(), SW_SHOWNORMAL);
    const int dirResult = ShellExecuteA(nullptr, "open", "/bin/true", QString(), locked + "/inner", 1);
    ::chmod(QFile::encodeName(locked).constData(), 0700);
    QCOMPARE(result, 5);
    QCOMPARE(dirResult, 5);
    QCOMPARE(ShellFailureFor(5).number, 75);
}

void TestShell::startFailureReturnsAtOnce_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing file") << "missing.sh" << -2147221451;
    QTest::newRow("missing folder") << "nowhere/run.sh" << -2147221504 + 76;
    // A number that is itself an application-defined error comes back as it is.
    QTest::newRow("not a program") << "garbage.bin" << B + 11;
}

void TestShell::startFailureReturnsAtOnce() {
    QFETCH(QString, file);
    QFETCH(int, expected);
    QFile garbage(root() + "/garbage.bin");
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(
        "\x7f"
        "ELF\x02\x02\x02 not really");
    garbage.close();
    ::chmod(QFile::encodeName(garbage.fileName()).constData(), 0700);

    int result = 0;
    for (const QString& directory : {QString(), root()}) {
        QVERIFY(RunsWithoutYielding(
            [&] { result = RunAndWait('"' + root() + "/" + file + '"', SW_HIDE, directory); }));
        QCOMPARE(result, expected);
    }
}

void TestShell::exitCodes_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    QTest::newRow("success") << QByteArray("exit 0") << 0;
    QTest::newRow("failure") << QByteArray("exit 7") << 7;
    QTest::newRow("highest") << QByteArray("exit 255") << 255;
    QTest::newRow("last command's code") << QByteArray("false") << 1;
    QTest::newRow("SIGTERM") << QByteArray("kill -TERM $$") << 128 + 15;
    QTest::newRow("SIGKILL") << QByteArray("kill -KILL $$") << 128 + 9;
}

void TestShell::exitCodes() {
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    const QString script = WriteScript(root() + "/run.sh", body);
    QCOMPARE(RunAndWait('"' + script + '"', SW_HIDE, root()), code);
    QCOMPARE(RunAndWait(script, SW_SHOWNORMAL, QString()), code);
}

void TestShell::waitKeepsEventsFlowingUntilTheEnd() {
    const QString end = root() + "/end.txt";
    const QString script =
        WriteScript(root() + "/run.sh", "sleep 0.5\necho done > \"" + QFile::encodeName(end) + "\"\nexit 3");
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    const int code = RunAndWait('"' + script + '"', SW_HIDE, root());
    timer.stop();
    QCOMPARE(code, 3);
    // It returned only after the program had ended...
    QCOMPARE(ReadAll(end), QByteArray("done\n"));
    // ...and the window's events were handled all the while.
    QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
}

void TestShell::showCommandRules_data() {
    QTest::addColumn<QString>("file");  // relative to the test folder
    QTest::addColumn<int>("show");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("withDirectory");
    QTest::addColumn<bool>("visible");  // output reaches the program's terminal

    QTest::newRow("shown") << "run.sh" << 1 << "x" << true << true;
    QTest::newRow("hidden") << "run.sh" << 0 << "x" << true << false;
    QTest::newRow("hidden, parameters only") << "run.sh" << 0 << "x" << false << false;
    QTest::newRow("hidden, directory only") << "run.sh" << 0 << "" << true << false;
    QTest::newRow("minimized") << "run.sh" << 6 << "" << true << true;
    QTest::newRow(".EXE in the name") << "run.EXE.sh" << 1 << "x" << true << false;
    QTest::newRow(".exe in lower case") << "run.exe.sh" << 5 << "" << true << false;
    QTest::newRow(".Exe in a folder name") << "tools.Exe/run.sh" << 1 << "x" << false << false;
    QTest::newRow("no parameters, no directory: shown") << "run.sh" << 0 << "" << false << true;
    QTest::newRow("no parameters, no directory, .EXE: shown") << "run.exe.sh" << 0 << "" << false << true;
}

void TestShell::showCommandRules() {
    QFETCH(QString, file);
    QFETCH(int, show);
    QFETCH(QString, parameters);
    QFETCH(bool, withDirectory);
    QFETCH(bool, visible);
    const QString script = WriteScript(root() + "/" + file, "echo seen-by-the-terminal");
    pid_t pid = -1;
    int result = 0;
    const QByteArray out = CaptureStdout([&] {
        result = GShell(script, show, parameters, withDirectory ? root() : QString(), "open", nullptr, &pid);
        Reap(pid);
    });
    QVERIFY(result > 32);
    QVERIFY(pid > 0);
    QCOMPARE(out.contains("seen-by-the-terminal"), visible);
}

void TestShell::windowStyleClamp_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("used");
    QTest::newRow("-1") << -1 << 6;
    QTest::newRow("lowest") << int(INT_MIN) << 6;
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("6") << 6 << 6;
    QTest::newRow("7") << 7 << 6;
    QTest::newRow("highest") << int(INT_MAX) << 6;
}

void TestShell::windowStyleClamp() {
    QFETCH(int, style);
    QFETCH(int, used);
    QCOMPARE(ClampWindowStyle(style), used);
    // What the started program sees: hidden (output discarded) only for 0.
    const QString script = WriteScript(root() + "/run.sh", "echo seen-by-the-terminal");
    int code = -1;
    const QByteArray out = CaptureStdout([&] { code = RunAndWait('"' + script + '"', style, root()); });
    QCOMPARE(code, 0);
    QCOMPARE(out.contains("seen-by-the-terminal"), used != SW_HIDE);
}

void TestShell::parametersAndDirectory() {
    const QString work = root() + "/work dir";
    QDir().mkpath(work);
    const QString report = root() + "/report.txt";
    const QString script =
        WriteScript(root() + "/with space/run.sh", "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > \"" +
                                                       QFile::encodeName(report) + "\"");
    pid_t pid = -1;
    const int result =
        GShell('"' + script + '"', SW_HIDE, "a \"b c\" 'd  e' f\\ g \"\"", work, "open", nullptr, &pid);
    QVERIFY(result > 32);
    QVERIFY(pid > 0);
    Reap(pid);
    const QByteArray expected =
        QFile::encodeName(QFileInfo(work).canonicalFilePath()) + "\n[a]\n[b c]\n[d  e]\n[f g]\n[]\n";
    QCOMPARE(ReadAll(report), expected);
}

void TestShell::relativeFileRunsFromTheDirectory() {
    WriteScript(root() + "/tools/run.sh", "exit 42");
    QCOMPARE(RunAndWait("run.sh", SW_HIDE, root() + "/tools"), 42);
    QCOMPARE(RunAndWait("\"run.sh\"", SW_HIDE, root() + "/tools"), 42);
    // A bare name that is not in the directory is looked up on the PATH.
    QCOMPARE(RunAndWait("true", SW_HIDE, root()), 0);
    QCOMPARE(RunAndWait("false", SW_HIDE, root()), 1);
}

void TestShell::splitShellParameters_data() {
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("blanks only") << " \t " << QStringList();
    QTest::newRow("words") << "  one two\tthree " << QStringList{"one", "two", "three"};
    QTest::newRow("single quotes") << "'a b' 'c\\d' '$x'" << QStringList{"a b", "c\\d", "$x"};
    QTest::newRow("double quotes") << "\"a b\" \"c\\\"d\" \"e\\f\" \"\\\\\""
                                   << QStringList{"a b", "c\"d", "e\\f", "\\"};
    QTest::newRow("backslash outside quotes") << "a\\ b c\\\"d e\\\\" << QStringList{"a b", "c\"d", "e\\"};
    QTest::newRow("trailing backslash") << "a\\" << QStringList{"a\\"};
    QTest::newRow("joined parts") << "x'y z'\"w\"v" << QStringList{"xy zwv"};
    QTest::newRow("empty words") << "'' \"\" a" << QStringList{"", "", "a"};
    QTest::newRow("no expansion") << "$HOME * ~ `id`" << QStringList{"$HOME", "*", "~", "`id`"};
    QTest::newRow("unterminated quote") << "a 'b c" << QStringList{"a", "b c"};
}

void TestShell::splitShellParameters() {
    QFETCH(QString, parameters);
    QFETCH(QStringList, words);
    QCOMPARE(SplitShellParameters(parameters), words);
}

void TestShell::desktopHandOver_data() {
    QTest::addColumn<QString>("file");  // "@" stands for the test folder
    QTest::addColumn<QString>("url");
    QTest::newRow("folder") << "@/my folder"
                            << "file://@/my folder";
    QTest::newRow("quoted folder") << "\"@/my folder\""
                                   << "file://@/my folder";
    QTest::newRow("document") << "@/my folder/notes.txt"
                              << "file://@/my folder/notes.txt";
    QTest::newRow("web address") << "https://example.org/page?x=1"
                                 << "https://example.org/page?x=1";
    QTest::newRow("quoted web address") << "\"https://example.org/\""
                                        << "https://example.org/";
}

void TestShell::desktopHandOver() {
    QFETCH(QString, file);
    QFETCH(QString, url);
    QDir().mkpath(root() + "/my folder");
    QFile notes(root() + "/my folder/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();
    file.replace("@", root());
    url.replace("@", root());

    ScriptedDialogs dialogs;
    pid_t pid = 0;
    const int result = GShell(file, SW_SHOW, QString(), QString(), "open", &dialogs, &pid);
    QVERIFY(result > 32);
    QCOMPARE(pid, pid_t(-1));
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown.at(0).kind, ShownDialog::Url);
    QCOMPARE(QUrl(dialogs.shown.at(0).text), QUrl(url));
}

void TestShell::processNobodyWaitsForLeavesNoZombie() {
    const QString done = root() + "/done.txt";
    const QString script =
        WriteScript(root() + "/run.sh", "sleep 0.2\necho ok > \"" + QFile::encodeName(done) + "\"");
    QVERIFY(ShellExecuteA(nullptr, "open", script, QString(), root(), SW_HIDE) > 32);
    // The program was started by a helper that has ended and been reaped:
    // this process has no child left that it would have to wait for.
    errno = 0;
    QCOMPARE(::waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
    QTRY_COMPARE_WITH_TIMEOUT(ReadAll(done), QByteArray("ok\n"), 10000);
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
