// The result path of a source, and the tests that keep a result from being
// lost or written over its own source.
#include "converting/target.h"
#include "support/testenv.h"
#include "runtime/filehelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

Q_DECLARE_METATYPE(ConversionFormat)

namespace {

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestTarget : public QObject {
    Q_OBJECT

private slots:
    void resolveTargetPath_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<ConversionFormat>("format");
        QTest::addColumn<bool>("option3");
        QTest::addColumn<bool>("option4");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");

        const auto MP3 = ConversionFormat::MP3;
        const auto WAV = ConversionFormat::WAV;
        QTest::newRow("this folder, box with trailing /")
            << "/c/a/song.wma" << MP3 << true << false << "/d/Out/"
            << "/d/Out/song.mp3";
        QTest::newRow("this folder, box typed without /")
            << "/c/a/song.wma" << MP3 << true << false << "/d/Out"
            << "/d/Out/song.mp3";
        QTest::newRow("this folder, root box") << "/c/a/song.wma" << WAV << true << false << "/"
                                               << "/song.wav";
        QTest::newRow("this folder wins over beside the source")
            << "/c/a/song.wma" << MP3 << true << true << "/d/Out/"
            << "/d/Out/song.mp3";
        QTest::newRow("this folder, box not looked at for existence")
            << "/c/a/song.wma" << MP3 << true << false << "/no/such/folder"
            << "/no/such/folder/song.mp3";
        QTest::newRow("beside the source, WAV") << "/c/a/song.wma" << WAV << false << true << "/d/Out/"
                                                << "/c/a/song.wav";
        QTest::newRow("beside the source, box ignored") << "/c/a/song.wma" << MP3 << false << true << ""
                                                        << "/c/a/song.mp3";
        QTest::newRow("neither option: next to the source")
            << "/c/a/song.wma" << MP3 << false << false << "/d/Out/"
            << "/c/a/song.mp3";
        QTest::newRow("source without a dot") << "/c/a/song" << MP3 << false << true << ""
                                              << "/c/a/song.mp3";
        QTest::newRow("dot only in a folder name, beside the source")
            << "/c/my.dir/song" << MP3 << false << true << ""
            << "/c/my.dir/song.mp3";
        QTest::newRow("dot only in a folder name, this folder")
            << "/c/my.dir/song" << MP3 << true << false << "/d/Out/"
            << "/d/Out/song.mp3";
        QTest::newRow("dot only in a folder name, neither option")
            << "/c/my.dir/song" << WAV << false << false << ""
            << "/c/my.dir/song.wav";
        QTest::newRow("two tracks in a folder with a dot stay apart")
            << "/c/Vol.1/trackA" << MP3 << true << false << "/d/Out/"
            << "/d/Out/trackA.mp3";
        QTest::newRow("dot-file keeps its whole name") << "/c/a/.intro" << MP3 << true << false << "/d/Out/"
                                                       << "/d/Out/.intro.mp3";
        QTest::newRow("dot-file with an extension") << "/c/a/.intro.wma" << WAV << false << true << ""
                                                    << "/c/a/.intro.wav";
        QTest::newRow("name ending in a dot") << "/c/a/song." << MP3 << false << false << ""
                                              << "/c/a/song.mp3";
        QTest::newRow("\"?\" and \"*\" are part of the name")
            << "/c/a?/what?*.wma" << MP3 << false << true << ""
            << "/c/a?/what?*.mp3";
        QTest::newRow("only the last extension goes") << "/c/a/live.2021.wma" << MP3 << false << true << ""
                                                      << "/c/a/live.2021.mp3";
        QTest::newRow("upper-case extension") << "/c/a/Song.WMA" << WAV << true << false << "/d/Out/"
                                              << "/d/Out/Song.wav";
        QTest::newRow("result named like the source") << "/c/a/song.mp3" << MP3 << false << true << ""
                                                      << "/c/a/song.mp3";
        QTest::newRow("doubled separators in the source") << "/c//a/song.wma" << MP3 << false << true << ""
                                                          << "/c/a/song.mp3";
        QTest::newRow("leading separators become one")
            << "//server/share/song.wma" << MP3 << false << false << ""
            << "/server/share/song.mp3";
        QTest::newRow("names with blanks and non-ASCII letters")
            << "/c/Mä Musik/Straße 1.wma" << MP3 << true << false << "/d/Ausgabe Ö/"
            << "/d/Ausgabe Ö/Straße 1.mp3";
    }

    void resolveTargetPath() {
        QFETCH(QString, source);
        QFETCH(ConversionFormat, format);
        QFETCH(bool, option3);
        QFETCH(bool, option4);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(ResolveTargetPath(source, format, option3, option4, folder), expected);
    }

