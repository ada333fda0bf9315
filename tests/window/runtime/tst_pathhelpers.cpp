// Path strings: splitting, extension cutting and separator tidying.
#include "app/errorreport.h"
#include "runtime/pathhelpers.h"

#include <QtTest>

class TestPaths : public QObject {
    Q_OBJECT

private slots:
    void fileNameOfPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("file in folder") << "/a/b.wma"
                                        << "b.wma";
        QTest::newRow("bare name") << "b.wma"
                                   << "b.wma";
        QTest::newRow("trailing separator") << "/a/"
                                            << "";
        QTest::newRow("root") << "/"
                              << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("dot in folder") << "/my.dir/song"
                                       << "song";
    }
    void fileNameOfPath() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(FileNameOfPath(path), expected);
    }

    void folderOfPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("file in folder") << "/a/b.wma"
                                        << "/a/";
        QTest::newRow("bare name") << "b.wma"
                                   << "";
        QTest::newRow("folder with separator") << "/a/"
                                               << "/a/";
        QTest::newRow("file in root") << "/b.wma"
                                      << "/";
        QTest::newRow("empty") << ""
                               << "";
    }
    void folderOfPath() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(FolderOfPath(path), expected);
    }

    void stripExtension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ordinary") << "/a/song.wma"
                                  << "/a/song";
        QTest::newRow("leading dot only") << ".wma"
                                          << ".wma";
        QTest::newRow("dot in folder cuts there") << "/my.dir/song"
                                                  << "/my";
        QTest::newRow("no dot") << "/a/song"
                                << "/a/song";
        QTest::newRow("two dots") << "/a/song.live.wma"
                                  << "/a/song.live";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("trailing dot") << "/a/song."
                                      << "/a/song";
    }
    void stripExtension() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(StripExtension(path), expected);
    }

    void normalizePath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("doubled inside") << "/a//b"
                                        << "/a/b";
        QTest::newRow("three become two") << "/a///b"
                                          << "/a//b";
        QTest::newRow("four become two") << "/a////b"
                                         << "/a//b";
        QTest::newRow("leading pair becomes one") << "//server/share//x"
                                                  << "/server/share/x";
        QTest::newRow("leading run becomes one") << "////x"
                                                 << "/x";
        QTest::newRow("single leading kept") << "/x"
                                             << "/x";
        QTest::newRow("relative") << "a//b"
                                  << "a/b";
        QTest::newRow("only separators") << "///"
                                         << "/";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("joined root and name") << "//one.wma"
                                              << "/one.wma";
        QTest::newRow("trailing pair") << "a//"
                                       << "a/";
    }
    void normalizePath() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(NormalizePath(path), expected);
    }

    void positionsBeyond16BitsOverflow() {
        const QString longPath = QString(40000, QLatin1Char('a')) + QStringLiteral("/b.c");
        try {
            FolderOfPath(longPath);
            QFAIL("no overflow raised");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 6);
        }
        try {
            StripExtension(longPath);
            QFAIL("no overflow raised");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 6);
        }
        // Positions up to 32767 still work.
        const QString edge = QString(32765, QLatin1Char('a')) + QStringLiteral("/b");
        QCOMPARE(FolderOfPath(edge).size(), 32766);
    }
};

QTEST_APPLESS_MAIN(TestPaths)
#include "tst_pathhelpers.moc"
