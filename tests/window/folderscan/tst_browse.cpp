// The folder picker BrowseForFolder, with scripted answers and
// with the program's own dialogs.
#include "app/dialogs.h"
#include "folderscan/browse.h"
#include "support/scripteddialogs.h"
#include "support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

namespace {

const QString kPrompt = QStringLiteral("Please select folder:");

QString Nul() {
    return QString(QChar(u'\0'));
}

// The visible file dialog, or none.
QFileDialog* ShownFileDialog() {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
        return d;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QFileDialog*>(top); d && d->isVisible())
            return d;
    return nullptr;
}

}  // namespace

class TestBrowse : public QObject {
    Q_OBJECT

private slots:
    void init() { env_ = std::make_unique<TestEnvironment>(); }
    void cleanup() { env_.reset(); }

    void cancelReturnsEmpty() {
        ScriptedDialogs dialogs;
        QCOMPARE(BrowseForFolder(dialogs, kPrompt, env_->desktop()), QString());
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].kind, ShownDialog::Folder);
        QCOMPARE(dialogs.shown[0].text, kPrompt);
        QCOMPARE(dialogs.shown[0].defaultText, env_->desktop());
    }

    void startFolderIsHandedOver_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("handed");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("missing") << QStringLiteral("/no/such/folder") << QStringLiteral("/no/such/folder");
        QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
        QTest::newRow("up to a NUL") << QStringLiteral("/tmp") + Nul() + QStringLiteral("junk")
                                     << QStringLiteral("/tmp");
    }
    void startFolderIsHandedOver() {
        QFETCH(QString, start);
        QFETCH(QString, handed);
        ScriptedDialogs dialogs;
        dialogs.folderAnswers << QStringLiteral("/srv");
        QCOMPARE(BrowseForFolder(dialogs, kPrompt, start), QStringLiteral("/srv"));
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].defaultText, handed);
    }

    void chosenFolderIsNormalised_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("result");
        QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
        QTest::newRow("doubled root") << QStringLiteral("//") << QStringLiteral("/");
        QTest::newRow("plain") << QStringLiteral("/home/u/Music") << QStringLiteral("/home/u/Music");
        QTest::newRow("trailing separator")
            << QStringLiteral("/home/u/Music/") << QStringLiteral("/home/u/Music");
        QTest::newRow("trailing separators") << QStringLiteral("/home/u//") << QStringLiteral("/home/u");
        QTest::newRow("blank in name")
            << QStringLiteral("/home/u/My Music ") << QStringLiteral("/home/u/My Music ");
        QTest::newRow("NUL cuts") << QStringLiteral("/media/x") + Nul() + QStringLiteral("rest")
                                  << QStringLiteral("/media/x");
        QTest::newRow("NUL first") << Nul() + QStringLiteral("/media/x") << QString();
        QTest::newRow("259 characters") << QLatin1Char('/') + QString(258, QLatin1Char('d'))
                                        << QLatin1Char('/') + QString(258, QLatin1Char('d'));
        QTest::newRow("259 characters and a separator")
            << QLatin1Char('/') + QString(258, QLatin1Char('d')) + QLatin1Char('/')
            << QLatin1Char('/') + QString(258, QLatin1Char('d'));
        QTest::newRow("292 characters") << QLatin1Char('/') + QString(291, QLatin1Char('d'))
                                        << QLatin1Char('/') + QString(291, QLatin1Char('d'));
        QTest::newRow("4095 bytes") << QLatin1Char('/') + QString(4094, QLatin1Char('d'))
                                    << QLatin1Char('/') + QString(4094, QLatin1Char('d'));
        QTest::newRow("4096 bytes: as a failed conversion")
            << QLatin1Char('/') + QString(4095, QLatin1Char('d')) << QString();
        QTest::newRow("2049 characters in 4097 bytes: as a failed conversion")
            << QLatin1Char('/') + QString(2048, QChar(0xe9)) << QString();
    }
    void chosenFolderIsNormalised() {
        QFETCH(QString, answer);
        QFETCH(QString, result);
        ScriptedDialogs dialogs;
        dialogs.folderAnswers << answer;
        const QString chosen = BrowseForFolder(dialogs, kPrompt, QStringLiteral("/"));
        QCOMPARE(chosen, result);
        QVERIFY(!chosen.contains(QChar(u'\0')));
        QVERIFY(QFile::encodeName(chosen).size() < 4096);
        QVERIFY(chosen == QLatin1String("/") || !chosen.endsWith(QLatin1Char('/')));
    }

    void pickerReadsAndWritesNoSettings() {
        ScriptedDialogs dialogs;
        dialogs.folderAnswers << QStringLiteral("/srv/x");
        QCOMPARE(BrowseForFolder(dialogs, kPrompt, QStringLiteral("/srv")), QStringLiteral("/srv/x"));
        QVERIFY(!QFileInfo::exists(env_->settingsFile()));
    }

    void realDialogOpensOnAnExistingStartFolder() {
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("/inner/deeper")));
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QtDialogs real(&owner);

        QString opened;
        QString caption;
        bool seen = false;
        auto answer = [&](const QString& choose) {
            QTimer::singleShot(0, [&, choose] {
                QFileDialog* dialog = ShownFileDialog();
                if (!dialog)
                    return;
                seen = true;
                opened = dialog->directory().absolutePath();
                caption = dialog->windowTitle();
                if (choose.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->setDirectory(choose);
                    dialog->selectFile(choose);
                    static_cast<QDialog*>(dialog)->accept();
                }
            });
        };

        const QString start = folder.path() + QStringLiteral("/inner");
        answer(start + QStringLiteral("/deeper"));
        QCOMPARE(BrowseForFolder(real, kPrompt, start), start + QStringLiteral("/deeper"));
        QVERIFY(seen);
        QCOMPARE(opened, start);
        QCOMPARE(caption, kPrompt);

        // A start folder with its trailing separator opens there too.
        seen = false;
        answer(QString());
        QCOMPARE(BrowseForFolder(real, kPrompt, start + QLatin1Char('/')), QString());
        QVERIFY(seen);
        QCOMPARE(opened, start);

        // A start folder that no longer exists still opens the dialog.
        seen = false;
        answer(QString());
        QCOMPARE(BrowseForFolder(real, kPrompt, folder.path() + QStringLiteral("/gone")), QString());
        QVERIFY(seen);
        QVERIFY(opened != folder.path() + QStringLiteral("/gone"));

        // A folder with a long path comes back whole.
        const QString deep = folder.path() + QLatin1Char('/') + QString(150, QLatin1Char('a')) +
                             QLatin1Char('/') + QString(150, QLatin1Char('b'));
        QVERIFY(QDir().mkpath(deep));
        QVERIFY(deep.size() > 292);
        seen = false;
        answer(deep);
        QCOMPARE(BrowseForFolder(real, kPrompt, start), deep);
        QVERIFY(seen);

        // The root comes back as "/".
        seen = false;
        answer(QStringLiteral("/"));
        QCOMPARE(BrowseForFolder(real, kPrompt, start), QStringLiteral("/"));
        QVERIFY(seen);
    }

private:
    std::unique_ptr<TestEnvironment> env_;
};

QTEST_MAIN(TestBrowse)
#include "tst_browse.moc"