    // A result never replaces a result of this run, a listed file or its
    // source: it is numbered instead. "@" stands for the test folder, whose
    // a/song.mp3 and a/listed.wav exist.
    void untakenTarget_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing taken") << "@/out/song.mp3" << QStringList() << "@/out/song.mp3";
        QTest::newRow("an unrelated file is replaced")
            << "@/a/song.mp3" << QStringList{"@/a/song.wma"} << "@/a/song.mp3";
        QTest::newRow("written earlier in the run")
            << "@/out/song.mp3" << QStringList{"@/out/song.mp3"} << "@/out/song (2).mp3";
        QTest::newRow("a listed file")
            << "@/a/listed.wav" << QStringList{"@/a/listed.wma", "@/a/listed.wav"} << "@/a/listed (2).wav";
        QTest::newRow("the first number that is free")
            << "@/out/song.mp3" << QStringList{"@/out/song.mp3", "@/out/song (2).mp3", "@/out/song (3).mp3"}
            << "@/out/song (4).mp3";
        QTest::newRow("the same file written another way")
            << "@/a/./song.mp3" << QStringList{"@//a/song.mp3"} << "@/a/./song (2).mp3";
        QTest::newRow("the same file through a link")
            << "@/link/song.mp3" << QStringList{"@/a/song.mp3"} << "@/link/song (2).mp3";
        QTest::newRow("a link at the target is no taken file")
            << "@/a/planted.mp3" << QStringList{"@/a/song.mp3"} << "@/a/planted.mp3";
        QTest::newRow("dot-file") << "@/out/.intro.mp3" << QStringList{"@/out/.intro.mp3"}
                                  << "@/out/.intro (2).mp3";
    }

    void untakenTarget() {
        QFETCH(QString, target);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/a/song.mp3", "an older result");
        MakeFile(d + "/a/listed.wav", "a listed file");
        QVERIFY(QFile::link(d + "/a", d + "/link"));
        QVERIFY(QFile::link(d + "/a/song.mp3", d + "/a/planted.mp3"));
        for (QString& path : taken)
            path.replace("@", d);
        QCOMPARE(UntakenTarget(target.replace("@", d), taken), expected.replace("@", d));
    }

    void sameFileHoweverWritten() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/a/song.wav", "source");
        MakeFile(d + "/a/other.wav", "source");
        QVERIFY(QDir().mkpath(d + "/a/sub"));
        QVERIFY(QFile::link(d + "/a", d + "/link"));
        QCOMPARE(::link(QFile::encodeName(d + "/a/song.wav").constData(),
                        QFile::encodeName(d + "/a/hard.wav").constData()),
                 0);

        const QString song = d + "/a/song.wav";
        QVERIFY(IsSameFile(song, song));
        QVERIFY(IsSameFile(song, d + "/a/./song.wav"));
        QVERIFY(IsSameFile(song, d + "/a/sub/../song.wav"));
        QVERIFY(IsSameFile(song, d + "//a//song.wav"));
        QVERIFY(IsSameFile(song, d + "/link/song.wav"));
        QVERIFY(IsSameFile(song, d + "/a/hard.wav"));

        QVERIFY(!IsSameFile(song, d + "/a/other.wav"));  // same bytes, another file
        QVERIFY(!IsSameFile(song, d + "/a/missing.wav"));
        QVERIFY(!IsSameFile(d + "/a/missing.wav", d + "/a/missing.wav"));
        QVERIFY(!IsSameFile(song, QString()));
    }

    void newCopyIsRecognised() {
        QTemporaryDir dir;
        const QString result = dir.path() + "/working.mp3";
        MakeFile(result, "new result");

        // Nothing there before, the copy arrived.
        const QString fresh = dir.path() + "/fresh.mp3";
        const FileStamp none = StampOf(fresh);
        QVERIFY(!none.exists);
        QVERIFY(!HoldsNewCopy(fresh, none, result));
        QVERIFY(QFile::copy(result, fresh));
        QVERIFY(HoldsNewCopy(fresh, none, result));

        // An older file replaced by the copy.
        const QString replaced = dir.path() + "/replaced.mp3";
        MakeFile(replaced, "old");
        const FileStamp old = StampOf(replaced);
        QVERIFY(old.exists && old.regular);
        QVERIFY(QFile::remove(replaced));
        QVERIFY(QFile::copy(result, replaced));
        QVERIFY(HoldsNewCopy(replaced, old, result));

        // Something other than the result arrived.
        const QString wrong = dir.path() + "/wrong.mp3";
        MakeFile(wrong, "new resulX");
        QVERIFY(!HoldsNewCopy(wrong, none, result));
    }

    void fileLeftAsItWasIsNoCopy() {
        QTemporaryDir dir;
        const QString result = dir.path() + "/working.mp3";
        MakeFile(result, "same bytes");

        // Identical bytes that were already there (a read-only file the copy
        // could not replace) do not count as the new copy.
        const QString kept = dir.path() + "/kept.mp3";
        MakeFile(kept, "same bytes");
        QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const FileStamp before = StampOf(kept);
        QVERIFY(!HoldsNewCopy(kept, before, result));

        // A folder standing at the target.
        const QString folder = dir.path() + "/folder.mp3";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!HoldsNewCopy(folder, StampOf(folder), result));
        QVERIFY(!HoldsNewCopy(folder, FileStamp(), result));

        // The result itself gone: nothing to compare with.
        const QString copy = dir.path() + "/copy.mp3";
        QVERIFY(QFile::copy(result, copy));
        QVERIFY(QFile::remove(result));
        QVERIFY(!HoldsNewCopy(copy, FileStamp(), result));
        QCOMPARE(Contents(copy), QByteArray("same bytes"));
    }
};

QTEST_GUILESS_MAIN(TestTarget)
#include "tst_target.moc"
