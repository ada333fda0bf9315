// Times "Add All WMA File(s) In Folder" through the real window (the
// extension and the folder answered as a user would, the walk, the listing,
// and the items standing laid out in the shown list) against
// `find TREE -name '*.wma'` on the same tree, alternating the two, and prints
// the ratio of the medians:
//
//   deep tree: FOLDERS folders nested up to ten deep, some hidden, and FILES
//              files, a tenth of them .wma, some hidden (target: at most 1.5);
//   flat tree: one folder of FILES .wma files (target: at most 2).
//
// Both must find the same files, hidden files aside (the command leaves out
// plain hidden files; find lists them). A timer that fires at every turn of
// the event loop gives the longest time the window did not answer during the
// walk (target: at most 100 ms), and the time from the walk's last turn to the
// items standing in the list, which the listing spends without turning
// (target: at most 1 s for 100,000 files). The same is measured for a folder
// of FILES empty sub-folders, for dropping the deep tree on the list, and for
// loading FILES sample files. Then the list itself with FILES items: putting
// them in (target: at most 0.5 s), scrolling to the end, one reordering step,
// removing one item, and clearing it (target: at most 0.2 s).
//
//   folderscan_bench [REPETITIONS] [FOLDERS] [FILES]    default 5 10000 100000
//
// The trees live in $TMPDIR (or /tmp) and are removed at the end. Build with
// an optimised build type (RelWithDebInfo or Release), as the program ships.
// The benchmark and find run on one processor.

#include "app/dialogs.h"
#include "app/form1.h"
#include "filelist/filelist.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

namespace {

// Answers as the benchmark's user: the queued extension and folder, No to
// every question; counts error reports, which a sound tree never causes.
class BenchDialogs : public Dialogs {
public:
    QString extension;
    QString folder;
    int reports = 0;
    int MsgBox(const QString&, int, const QString& title) override {
        if (title == QLatin1String("Application Error"))
            ++reports;
        return vbNo;
    }
    QString InputBox(const QString&, const QString&, const QString&) override { return extension; }
    QString ShowOpen(const OpenFileRequest&) override { return QString(); }
    QString PickFolder(const QString&, const QString&) override { return folder; }
    bool OpenUrl(const QUrl&) override { return false; }
};

void MakeEmptyFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

struct Tree {
    QString root;
    int folders = 0;
    int files = 0;
    int wma = 0;
    int hiddenWma = 0;
    int hiddenFiles = 0;
    int maxDepth = 0;
};

// A chain ten deep first, then folders under random parents above the tenth
// level; about one folder in twenty and one file in twenty-five is hidden.
Tree MakeDeepTree(const QString& root, int folderCount, int fileCount) {
    std::mt19937 rng(20210831);
    struct Folder {
        QString path;
        int depth;
    };
    QDir().mkpath(root);
    std::vector<Folder> folders{{root, 0}};
    Tree tree;
    tree.root = root;
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
        MakeEmptyFile(folder.path + "/" + name);
        tree.wma += isWma;
        tree.hiddenWma += isWma && hidden;
        tree.hiddenFiles += hidden;
    }
    tree.files = fileCount;
    return tree;
}

// One folder of fileCount .wma files, named in no particular order.
Tree MakeFlatTree(const QString& root, int fileCount) {
    QDir().mkpath(root);
    std::mt19937 rng(1046);
    for (int i = 0; i < fileCount; ++i)
        MakeEmptyFile(QStringLiteral("%1/Track %2 %3.wma").arg(root).arg(rng() % 1000000).arg(i));
    Tree tree;
    tree.root = root;
    tree.folders = 1;
    tree.files = tree.wma = fileCount;
    return tree;
}

