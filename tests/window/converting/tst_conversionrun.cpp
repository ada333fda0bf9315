// Whole conversion runs through the window: "Start Converting" with the real
// decoder and the real LAME on real WMA files, the user's answers scripted.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "app/startup.h"
#include "convert/conversion.h"
#include "workfolder/workfolder.h"
#include "filelist/filelist.h"
#include "support/mp3check.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "mkwma/asfedit.h"
#include "tools/wmawav/wavcheck.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMedia = QStringLiteral(BRENVALE_TESTMEDIA_DIR);
const QString kValid = QStringLiteral("wmav2_stereo_44100.wma");
const QString kProtected = QStringLiteral("drm_protected.wma");

const QString kDone = QStringLiteral("Done.");
const QString kQuestion =
    QStringLiteral("Would you like to learn more about how you can unprotect WMA files?");

QString CannotConvert(const QString& source) {
    return "Can not convert " + source + ". File may be DRM protected.";
}

QString Gone(const QString& source) {
    return "Can not convert " + source + ". The file is no longer there or can not be read.";
}

QString CannotSave(const QString& target) {
    return "Can not save " + target + ". Please check that the folder exists and can be written to.";
}

QString WorkFolderFailed(const QString& source, const QString& workFolder) {
    return "Can not convert " + source + ". Please check that the work folder " + workFolder +
           " has free space, can be written to and allows programs to run.";
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One window with its own settings store, HOME and work folder.
struct Session {
    Session() : form(std::make_unique<Form1>(dialogs, BuildProgramFolder())) {
        form->setEndProcessForTests([] {});
        form->Form_Load();
        form->setPauseMsForTests(1);
        dialogs.clear();
    }

    QString root() const { return env.root(); }

    // A copy of a test medium at root/relative.
    QString source(const QString& medium, const QString& relative) const {
        const QString path = root() + "/" + relative;
        MakeFile(path, Contents(kMedia + "/" + medium));
        return path;
    }

    void list(const QStringList& paths) {
        for (const QString& p : paths)
            AddToFileList(form->ListView1, p);
    }

    void mp3() { form->Option1->setChecked(true); }
    void wav() { form->Option2->setChecked(true); }
    void intoFolder(const QString& folder) {
        form->Option3->setChecked(true);
        form->Text1->setText(folder);
    }
    void besideSources() { form->Option4->setChecked(true); }

    // Everything in the work folder, hidden files included.
    QStringList workFiles() const {
        return QDir(env.work()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    TestEnvironment env;
    ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;
};

// Clears both buttons of an option pair, as a hand-edited store can leave it.
void ClearPair(QRadioButton* a, QRadioButton* b) {
    for (QRadioButton* option : {a, b}) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
}

// What the window shows at one moment of a run.
struct Shown {
    double value;
    QString text;
    int pointer;
};

// Records every change of the bar's value or text that can be seen while a
// run yields to the event loop, with the pointer at that moment.
class BarRecorder {
public:
    explicit BarRecorder(Form1* form) : form_(form) {
        last_ = {form->ProgressValue(), form->ProgressText(), form->MousePointer()};
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Shown now{form_->ProgressValue(), form_->ProgressText(), form_->MousePointer()};
            if (now.value != last_.value || now.text != last_.text)
                states << now;
            last_ = now;
        });
        timer_.start();
    }
    QList<Shown> states;

private:
    Form1* form_;
    Shown last_;
    QTimer timer_;
};

// Runs action once, from inside the run's yields, as soon as the bar names
// the file fileName.
class WhenProcessing {
public:
    WhenProcessing(Form1* form, const QString& fileName, std::function<void()> action) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this, form, fileName, action] {
            if (form->ProgressText() == "Processing: " + fileName) {
                timer_.stop();
                fired = true;
                action();
            }
        });
        timer_.start();
    }
    bool fired = false;

private:
    QTimer timer_;
};

bool VerifyMp3(const QString& path) {
    const Mp3File m = ReadMp3(path);
    if (!m.error.isEmpty()) {
        qWarning("%s: %s", qPrintable(path), qPrintable(m.error));
        return false;
    }
    if (m.sampleRate != 44100 || m.channels != 2 || qAbs(m.seconds - 3.0) > 0.25) {
        qWarning("%s: %d Hz, %d channels, %.3f s", qPrintable(path), m.sampleRate, m.channels, m.seconds);
        return false;
    }
    return true;
}

// The decoded test tone: 440 Hz left, 660 Hz right, at half of full scale.
bool VerifyWav(const QString& path) {
    const WavFile w = ReadCanonicalWav(path);
    if (!w.error.isEmpty()) {
        qWarning("%s: %s", qPrintable(path), qPrintable(w.error));
        return false;
    }
    if (w.sampleRate != 44100 || w.channels != 2 || qAbs(w.seconds() - 3.0) > 0.25) {
        qWarning("%s: %d Hz, %d channels, %.3f s", qPrintable(path), w.sampleRate, w.channels, w.seconds());
        return false;
    }
    const double left = ToneAmplitude(w, 0, 440);
    const double right = ToneAmplitude(w, 1, 660);
    if (left < 12000 || right < 12000) {
        qWarning("%s: tones at %.0f and %.0f", qPrintable(path), left, right);
        return false;
    }
    return true;
}

const QStringList kStagedNames = {"lame", "wmawav", "wma2mp3.sh", "wma2wav.sh"};

// A program of its own that holds the work folder's lock until its input
// closes: this test executable started with "--hold-work-lock PATH".
int HoldWorkLock(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLockFile lock(QString::fromLocal8Bit(argv[2]));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(5000))
        return 2;
    std::fputs("locked\n", stdout);
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}

