// Times the walk and listing of "Add All WMA File(s) In Folder" (extension
// "wma", the folder given here instead of by the dialogs) against
// `find TREE -name '*.wma'` on the same generated tree, alternating the two
// over several repetitions, and prints the ratio of the medians (target: at
// most 3). Both must find the same files, hidden files aside: the command
// leaves out plain hidden files, find lists them.
//
//   folderscan_bench [REPETITIONS] [FOLDERS] [FILES]    default 9 2000 20000
//
// The tree: FOLDERS folders, some of them hidden, nested up to ten deep, and
// FILES files, a tenth of them .wma, some hidden. It lives in $TMPDIR (or
// /tmp) and is removed at the end.

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "filelist/filelist.h"
#include "folderscan/addall.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

// Answers nothing and counts the reports, which a sound tree never causes.
class SilentDialogs : public Dialogs {
public:
    int shown = 0;
    int MsgBox(const QString&, int, const QString&) override { return ++shown, vbOK; }
    QString InputBox(const QString&, const QString&, const QString&) override { return QString(); }
    QString ShowOpen(const OpenFileRequest&) override { return QString(); }
    QString PickFolder(const QString&, const QString&) override { return QString(); }
    bool OpenUrl(const QUrl&) override { return false; }
};

struct Tree {
    int folders = 0;
    int files = 0;
    int wma = 0;
    int hiddenWma = 0;
    int maxDepth = 0;
};

Tree MakeTree(const QString& root, int folderCount, int fileCount) {
    std::mt19937 rng(20210831);
    struct Folder {
        QString path;
        int depth;
    };
    std::vector<Folder> folders{{root, 0}};
    Tree tree;
    // A chain ten deep first, then folders under random parents above the
    // tenth level; about one in twenty is hidden.
    for (int i = 0; i < folderCount; ++i) {
        const Folder parent = i < 10 ? folders.back() : folders[rng() % folders.size()];
        if (parent.depth >= 10) {
            --i;
            continue;
        }
        const bool hidden = rng() % 20 == 0;
        const QString path = parent.path + (hidden ? "/.dir" : "/dir") + QString::number(i);
        QDir().mkdir(path);
        folders.push_back({path, parent.depth + 1});
        tree.maxDepth = std::max(tree.maxDepth, parent.depth + 1);
    }
    tree.folders = folderCount;
    static const char* const kOther[] = {".mp3", ".txt", ".jpg", ".ogg", ".flac",
                                         ".doc", ".png", ".m4a", ".pdf"};
    for (int i = 0; i < fileCount; ++i) {
        const Folder& folder = folders[rng() % folders.size()];
        const bool isWma = i % 10 == 0;
        const bool hidden = rng() % 25 == 0;
        const QString name = (hidden ? QStringLiteral(".file") : QStringLiteral("file")) +
                             QString::number(i) + (isWma ? ".wma" : kOther[rng() % 9]);
        QFile f(folder.path + "/" + name);
        if (f.open(QIODevice::WriteOnly))
            f.write("x");
        tree.wma += isWma;
        tree.hiddenWma += isWma && hidden;
    }
    tree.files = fileCount;
    return tree;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QStringList RunFind(const QString& root, double* seconds) {
    QElapsedTimer timer;
    timer.start();
    QProcess find;
    find.start("find", {root, "-name", "*.wma"});
    find.waitForFinished(-1);
    const QByteArray out = find.readAllStandardOutput();
    *seconds = timer.nsecsElapsed() / 1e9;
    return QString::fromLocal8Bit(out).split('\n', Qt::SkipEmptyParts);
}

QStringList RunAddAll(QTreeWidget* list, const QString& root, double* seconds, int* reports) {
    list->clear();
    SilentDialogs dialogs;
    QElapsedTimer timer;
    timer.start();
    ErrorTrap trap(dialogs, FormLocation("PushButton3_Click"));
    AddAllFilesInTree(trap, dialogs, root, "wma", [list](const QString& path) { AddToFileList(list, path); });
    *seconds = timer.nsecsElapsed() / 1e9;
    *reports = dialogs.shown;
    QStringList paths;
    for (int i = 1; i <= FileListCount(list); ++i)
        paths << FileListText(list, i);
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    const int folderCount = argc > 2 ? std::max(10, atoi(argv[2])) : 2000;
    const int fileCount = argc > 3 ? std::max(0, atoi(argv[3])) : 20000;

    QTemporaryDir dir(QDir::tempPath() + "/folderscan_bench.XXXXXX");
    if (!dir.isValid()) {
        std::fprintf(stderr, "folderscan_bench: cannot make a temporary folder\n");
        return 1;
    }
    const QString root = dir.path() + "/tree";
    QDir().mkdir(root);
    const Tree tree = MakeTree(root, folderCount, fileCount);
    std::printf("tree: %d folders (up to %d deep), %d files, %d .wma of them %d hidden\n", tree.folders,
                tree.maxDepth, tree.files, tree.wma, tree.hiddenWma);

    QTreeWidget list;
    std::vector<double> ours, theirs;
    QStringList ourPaths, findPaths;
    int reports = 0;
    // One untimed round warms the caches for both.
    for (int r = 0; r <= reps; ++r) {
        double a = 0, b = 0;
        ourPaths = RunAddAll(&list, root, &a, &reports);
        findPaths = RunFind(root, &b);
        if (r > 0) {
            ours.push_back(a);
            theirs.push_back(b);
        }
    }

    QStringList findWithoutHidden;
    for (const QString& p : findPaths)
        if (!p.section('/', -1).startsWith('.'))
            findWithoutHidden << p;
    const bool agree = QSet<QString>(ourPaths.begin(), ourPaths.end()) ==
                           QSet<QString>(findWithoutHidden.begin(), findWithoutHidden.end()) &&
                       ourPaths.size() == findWithoutHidden.size();

    const double a = Median(ours), b = Median(theirs);
    std::printf("add-all walk and listing: %8.1f ms  %d files (%d reports)\n", a * 1000, int(ourPaths.size()),
                reports);
    std::printf("find -name '*.wma':       %8.1f ms  %d files, %d without hidden files\n", b * 1000,
                int(findPaths.size()), int(findWithoutHidden.size()));
    std::printf("ratio (add-all / find):   %8.2f  (target: at most 3)\n", a / b);
    std::printf("the two agree: %s\n", agree ? "yes" : "NO");
    return agree && reports == 0 ? 0 : 1;
}