// One folder of count empty sub-folders.
Tree MakeWideTree(const QString& root, int count) {
    QDir().mkpath(root);
    for (int i = 0; i < count; ++i)
        ::mkdir(QFile::encodeName(QStringLiteral("%1/album%2").arg(root).arg(i)).constData(), 0755);
    Tree tree;
    tree.root = root;
    tree.folders = count + 1;
    return tree;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Spread {
    double median, low, high;
};

Spread SpreadOf(const std::vector<double>& v) {
    return {Median(v), *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end())};
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

// The window as a user sees it, and what the window's time went to during one
// command: ticks of a timer that fires at every turn of the event loop.
class Window {
public:
    explicit Window(const QString& programFolder) : form_(dialogs_, programFolder) {
        form_.setEndProcessForTests([] {});
        form_.Form_Load();
        form_.show();
        settle();
        QObject::connect(&ticker_, &QTimer::timeout, [this] { ticks_.push_back(clock_.nsecsElapsed()); });
        form_.ListView1->viewport()->installEventFilter(&paints_);
    }

    Form1& form() { return form_; }
    BenchDialogs& dialogs() { return dialogs_; }

    // Lets the window lay out and paint what is pending.
    void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    struct Timing {
        double seconds = 0;      // from the command's start to the items standing in the list
        double firstTurn = 0;    // from the start to the first turn of the event loop (the walk's
                                 // first yield; before it, the command writes its settings)
        double longestGap = 0;   // the longest stretch between two turns of the event loop
        double lastStretch = 0;  // from the last turn during the command to the items standing
    };

    // Runs one command and waits until the list has painted what it added.
    Timing Run(const std::function<void()>& command) {
        const int before = FileListCount(form_.ListView1);
        ticks_.clear();
        ticker_.start(0);
        clock_.start();
        command();
        const qint64 returned = clock_.nsecsElapsed();
        const size_t turnsDuringCommand = ticks_.size();
        // Added items stand once the list has laid them out and painted.
        paints_.count = 0;
        if (FileListCount(form_.ListView1) != before)
            while (paints_.count == 0 && clock_.nsecsElapsed() - returned < 2'000'000'000LL)
                QCoreApplication::processEvents();
        const qint64 standing = clock_.nsecsElapsed();
        ticker_.stop();

        Timing t;
        t.seconds = standing / 1e9;
        qint64 previous = 0;
        for (size_t i = 0; i < turnsDuringCommand; ++i) {
            if (i == 0)
                t.firstTurn = ticks_[i] / 1e9;
            else
                t.longestGap = std::max(t.longestGap, (ticks_[i] - previous) / 1e9);
            previous = ticks_[i];
        }
        t.lastStretch = (standing - previous) / 1e9;
        return t;
    }

private:
    class PaintCounter : public QObject {
    public:
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint)
                ++count;
            return false;
        }
    };

    BenchDialogs dialogs_;
    Form1 form_;
    QTimer ticker_;
    QElapsedTimer clock_;
    std::vector<qint64> ticks_;
    PaintCounter paints_;
};

QStringList ListTexts(const QTreeWidget* list) {
    QStringList texts;
    for (int i = 1; i <= FileListCount(list); ++i)
        texts << FileListText(list, i);
    return texts;
}

// Add-all on one tree against find, alternating, after an untimed round.
// Returns false when the two disagree or a report was shown.
bool CompareWithFind(Window& window, const Tree& tree, const char* label, double target, int reps) {
    std::vector<double> ours, theirs, ratios, firsts, gaps, stretches;
    QStringList ourPaths, findPaths;
    Form1& form = window.form();
    for (int r = 0; r <= reps; ++r) {
        form.PushButton8_Click();
        window.settle();
        window.dialogs().extension = "wma";
        window.dialogs().folder = tree.root;
        const Window::Timing t = window.Run([&] { form.PushButton3_Click(); });
        ourPaths = ListTexts(form.ListView1);
        double b = 0;
        findPaths = RunFind(tree.root, &b);
        if (r > 0) {
            ours.push_back(t.seconds);
            theirs.push_back(b);
            ratios.push_back(t.seconds / b);
            firsts.push_back(t.firstTurn);
            gaps.push_back(t.longestGap);
            stretches.push_back(t.lastStretch);
        }
    }
    QStringList findWithoutHidden;
    for (const QString& p : findPaths)
        if (!p.section('/', -1).startsWith('.'))
            findWithoutHidden << p;
    const bool agree = QSet<QString>(ourPaths.begin(), ourPaths.end()) ==
                           QSet<QString>(findWithoutHidden.begin(), findWithoutHidden.end()) &&
                       ourPaths.size() == findWithoutHidden.size();

    const Spread a = SpreadOf(ours), b = SpreadOf(theirs), q = SpreadOf(ratios);
    const Spread f = SpreadOf(firsts), g = SpreadOf(gaps), s = SpreadOf(stretches);
    std::printf("%s tree: %d folders, %d files, %d .wma (%d hidden)\n", label, tree.folders, tree.files,
                tree.wma, tree.hiddenWma);
    std::printf("  add-all, items standing:  %8.1f ms  (%.1f to %.1f)  %d files\n", a.median * 1000,
                a.low * 1000, a.high * 1000, int(ourPaths.size()));
    std::printf("  find -name '*.wma':       %8.1f ms  (%.1f to %.1f)  %d files, %d without hidden files\n",
                b.median * 1000, b.low * 1000, b.high * 1000, int(findPaths.size()),
                int(findWithoutHidden.size()));
    std::printf("  ratio add-all / find:     %8.2f     (runs %.2f to %.2f; target: at most %.1f)\n",
                a.median / b.median, q.low, q.high, target);
    std::printf("  until the walk's first turn: %5.1f ms  (%.1f to %.1f; the settings are written)\n",
                f.median * 1000, f.low * 1000, f.high * 1000);
    std::printf("  longest gap in the walk:  %8.1f ms  (%.1f to %.1f; target: at most 100)\n",
                g.median * 1000, g.low * 1000, g.high * 1000);
    std::printf("  listing until standing:   %8.1f ms  (%.1f to %.1f; target: at most 1000)\n",
                s.median * 1000, s.low * 1000, s.high * 1000);
    std::printf("  the two agree: %s; reports: %d\n", agree ? "yes" : "NO", window.dialogs().reports);
    return agree && window.dialogs().reports == 0;
}