// A run of its own, for a second user: this test executable started with
// "--convert-as-probe OUTPUT_FOLDER SOURCE..." converts the sources to MP3
// into the folder and prints every message shown, one a line.
int ConvertAsProbe(int argc, char** argv) {
    QApplication app(argc, argv);
    ScriptedDialogs dialogs;
    Form1 form(dialogs, BuildProgramFolder());
    form.setEndProcessForTests([] {});
    form.Form_Load();
    form.setPauseMsForTests(1);
    dialogs.clear();
    for (int i = 3; i < argc; ++i)
        AddToFileList(form.ListView1, QFile::decodeName(argv[i]));
    form.Option1->setChecked(true);
    form.Option3->setChecked(true);
    form.Text1->setText(QFile::decodeName(argv[2]));
    form.PushButton2_Click();
    for (const QString& message : dialogs.messages())
        std::printf("%s\n", message.toUtf8().constData());
    return 0;
}

class LockHolder {
public:
    explicit LockHolder(const QString& lockPath) {
        process_.start(QCoreApplication::applicationFilePath(), {"--hold-work-lock", lockPath});
        started_ = process_.waitForStarted(10000) && process_.waitForReadyRead(10000) &&
                   process_.readLine().trimmed() == "locked";
    }
    ~LockHolder() {
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            if (!process_.waitForFinished(10000))
                process_.kill();
            process_.waitForFinished(10000);
        }
    }
    bool started() const { return started_; }
    void finish() {
        process_.closeWriteChannel();
        process_.waitForFinished(10000);
    }
    // Ends the holder the hard way: it cannot remove its lock file.
    void die() {
        process_.kill();
        process_.waitForFinished(10000);
    }

private:
    QProcess process_;
    bool started_ = false;
};

}  // namespace

