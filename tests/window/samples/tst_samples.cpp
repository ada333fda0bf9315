// "Load Sample/Example Files": a program folder of the test's own, and the
// sample files that ship beside the built program.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/startup.h"
#include "filelist/filelist.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

namespace {

const QString kQuestion = QStringLiteral(
    "Would you like this software to open the folder where these sample files are stored (so that you can "
    "view them before working with them)?");

QStringList ListTexts(const Form1& form) {
    QStringList texts;
    for (int i = 1; i <= FileListCount(form.ListView1); ++i)
        texts << FileListText(form.ListView1, i);
    return texts;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Seconds of audio in a canonical 16-bit PCM WAV file.
double WavSeconds(const QByteArray& wav) {
    if (wav.size() < 44 || !wav.startsWith("RIFF"))
        return -1;
    const auto u32 = [&](int at) {
        return quint32(quint8(wav[at])) | quint32(quint8(wav[at + 1])) << 8 |
               quint32(quint8(wav[at + 2])) << 16 | quint32(quint8(wav[at + 3])) << 24;
    };
    const quint32 byteRate = u32(28);
    const qsizetype data = wav.indexOf("data", 12);
    if (byteRate == 0 || data < 0)
        return -1;
    return double(u32(int(data) + 4)) / byteRate;
}

}  // namespace

class TestSamples : public QObject {
    Q_OBJECT

private:
    WindowFixture w_;
    Form1& form() { return *w_.form; }
    ScriptedDialogs& dialogs() { return *w_.dialogs; }
    QString samples() const { return w_.program->path() + "/Samples/"; }

private slots:
    void init() {
        w_.start();
        for (const char* name : {"b.wma", "a.wma", "c.wma"})
            MakeFile(samples() + name);
        w_.load();
    }
    void cleanup() { w_.stop(); }

    void loadsEverySampleAndAsks() {
        QTest::mouseClick(form().PushButton9, Qt::LeftButton);
        // Listed by name, whatever order they were made in.
        const QStringList expected{samples() + "a.wma", samples() + "b.wma", samples() + "c.wma"};
        QCOMPARE(ListTexts(form()), expected);

        QCOMPARE(dialogs().shown.size(), 1);
        const ShownDialog& question = dialogs().shown[0];
        QCOMPARE(question.kind, ShownDialog::Message);
        QCOMPARE(question.text, kQuestion);
        QCOMPARE(question.style, 4);
        QCOMPARE(question.title, AppTitle());

        // A second press adds nothing but asks again.
        QTest::mouseClick(form().PushButton9, Qt::LeftButton);
        QCOMPARE(ListTexts(form()), expected);
        QCOMPARE(dialogs().messages(), QStringList({kQuestion, kQuestion}));
        QVERIFY(dialogs().ofKind(ShownDialog::Url).isEmpty());
    }

    void onlyExactTextsCountAsListed_data() {
        QTest::addColumn<QString>("listed");
        QTest::addColumn<bool>("addedAgain");
        QTest::newRow("same text") << "Samples/a.wma" << false;
        QTest::newRow("other letter case") << "SAMPLES/a.wma" << true;
        QTest::newRow("doubled separator") << "Samples//a.wma" << true;
    }
    void onlyExactTextsCountAsListed() {
        QFETCH(QString, listed);
        QFETCH(bool, addedAgain);
        const QString text = w_.program->path() + "/" + listed;
        AddToFileList(form().ListView1, text);
        form().PushButton9_Click();
        const QStringList texts = ListTexts(form());
        QCOMPARE(texts.count(samples() + "a.wma"), 1);
        QCOMPARE(texts.size(), addedAgain ? 4 : 3);
        QCOMPARE(texts.first(), text);
    }