// One command, repeated, with the list cleared before each run.
void TimeCommand(Window& window, const char* label, int reps, const std::function<void()>& command,
                 int* added = nullptr) {
    std::vector<double> seconds, firsts, gaps, stretches;
    Form1& form = window.form();
    for (int r = 0; r <= reps; ++r) {
        form.PushButton8_Click();
        window.settle();
        const Window::Timing t = window.Run(command);
        if (r > 0) {
            seconds.push_back(t.seconds);
            firsts.push_back(t.firstTurn);
            gaps.push_back(t.longestGap);
            stretches.push_back(t.lastStretch);
        }
    }
    if (added)
        *added = FileListCount(form.ListView1);
    const Spread a = SpreadOf(seconds), f = SpreadOf(firsts), g = SpreadOf(gaps), s = SpreadOf(stretches);
    std::printf("%s\n", label);
    std::printf("  whole command:            %8.1f ms  (%.1f to %.1f)  %d items\n", a.median * 1000,
                a.low * 1000, a.high * 1000, FileListCount(form.ListView1));
    std::printf("  until the first turn:     %8.1f ms  (%.1f to %.1f)\n", f.median * 1000, f.low * 1000,
                f.high * 1000);
    std::printf("  longest gap in the walk:  %8.1f ms  (%.1f to %.1f; target: at most 100)\n",
                g.median * 1000, g.low * 1000, g.high * 1000);
    std::printf("  last stretch, no yields:  %8.1f ms  (%.1f to %.1f)\n", s.median * 1000, s.low * 1000,
                s.high * 1000);
}

