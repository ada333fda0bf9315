// The main window's start-up, its option and folder-box handlers, and the
// start-up helpers.
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/windowfit.h"
#include "filelist/filelist.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QAccessible>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

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

// The contrast ratio of two colours, 1 to 21, as readability guidelines measure it.
double Contrast(QColor a, QColor b) {
    auto luminance = [](QColor c) {
        auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF()) + 0.05;
    };
    return qMax(luminance(a), luminance(b)) / qMin(luminance(a), luminance(b));
}

QString Stored(const QString& key) {
    return GetBrenvaleSetting(key, QStringLiteral("<absent>"));
}

// "tst_startup --load-window FOLDER" loads a window on the program folder
// FOLDER and prints the messages it showed, one percent-encoded line each.
int LoadWindowProbe(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ScriptedDialogs dialogs;
    Form1 form(dialogs, QString::fromLocal8Bit(argv[2]));
    form.Form_Load();
    for (const QString& message : dialogs.messages())
        std::printf("%s\n", message.toUtf8().toPercentEncoding().constData());
    return 0;
}

// Loads a window on programFolder in a process of an ordinary user, with a
// HOME and store of its own, and returns the messages it showed; none when
// no such process could be run.
std::optional<QStringList> LoadWindowAsOrdinaryUser(const QString& programFolder) {
    QTemporaryDir home;
    const QByteArray homePath = QFile::encodeName(home.path());
    if (::geteuid() == 0 && ::chown(homePath.constData(), 65534, 65534) != 0)
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("TEMP"), home.path());
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const std::optional<QByteArray> output =
        RunAsOrdinaryUser(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--load-window"), programFolder}, environment);
    if (!output)
        return std::nullopt;
    QStringList messages;
    for (const QByteArray& line : output->split('\n'))
        if (!line.isEmpty())
            messages << QString::fromUtf8(QByteArray::fromPercentEncoding(line));
    return messages;
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

    void storedFolderBoxIsRestoredAsStored_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("homeMissing");
        QTest::newRow("empty") << QString() << false;
        // Longer than a line box's default maximum of 32767 characters.
        QTest::newRow("40000 characters") << QLatin1Char('/') + QString(39999, QLatin1Char('m')) << false;
        // The desktop folder is only the default for a missing key.
        QTest::newRow("no desktop folder") << QStringLiteral("/srv/music/") << true;
    }
    void storedFolderBoxIsRestoredAsStored() {
        QFETCH(QString, stored);
        QFETCH(bool, homeMissing);
        TestEnvironment env;
        env.storeRaw(QStringLiteral("Text1"), stored);
        if (homeMissing)
            qputenv("HOME", (env.root() + QStringLiteral("/no-such-home")).toLocal8Bit());
        Window w(programFolder_.path());
        w.form->Form_Load();
        QCOMPARE(w.dialogs.messages(), QStringList());
        QCOMPARE(w.form->Text1->text(), stored);
        QCOMPARE(Stored(QStringLiteral("Text1")), stored);
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

    void refusedStoreIsReportedByEveryHandler_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder of the store's name") << "folder";
        QTest::newRow("pipe of the store's name") << "pipe";
    }
    void refusedStoreIsReportedByEveryHandler() {
        // A store that cannot be used is reported where start-up writes it
        // (the restored folder box, line 132), and the window starts with the
        // defaults. Every handler that writes it afterwards shows the report
        // and the window goes on.
        QFETCH(QString, kind);
        TestEnvironment env;
        const QByteArray store = QFile::encodeName(env.settingsFile());
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(env.settingsFile()));
        else
            QCOMPARE(::mkfifo(store.constData(), 0600), 0);
        Window w(programFolder_.path());
        ::alarm(60);  // a start-up that waits on the pipe ends the test here
        w.form->Form_Load();
        ::alarm(0);
        QCOMPARE(w.dialogs.messages(),
                 QStringList({ErrorReportText(QStringLiteral("Path/File access error"),
                                              FormLocation(QStringLiteral("Form_Load")), 132)}));
        QCOMPARE(w.form->Text1->text(), env.desktop() + QStringLiteral("/"));
        QVERIFY(w.form->Option1->isChecked());
        QVERIFY(w.form->Option3->isChecked());
        QVERIFY(w.form->Frame2->isEnabled());

        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        w.dialogs.clear();
        QStringList expected;
        auto report = [&](const char* procedure) {
            expected << ErrorReportText(QStringLiteral("Path/File access error"),
                                        FormLocation(QLatin1String(procedure)), 0);
        };
        QTest::mouseClick(w.form->Option4, Qt::LeftButton);
        report("Option4_Click");
        QVERIFY(w.form->Option4->isChecked());
        QTest::mouseClick(w.form->Option3, Qt::LeftButton);
        report("Option3_Click");
        QTest::mouseClick(w.form->Option2, Qt::LeftButton);
        report("Option2_Click");
        QVERIFY(w.form->Option2->isChecked());
        QTest::mouseClick(w.form->Option1, Qt::LeftButton);
        report("Option1_Click");
        QTest::mouseClick(w.form->Text1, Qt::LeftButton);
        report("Text1_Click");
        w.form->Text1->end(false);
        QTest::keyClicks(w.form->Text1, QStringLiteral("x"));
        report("Text1_Change");
        QCOMPARE(w.dialogs.messages(), expected);
        for (const ShownDialog& d : w.dialogs.shown)
            QCOMPARE(d.style, 48);
        // The window goes on: the typed text stands, and a command still runs.
        QCOMPARE(w.form->Text1->text(), env.desktop() + QStringLiteral("/x"));
        QVERIFY(!w.ended);
        AddToFileList(w.form->ListView1, QStringLiteral("/a.wma"));
        QTest::mouseClick(w.form->PushButton8, Qt::LeftButton);
        QCOMPARE(FileListCount(w.form->ListView1), 0);
        QVERIFY(w.form->isVisible());
        QVERIFY(!QFileInfo(env.settingsFile()).isFile());  // never replaced by a file
    }

    void customPointerImage() {
        TestEnvironment env;
        {
            Window w(programFolder_.path());  // no HAND-M.CUR there
            w.form->Form_Load();
            QVERIFY(!w.form->HasCustomPointerImage());
            QVERIFY(w.dialogs.shown.isEmpty());
        }
        // A file of that name that cannot be loaded as a cursor is reported
        // at its line; a pipe is never waited for.
        for (const QString& kind :
             {QStringLiteral("pipe"), QStringLiteral("folder"), QStringLiteral("text")}) {
            QTemporaryDir folder;
            const QString hand = folder.path() + QStringLiteral("/HAND-M.CUR");
            if (kind == QLatin1String("pipe"))
                QCOMPARE(::mkfifo(QFile::encodeName(hand).constData(), 0600), 0);
            else if (kind == QLatin1String("folder"))
                QVERIFY(QDir().mkpath(hand));
            else
                MakeFile(hand, "not a cursor");
            Window w(folder.path());
            ::alarm(60);
            w.form->Form_Load();
            ::alarm(0);
            QVERIFY(!w.form->HasCustomPointerImage());
            const QString description = kind == QLatin1String("text")
                                            ? QStringLiteral("Invalid picture")
                                            : QStringLiteral("Path/File access error");
            QCOMPARE(w.dialogs.messages(), QStringList(ErrorReportText(
                                               description, FormLocation(QStringLiteral("Form_Load")), 106)));
            QCOMPARE(w.form->ListView1->columnCount(), 1);  // start-up went on
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

    // Each caption as drawn: its pixels are those that differ from the
    // control drawn without it; the strongest must stand out from the
    // control's background (its corner).
    void captionsReadableUnderEveryPalette_data() {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<bool>("skin");
        QTest::newRow("dark") << QPalette(QColor(0x35, 0x35, 0x35)) << false;
        QTest::newRow("light") << QPalette(QColor(0xef, 0xef, 0xef)) << false;
        QTest::newRow("high contrast") << QPalette(Qt::yellow, Qt::black, Qt::white, Qt::white, Qt::gray,
                                                   Qt::yellow, Qt::white, Qt::black, Qt::black)
                                       << false;
        QTest::newRow("dark, skinned") << QPalette(QColor(0x35, 0x35, 0x35)) << true;
    }
    void captionsReadableUnderEveryPalette() {
        QFETCH(QPalette, palette);
        QFETCH(bool, skin);
        TestEnvironment env;
        QTemporaryDir folder;
        if (skin)
            MakeFile(folder.path() + QStringLiteral("/x/o.cjs"), "QPushButton { font-size: 10pt; }");
        const auto restore =
            qScopeGuard([before = QApplication::palette()] { QApplication::setPalette(before); });
        QApplication::setPalette(palette);
        Window w(folder.path());
        w.form->Form_Load();
        Form1& f = *w.form;
        for (QWidget* control : {(QWidget*)f.Frame1, (QWidget*)f.Frame5, (QWidget*)f.Option1,
                                 (QWidget*)f.Option2, (QWidget*)f.Option3, (QWidget*)f.Option4}) {
            const char* caption = qobject_cast<QGroupBox*>(control) ? "title" : "text";
            const QImage drawn = control->grab().toImage();
            control->setProperty(caption, QString());
            const QImage bare = control->grab().toImage();
            double best = 1.0;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x)
                    if (drawn.pixel(x, y) != bare.pixel(x, y))
                        best = qMax(best, Contrast(drawn.pixel(x, y), bare.pixel(0, 0)));
            QVERIFY2(best >= 4.5, qPrintable(control->objectName() + QStringLiteral(": %1").arg(best)));
        }
    }

    void controlsNamedForScreenReaders() {
        Window w(programFolder_.path());
        const QStringList described = {"ListView1", "Text1", "PushButton4", "ProgressBar1"};
        const auto controls = w.form->findChildren<QWidget*>(
            QRegularExpression(QStringLiteral("^(ListView|PushButton|Frame|Option|Text|ProgressBar)\\d+$")));
        QCOMPARE(controls.size(), 16);
        for (QWidget* c : controls) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
            QVERIFY2(a->text(QAccessible::Name).contains(QRegularExpression(QStringLiteral("\\w\\w"))),
                     qPrintable(c->objectName()));
            QVERIFY2(!described.contains(c->objectName()) || !a->text(QAccessible::Description).isEmpty(),
                     qPrintable(c->objectName()));
        }
        // The window is an application's frame, and the file in work reaches
        // the reader with the bar.
        QCOMPARE(QAccessible::queryAccessibleInterface(w.form.get())->role(), QAccessible::Window);
        w.form->SetProgressText(QStringLiteral("Processing: 07 Song.wma"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w.form->ProgressBar1)->text(QAccessible::Description),
                 QStringLiteral("Processing: 07 Song.wma"));
    }

    // The designed 536x524 window with its frame (a title bar, and borders)
    // within a screen's available area, the top left corner first; where it
    // does not fit, as much as fits, with room for a 16-pixel scroll bar.
    void fittedToTheAvailableArea_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<int>("titleBar");
        QTest::addColumn<int>("border");
        QTest::addColumn<QRect>("window");
        QTest::newRow("1366x768, a panel") << QRect(0, 0, 1366, 740) << 30 << 0 << QRect(415, 123, 536, 524);
        QTest::newRow("1366x768 at 1.5, a panel") << QRect(0, 21, 911, 491) << 30 << 0 << QRect(180, 51, 552, 461);
        QTest::newRow("narrow second screen") << QRect(1920, 0, 500, 900) << 30 << 0
                                              << QRect(1920, 195, 500, 540);
        QTest::newRow("1366x768 at 2") << QRect(0, 0, 683, 384) << 24 << 1 << QRect(66, 24, 552, 359);
    }
    void fittedToTheAvailableArea() {
        QFETCH(QRect, available);
        QFETCH(int, titleBar);
        QFETCH(int, border);
        QFETCH(QRect, window);
        QCOMPARE(FitWithin(available, QSize(536, 524), QMargins(border, titleBar, border, border), 16), window);
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
        ::chmod(QFile::encodeName(folder.path() + QStringLiteral("/x/o.cjs")).constData(), 0);
        // A sheet that cannot be read for lack of permission is reported as
        // such. Root reads every file, so the window is then loaded by an
        // ordinary user.
        ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
        ::chmod(QFile::encodeName(folder.path() + QStringLiteral("/x")).constData(), 0755);
        const std::optional<QStringList> messages = LoadWindowAsOrdinaryUser(folder.path());
        if (!messages)
            QSKIP("no process of an ordinary user (uid 65534 through setpriv) could load the window");
        QCOMPARE(*messages, QStringList(ErrorReportText(QStringLiteral("Permission denied"),
                                                        FormLocation(QStringLiteral("Form_Load")), 100)));
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

int main(int argc, char* argv[]) {
    if (argc == 3 && qstrcmp(argv[1], "--load-window") == 0)
        return LoadWindowProbe(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
