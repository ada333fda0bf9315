// Times `wmawav IN OUT.wav` against `ffmpeg -i IN -y OUT.wav` on the same
// 3-minute stereo 44100 Hz WMA file, alternating the two over several
// repetitions, and prints the ratio of the medians (target: at most 1.0).
//
//   wmawav_bench [REPETITIONS]     default 7
//
// The ffmpeg side is timed only when an `ffmpeg` program is on the PATH.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs a program with its output sent to /dev/null; returns its exit status
// (or -1) and the wall-clock time it took in `seconds`.
int RunTimed(const std::vector<std::string>& args, double* seconds) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int err = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (err != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FindOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    size_t pos = 0;
    while (pos <= rest.size()) {
        const size_t colon = rest.find(':', pos);
        const std::string dir =
            rest.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string::npos)
            break;
        pos = colon + 1;
    }
    return "";
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const char* tmp = std::getenv("TMPDIR");
    std::string dirTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/wmawav_bench.XXXXXX";
    if (!::mkdtemp(dirTemplate.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const std::string in = dir + "/tone_180s.wma";
    const std::string outW = dir + "/wmawav.wav";
    const std::string outF = dir + "/ffmpeg.wav";
    auto cleanup = [&]() {
        for (const std::string& f : {in, outW, outF})
            ::unlink(f.c_str());
        ::rmdir(dir.c_str());
    };

    double t = 0;
    std::printf("making a 3-minute stereo 44100 Hz wmav2 file...\n");
    if (RunTimed({MKWMA_EXECUTABLE, "encode", in, "--codec", "wmav2", "--channels", "2", "--rate", "44100",
                  "--seconds", "180", "--freqs", "261.63+329.63+392,440+554.37"},
                 &t) != 0) {
        std::fprintf(stderr, "mkwma failed\n");
        cleanup();
        return 1;
    }
    std::printf("input: %lld bytes, made in %.2f s\n", FileSize(in), t);

    const std::string ffmpeg = FindOnPath("ffmpeg");
    if (ffmpeg.empty())
        std::printf("no ffmpeg program on the PATH: timing wmawav alone\n");

    std::vector<double> tw, tf;
    // One untimed run of each first, so that both start with the input and
    // the libraries in the page cache.
    RunTimed({WMAWAV_EXECUTABLE, in, outW}, &t);
    if (!ffmpeg.empty())
        RunTimed({ffmpeg, "-nostdin", "-loglevel", "error", "-i", in, "-y", outF}, &t);
    for (int i = 0; i < reps; ++i) {
        if (RunTimed({WMAWAV_EXECUTABLE, in, outW}, &t) != 0) {
            std::fprintf(stderr, "wmawav failed\n");
            cleanup();
            return 1;
        }
        tw.push_back(t);
        if (!ffmpeg.empty()) {
            if (RunTimed({ffmpeg, "-nostdin", "-loglevel", "error", "-i", in, "-y", outF}, &t) != 0) {
                std::fprintf(stderr, "ffmpeg failed\n");
                cleanup();
                return 1;
            }
            tf.push_back(t);
        }
    }

    std::printf("repetitions: %d\n", reps);
    std::printf("wmawav: median %.3f s, best %.3f s, output %lld bytes\n", Median(tw),
                *std::min_element(tw.begin(), tw.end()), FileSize(outW));
    if (!tf.empty()) {
        std::printf("ffmpeg: median %.3f s, best %.3f s, output %lld bytes\n", Median(tf),
                    *std::min_element(tf.begin(), tf.end()), FileSize(outF));
        const double ratio = Median(tw) / Median(tf);
        std::printf("ratio wmawav/ffmpeg (medians): %.2f (target at most 1.0: %s)\n", ratio,
                    ratio <= 1.0 ? "met" : "NOT met");
    }
    cleanup();
    return 0;
}
