// File tests and single-file operations on real temporary files.
#include "runtime/errors.h"
#include "support/testenv.h"
#include "runtime/filehelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void MakeReadOnly(const QString& path) {
    ::chmod(QFile::encodeName(path).constData(), 0444);
}

}  // namespace

class TestFiles : public QObject {
    Q_OBJECT

private slots:
    void attributes() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/plain.wma");
        MakeFile(d + "/.hidden");
        MakeFile(d + "/.hiddenro");
        MakeReadOnly(d + "/.hiddenro");
        MakeFile(d + "/ro.wma");
        MakeReadOnly(d + "/ro.wma");
        QDir().mkpath(d + "/sub");
        QDir().mkpath(d + "/.dotdir");
        QFile::link(d + "/sub", d + "/linkdir");
        QFile::link(d + "/plain.wma", d + "/linkfile");

        QCOMPARE(FileAttributes(d + "/plain.wma"), 32);
        QCOMPARE(FileAttributes(d + "/.hidden"), 34);
        QCOMPARE(FileAttributes(d + "/.hiddenro"), 35);
        QCOMPARE(FileAttributes(d + "/ro.wma"), 33);
        QCOMPARE(FileAttributes(d + "/sub"), 16);
        QCOMPARE(FileAttributes(d + "/sub/"), 16);
        QCOMPARE(FileAttributes(d + "/.dotdir"), 18);
        QCOMPARE(FileAttributes(d + "/linkdir"), 1046);
        QCOMPARE(FileAttributes(d + "/linkdir/"), 1046);
        QCOMPARE(FileAttributes(d + "/linkfile") & 1024, 1024);
        QCOMPARE(FileAttributes(QStringLiteral("/")) & 16, 16);
        if (QFileInfo(QStringLiteral("/proc/self")).exists())
            QCOMPARE(FileAttributes(QStringLiteral("/proc")), 22);
        if (QFileInfo(QStringLiteral("/sys/kernel")).exists())
            QCOMPARE(FileAttributes(QStringLiteral("/sys")), 22);