void TimeList(Window& window, int count, int reps) {
    Form1& form = window.form();
    QTreeWidget* list = form.ListView1;
    QStringList paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i)
        paths << QStringLiteral("/home/user/Music/Artist %1/Album %2/%3 Track.wma")
                     .arg(i % 97)
                     .arg(i % 13)
                     .arg(i);

    std::vector<double> fill, scroll, reorder, removal, clear;
    QElapsedTimer clock;
    for (int r = 0; r <= reps; ++r) {
        form.PushButton8_Click();
        window.settle();

        clock.start();
        {
            FileListAppender appender(list);
            for (const QString& path : paths)
                appender.Add(path);
        }
        window.settle();
        const double f = clock.nsecsElapsed() / 1e9;

        clock.start();
        list->scrollToBottom();
        window.settle();
        const double s = clock.nsecsElapsed() / 1e9;

        // One step of dragging the last visible item onto the one above it.
        list->scrollToTop();
        window.settle();
        const QRect first = list->visualItemRect(list->topLevelItem(0));
        const QRect second = list->visualItemRect(list->topLevelItem(1));
        form.ListView1_MouseDown(1, 0, second.center().x(), second.center().y());
        list->setCurrentItem(list->topLevelItem(1));
        form.ListView1_ItemClick(list->topLevelItem(1));
        clock.start();
        form.ListView1_MouseMove(1, 0, first.center().x(), first.center().y());
        window.settle();
        const double o = clock.nsecsElapsed() / 1e9;
        form.ListView1_MouseUp(1, 0, first.center().x(), first.center().y());

        // The Delete key on the selected item.
        list->setCurrentItem(list->topLevelItem(count / 2));
        window.settle();
        clock.start();
        form.ListView1_KeyDown(46, 0);
        window.settle();
        const double d = clock.nsecsElapsed() / 1e9;

        clock.start();
        form.PushButton8_Click();
        window.settle();
        const double c = clock.nsecsElapsed() / 1e9;
        if (r > 0) {
            fill.push_back(f);
            scroll.push_back(s);
            reorder.push_back(o);
            removal.push_back(d);
            clear.push_back(c);
        }
    }
    const auto line = [](const char* what, const std::vector<double>& v, const char* target) {
        const Spread x = SpreadOf(v);
        std::printf("  %-24s %8.1f ms  (%.1f to %.1f)%s\n", what, x.median * 1000, x.low * 1000,
                    x.high * 1000, target);
    };
    std::printf("the list with %d items\n", count);
    line("putting them in:", fill, "  target: at most 500");
    line("scrolling to the end:", scroll, "");
    line("one reordering step:", reorder, "");
    line("removing one item:", removal, "");
    line("clearing:", clear, "  target: at most 200");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int reps = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int folderCount = argc > 2 ? std::max(10, atoi(argv[2])) : 10000;
    const int fileCount = argc > 3 ? std::max(10, atoi(argv[3])) : 100000;

    QTemporaryDir dir(QDir::tempPath() + "/folderscan_bench.XXXXXX");
    if (!dir.isValid()) {
        std::fprintf(stderr, "folderscan_bench: cannot make a temporary folder\n");
        return 1;
    }
    // The settings the commands write stay in the temporary folder.
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/config"));
    QApplication app(argc, argv);

    // Everything, find too (a child keeps its parent's processor), runs on
    // the processor the benchmark started on: on a shared machine the
    // processors are not equally busy, and a short-lived child would
    // otherwise often get the idler one.
    const int cpu = ::sched_getcpu();
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (::sched_setaffinity(0, sizeof one, &one) == 0)
            std::printf("all runs on processor %d, find too\n", cpu);
    }

    const QString program = dir.path() + "/program";
    QDir().mkpath(program + "/Samples");
    for (int i = 0; i < fileCount; ++i)
        MakeEmptyFile(QStringLiteral("%1/Samples/sample%2.wma").arg(program).arg(i));
    const Tree deep = MakeDeepTree(dir.path() + "/deep", folderCount, fileCount);
    const Tree flat = MakeFlatTree(dir.path() + "/flat", fileCount);
    const Tree wide = MakeWideTree(dir.path() + "/wide", fileCount);
    // What was just written goes to the disk now, not during the measurements.
    ::sync();

    Window window(program);
    bool ok = CompareWithFind(window, deep, "deep", 1.5, reps);
    ok = CompareWithFind(window, flat, "flat", 2.0, reps) && ok;

    Form1& form = window.form();
    TimeCommand(window,
                QStringLiteral("add-all on one folder of %1 empty sub-folders").arg(fileCount).toUtf8(), reps,
                [&] {
                    window.dialogs().extension = "wma";
                    window.dialogs().folder = wide.root;
                    form.PushButton3_Click();
                });
    int dropped = 0;
    TimeCommand(
        window, "dropping the deep tree on the list", reps,
        [&] {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(deep.root)});
            form.ListView1_OLEDragDrop(&data, 1);
        },
        &dropped);
    int samples = 0;
    TimeCommand(
        window, QStringLiteral("loading %1 sample files").arg(fileCount).toUtf8(), reps,
        [&] { form.PushButton9_Click(); }, &samples);
    TimeList(window, fileCount, reps);

    // A drop leaves out plain hidden files too.
    if (dropped != deep.files - deep.hiddenFiles || samples != fileCount) {
        std::printf("dropped %d of %d files, loaded %d of %d samples\n", dropped,
                    deep.files - deep.hiddenFiles, samples, fileCount);
        ok = false;
    }
    std::printf("reports: %d\n", window.dialogs().reports);
    return ok && window.dialogs().reports == 0 ? 0 : 1;
}
