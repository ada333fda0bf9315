// The per-user settings store.
#include "runtime/errors.h"
#include "app/settings.h"
#include "support/testenv.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void defaultsForAbsentKeys() {
        TestEnvironment env;
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Option1"), 1), QStringLiteral("1"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Option2"), 0), QStringLiteral("0"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Extension"), QStringLiteral("wma")),
                 QStringLiteral("wma"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("LastFolder"), QString()), QString());
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("LastFolder")), QString());
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Flag"), true), QStringLiteral("True"));
        QVERIFY(!QFile::exists(env.settingsFile()));  // reading writes nothing
    }

    void emptyValueIsNotTheDefault() {
        TestEnvironment env;
        SaveBrenvaleSetting(QStringLiteral("Text1"), QString());
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Text1"), QStringLiteral("/home/x/Desktop/")), QString());
        QVERIFY(env.storeContains(QStringLiteral("Text1")));
    }

    void writesReachTheDiskAtOnce() {
        TestEnvironment env;
        SaveBrenvaleSetting(QStringLiteral("Option1"), QStringLiteral("True"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Option1"), 1), QStringLiteral("True"));
        // Another reader of the file (another copy of the program) sees it.
        QSettings other(env.settingsFile(), QSettings::IniFormat);
        QCOMPARE(other.value(QStringLiteral("Brenvale/Option1")).toString(), QStringLiteral("True"));
    }

    void readsSeeOtherWriters() {
        TestEnvironment env;
        SaveBrenvaleSetting(QStringLiteral("Extension"), QStringLiteral("wma"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Extension")), QStringLiteral("wma"));
        env.storeRaw(QStringLiteral("Extension"), QStringLiteral("mp3"));
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Extension")), QStringLiteral("mp3"));
    }

    void valuesKeepTheirText_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("path with blanks") << "/home/a b/Music/";
        QTest::newRow("commas") << "a,b,c";
        QTest::newRow("non-Latin") << QStringLiteral("/home/\u00e9t\u00e9/\u97f3\u697d/");
        QTest::newRow("at sign") << "@odd";
        QTest::newRow("semicolon and equals") << "x=1;y";
    }
    void valuesKeepTheirText() {
        QFETCH(QString, value);
        TestEnvironment env;
        SaveBrenvaleSetting(QStringLiteral("Text1"), value);
        QCOMPARE(GetBrenvaleSetting(QStringLiteral("Text1")), value);
    }

    void refusedWriteRaises() {
        TestEnvironment env;
        SaveBrenvaleSetting(QStringLiteral("Option1"), QStringLiteral("True"));
        // A folder where the store's file should be cannot be written.
        QFile::remove(env.settingsFile());
        QDir().mkpath(env.settingsFile());
        try {
            SaveBrenvaleSetting(QStringLiteral("Option1"), QStringLiteral("False"));
            QFAIL("write did not fail");
        } catch (const VbError& e) {
            QVERIFY(e.number == 70 || e.number == 75);
        }
    }

    void textToBool_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");  // 1 true, 0 false, -1 type mismatch
        QTest::newRow("True") << "True" << 1;
        QTest::newRow("false any case") << "fALSE" << 0;
        QTest::newRow("TRUE") << "TRUE" << 1;
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("minus one") << "-1" << 1;
        QTest::newRow("yes") << "yes" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("nan") << "nan" << -1;
        QTest::newRow("inf") << "inf" << -1;
        QTest::newRow("minus inf") << "-inf" << -1;
    }
    void textToBool() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        if (expected < 0) {
            try {
                TextToBool(text);
                QFAIL("no type mismatch");
            } catch (const VbError& e) {
                QCOMPARE(e.number, 13);
                QCOMPARE(e.description, QStringLiteral("Type mismatch"));
            }
        } else {
            QCOMPARE(TextToBool(text), expected == 1);
        }
    }
};

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