        try {
            FileAttributes(d + "/missing.wma");
            QFAIL("missing file has attributes");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 53);
        }
        try {
            FileAttributes(d + "/nofolder/missing.wma");
            QFAIL("missing folder has attributes");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 76);
        }
    }

    void tests() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/a.wma");
        QDir().mkpath(d + "/sub");

        QVERIFY(FileExists(d + "/a.wma"));
        QVERIFY(FileExists(d + "/sub"));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(d + "/missing"));

        QVERIFY(IsFolder(d + "/sub"));
        QVERIFY(IsFolder(d + "/sub/"));
        QVERIFY(!IsFolder(d + "/a.wma"));
        QVERIFY(!IsFolder(d + "/missing"));
        QVERIFY(!IsFolder(QString()));

        QVERIFY(IsExistingFile(d + "/a.wma"));
        QVERIFY(!IsExistingFile(d + "/sub"));
        QVERIFY(!IsExistingFile(d + "/missing"));
        QVERIFY(!IsExistingFile(QString()));
        QVERIFY(!IsExistingFile(QStringLiteral("/dev/null")));
        QVERIFY(::mkfifo(QFile::encodeName(d + "/fifo").constData(), 0600) == 0);
        QVERIFY(!IsExistingFile(d + "/fifo"));  // and it does not hang

        // A file that another program holds open is still a file.
        QFile open(d + "/a.wma");
        QVERIFY(open.open(QIODevice::ReadWrite));
        QVERIFY(IsExistingFile(d + "/a.wma"));
    }

    void deleteQuiet() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/ro.wma");
        MakeReadOnly(d + "/ro.wma");
        DeleteFileQuiet(d + "/ro.wma");
        QVERIFY(!QFile::exists(d + "/ro.wma"));
        DeleteFileQuiet(d + "/missing.wma");  // nothing raised
        QDir().mkpath(d + "/sub");
        DeleteFileQuiet(d + "/sub");  // folders are not files
        QVERIFY(QFileInfo(d + "/sub").isDir());
    }

    void deleteForcedRaises() {
        QTemporaryDir dir;
        try {
            DeleteFileForced(dir.path() + "/missing");
            QFAIL("deleting a missing file succeeded");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 53);
        }
        MakeFile(dir.path() + "/ro");
        MakeReadOnly(dir.path() + "/ro");
        DeleteFileForced(dir.path() + "/ro");
        QVERIFY(!QFile::exists(dir.path() + "/ro"));
    }

    void copyChecked() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/src.wma", "new bytes");

        CopyFileChecked(d + "/src.wma", d + "/out//copy.wma");  // missing folder
        QVERIFY(!QFile::exists(d + "/out/copy.wma"));

        QDir().mkpath(d + "/out");
        CopyFileChecked(d + "//src.wma", d + "/out//copy.wma");
        QCOMPARE(ReadAll(d + "/out/copy.wma"), QByteArray("new bytes"));

        // An existing file is replaced; no temporary file is left behind.
        MakeFile(d + "/out/old.wma", "old bytes, longer than the new ones");
        CopyFileChecked(d + "/src.wma", d + "/out/old.wma");
        QCOMPARE(ReadAll(d + "/out/old.wma"), QByteArray("new bytes"));
        QCOMPARE(QDir(d + "/out").entryList(QDir::Files | QDir::Hidden).size(), 2);

        // A read-only file stays as it was.
        MakeFile(d + "/out/ro.wma", "keep me");
        MakeReadOnly(d + "/out/ro.wma");
        CopyFileChecked(d + "/src.wma", d + "/out/ro.wma");
        QCOMPARE(ReadAll(d + "/out/ro.wma"), QByteArray("keep me"));

        // Blank arguments, wildcards and missing sources do nothing.
        CopyFileChecked(QStringLiteral("  "), d + "/out/x.wma");
        CopyFileChecked(d + "/src.wma", QStringLiteral(" "));
        CopyFileChecked(d + "/*.wma", d + "/out/star.wma");
        CopyFileChecked(d + "/missing.wma", d + "/out/m.wma");
        QCOMPARE(QDir(d + "/out").entryList(QDir::Files | QDir::Hidden).size(), 3);

        // "?" and "*" are ordinary characters of a name, not wildcards.
        MakeFile(d + "/wh?t*.wma", "odd name");
        CopyFileChecked(d + "/wh?t*.wma", d + "/out/odd?*.wma");
        QCOMPARE(QDir(d + "/out").entryList(QDir::Files | QDir::Hidden),
                 QStringList({"copy.wma", "odd?*.wma", "old.wma", "ro.wma"}));
        QCOMPARE(ReadAll(d + "/out/odd?*.wma"), QByteArray("odd name"));

        // A file copied onto itself keeps its bytes.
        CopyFileChecked(d + "/src.wma", d + "/./src.wma");
        QCOMPARE(ReadAll(d + "/src.wma"), QByteArray("new bytes"));
    }

    void copyQuietIntoFolder() {
        QTemporaryDir dir;
        const QString d = dir.path();
        MakeFile(d + "/src.wma", "abc");
        QDir().mkpath(d + "/out");
        CopyFileQuiet(d + "/src.wma", d + "/out/");
        QCOMPARE(ReadAll(d + "/out/src.wma"), QByteArray("abc"));
        CopyFileQuiet(d + "/src.wma", d + "/missing/dir/x");  // ignored
        QVERIFY(!QFile::exists(d + "/missing"));
    }

    void writeBytes() {
        QTemporaryDir dir;
        const QString d = dir.path();
        const QByteArray bytes("\x00\x01\x02 binary\r\n", 12);
        WriteBytesToFile(bytes, d + "/res.bin");
        QCOMPARE(ReadAll(d + "/res.bin"), bytes);
        MakeFile(d + "/long.bin", QByteArray(100, 'z'));
        WriteBytesToFile(bytes, d + "/long.bin");
        QCOMPARE(ReadAll(d + "/long.bin"), bytes);  // nothing of the old tail
        try {
            WriteBytesToFile(bytes, d + "/missing/res.bin");
            QFAIL("write into a missing folder succeeded");
        } catch (const VbError& e) {
            QCOMPARE(e.number, 76);
        }
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_filehelpers.moc"
