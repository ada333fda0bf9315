// Whole conversion runs through the window: "Start Converting" with the real
// decoder and the real LAME on real WMA files, the user's answers scripted.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "app/startup.h"
#include "convert/staging.h"
#include "convert/worklock.h"
#include "filelist/filelist.h"
#include "mp3check.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "wmawav/wavcheck.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <memory>

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

QString CannotSave(const QString& target) {
    return "Can not save " + target + ". Please check that the folder exists and can be written to.";
}

QString CannotSaveOverSource(const QString& target) {
    return "Can not save " + target + " over the file it was converted from.";
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

        // The lock was this program's during the run and is gone after it;
        // of the working files only the last result stays.
        QCOMPARE(lockPid, QCoreApplication::applicationPid());
        QCOMPARE(workAtDone, QStringList({"working.mp3"}));
        QCOMPARE(s.workFiles(), QStringList({"working.mp3"}));
        QVERIFY(!s.form->IsBusy());
        QCOMPARE(s.form->ProgressValue(), 0.0);
        QCOMPARE(s.form->ProgressText(), QStringLiteral("Progress Bar"));
        QCOMPARE(s.form->ListView1->topLevelItemCount(), 3);
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
        QCOMPARE(s.workFiles(), QStringList({"working.wav"}));
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
        QCOMPARE(Contents(out + "/song.mp3"), Contents(s.env.work() + "/working.mp3"));
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
        QCOMPARE(s.workFiles(), QStringList({"working.wav"}));
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
        QString target;
        if (spelling == "beside") {
            s.besideSources();
            target = source;
        } else if (spelling == "dotdot") {
            s.intoFolder(s.root() + "/music/sub/..");
            target = s.root() + "/music/sub/../song.wav";
        } else {
            s.intoFolder(s.root() + "/link/");
            target = s.root() + "/link/song.wav";
        }

        s.form->PushButton2_Click();

        QCOMPARE(s.dialogs.messages(), QStringList({CannotSaveOverSource(target), kDone}));
        QCOMPARE(s.dialogs.shown[0].style, int(vbOKOnly));
        QCOMPARE(Contents(source), original);
        QVERIFY(VerifyWav(s.root() + "/music/next.wav"));
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
        QCOMPARE(s.workFiles(), QStringList({"working.mp3"}));
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
        QCOMPARE(s.workFiles(), QStringList({"working.mp3"}));
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

    void missingWorkFolderIsReportedOnce() {
        Session s;
        const QString a = s.source(kValid, "src/a.wma");
        s.list({a});
        s.mp3();
        s.besideSources();
        const QString missing = s.root() + "/no work folder";
        qputenv("TEMP", missing.toLocal8Bit());

        s.form->PushButton2_Click();

        const QStringList messages = s.dialogs.messages();
        QCOMPARE(messages.size(), 4);
        QVERIFY2(messages[0].contains("in Tarnwick2021/08/31.Form1.PushButton2_Click at line 122\r\r"),
                 qPrintable(messages[0]));
        QCOMPARE(s.dialogs.shown[0].title, QStringLiteral("Application Error"));
        QCOMPARE(messages.mid(1), QStringList({CannotConvert(a), kQuestion, kDone}));
        QVERIFY(!QFile::exists(s.root() + "/src/a.mp3"));
        QVERIFY(!s.form->IsBusy());
        QCOMPARE(s.form->MousePointer(), int(kPointerDefault));
        QVERIFY(!QDir(missing).exists());
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--hold-work-lock") == 0)
        return HoldWorkLock(argc, argv);
    QApplication app(argc, argv);
    TestConversionRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_conversionrun.moc"