class TestConversionRun : public QObject {
    Q_OBJECT

private slots:
    void mp3IntoChosenFolder() {
        Session s;
        const QString a = s.source(kValid, "src/first song.wma");
        const QString drm = s.source(kProtected, "src/protected.wma");
        const QString c = s.source(kValid, "other/third.wma");
        const QString out = s.root() + "/out";
        QVERIFY(QDir().mkpath(out));
        s.list({a, drm, c});
        s.mp3();
        s.intoFolder(out + "/");

        BarRecorder bar(s.form.get());
        Shown atDone{};
        bool busyAtDone = false;
        QStringList workAtDone;
        qint64 lockPid = 0;
        s.dialogs.whileShown = [&](const ShownDialog& d) {
            if (d.text == kDone) {
                atDone = {s.form->ProgressValue(), s.form->ProgressText(), s.form->MousePointer()};
                busyAtDone = s.form->IsBusy();
                workAtDone = s.workFiles();
            } else if (d.text == CannotConvert(drm)) {
                QLockFile probe(WorkPath(kWorkLockName));
                QString host, app;
                probe.getLockInfo(&lockPid, &host, &app);
            }
        };

        s.form->PushButton2->click();  // the "Start Converting" button itself

        QCOMPARE(s.dialogs.messages(), QStringList({CannotConvert(drm), kQuestion, kDone}));
        for (const ShownDialog& d : s.dialogs.shown) {
            QCOMPARE(d.title, AppTitle());
            QCOMPARE(d.style, d.text == kQuestion ? int(vbYesNo) : int(vbOKOnly));
        }
        QVERIFY(s.dialogs.ofKind(ShownDialog::Url).isEmpty());  // "No" to the question

        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"first song.mp3", "third.mp3"}));
        QVERIFY(VerifyMp3(out + "/first song.mp3"));
        QVERIFY(VerifyMp3(out + "/third.mp3"));

        // The bar: the share of files begun and the file's name, with the
        // hourglass all along; then back to idle before "Done.".
        QCOMPARE(bar.states.size(), 3);
        QCOMPARE(bar.states[0].text, QStringLiteral("Processing: first song.wma"));
        QCOMPARE(bar.states[1].text, QStringLiteral("Processing: protected.wma"));
        QCOMPARE(bar.states[2].text, QStringLiteral("Processing: third.wma"));
        QCOMPARE(bar.states[0].value, 1.0 / 3 * 100);
        QCOMPARE(bar.states[1].value, 2.0 / 3 * 100);
        QCOMPARE(bar.states[2].value, 100.0);
        QVERIFY(qAbs(bar.states[0].value - 33.33) < 0.01);
        QVERIFY(qAbs(bar.states[1].value - 66.67) < 0.01);
        for (const Shown& state : bar.states)
            QCOMPARE(state.pointer, int(kPointerHourglass));
        QCOMPARE(atDone.value, 0.0);
        QCOMPARE(atDone.text, QStringLiteral("Progress Bar"));
        QCOMPARE(atDone.pointer, int(kPointerDefault));
        QVERIFY(busyAtDone);

        // The lock was this program's during the run and is gone after it,
        // and so are the working files.
        QCOMPARE(lockPid, QCoreApplication::applicationPid());
        QCOMPARE(workAtDone, QStringList());
        QCOMPARE(s.workFiles(), QStringList());
        QVERIFY(!s.form->IsBusy());
        QCOMPARE(s.form->ProgressValue(), 0.0);
        QCOMPARE(s.form->ProgressText(), QStringLiteral("Progress Bar"));
        QCOMPARE(s.form->ListView1->topLevelItemCount(), 3);
    }

    // On a private session bus, as a dock and a notification service see it.
    void desktopSeesProgressAndTheEnd() {
        QProcess bus, monitor;
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!bus.waitForReadyRead(10000))
            QSKIP("no dbus-daemon (scripts/setup installs it)");
        const QByteArray address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        const auto restore = qScopeGuard([] { qunsetenv("DBUS_SESSION_BUS_ADDRESS"); });
        monitor.start("dbus-monitor", {"--address", address});
        QVERIFY(monitor.waitForReadyRead(10000));  // it has joined the bus
        Session s;
        s.list({s.source(kValid, "a.wma"), s.source(kProtected, "b.wma"), s.source(kValid, "c.wma")});
        s.wav();
        s.intoFolder(s.root() + "/");
        s.form->PushButton2_Click();
        QString seen;
        QTRY_VERIFY((seen += monitor.readAll()).contains("member=Notify"));
        QVERIFY(seen.contains("string \"Conversion finished\"\n   string \"2 files converted, 1 failed\""));
        QStringList progress;
        for (const auto& m : QRegularExpression("variant +(?:double|boolean) (\\S+)").globalMatch(seen))
            progress << m.captured(1);
        QCOMPARE(progress, QStringList({"0.333333", "true", "0.666667", "true", "1", "true", "0", "false"}));
    }

    void drmQuestionYesOpensTheInformationPage() {
        Session s;
        const QString drm = s.source("drm_extended.wma", "src/locked.wma");
        s.list({drm});
        s.mp3();
        s.intoFolder(s.root() + "/");
        s.dialogs.messageAnswers << vbOK << vbYes;

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({CannotConvert(drm), kQuestion, kDone}));
        const QList<ShownDialog> urls = s.dialogs.ofKind(ShownDialog::Url);
        QCOMPARE(urls.size(), 1);
        const QString page = BuildProgramFolder() + "/drm-protection.html";
        QCOMPARE(QUrl(urls[0].text), QUrl::fromLocalFile(page));
        QVERIFY(QFile::exists(page));
        // The page is opened between the question and "Done.".
        QCOMPARE(s.dialogs.shown[2].kind, ShownDialog::Url);
        QVERIFY(!QFile::exists(s.root() + "/locked.mp3"));
    }

    void wavBesideEachSource() {
        Session s;
        const QString a = s.source(kValid, "one/a.wma");
        // A 2-second medium without tags, so that its result is a canonical
        // WAV file.
        const QString b = s.source("wmav2_stereo_44100_from_wav.wma", "two/deeper/b.wma");
        s.list({a, b});
        s.wav();
        s.besideSources();
        s.form->Text1->setText(s.root() + "/no such folder/");  // not looked at

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyWav(s.root() + "/one/a.wav"));
        const WavFile second = ReadCanonicalWav(s.root() + "/two/deeper/b.wav");
        QVERIFY2(second.error.isEmpty(), qPrintable(second.error));
        QVERIFY(qAbs(second.seconds() - 2.0) < 0.25);  // the 2-second medium, not the first file again
        QCOMPARE(QDir(s.root() + "/one").entryList(QDir::Files), QStringList({"a.wav", "a.wma"}));
        QCOMPARE(s.workFiles(), QStringList());
        QVERIFY(!QDir(s.root() + "/no such folder").exists());
    }

    void existingTargetIsReplaced() {
        Session s;
        const QString a = s.source(kValid, "src/song.wma");
        const QString out = s.root() + "/out";
        MakeFile(out + "/song.mp3", "an older song.mp3");
        s.list({a});
        s.mp3();
        s.intoFolder(out);  // typed without the trailing "/"

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyMp3(out + "/song.mp3"));
    }

    void emptyListSaysSoAndNothingElse() {
        Session s;
        s.form->SetMousePointer(kPointerCustom);
        s.form->SetProgressValue(40);
        s.form->SetProgressText("as it was");

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({"No files added."}));
        QCOMPARE(s.dialogs.shown[0].style, int(vbOKOnly));
        QCOMPARE(s.dialogs.shown[0].title, AppTitle());
        QVERIFY(s.workFiles().isEmpty());
        QCOMPARE(s.form->MousePointer(), int(kPointerCustom));
        QCOMPARE(s.form->ProgressValue(), 40.0);
        QCOMPARE(s.form->ProgressText(), QStringLiteral("as it was"));
        QVERIFY(!s.form->IsBusy());

        // The flag is down again: the next press runs.
        s.list({s.source(kValid, "x.wma")});
        s.intoFolder(s.root());
        s.form->PushButton2_Click();
        QCOMPARE(s.dialogs.messages().last(), kDone);
        QVERIFY(VerifyMp3(s.root() + "/x.mp3"));
    }

    void folderCheck_data() {
        QTest::addColumn<QString>("destination");  // "folder", "beside" or "neither"
        QTest::addColumn<QString>("box");          // "missing", "file", "empty" or "existing"
        QTest::addColumn<bool>("refused");
        QTest::newRow("this folder, missing") << "folder"
                                              << "missing" << true;
        QTest::newRow("this folder, box names a file") << "folder"
                                                       << "file" << true;
        QTest::newRow("this folder, empty box") << "folder"
                                                << "empty" << true;
        QTest::newRow("neither option, missing folder") << "neither"
                                                        << "missing" << true;
        QTest::newRow("neither option, existing folder") << "neither"
                                                         << "existing" << false;
        QTest::newRow("beside the source, missing folder") << "beside"
                                                           << "missing" << false;
        QTest::newRow("beside the source, empty box") << "beside"
                                                      << "empty" << false;
    }

    void folderCheck() {
        QFETCH(QString, destination);
        QFETCH(QString, box);
        QFETCH(bool, refused);
        Session s;
        const QString song = s.source(kValid, "src/song.wma");
        s.list({song});
        s.mp3();
        if (box == "missing")
            s.form->Text1->setText(s.root() + "/missing/");
        else if (box == "file")
            s.form->Text1->setText(song);
        else if (box == "empty")
            s.form->Text1->setText(QString());
        else
            s.form->Text1->setText(s.root() + "/");
        if (destination == "folder")
            s.form->Option3->setChecked(true);
        else if (destination == "beside")
            s.besideSources();
        else
            ClearPair(s.form->Option3, s.form->Option4);

        s.form->PushButton2_Click();

        QVERIFY(!s.form->IsBusy());
        if (refused) {
            QCOMPARE(s.dialogs.messages(),
                     QStringList({"Folder does not exist. Please select another folder."}));
            QCOMPARE(s.dialogs.shown[0].style, int(vbOKOnly));
            QVERIFY(s.workFiles().isEmpty());
            QCOMPARE(s.form->MousePointer(), int(kPointerDefault));
            QCOMPARE(s.form->ProgressText(), QStringLiteral("Progress Bar"));
            QVERIFY(!QFile::exists(s.root() + "/src/song.mp3"));
        } else {
            // Both "beside" and "neither" put the result next to the source.
            QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
            QVERIFY(VerifyMp3(s.root() + "/src/song.mp3"));
        }
    }

    void noFormatSelectedConvertsNothing() {
        Session s;
        s.list({s.source(kValid, "src/a.wma"), s.source(kProtected, "src/b.wma")});
        ClearPair(s.form->Option1, s.form->Option2);
        s.besideSources();

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QCOMPARE(QDir(s.root() + "/src").entryList(QDir::Files), QStringList({"a.wma", "b.wma"}));
        for (const QString& name : kStagedNames)
            QVERIFY(!s.workFiles().contains(name));
    }

    void secondPressDuringRunChangesNothing() {
        Session s;
        s.list({s.source(kValid, "src/a.wma"), s.source(kValid, "src/b.wma")});
        s.mp3();
        s.besideSources();
        s.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(s.form.get()));
        int shownBefore = -1, shownAfter = -1;
        Shown before{}, after{};
        WhenProcessing press(s.form.get(), "a.wma", [&] {
            shownBefore = s.dialogs.shown.size();
            before = {s.form->ProgressValue(), s.form->ProgressText(), s.form->MousePointer()};
            QTest::mouseClick(s.form->PushButton2, Qt::LeftButton);  // the real button
            s.form->PushButton2_Click();
            after = {s.form->ProgressValue(), s.form->ProgressText(), s.form->MousePointer()};
            shownAfter = s.dialogs.shown.size();
        });

        s.form->PushButton2_Click();

        QVERIFY(press.fired);
        QCOMPARE(shownAfter, shownBefore);
        QCOMPARE(after.value, before.value);
        QCOMPARE(after.text, before.text);
        QCOMPARE(after.pointer, int(kPointerHourglass));
        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyMp3(s.root() + "/src/a.mp3"));
        QVERIFY(VerifyMp3(s.root() + "/src/b.mp3"));
        QVERIFY(!s.form->IsBusy());
    }

    void optionsChangedDuringRunApplyFromTheNextFile() {
        Session s;
        const QString drm = s.source(kProtected, "src/drm.wma");
        s.list({drm, s.source(kValid, "src/b.wma"), s.source(kValid, "src/c.wma")});
        s.mp3();
        const QString out = s.root() + "/out/";
        QVERIFY(QDir().mkpath(out));
        s.intoFolder(out);
        // While the first file's message is up, the user switches to WAV
        // beside the sources.
        s.dialogs.whileShown = [&](const ShownDialog& d) {
            if (d.text == CannotConvert(drm)) {
                s.form->Option2->click();
                s.form->Option4->click();
            }
        };

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({CannotConvert(drm), kQuestion, kDone}));
        QVERIFY(QDir(out).entryList(QDir::Files).isEmpty());
        QVERIFY(VerifyWav(s.root() + "/src/b.wav"));
        QVERIFY(VerifyWav(s.root() + "/src/c.wav"));
        QVERIFY(!QFile::exists(s.root() + "/src/b.mp3"));
        QCOMPARE(s.workFiles(), QStringList());
        QCOMPARE(GetBrenvaleSetting("Option2"), QStringLiteral("True"));
        QCOMPARE(GetBrenvaleSetting("Option4"), QStringLiteral("True"));
    }

    void listChangedDuringRun() {
        Session s;
        const QString a = s.source(kValid, "src/a.wma");
        const QString b = s.source(kValid, "src/b.wma");
        const QString c = s.source("wmav2_stereo_44100_title.wma", "src/c.wma");
        const QString late = s.source(kValid, "src/late.wma");
        s.list({a, b, c});
        s.mp3();
        s.besideSources();
        s.form->ListView1->setCurrentItem(s.form->ListView1->topLevelItem(0));
        BarRecorder bar(s.form.get());
        int countAfterRemoval = -1;
        WhenProcessing change(s.form.get(), "a.wma", [&] {
            // Removing is refused while the hourglass shows...
            s.form->PushButton8_Click();
            s.form->ListView1_KeyDown(46, 0);
            countAfterRemoval = s.form->ListView1->topLevelItemCount();
            // ...adding and reordering are not: c moves before b, and a
            // fourth file waits for the next run.
            QTreeWidgetItem* moved = s.form->ListView1->takeTopLevelItem(2);
            s.form->ListView1->insertTopLevelItem(1, moved);
            AddToFileList(s.form->ListView1, late);
            // Another command that ends by setting the default pointer (the
            // add-all command) lifts the hourglass until the next file.
            s.form->SetMousePointer(kPointerDefault);
        });

        s.form->PushButton2_Click();

        QVERIFY(change.fired);
        QCOMPARE(countAfterRemoval, 3);
        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        // Each item's text is read when its turn comes; the count for the bar
        // is read afresh, so the run of three ends at three quarters.
        QCOMPARE(bar.states.size(), 3);
        QCOMPARE(bar.states[0].text, QStringLiteral("Processing: a.wma"));
        QCOMPARE(bar.states[1].text, QStringLiteral("Processing: c.wma"));
        QCOMPARE(bar.states[2].text, QStringLiteral("Processing: b.wma"));
        QCOMPARE(bar.states[0].value, 1.0 / 3 * 100);
        QCOMPARE(bar.states[1].value, 2.0 / 4 * 100);
        QCOMPARE(bar.states[2].value, 3.0 / 4 * 100);
        // Each file sets the hourglass again.
        QCOMPARE(bar.states[1].pointer, int(kPointerHourglass));
        QCOMPARE(bar.states[2].pointer, int(kPointerHourglass));
        QVERIFY(VerifyMp3(s.root() + "/src/a.mp3"));
        QVERIFY(VerifyMp3(s.root() + "/src/b.mp3"));
        QVERIFY(ReadMp3(s.root() + "/src/c.mp3").error.isEmpty());
        QVERIFY(!QFile::exists(s.root() + "/src/late.mp3"));
        QCOMPARE(s.form->ListView1->topLevelItemCount(), 4);
    }

    void drmMessageNamesTheFileThatFailed() {
        Session s;
        const QString drm = s.source(kProtected, "src/drm.wma");
        const QString b = s.source(kValid, "src/b.wma");
        s.list({drm, b});
        s.mp3();
        s.besideSources();
        // The protected file is dragged below the other one while it is
        // being converted, so it comes round a second time.
        WhenProcessing reorder(s.form.get(), "drm.wma", [&] {
            QTreeWidgetItem* moved = s.form->ListView1->takeTopLevelItem(1);
            s.form->ListView1->insertTopLevelItem(0, moved);
        });

        s.form->PushButton2_Click();

        QVERIFY(reorder.fired);
        QCOMPARE(s.dialogs.messages(),
                 QStringList({CannotConvert(drm), kQuestion, CannotConvert(drm), kQuestion, kDone}));
        QVERIFY(!QFile::exists(s.root() + "/src/b.mp3"));
    }

    void vanishedItemsArePassedOver() {
        Session s;
        s.list({s.source(kValid, "src/a.wma"), s.source(kValid, "src/b.wma"),
                s.source(kProtected, "src/c.wma")});
        s.mp3();
        s.besideSources();
        // Another command lifted the hourglass and two items went.
        WhenProcessing shorten(s.form.get(), "a.wma", [&] {
            delete s.form->ListView1->takeTopLevelItem(2);
            delete s.form->ListView1->takeTopLevelItem(1);
        });

        s.form->PushButton2_Click();

        QVERIFY(shorten.fired);
        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyMp3(s.root() + "/src/a.mp3"));
        QVERIFY(!QFile::exists(s.root() + "/src/b.mp3"));
        QCOMPARE(s.form->ProgressText(), QStringLiteral("Progress Bar"));
        QVERIFY(!s.form->IsBusy());
    }

    void resultThatCannotBeSavedIsReported_data() {
        QTest::addColumn<QString>("situation");
        QTest::newRow("read-only file at the target") << "read-only";
        QTest::newRow("folder at the target") << "folder";
        QTest::newRow("output folder removed during the run") << "removed";
        QTest::newRow("output folder that cannot be written") << "unwritable";
    }

    void resultThatCannotBeSavedIsReported() {
        QFETCH(QString, situation);
        Session s;
        const QString a = s.source(kValid, "src/a.wma");
        const QString b = s.source(kValid, "src/b.wma");
        s.list({a, b});
        s.mp3();
        QString out = s.root() + "/out/";
        QVERIFY(QDir().mkpath(out));
        QStringList expected;
        std::unique_ptr<WhenProcessing> remove;
        if (situation == "read-only") {
            MakeFile(out + "a.mp3", "kept");
            QVERIFY(
                QFile::setPermissions(out + "a.mp3", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            expected = {CannotSave(out + "a.mp3")};
        } else if (situation == "folder") {
            QVERIFY(QDir().mkpath(out + "a.mp3"));
            expected = {CannotSave(out + "a.mp3")};
        } else if (situation == "removed") {
            remove = std::make_unique<WhenProcessing>(s.form.get(), "a.wma",
                                                      [&] { QVERIFY(QDir(out).removeRecursively()); });
            expected = {CannotSave(out + "a.mp3"), CannotSave(out + "b.mp3")};
        } else {
            // The kernel's own folders refuse new files also to root.
            out = QStringLiteral("/proc/");
            expected = {CannotSave(out + "a.mp3"), CannotSave(out + "b.mp3")};
        }
        s.intoFolder(out);

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), expected + QStringList({kDone}));
        for (const ShownDialog& d : s.dialogs.shown) {
            QCOMPARE(d.style, int(vbOKOnly));
            QCOMPARE(d.title, AppTitle());
        }
        if (situation == "read-only")
            QCOMPARE(Contents(out + "a.mp3"), QByteArray("kept"));
        if (situation == "read-only" || situation == "folder")
            QVERIFY(VerifyMp3(out + "b.mp3"));  // the run went on
        QVERIFY(!s.form->IsBusy());
    }

    void resultIsNeverWrittenOverItsSource_data() {
        QTest::addColumn<QString>("spelling");
        QTest::newRow("beside the source, the same path") << "beside";
        QTest::newRow("folder box with \"..\"") << "dotdot";
        QTest::newRow("folder box through a link") << "link";
    }

    void resultIsNeverWrittenOverItsSource() {
        QFETCH(QString, spelling);
        Session s;
        // A WMA file that carries the name its WAV result would get.
        const QString source = s.source(kValid, "music/song.wav");
        const QString next = s.source(kValid, "music/next.wma");
        const QByteArray original = Contents(source);
        QVERIFY(QDir().mkpath(s.root() + "/music/sub"));
        QVERIFY(QFile::link(s.root() + "/music", s.root() + "/link"));
        s.list({source, next});
        s.wav();
        if (spelling == "beside")
            s.besideSources();
        else if (spelling == "dotdot")
            s.intoFolder(s.root() + "/music/sub/..");
        else
            s.intoFolder(s.root() + "/link/");

        s.form->PushButton2_Click();

        // However the folder is written, the result goes beside the source
        // under a number of its own.
        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QCOMPARE(Contents(source), original);
        QVERIFY(VerifyWav(s.root() + "/music/song (2).wav"));
        QVERIFY(VerifyWav(s.root() + "/music/next.wav"));
    }

    // Where each result goes: names with "?" and "*", dots in folder names
    // and dot-files, and results that would replace one another or a listed
    // file. Every source is a copy of the valid medium.
    void resultNames_data() {
        QTest::addColumn<QStringList>("sources");  // relative to the test folder
        QTest::addColumn<QString>("destination");  // a folder, or "" beside the sources
        QTest::addColumn<bool>("mp3");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<int>("runs");
        QTest::newRow("\"?\" and \"*\" in names")
            << QStringList{"src/what?.wma", "src/st*r.wma"} << "out" << true
            << QStringList{"out/st*r.mp3", "out/what?.mp3"} << 1;
        QTest::newRow("one name from two folders") << QStringList{"a/song.wma", "b/song.wma"} << "out" << true
                                                   << QStringList{"out/song (2).mp3", "out/song.mp3"} << 1;
        QTest::newRow("the same list converted twice")
            << QStringList{"a/song.wma", "b/song.wma"} << "out" << true
            << QStringList{"out/song (2).mp3", "out/song.mp3"} << 2;
        QTest::newRow("a result named like a listed file")
            << QStringList{"src/b.wma", "src/b.wav"} << "" << false
            << QStringList{"src/b (2).wav", "src/b (3).wav", "src/b.wav", "src/b.wma"} << 1;
        QTest::newRow("dot in the folder's name")
            << QStringList{"Vol.1/trackA", "Vol.1/trackB"} << "out" << true
            << QStringList{"out/trackA.mp3", "out/trackB.mp3"} << 1;
        QTest::newRow("dot-file") << QStringList{"src/.intro"} << "" << true
                                  << QStringList{"src/.intro", "src/.intro.mp3"} << 1;
    }

    void resultNames() {
        QFETCH(QStringList, sources);
        QFETCH(QString, destination);
        QFETCH(bool, mp3);
        QFETCH(QStringList, results);
        QFETCH(int, runs);
        Session s;
        QStringList paths;
        for (const QString& relative : sources)
            paths << s.source(kValid, relative);
        const QByteArray original = Contents(paths.first());
        s.list(paths);
        if (mp3)
            s.mp3();
        else
            s.wav();
        const QString folder = s.root() + "/" + (destination.isEmpty() ? "src" : destination);
        if (destination.isEmpty()) {
            s.besideSources();
        } else {
            QVERIFY(QDir().mkpath(folder));
            s.intoFolder(folder);
        }

        for (int run = 0; run < runs; ++run) {
            s.dialogs.clear();
            s.form->PushButton2_Click();
            QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        }

        QStringList found;
        for (const QString& name : QDir(folder).entryList(
                 QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
            found << QDir(s.root()).relativeFilePath(folder + "/" + name);
        QCOMPARE(found, results);
        for (const QString& result : results) {
            if (sources.contains(result))
                continue;
            QVERIFY2(mp3 ? VerifyMp3(s.root() + "/" + result) : VerifyWav(s.root() + "/" + result),
                     qPrintable(result));
        }
        for (const QString& path : paths)
            QCOMPARE(Contents(path), original);
        QCOMPARE(s.workFiles(), QStringList());
    }

    // Crafted and huge sources: each is told as what it is, and the window's
    // loop keeps turning all through the run.
    void hostileSources_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("10 tag blocks of 65,535 entries") << "entries";
        QTest::newRow("a tag block cut short of its 65,534 entries") << "cut";
        QTest::newRow("256 MiB without an ASF header") << "not asf";
        QTest::newRow("a WMA of 40 MiB") << "long";
        QTest::newRow("deleted after it was listed") << "gone";
    }

    void hostileSources() {
        QFETCH(QString, kind);
        Session s;
        const QString path = s.root() + "/src/song.wma";
        const QByteArray valid = Contents(kMedia + "/" + kValid);
        std::vector<uint8_t> file(valid.begin(), valid.end());
        if (kind == "entries")
            QVERIFY(AddEmptyTagBlocks(file, 10, 65535));
        if (kind == "long")
            QVERIFY(AddPadding(file, 40 << 20));
        if (kind == "cut")
            file = CutShortTagHeader();
        if (kind == "not asf")
            file.clear();
        MakeFile(path, QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())));
        if (kind == "not asf")
            QVERIFY(QFile::resize(path, 256 << 20));
        s.list({path});
        s.mp3();
        s.besideSources();
        if (kind == "gone")
            QVERIFY(QFile::remove(path));
        // The longest time the loop went without turning, and what it saw of
        // the working copy meanwhile.
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        bool copied = false, halfCopied = false;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] {
            longest = qMax(longest, clock.elapsed() - last);
            last = clock.elapsed();
            const QFileInfo copy(s.env.work() + "/working.wma");
            copied = copied || copy.exists();
            halfCopied = halfCopied || (copy.exists() && copy.size() < QFileInfo(path).size());
        });
        tick.start();
        clock.start();

        s.form->PushButton2_Click();
        longest = qMax(longest, clock.elapsed() - last);

        if (kind == "entries" || kind == "long") {
            QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
            QVERIFY(VerifyMp3(s.root() + "/src/song.mp3"));
        } else if (kind == "gone") {
            QCOMPARE(s.dialogs.messages(), QStringList({Gone(path), kDone}));
        } else {
            QCOMPARE(s.dialogs.messages(), QStringList({CannotConvert(path), kQuestion, kDone}));
        }
        QVERIFY2(longest < 2000, qPrintable(QString("the window did not answer for %1 ms").arg(longest)));
        if (kind == "long")
            QVERIFY(halfCopied);
        if (kind == "not asf")
            QVERIFY(!copied);
    }

    // A program killed during a run takes its tools with it: the encoder,
    // which the script started, ends too.
    void toolsEndWithTheProgram() {
        Session s;
        const QString source = s.source(kValid, "src/a.wma");
        const QString pidFile = s.root() + "/encoder.pid";
        MakeProgram(s.env.work() + "/lame",
                    "#!/bin/sh\necho $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 60\n");
        QProcess run;
        run.start(QCoreApplication::applicationFilePath(), {"--convert-as-probe", s.root(), source});
        QDeadlineTimer started(60000);
        while (Contents(pidFile).trimmed().isEmpty() && !started.hasExpired())
            QTest::qWait(20);
        const pid_t encoder = Contents(pidFile).trimmed().toInt();
        QVERIFY2(encoder > 0, "the encoder never started");
        run.kill();
        QVERIFY(run.waitForFinished(10000));
        QDeadlineTimer ended(10000);
        while (::kill(encoder, 0) == 0 && !ended.hasExpired())
            QTest::qWait(20);
        QVERIFY2(::kill(encoder, 0) != 0, "the encoder outlived the program");
    }

    void lockHeldByAnotherProgramRefusesTheRun() {
        Session s;
        s.list({s.source(kValid, "src/a.wma")});
        s.mp3();
        s.besideSources();
        LockHolder other(WorkPath(kWorkLockName));
        QVERIFY(other.started());
        // However long the other program has held the lock, it is its own.
        const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-2 * 3600);
        QFile lockFile(WorkPath(kWorkLockName));
        QVERIFY(lockFile.open(QIODevice::ReadWrite));
        QVERIFY(lockFile.setFileTime(longAgo, QFileDevice::FileModificationTime));
        lockFile.close();
        s.form->SetProgressText("as it was");

        s.form->PushButton2_Click();

        QCOMPARE(
            s.dialogs.messages(),
            QStringList({"Another conversion is using the work folder. Please wait until it has finished."}));
        QCOMPARE(s.dialogs.shown[0].style, int(vbOKOnly));
        QCOMPARE(s.dialogs.shown[0].title, AppTitle());
        QVERIFY(!s.form->IsBusy());
        QCOMPARE(s.workFiles(), QStringList({kWorkLockName}));  // nothing staged
        QCOMPARE(s.form->MousePointer(), int(kPointerDefault));
        QCOMPARE(s.form->ProgressText(), QStringLiteral("as it was"));
        QVERIFY(!QFile::exists(s.root() + "/src/a.mp3"));

        // Once the other program has finished, the run goes ahead.
        other.finish();
        s.dialogs.clear();
        s.form->PushButton2_Click();
        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyMp3(s.root() + "/src/a.mp3"));
        QCOMPARE(s.workFiles(), QStringList());
    }

    void lockOfADeadProgramIsTakenOver() {
        Session s;
        s.list({s.source(kValid, "src/a.wma")});
        s.mp3();
        s.besideSources();
        LockHolder died(WorkPath(kWorkLockName));
        QVERIFY(died.started());
        died.die();
        QVERIFY(QFile::exists(WorkPath(kWorkLockName)));

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({kDone}));
        QVERIFY(VerifyMp3(s.root() + "/src/a.mp3"));
        QCOMPARE(s.workFiles(), QStringList());
    }

    void failingStepIsReportedAndTheRunGoesOn() {
        Session s;
        const QString drm = s.source(kProtected, "src/drm.wma");
        s.list({drm, s.source(kValid, "src/b.wma")});
        s.mp3();
        s.besideSources();
        bool failed = false;
        s.dialogs.whileShown = [&](const ShownDialog& d) {
            if (!failed && d.text == CannotConvert(drm)) {
                failed = true;
                RaiseError(57);
            }
        };

        s.form->PushButton2_Click();

        const QString report =
            ErrorReportText(ErrorDescription(57), "in Tarnwick2021/08/31.Form1.PushButton2_Click ", 176);
        QCOMPARE(s.dialogs.messages(), QStringList({CannotConvert(drm), report, kQuestion, kDone}));
        QCOMPARE(s.dialogs.shown[1].title, QStringLiteral("Application Error"));
        QVERIFY(VerifyMp3(s.root() + "/src/b.mp3"));
        QVERIFY(!s.form->IsBusy());
    }

    // The decoder did its part, but the result cannot be made or kept in the
    // work folder: the file is told as such, without the question about DRM,
    // and nothing reaches the target.
    void workFolderFailuresAreTold_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("left");  // what stays in the work folder
        QTest::newRow("encoder fails half way") << "encoder" << QStringList();
        QTest::newRow("no room for the decoded audio") << "full for audio" << QStringList();
        QTest::newRow("no room for the MP3") << "full for MP3" << QStringList();
        QTest::newRow("stale result that cannot be removed") << "stale" << QStringList{"working.mp3"};
        QTest::newRow("work folder where nothing may run") << "noexec" << QStringList();
        QTest::newRow("no work folder to be had") << "none" << QStringList();
    }

    void workFolderFailuresAreTold() {
        QFETCH(QString, situation);
        QFETCH(QStringList, left);
        Session s;
        const QString a = s.source(kValid, "src/a.wma");
        const QByteArray original = Contents(a);
        const QString out = s.root() + "/out";
        MakeFile(out + "/a.mp3", "older");
        s.list({a});
        s.mp3();
        s.intoFolder(out);

        QString work = s.env.work();
        std::unique_ptr<TmpfsMount> tmpfs;
        std::unique_ptr<WhenProcessing> fill;
        if (situation.startsWith("full") || situation == "noexec") {
            const QString mount = s.root() + "/mnt";
            QVERIFY(QDir().mkpath(mount));
            tmpfs = std::make_unique<TmpfsMount>(mount, "size=16m,mode=0700", situation == "noexec");
            if (!tmpfs->mounted())
                QSKIP("a tmpfs cannot be mounted here (it takes root)");
            work = mount + "/work";
            QVERIFY(QDir().mkdir(work));
            qputenv("TEMP", QFile::encodeName(work));
        }
        if (situation.startsWith("full")) {
            // Once the tools are staged, the disk is filled up to what the
            // two copies of the source and the decoded audio (for the MP3,
            // plus a little) leave free.
            const qint64 page = 4096;
            const auto pages = [page](qint64 bytes) { return (bytes + page - 1) / page * page; };
            const qint64 decoded = 3 * 44100 * 4 + 44;
            const qint64 room = 2 * pages(original.size()) +
                                (situation == "full for audio" ? decoded / 4 : pages(decoded) + 4 * page);
            const QString fillerPath = s.root() + "/mnt/filler";
            fill = std::make_unique<WhenProcessing>(s.form.get(), "a.wma", [fillerPath, work, room, page] {
                QFile filler(fillerPath);
                QVERIFY(filler.open(QIODevice::WriteOnly));
                const QByteArray chunk(page, '\0');
                while (QStorageInfo(work).bytesAvailable() > room + page)
                    QVERIFY(filler.write(chunk) == page && filler.flush());
            });
        }
        if (situation == "encoder")
            MakeProgram(work + "/lame", HalfWritingEncoder("exit 1"));
        if (situation == "stale")
            MakeFile(work + "/working.mp3/inside", "stale");
        if (situation == "none") {
            // Neither TEMP nor a cache folder that can be made.
            qunsetenv("TEMP");
            MakeFile(s.root() + "/cache file");
            qputenv("XDG_CACHE_HOME", QFile::encodeName(s.root() + "/cache file"));
            work = s.root() + "/cache file/brenvale/work";
        }

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({WorkFolderFailed(a, work), kDone}));
        QCOMPARE(s.dialogs.shown[0].style, int(vbOKOnly));
        QCOMPARE(s.dialogs.shown[0].title, AppTitle());
        QVERIFY(s.dialogs.ofKind(ShownDialog::Url).isEmpty());  // nothing handed to the desktop
        QCOMPARE(Contents(out + "/a.mp3"), QByteArray("older"));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"a.mp3"}));
        QCOMPARE(Contents(a), original);
        if (situation != "none")
            QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), left);
        if (fill)
            QVERIFY(fill->fired);
        QVERIFY(!s.form->IsBusy());
    }

    // Another user shares the folder that TEMP names, like /tmp, and has
    // planted there what the conversion would use: this user's run neither
    // runs nor delivers any of it, and tells what it cannot do. The run is a
    // second process of this program started as uid 65534, the planter is
    // root.
    void sharedWorkFolder_data() {
        QTest::addColumn<QString>("planted");  // besides scripts and tools of the planter's own
        QTest::addColumn<QString>("work");     // where the run works: "" none can be had
        const QString own = "shared/brenvale-65534";
        QTest::newRow("scripts and tools") << "" << own;
        QTest::newRow("working files") << "working files" << own;
        QTest::newRow("a link named like a working file") << "link" << own;
        QTest::newRow("a FIFO named like a working file") << "fifo" << own;
        QTest::newRow("a lock") << "lock" << own;
        QTest::newRow("the private folder's name taken") << "own"
                                                         << "home/.cache/brenvale/work";
        QTest::newRow("no private folder to be had") << "own, cache"
                                                     << "";
    }

    void sharedWorkFolder() {
        QFETCH(QString, planted);
        QFETCH(QString, work);
        if (::geteuid() != 0)
            QSKIP("planting another user's files and running as a second user take root");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is not installed");
        const QString self = QCoreApplication::applicationFilePath();
        if (!RunAsOrdinaryUser(
                "test", {"-x", self, "-a", "-r", kMedia + "/" + kValid, "-a", "-x", BuildProgramFolder()},
                QProcessEnvironment::systemEnvironment()))
            QSKIP("uid 65534 cannot run this test program or read its media from where they are");

        // base (root, 0755) holds shared (root, sticky and writable by all,
        // like /tmp) and the home of uid 65534.
        QTemporaryDir dir;
        const QString base = dir.path();
        QCOMPARE(::chmod(QFile::encodeName(base).constData(), 0755), 0);
        const QString shared = base + "/shared";
        const QString home = base + "/home";
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        const QString source = home + "/src/a.wma";
        MakeFile(source, Contents(kMedia + "/" + kValid));
        MakeFile(home + "/out/a.mp3", "older");
        MakeFile(home + "/secret.txt", "the user's own");
        MakeFile(home + "/victim.txt", "the user's own");
        QVERIFY(QDir().mkpath(home + "/runtime"));
        QCOMPARE(QProcess::execute("chown", {"-R", "65534:65534", home}), 0);
        for (const QString& folder : {home, home + "/runtime"})
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0700), 0);

        // The planter's own programs, under every staged name.
        const QByteArray trap = "#!/bin/sh\ncp \"$HOME/secret.txt\" '" + QFile::encodeName(shared) +
                                "/stolen'\ntouch '" + QFile::encodeName(shared) + "/ran'\n";
        for (const char* name : {"wma2mp3.sh", "wma2wav.sh", "lame", "wmawav"}) {
            MakeFile(shared + "/" + name, trap);
            ::chmod(QFile::encodeName(shared + "/" + name).constData(), 0755);
        }
        if (planted == "working files")
            for (const char* name : {"working.wma", "working.wav", "working.mp3", "working.nfo"})
                MakeFile(shared + "/" + name, "planted");
        if (planted == "link")
            QVERIFY(QFile::link(home + "/victim.txt", shared + "/working.mp3"));
        if (planted == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(shared + "/working.wma").constData(), 0666), 0);
        if (planted == "lock")  // held, it says, by a program that runs for good
            MakeFile(shared + "/" + kWorkLockName,
                     "1\nbrenvale\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        if (planted.startsWith("own"))
            QVERIFY(QDir().mkpath(shared + "/brenvale-65534"));
        QString cache = home + "/.cache";
        if (planted.endsWith("cache")) {
            cache = shared + "/cache";
            QVERIFY(QDir().mkpath(cache + "/brenvale"));
        }

        QProcess run;
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH"));
        env.insert("HOME", home);
        env.insert("TEMP", shared);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_CACHE_HOME", cache);
        env.insert("XDG_RUNTIME_DIR", home + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        run.setProcessEnvironment(env);
        StartAsOrdinaryUser(run, self, {"--convert-as-probe", home + "/out", source});
        const bool ended = run.waitForFinished(60000);
        if (!ended)
            run.kill();
        QVERIFY2(ended, "the run hung");
        const QStringList messages =
            QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);

        // Nothing of the planter's ran, and the user's files are as they were.
        QVERIFY(!QFile::exists(shared + "/ran"));
        QVERIFY(!QFile::exists(shared + "/stolen"));
        QCOMPARE(Contents(home + "/victim.txt"), QByteArray("the user's own"));
        QCOMPARE(Contents(source), Contents(kMedia + "/" + kValid));
        if (work.isEmpty()) {
            QCOMPARE(messages, QStringList({WorkFolderFailed(source, cache + "/brenvale/work"), kDone}));
            QCOMPARE(Contents(home + "/out/a.mp3"), QByteArray("older"));
            return;
        }
        QCOMPARE(messages, QStringList({kDone}));
        QVERIFY(VerifyMp3(home + "/out/a.mp3"));  // this source's own result
        const QString folder = base + "/" + work;
        QCOMPARE(QFileInfo(folder).ownerId(), uint(65534));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--hold-work-lock") == 0)
        return HoldWorkLock(argc, argv);
    if (argc >= 4 && qstrcmp(argv[1], "--convert-as-probe") == 0)
        return ConvertAsProbe(argc, argv);
    QApplication app(argc, argv);
    TestConversionRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_conversionrun.moc"
