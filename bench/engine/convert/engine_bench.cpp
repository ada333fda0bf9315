// Times one MP3 conversion the way the program does it, (a)
// PrepareWorkingFiles + RunConversionScript(UserWorkContext(), MP3) + the result test, against
// (b) running the same staged wmawav and lame by hand on the same input, on
// a 3-minute stereo 44100 Hz WMA file. The two alternate over several
// repetitions after one untimed run of each; the ratio of the medians a/b is
// printed (target: at most 1.10).
//
//   engine_bench [REPETITIONS]     default 9

#include "convert/staging.h"
#include "workfolder/workfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program with its output sent to /dev/null and waits for it; returns
// its exit status, or -1.
int Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    const QString work = dir.path() + "/work";
    const QString hand = dir.path() + "/hand";
    QDir().mkpath(work);
    QDir().mkpath(hand);
    qputenv("TEMP", QFile::encodeName(work));
    const std::string input = QFile::encodeName(dir.path() + "/tone_180s.wma").toStdString();

    std::printf("making a 3-minute stereo 44100 Hz wmav2 file...\n");
    if (Run({MKWMA_EXECUTABLE, "encode", input, "--codec", "wmav2", "--channels", "2", "--rate", "44100",
             "--seconds", "180", "--freqs", "261.63+329.63+392,440+554.37"}) != 0) {
        std::fprintf(stderr, "mkwma failed\n");
        return 1;
    }
    std::printf("input: %lld bytes\n", static_cast<long long>(QFile(QString::fromStdString(input)).size()));

    try {
        StageTools(UserWorkContext());
    } catch (...) {
        std::fprintf(stderr, "cannot stage the tools in %s\n", qPrintable(work));
        return 1;
    }
    const ScriptCommands commands = BuildScriptCommands(UserWorkContext());
    const std::string wmawav = QFile::encodeName(WorkPath("wmawav")).toStdString();
    const std::string lame = QFile::encodeName(WorkPath("lame")).toStdString();
    const std::string handWav = QFile::encodeName(hand + "/out.wav").toStdString();
    const std::string handMp3 = QFile::encodeName(hand + "/out.mp3").toStdString();

    std::vector<double> preparing;  // the part of (a) before the script starts
    auto throughScript = [&]() -> double {
        const auto start = Clock::now();
        PrepareWorkingFiles(UserWorkContext(), QString::fromStdString(input));
        preparing.push_back(SecondsSince(start));
        RunConversionScript(UserWorkContext(), ConversionFormat::MP3, commands);
        const bool present = ResultFilePresent(UserWorkContext(), ConversionFormat::MP3);
        const double t = SecondsSince(start);
        return present ? t : -1;
    };
    auto byHand = [&]() -> double {
        const auto start = Clock::now();
        if (Run({wmawav, input, handWav}) != 0 || Run({lame, handWav, handMp3}) != 0)
            return -1;
        return SecondsSince(start);
    };

    // One untimed run of each, so that both start with the input, the tools
    // and their libraries in the page cache.
    if (throughScript() < 0 || byHand() < 0) {
        std::fprintf(stderr, "a conversion failed\n");
        RemoveStagedTools(UserWorkContext());
        return 1;
    }
    std::vector<double> ta, tb;
    for (int i = 0; i < reps; ++i) {
        const double a = throughScript();
        const double b = byHand();
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a conversion failed\n");
            RemoveStagedTools(UserWorkContext());
            return 1;
        }
        ta.push_back(a);
        tb.push_back(b);
        std::printf("  run %d: a %.3f s, b %.3f s\n", i + 1, a, b);
    }
    const bool same = ReadAll(ResultFilePath(UserWorkContext(), ConversionFormat::MP3)) == ReadAll(hand + "/out.mp3");
    RemoveStagedTools(UserWorkContext());

    std::printf("repetitions: %d\n", reps);
    std::printf("(a) through the script: median %.3f s, best %.3f s\n", Median(ta),
                *std::min_element(ta.begin(), ta.end()));
    std::printf("    of which preparing the working files: median %.3f s\n", Median(preparing));
    std::printf("(b) wmawav and lame by hand: median %.3f s, best %.3f s\n", Median(tb),
                *std::min_element(tb.begin(), tb.end()));
    std::printf("the two MP3 files are %s\n", same ? "identical" : "DIFFERENT");
    const double ratio = Median(ta) / Median(tb);
    std::printf("ratio a/b (medians): %.3f (target at most 1.10: %s)\n", ratio,
                ratio <= 1.10 ? "met" : "NOT met");
    return same ? 0 : 1;
}