    void everyFileOfTheFolderIsASample() {
        MakeFile(samples() + "notes.txt");
        MakeFile(samples() + ".hidden.wma");
        QVERIFY(QDir().mkpath(samples() + "sub.wma"));
        MakeFile(samples() + "sub.wma/deeper.wma");
        form().PushButton9_Click();
        QStringList texts = ListTexts(form());
        texts.sort();
        QCOMPARE(texts, QStringList({samples() + ".hidden.wma", samples() + "a.wma", samples() + "b.wma",
                                     samples() + "c.wma", samples() + "notes.txt"}));
    }

    void yesOpensTheSampleFolder() {
        dialogs().messageAnswers.enqueue(vbYes);
        form().PushButton9_Click();
        const QList<ShownDialog> urls = dialogs().ofKind(ShownDialog::Url);
        QCOMPARE(urls.size(), 1);
        const QUrl url(urls[0].text);
        QVERIFY(url.isLocalFile());
        QCOMPARE(QDir(url.toLocalFile()).canonicalPath(), QDir(samples()).canonicalPath());
        // Nothing is said when the desktop cannot open it either.
        dialogs().clear();
        dialogs().urlOpens = false;
        dialogs().messageAnswers.enqueue(vbYes);
        form().PushButton9_Click();
        QCOMPARE(dialogs().messages(), QStringList{kQuestion});
    }

    void missingSampleFolder() {
        QTemporaryDir empty;
        w_.load(empty.path());
        dialogs().messageAnswers.enqueue(vbYes);
        form().PushButton9_Click();
        QCOMPARE(FileListCount(form().ListView1), 0);
        // The question still comes; opening the missing folder fails
        // without a message of the program's own.
        QCOMPARE(dialogs().messages(), QStringList{kQuestion});
        QVERIFY(dialogs().ofKind(ShownDialog::Url).isEmpty());
    }

    void failureEndsTheCommand() {
        bool failed = false;
        dialogs().messageAnswers.enqueue(vbYes);
        dialogs().whileShown = [&](const ShownDialog& d) {
            if (d.kind == ShownDialog::Message && !failed) {
                failed = true;
                RaiseError(5);
            }
        };
        form().PushButton9_Click();
        QCOMPARE(FileListCount(form().ListView1), 3);  // what was added stays
        QCOMPARE(dialogs().messages(),
                 QStringList({kQuestion,
                              ErrorReportText(ErrorDescription(5), FormLocation("PushButton9_Click"), 100)}));
        QVERIFY(dialogs().ofKind(ShownDialog::Url).isEmpty());
    }

    void shippedSamples() {
        // The samples beside the built program: three short WMA files with
        // title tags that the decoder turns into about ten seconds of audio.
        w_.load(BuildProgramFolder());
        form().PushButton9_Click();
        const QStringList texts = ListTexts(form());
        QCOMPARE(texts.size(), 3);
        static const QByteArray asfHeader = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
        QTemporaryDir out;
        for (const QString& path : texts) {
            QVERIFY2(path.startsWith(BuildProgramFolder() + "/Samples/") && path.endsWith(".wma"),
                     qPrintable(path));
            const QByteArray bytes = ReadAll(path);
            QVERIFY2(bytes.startsWith(asfHeader), qPrintable(path));
            QVERIFY2(bytes.size() < 150 * 1024, qPrintable(path));
            const QByteArray title = QByteArray("Brenvale Sample");
            QByteArray utf16;
            for (char c : title)
                utf16 += c, utf16 += '\0';
            QVERIFY2(bytes.contains(utf16), qPrintable(path + " has no title tag"));

            const QString wav = out.path() + "/out.wav";
            QProcess decoder;
            decoder.start(WMAWAV_EXECUTABLE, {path, wav});
            QVERIFY(decoder.waitForFinished(60000));
            QCOMPARE(decoder.exitCode(), 0);
            const double seconds = WavSeconds(ReadAll(wav));
            QVERIFY2(seconds > 8.0 && seconds < 12.0, qPrintable(QString::number(seconds)));
        }
    }
};

QTEST_MAIN(TestSamples)
#include "tst_samples.moc"
