// The main window's start-up, its option and folder-box handlers, and the
// start-up helpers.
#include "app/form1.h"
#include "app/settings.h"
#include "app/startup.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Window {
    explicit Window(const QString& programFolder) : form(std::make_unique<Form1>(dialogs, programFolder)) {
        form->setEndProcessForTests([this] { ended = true; });
    }
    ScriptedDialogs dialogs;
    std::unique_ptr<Form1> form;
    bool ended = false;
};

QString Stored(const QString& key) {
    return GetBrenvaleSetting(key, QStringLiteral("<absent>"));
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT

private:
    QTemporaryDir programFolder_;

private slots:
    void firstStartWithEmptyStore() {
        TestEnvironment env;
        Window w(programFolder_.path());
        w.form->Form_Load();

        QVERIFY(w.dialogs.shown.isEmpty());
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Brenvale"));
        QVERIFY(!w.form->windowIcon().isNull());
        QCOMPARE(AppTitle(), QStringLiteral("Brenvale"));
        QCOMPARE(w.form->Text1->text(), env.desktop() + QStringLiteral("/"));
        QVERIFY(w.form->Option1->isChecked());
        QVERIFY(!w.form->Option2->isChecked());
        QVERIFY(w.form->Option3->isChecked());
        QVERIFY(!w.form->Option4->isChecked());
        QVERIFY(w.form->Frame2->isEnabled());
        QCOMPARE(Stored(QStringLiteral("Text1")), env.desktop() + QStringLiteral("/"));
        // The designed selection stands, so no option key is written yet.
        QVERIFY(!env.storeContains(QStringLiteral("Option1")));
        QVERIFY(!env.storeContains(QStringLiteral("Option3")));
        QCOMPARE(w.form->ListView1->headerItem()->text(0), QStringLiteral(" WMA File(s)"));
        QCOMPARE(w.form->ListView1->columnCount(), 1);
        QCOMPARE(w.form->ListView1->columnWidth(0), 467);
        QCOMPARE(w.form->ListView1->topLevelItemCount(), 0);
        QCOMPARE(w.form->ProgressText(), QStringLiteral("Progress Bar"));
        QCOMPARE(w.form->ProgressValue(), 0.0);
    }

    void restoredOptions_data() {
        QTest::addColumn<QString>("o1");
        QTest::addColumn<QString>("o2");
        QTest::addColumn<QString>("o3");
        QTest::addColumn<QString>("o4");
        QTest::addColumn<QString>("checked");  // which of 1..4 end up selected
        QTest::addColumn<bool>("frame2");
        QTest::addColumn<QString>("stored");  // the four keys afterwards
        QTest::newRow("save beside source") << "True"
                                            << "False"
                                            << "False"
                                            << "True"
                                            << "14" << false << "True False False True";
        QTest::newRow("both of a pair true: later wins") << "True"
                                                         << "True"
                                                         << "True"
                                                         << "False"
                                                         << "23" << true << "False True True False";
        QTest::newRow("both of a pair false: none selected") << "False"
                                                             << "False"
                                                             << "False"
                                                             << "False"
                                                             << "" << false << "False False False False";
        QTest::newRow("numbers and letter case") << "0"
                                                 << "-1"
                                                 << "TRUE"
                                                 << "false"
                                                 << "23" << true << "False True TRUE false";
        QTest::newRow("WAV to this folder") << "False"
                                            << "True"
                                            << "True"
                                            << "False"
                                            << "23" << true << "False True True False";
    }
    void restoredOptions() {
        QFETCH(QString, o1);
        QFETCH(QString, o2);
        QFETCH(QString, o3);
        QFETCH(QString, o4);
        QFETCH(QString, checked);
        QFETCH(bool, frame2);
        QFETCH(QString, stored);
        TestEnvironment env;
        env.storeRaw(QStringLiteral("Option1"), o1);
        env.storeRaw(QStringLiteral("Option2"), o2);
        env.storeRaw(QStringLiteral("Option3"), o3);
        env.storeRaw(QStringLiteral("Option4"), o4);
        Window w(programFolder_.path());
        w.form->Form_Load();

        QVERIFY(w.dialogs.shown.isEmpty());
        QCOMPARE(w.form->Option1->isChecked(), checked.contains(QLatin1Char('1')));
        QCOMPARE(w.form->Option2->isChecked(), checked.contains(QLatin1Char('2')));
        QCOMPARE(w.form->Option3->isChecked(), checked.contains(QLatin1Char('3')));
        QCOMPARE(w.form->Option4->isChecked(), checked.contains(QLatin1Char('4')));
        QCOMPARE(w.form->Frame2->isEnabled(), frame2);
        QCOMPARE(w.form->Text1->isEnabled(), frame2);
        QCOMPARE(w.form->PushButton4->isEnabled(), frame2);
        const QStringList keys = {QStringLiteral("Option1"), QStringLiteral("Option2"),
                                  QStringLiteral("Option3"), QStringLiteral("Option4")};
        QStringList values;
        for (const QString& key : keys)
            values << Stored(key);
        // Keys of a pair where nothing got selected keep what was stored.
        QCOMPARE(values.join(QLatin1Char(' ')), stored);
    }

    void typeMismatchIsReportedAndStartupCompletes() {
        TestEnvironment env;
        env.storeRaw(QStringLiteral("Option1"), QStringLiteral("yes"));
        env.storeRaw(QStringLiteral("Option3"), QStringLiteral("maybe"));
        env.storeRaw(QStringLiteral("Option4"), QStringLiteral("True"));
        Window w(programFolder_.path());
        w.form->Form_Load();

        const QStringList messages = w.dialogs.messages();
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages[0].startsWith(
            QStringLiteral("Type mismatch\r\nin Tarnwick2021/08/31.Form1.Form_Load at line 134\r\r")));
        QVERIFY(messages[1].startsWith(
            QStringLiteral("Type mismatch\r\nin Tarnwick2021/08/31.Form1.Form_Load at line 138\r\r")));
        QCOMPARE(w.dialogs.shown[0].title, QStringLiteral("Application Error"));
        QCOMPARE(w.dialogs.shown[0].style, 48);
        // The buttons keep their designed state where the value was bad; the
        // later steps still ran.
        QVERIFY(w.form->Option1->isChecked());
        QVERIFY(w.form->Option4->isChecked());
        QVERIFY(!w.form->Option3->isChecked());
        QVERIFY(!w.form->Frame2->isEnabled());
        QCOMPARE(Stored(QStringLiteral("Option1")), QStringLiteral("yes"));
    }

    void storedEmptyFolderBoxStaysEmpty() {
        TestEnvironment env;
        env.storeRaw(QStringLiteral("Text1"), QString());
        Window w(programFolder_.path());
        w.form->Form_Load();
        QCOMPARE(w.form->Text1->text(), QString());
        QCOMPARE(Stored(QStringLiteral("Text1")), QString());
    }

    void unresolvableDesktopIsReportedAtLine132() {
        TestEnvironment env;
        qputenv("HOME", (env.root() + QStringLiteral("/no-such-home")).toLocal8Bit());
        Window w(programFolder_.path());
        w.form->Form_Load();
        QCOMPARE(w.dialogs.messages().size(), 1);
        QVERIFY(w.dialogs.messages()[0].startsWith(QStringLiteral(
            "Invalid procedure call or argument\r\nin Tarnwick2021/08/31.Form1.Form_Load at line 132\r\r")));
        QCOMPARE(w.form->Text1->text(), QString());
        QVERIFY(w.form->Option1->isChecked());
        QVERIFY(w.form->Frame2->isEnabled());  // later steps ran
    }

    void optionClicksRewriteBothKeys() {
        TestEnvironment env;
        Window w(programFolder_.path());
        w.form->Form_Load();
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));

        QTest::mouseClick(w.form->Option4, Qt::LeftButton);
        QVERIFY(w.form->Option4->isChecked());
        QVERIFY(!w.form->Text1->isEnabled());
        QVERIFY(!w.form->PushButton4->isEnabled());
        QCOMPARE(Stored(QStringLiteral("Option3")), QStringLiteral("False"));
        QCOMPARE(Stored(QStringLiteral("Option4")), QStringLiteral("True"));

        QTest::mouseClick(w.form->Option3, Qt::LeftButton);
        QVERIFY(w.form->Text1->isEnabled());
        QVERIFY(w.form->PushButton4->isEnabled());
        QCOMPARE(Stored(QStringLiteral("Option3")), QStringLiteral("True"));
        QCOMPARE(Stored(QStringLiteral("Option4")), QStringLiteral("False"));

        QTest::mouseClick(w.form->Option2, Qt::LeftButton);
        QCOMPARE(Stored(QStringLiteral("Option1")), QStringLiteral("False"));
        QCOMPARE(Stored(QStringLiteral("Option2")), QStringLiteral("True"));
        QTest::mouseClick(w.form->Option1, Qt::LeftButton);
        QCOMPARE(Stored(QStringLiteral("Option1")), QStringLiteral("True"));
        QCOMPARE(Stored(QStringLiteral("Option2")), QStringLiteral("False"));
        QVERIFY(w.dialogs.shown.isEmpty());
    }

    void typingStoresTheWholeText() {
        TestEnvironment env;
        Window w(programFolder_.path());
        w.form->Form_Load();
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.form->Text1->setFocus();
        w.form->Text1->end(false);
        QTest::keyClicks(w.form->Text1, QStringLiteral("x"));
        QCOMPARE(Stored(QStringLiteral("Text1")), env.desktop() + QStringLiteral("/x"));
        // A click in the box writes the text as it stands.
        env.storeRaw(QStringLiteral("Text1"), QStringLiteral("stale"));
        QTest::mouseClick(w.form->Text1, Qt::LeftButton);
        QCOMPARE(Stored(QStringLiteral("Text1")), env.desktop() + QStringLiteral("/x"));
    }

    void failingStoreIsReportedByTheHandler() {
        TestEnvironment env;
        Window w(programFolder_.path());
        w.form->Form_Load();
        w.form->show();
        QFile::remove(env.settingsFile());
        QDir().mkpath(env.settingsFile());  // the store can no longer be written
        QTest::mouseClick(w.form->Text1, Qt::LeftButton);
        QCOMPARE(w.dialogs.messages().size(), 1);
        QVERIFY(w.dialogs.messages()[0].contains(QStringLiteral("Form1.Text1_Click at line 0")));
    }

    void customPointerImage() {
        TestEnvironment env;
        {
            Window w(programFolder_.path());  // no HAND-M.CUR there
            w.form->Form_Load();
            QVERIFY(!w.form->HasCustomPointerImage());
            QVERIFY(w.dialogs.shown.isEmpty());
        }
        {
            QTemporaryDir folder;  // a pipe of that name is no picture
            QVERIFY(::mkfifo(QFile::encodeName(folder.path() + QStringLiteral("/HAND-M.CUR")).constData(),
                             0600) == 0);
            Window w(folder.path());
            w.form->Form_Load();
            QVERIFY(!w.form->HasCustomPointerImage());
            QVERIFY(w.dialogs.shown.isEmpty());
        }
        Window w(BuildProgramFolder());
        w.form->Form_Load();
        QVERIFY(w.form->HasCustomPointerImage());
        QVERIFY(w.dialogs.shown.isEmpty());
        w.form->SetMousePointer(kPointerCustom);
        QCOMPARE(w.form->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(w.form->cursor().hotSpot(), QPoint(7, 0));
        w.form->SetMousePointer(kPointerHourglass);
        QCOMPARE(w.form->cursor().shape(), Qt::WaitCursor);
    }

    void skin() {
        TestEnvironment env;
        QTemporaryDir folder;
        {
            Window w(folder.path());
            w.form->Form_Load();
            QCOMPARE(w.form->palette().color(QPalette::Window), QColor(Qt::white));
            QCOMPARE(w.form->Frame1->palette().color(QPalette::Window), QColor(Qt::white));
            QVERIFY(w.form->styleSheet().isEmpty());
        }
        MakeFile(folder.path() + QStringLiteral("/x/o.cjs"), "QPushButton { color: rgb(1, 2, 3); }");
        Window w(folder.path());
        const QColor face = w.form->palette().color(QPalette::Button);
        w.form->Form_Load();
        QVERIFY(w.dialogs.shown.isEmpty());
        QCOMPARE(w.form->palette().color(QPalette::Window), face);
        QCOMPARE(w.form->Option2->palette().color(QPalette::Window), face);
        QCOMPARE(w.form->Frame5->palette().color(QPalette::Window), face);
        QVERIFY(w.form->styleSheet().contains(QStringLiteral("rgb(1, 2, 3)")));
    }

    void unreadableSkinIsReportedAtLine100() {
        TestEnvironment env;
        QTemporaryDir folder;
        QDir().mkpath(folder.path() + QStringLiteral("/x/o.cjs/inner"));  // a folder, not a file
        {
            Window w(folder.path());
            w.form->Form_Load();
            QVERIFY(w.dialogs.shown.isEmpty());  // skipped: no plain file of that name
        }
        QDir(folder.path() + QStringLiteral("/x")).removeRecursively();
        QDir().mkpath(folder.path() + QStringLiteral("/x"));
        // A pipe of that name is no skin either, and must not block start-up.
        QVERIFY(::mkfifo(QFile::encodeName(folder.path() + QStringLiteral("/x/o.cjs")).constData(), 0600) ==
                0);
        {
            Window w(folder.path());
            w.form->Form_Load();
            QVERIFY(w.dialogs.shown.isEmpty());
            QVERIFY(w.form->styleSheet().isEmpty());
            QCOMPARE(w.form->windowTitle(), QStringLiteral("Brenvale"));
        }
        QFile::remove(folder.path() + QStringLiteral("/x/o.cjs"));
        MakeFile(folder.path() + QStringLiteral("/x/o.cjs"), "x");
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        ::chmod(QFile::encodeName(folder.path() + QStringLiteral("/x/o.cjs")).constData(), 0);
        Window w(folder.path());
        w.form->Form_Load();
        QCOMPARE(w.dialogs.messages().size(), 1);
        QVERIFY(w.dialogs.messages()[0].contains(QStringLiteral("Form_Load at line 100")));
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Brenvale"));
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("ListView1") << "ListView1" << QRect(120, 120, 7800, 2535) << "";
        QTest::newRow("PushButton1") << "PushButton1" << QRect(120, 2750, 3840, 405) << "Add WMA File(s)";
        QTest::newRow("PushButton3") << "PushButton3" << QRect(4080, 2750, 3840, 405)
                                     << "Add All WMA File(s) In Folder";
        QTest::newRow("PushButton8") << "PushButton8" << QRect(120, 3260, 3840, 405) << "Clear List";
        QTest::newRow("PushButton9") << "PushButton9" << QRect(4080, 3260, 3840, 405)
                                     << "Load Sample/Example Files";
        QTest::newRow("Frame5") << "Frame5" << QRect(120, 3735, 7800, 1815) << "Save Option";
        QTest::newRow("Option3") << "Option3" << QRect(240, 300, 3615, 255) << "Save results to this folder:";
        QTest::newRow("Frame2") << "Frame2" << QRect(480, 510, 6840, 810) << "";
        QTest::newRow("Text1") << "Text1" << QRect(240, 300, 5670, 345) << "";
        QTest::newRow("PushButton4") << "PushButton4" << QRect(6000, 300, 600, 345) << "...";
        QTest::newRow("Option4") << "Option4" << QRect(240, 1410, 3615, 255)
                                 << "Save results in folder of original file";
        QTest::newRow("Frame1") << "Frame1" << QRect(120, 5625, 7800, 1050) << "Conversion Options";
        QTest::newRow("Option1") << "Option1" << QRect(240, 300, 2160, 270) << "Convert WMA To MP3";
        QTest::newRow("Option2") << "Option2" << QRect(240, 650, 2535, 285) << "Convert WMA To WAV";
        QTest::newRow("PushButton2") << "PushButton2" << QRect(120, 6810, 7800, 405) << "Start Converting";
        QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(120, 7330, 7800, 405) << "";
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        ScriptedDialogs dialogs;
        Form1 form(dialogs, programFolder_.path());
        QWidget* w = form.findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(),
                 QRect(Twips(twips.x()), Twips(twips.y()), Twips(twips.width()), Twips(twips.height())));
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            QCOMPARE(button->text(), caption);
        } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
            QCOMPARE(frame->title(), caption);
        }
        if (qobject_cast<QPushButton*>(w)) {
            QCOMPARE(w->font().pointSizeF(), 11.25);
            QVERIFY(w->font().bold());
        } else {
            QCOMPARE(w->font().pointSizeF(), 9.0);
            QVERIFY(w->font().bold());
        }
        QCOMPARE(form.size(), QSize(536, 524));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void closingEndsTheProgram() {
        TestEnvironment env;
        Window w(programFolder_.path());
        w.form->Form_Load();
        w.form->show();
        QVERIFY(!w.ended);
        w.form->close();
        QVERIFY(w.ended);
    }

    void appTitle_data() {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word stays") << "Brenvale"
                                        << "Brenvale";
        QTest::newRow("short title loses its last word") << "Brenvale Audio Converter"
                                                         << "Brenvale Audio";
        QTest::newRow("long title cut to 40 by words")
            << "Brenvale Audio Converter For Windows Media Audio Files Pro"
            << "Brenvale Audio Converter For Windows";
        QTest::newRow("exactly 40 after one cut") << "aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd eee"
                                                  << "aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd";
    }
    void appTitle() {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(ShortenedAppTitle(product), title);
        QVERIFY(ShortenedAppTitle(product).size() <= 40 || !product.contains(QLatin1Char(' ')));
    }

    void specialFolders() {
        TestEnvironment env;
        const QString buffer = GetSpecialFolderPath(0);
        QCOMPARE(buffer.size(), 512);
        QCOMPARE(buffer.left(buffer.indexOf(QChar(u'\0'))), env.desktop());
        QCOMPARE(DesktopFolderPath(), env.desktop() + QStringLiteral("/"));
        // Without a desktop folder the home folder serves.
        QDir(env.desktop()).removeRecursively();
        QCOMPARE(DesktopFolderPath(), env.home() + QStringLiteral("/"));
        QCOMPARE(GetSpecialFolderPath(99), QString());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
