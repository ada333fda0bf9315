// Measures the batch mode against a reference run in the same process; see
// CMakeLists.txt. Prints the figures and the ratios, asserts nothing.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child and all it waited for
    long maxRssKb = 0;      // the child's peak resident memory
};

// Runs argv in folder, its output discarded, and waits for it.
Outcome Run(const std::vector<std::string>& args, const std::string& folder = std::string()) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.maxRssKb = usage.ru_maxrss;
        o.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return o;
}

double LoadAverage() {
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const std::string jobs = std::to_string(cores);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const std::string root = QFile::encodeName(dir.path()).toStdString();
    for (const char* sub : {"/in", "/work", "/home", "/a", "/b", "/c", "/many"})
        QDir().mkpath(dir.path() + sub);
    // The batch runs in a work folder of its own, as a fresh user's would.
    ::setenv("TEMP", (root + "/work").c_str(), 1);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");

    std::printf("making 4 x %d copies of a 3-minute stereo 44100 Hz wmav2 file...\n", cores);
    const std::string first = root + "/in/tone_00.wma";
    if (Run({MKWMA_EXECUTABLE, "encode", first, "--codec", "wmav2", "--channels", "2", "--rate", "44100",
             "--seconds", "180", "--freqs", "261.63+329.63+392,440+554.37"})
            .status != 0) {
        std::fprintf(stderr, "mkwma failed\n");
        return 1;
    }
    std::vector<std::string> files{first};
    for (int i = 1; i < 4 * cores; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/in/tone_%02d.wma", i);
        files.push_back(root + name);
        QFile::copy(QString::fromStdString(first), QString::fromStdString(files.back()));
    }
    const std::string small = root + "/small.wma";
    Run({MKWMA_EXECUTABLE, "encode", small, "--codec", "wmav2", "--seconds", "1"});

    // One untimed run of each side, so that both start with their programs
    // and the input in the page cache and the tools staged.
    Run({BRENVALE_EXECUTABLE, "--convert", "--output", root + "/c", first});
    Run({"ffmpeg", "-nostdin", "-y", "-i", first, "-c:a", "libmp3lame", "-b:a", "128k",
         root + "/c/warm.mp3"});

    std::printf("load average before: %.2f (%d cores)\n", LoadAverage(), cores);
    const Outcome batchN =
        Run({BRENVALE_EXECUTABLE, "--convert", "--jobs", jobs, "--output", root + "/a", root + "/in"});
    const Outcome reference = Run({"sh", "-c",
                                   "ls \"$0\"/*.wma | xargs -P \"$1\" -I{} sh -c "
                                   "'ffmpeg -nostdin -loglevel error -y -i \"$1\" -c:a libmp3lame -b:a 128k "
                                   "\"$2/$(basename \"$1\" .wma).mp3\"' "
                                   "sh {} \"$2\"",
                                   root + "/in", jobs, root + "/b"});
    const Outcome batch1 =
        Run({BRENVALE_EXECUTABLE, "--convert", "--jobs", "1", "--output", root + "/c", root + "/in"});
    std::printf("load average after: %.2f\n", LoadAverage());
    if (batchN.status != 0 || reference.status != 0 || batch1.status != 0) {
        std::fprintf(stderr, "a run failed (%d %d %d)\n", batchN.status, reference.status, batch1.status);
        return 1;
    }
    std::printf("brenvale --convert --jobs %d: %.2f s (CPU %.2f s)\n", cores, batchN.seconds,
                batchN.cpuSeconds);
    std::printf("xargs -P%d ffmpeg 128k:      %.2f s (CPU %.2f s)\n", cores, reference.seconds,
                reference.cpuSeconds);
    std::printf("brenvale --convert --jobs 1: %.2f s (CPU %.2f s)\n", batch1.seconds, batch1.cpuSeconds);
    std::printf("CPU time batch / xargs ffmpeg: %.3f\n", batchN.cpuSeconds / reference.cpuSeconds);
    std::printf("ratio batch / xargs ffmpeg: %.3f (target at most 1.05)\n",
                batchN.seconds / reference.seconds);
    std::printf("speed-up --jobs 1 / --jobs %d: %.2f (target at least %.2f)\n", cores,
                batch1.seconds / batchN.seconds, 0.85 * cores);

    // One short file: the program's own start and end beyond its tools.
    double own = 1e9, tools = 1e9;
    for (int i = 0; i < 5; ++i) {
        own = std::min(own, Run({BRENVALE_EXECUTABLE, "--convert", "--output", root + "/c", small}).seconds);
        const double decode = Run({root + "/work/batch-tools/wmawav", small, root + "/c/s.wav"}).seconds;
        tools = std::min(
            tools,
            decode + Run({root + "/work/batch-tools/lame", root + "/c/s.wav", root + "/c/s.mp3"}).seconds);
    }
    std::printf("one 1-second file: %.1f ms, its tools alone %.1f ms: %.1f ms of its own (target under 50)\n",
                own * 1000, tools * 1000, (own - tools) * 1000);

    // 10,000 files named that are not there: each fails at once without a
    // tool, so that the figure is the batch process's own bookkeeping.
    std::vector<std::string> many{BRENVALE_EXECUTABLE, "--convert", "--quiet", "--output", root + "/c"};
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "missing/e%05d.wma", i);
        many.push_back(name);
    }
    const Outcome memory = Run(many, root + "/many");
    std::printf("10,000 files named: status %d, %.2f s, peak RSS %.1f MB (target at most 60)\n",
                memory.status, memory.seconds, memory.maxRssKb / 1024.0);
    return 0;
}
