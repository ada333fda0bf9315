// The uniform error report and the trap that carries a procedure on.
#include "app/errorreport.h"
#include "support/scripteddialogs.h"

#include <QtTest>

#include <stdexcept>

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void reportTextIsExact() {
        const QString text = ErrorReportText(QStringLiteral("Type mismatch"),
                                             QStringLiteral("in Tarnwick2021/08/31.Form1.Form_Load "), 134);
        QCOMPARE(text, QStringLiteral("Type mismatch\r\nin Tarnwick2021/08/31.Form1.Form_Load at line 134\r\r"
                                      "Please email screenshot of this message to ") +
                           QLatin1String(kSupportAddress));
        QCOMPARE(text.count(QLatin1Char('\n')), 1);
        QCOMPARE(text.count(QLatin1Char('\r')), 3);
    }

    void failingStepIsReportedAndProcedureCarriesOn() {
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, FormLocation(QStringLiteral("PushButton8_Click")));
        QStringList ran;
        trap.run(100, [&] { RaiseError(53); });
        trap.run(102, [&] {
            ran << QStringLiteral("102 first half");
            RaiseError(70);
            ran << QStringLiteral("102 second half");
        });
        trap.run(104, [&] { ran << QStringLiteral("104"); });

        QCOMPARE(ran, QStringList({QStringLiteral("102 first half"), QStringLiteral("104")}));
        QCOMPARE(dialogs.shown.size(), 2);
        const ShownDialog first = dialogs.shown[0];
        QCOMPARE(first.title, QStringLiteral("Application Error"));
        QCOMPARE(first.style, 48);
        QVERIFY(first.text.startsWith(QStringLiteral(
            "File not found\r\nin Tarnwick2021/08/31.Form1.PushButton8_Click at line 100\r\r")));
        QVERIFY(dialogs.shown[1].text.startsWith(QStringLiteral("Permission denied\r\n")));
        QVERIFY(dialogs.shown[1].text.contains(QStringLiteral("at line 102\r\r")));
        QCOMPARE(trap.reports(), 2);
    }

    void failedTestRunsTheThenBranch() {
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, FormLocation(QStringLiteral("Form_Load")));
        bool thenRan = false;
        bool elseRan = false;
        if (trap.test(142, []() -> bool { RaiseError(13); }))
            thenRan = true;
        else
            elseRan = true;
        QVERIFY(thenRan);
        QVERIFY(!elseRan);
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY(dialogs.shown[0].text.contains(QStringLiteral("at line 142")));
        // A test that does not fail gives its own answer.
        QVERIFY(!trap.test(144, [] { return false; }));
        QCOMPARE(dialogs.shown.size(), 1);
    }

    void nonRuntimeFailuresAreReportedToo() {
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, FormLocation(QStringLiteral("PushButton2_Click")));
        trap.run(110, [] { throw std::runtime_error("disk went away"); });
        trap.run(112, [] { throw std::bad_alloc(); });
        QCOMPARE(dialogs.shown.size(), 2);
        QVERIFY(dialogs.shown[0].text.startsWith(QStringLiteral("disk went away\r\n")));
        QVERIFY(dialogs.shown[1].text.startsWith(QStringLiteral("Out of memory\r\n")));
    }

    void filterCanEndTheProcedure() {
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, FormLocation(QStringLiteral("PushButton1_Click")));
        trap.setFilter([&](const VbError& e) {
            if (e.number != 20476)
                return false;
            dialogs.MsgBox(QStringLiteral("special"));
            return true;
        });
        trap.run(100, [] { RaiseError(53); });  // ordinary report, carries on
        QVERIFY(!trap.ended());
        trap.run(112, [] { RaiseError(20476); });
        QVERIFY(trap.ended());
        bool ranAfterEnd = false;
        trap.run(114, [&] { ranAfterEnd = true; });
        QVERIFY(!ranAfterEnd);
        QVERIFY(!trap.test(116, [] { return true; }));
        QCOMPARE(dialogs.messages().size(), 2);
        QVERIFY(dialogs.messages()[0].startsWith(QStringLiteral("File not found")));
        QCOMPARE(dialogs.messages()[1], QStringLiteral("special"));
    }

    void lineIsZeroBeforeTheFirstStep() {
        ScriptedDialogs dialogs;
        ErrorTrap trap(dialogs, QStringLiteral("in X "));
        QCOMPARE(trap.line(), 0);
        RunUntrapped(dialogs, QStringLiteral("Option1_Click"), [] { RaiseError(70); });
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY(dialogs.shown[0].text.contains(QStringLiteral("Form1.Option1_Click at line 0\r\r")));
    }

    void errnoMapping_data() {
        QTest::addColumn<int>("err");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("number");
        QTest::newRow("missing file") << ENOENT << false << 53;
        QTest::newRow("missing folder") << ENOENT << true << 76;
        QTest::newRow("access") << EACCES << false << 70;
        QTest::newRow("permission") << EPERM << false << 70;
        QTest::newRow("disk full") << ENOSPC << false << 61;
    }
    void errnoMapping() {
        QFETCH(int, err);
        QFETCH(bool, folder);
        QFETCH(int, number);
        QCOMPARE(ErrorNumberForErrno(err, folder), number);
        try {
            RaiseErrno(err, folder);
            QFAIL("nothing raised");
        } catch (const VbError& e) {
            QCOMPARE(e.number, number);
            QCOMPARE(e.description, ErrorDescription(number));
        }
    }
};

QTEST_APPLESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
