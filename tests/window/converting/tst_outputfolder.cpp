// The "..." button beside the output folder box.
#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

namespace {

struct Window {
    Window() : form(std::make_unique<Form1>(dialogs, BuildProgramFolder())) {
        form->setEndProcessForTests([] {});
        form->Form_Load();
        dialogs.clear();
    }
    ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;
};

QString Stored(const QString& key) {
    return GetBrenvaleSetting(key, QStringLiteral("<absent>"));
}

}  // namespace

class TestOutputFolder : public QObject {
    Q_OBJECT

private slots:
    void chooseFolder_data() {
        QTest::addColumn<QString>("chosen");       // relative to the test root, "/" for the root
        QTest::addColumn<QString>("expectedBox");  // likewise
        QTest::newRow("folder: a / is added") << "Music"
                                              << "Music/";
        QTest::newRow("folder with blanks") << "My Music/Live 2021"
                                            << "My Music/Live 2021/";
        QTest::newRow("root: kept as it is") << "/"
                                             << "/";
    }

    void chooseFolder() {
        QFETCH(QString, chosen);
        QFETCH(QString, expectedBox);
        TestEnvironment env;
        const auto inRoot = [&](const QString& p) { return p == "/" ? p : env.root() + "/" + p; };
        const QString answer = inRoot(chosen);
        if (answer != "/")
            QVERIFY(QDir().mkpath(answer));
        env.storeRaw("LastFolder", "/scan/folder");
        Window w;
        w.dialogs.folderAnswers.enqueue(answer);

        w.form->PushButton4_Click();

        const QList<ShownDialog> pickers = w.dialogs.ofKind(ShownDialog::Folder);
        QCOMPARE(pickers.size(), 1);
        QCOMPARE(pickers[0].text, QStringLiteral("Please select folder:"));
        QCOMPARE(w.dialogs.shown.size(), 1);
        QCOMPARE(w.form->Text1->text(), inRoot(expectedBox));
        QCOMPARE(Stored("Text1"), inRoot(expectedBox));
        QCOMPARE(Stored("LastFolderDot"), answer);
        QCOMPARE(Stored("LastFolder"), QStringLiteral("/scan/folder"));  // the folder scan's own
    }

    void startsOnTheLastChosenFolder() {
        TestEnvironment env;
        const QString first = env.root() + "/first";
        const QString second = env.root() + "/second";
        QVERIFY(QDir().mkpath(first));
        QVERIFY(QDir().mkpath(second));
        Window w;
        w.dialogs.folderAnswers << first << second;

        w.form->PushButton4_Click();
        w.form->PushButton4_Click();

        const QList<ShownDialog> pickers = w.dialogs.ofKind(ShownDialog::Folder);
        QCOMPARE(pickers.size(), 2);
        QVERIFY(pickers[0].defaultText.isEmpty());  // nothing chosen before
        QCOMPARE(pickers[1].defaultText, first);
        QCOMPARE(w.form->Text1->text(), second + "/");
    }

    void lastFolderIsReadFromTheStoreEachTime() {
        TestEnvironment env;
        const QString elsewhere = env.root() + "/chosen by another copy";
        QVERIFY(QDir().mkpath(elsewhere));
        Window w;
        // Another running copy of the program chose a folder meanwhile.
        env.storeRaw("LastFolderDot", elsewhere);

        w.form->PushButton4_Click();

        const QList<ShownDialog> pickers = w.dialogs.ofKind(ShownDialog::Folder);
        QCOMPARE(pickers.size(), 1);
        QCOMPARE(pickers[0].defaultText, elsewhere);
    }

    void cancelChangesNothing() {
        TestEnvironment env;
        const QString previous = env.root() + "/previous";
        QVERIFY(QDir().mkpath(previous));
        env.storeRaw("LastFolderDot", previous);
        env.storeRaw("Text1", "/typed/box");
        Window w;
        QCOMPARE(w.form->Text1->text(), QStringLiteral("/typed/box"));

        w.form->PushButton4_Click();  // no answer queued: cancelled
        w.form->PushButton4_Click();

        QCOMPARE(w.form->Text1->text(), QStringLiteral("/typed/box"));
        QCOMPARE(Stored("Text1"), QStringLiteral("/typed/box"));
        QCOMPARE(Stored("LastFolderDot"), previous);
        const QList<ShownDialog> pickers = w.dialogs.ofKind(ShownDialog::Folder);
        QCOMPARE(pickers.size(), 2);
        QCOMPARE(pickers[0].defaultText, previous);
        QCOMPARE(pickers[1].defaultText, previous);
        QVERIFY(w.dialogs.messages().isEmpty());
    }

    void buttonWorksOnlyForThisFolderOption() {
        TestEnvironment env;
        const QString chosen = env.root() + "/clicked";
        QVERIFY(QDir().mkpath(chosen));
        Window w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.dialogs.folderAnswers << chosen << chosen;

        // Results beside their sources: the folder box and its button are off.
        w.form->Option4->click();
        QVERIFY(!w.form->PushButton4->isEnabled());
        QTest::mouseClick(w.form->PushButton4, Qt::LeftButton);
        QVERIFY(w.dialogs.ofKind(ShownDialog::Folder).isEmpty());

        w.form->Option3->click();
        QTest::mouseClick(w.form->PushButton4, Qt::LeftButton);
        QCOMPARE(w.dialogs.ofKind(ShownDialog::Folder).size(), 1);
        QCOMPARE(w.form->Text1->text(), chosen + "/");
    }

    void failureIsReportedAndTheCommandGoesOn() {
        TestEnvironment env;
        Window w;
        const QString before = w.form->Text1->text();
        // The folder dialog itself fails.
        w.dialogs.whileShown = [](const ShownDialog& d) {
            if (d.kind == ShownDialog::Folder)
                RaiseError(5);
        };

        w.form->PushButton4_Click();

        const QStringList messages = w.dialogs.messages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0],
                 ErrorReportText(ErrorDescription(5), "in Tarnwick2021/08/31.Form1.PushButton4_Click ", 102));
        QCOMPARE(w.dialogs.shown.last().title, QStringLiteral("Application Error"));
        // No folder was chosen, so the command ends there.
        QCOMPARE(w.form->Text1->text(), before);
        QCOMPARE(Stored("LastFolderDot"), QStringLiteral("<absent>"));
    }
};

QTEST_MAIN(TestOutputFolder)
#include "tst_outputfolder.moc"
