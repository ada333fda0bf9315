// Measures the batch mode against a reference run in the same process; see
// CMakeLists.txt. Prints the figures and the ratios, asserts nothing.
#include "batch/batchoptions.h"
#include "batch/batchplan.h"
#include "convert/resultledger.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The bytes this process and every descendant it has reaped sent to
// storage: those written, less those whose pages were dropped before they
// were written out (a working file removed in time never reaches the disk).
struct StorageWrites {
    long long written = 0;
    long long cancelled = 0;
};
StorageWrites ReadStorageWrites() {
    StorageWrites w;
    if (FILE* io = std::fopen("/proc/self/io", "re")) {
        char key[64];
        long long value;
        while (std::fscanf(io, "%63[^:]: %lld\n", key, &value) == 2) {
            if (std::strcmp(key, "write_bytes") == 0)
                w.written = value;
            else if (std::strcmp(key, "cancelled_write_bytes") == 0)
                w.cancelled = value;
        }
        std::fclose(io);
    }
    return w;
}

long long FolderBytes(const std::string& folder) {
    long long bytes = 0;
    for (const QFileInfo& f : QDir(QString::fromStdString(folder)).entryInfoList(QDir::Files))
        bytes += f.size();
    return bytes;
}

double LoadAverage() {
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// A file of its own (the plan reads no file, but tells files that are one
// apart: links to one file would be one source).
bool MakeSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    const bool made = fd >= 0 && ::write(fd, "x", 1) == 1;
    if (fd >= 0)
        ::close(fd);
    return made;
}

// The plan of a library: 10,000 small files named .wma in 50 folders, among
// them 100 names that two folders hold each, planned into one output folder.
void MeasurePlan(const std::string& root) {
    const std::string tree = root + "/library";
    char name[64];
    for (int folder = 0; folder < 50; ++folder) {
        std::snprintf(name, sizeof name, "/d%03d", folder);
        QDir().mkpath(QString::fromStdString(tree + name));
    }
    for (int folder = 0, n = 0; folder < 50; ++folder) {
        std::snprintf(name, sizeof name, "/d%03d", folder);
        const std::string dir = tree + name;
        for (int i = 0; i < 196; ++i, ++n) {
            std::snprintf(name, sizeof name, "/f%05d.wma", n);
            if (!MakeSmallFile(dir + name))
                return;
        }
        for (int k = folder; k < 100; k += 50)
            for (const int in : {k % 50, (k + 1) % 50}) {
                std::snprintf(name, sizeof name, "/d%03d/same_%03d.wma", in, k);
                if (!MakeSmallFile(tree + name))
                    return;
            }
    }
    const auto optionsFor = [&](const char* output, bool resume) {
        QByteArrayList arguments{"--convert", "-o", QByteArray::fromStdString(root + output),
                                 QByteArray::fromStdString(tree)};
        if (resume)
            arguments.insert(1, "--skip-existing");
        return ParseBatchOptions(arguments, QByteArray::fromStdString(root), 1);
    };
    const BatchOptions options = optionsFor("/c", false);
    // A resume of the same library where every source has its result, in
    // another output folder: its ledger holds a line for each (as the batch
    // writes them), and the results stand.
    const BatchOptions resume = optionsFor("/resumed", true);
    {
        const BatchPlan first = PlanBatch(resume);
        QByteArray ledger = "# a ledger of results\n";
        for (const PlannedFile& file : first.files) {
            QFile result(QFile::decodeName(file.Target()));
            if (!result.open(QIODevice::WriteOnly) || result.write("x") != 1)
                return;
            result.close();
            struct stat source, made;
            if (::stat(file.source.constData(), &source) != 0 || ::stat(file.Target().constData(), &made) != 0)
                return;
            const auto ns = [](const struct timespec& t) { return QByteArray::number(t.tv_sec * 1000000000LL + t.tv_nsec); };
            ledger += file.Recorded() + '\t' + file.source + '\t' + QByteArray::number(qint64(source.st_size)) + '\t' +
                      ns(source.st_mtim) + '\t' + QByteArray::number(qint64(made.st_size)) + '\t' + ns(made.st_mtim) +
                      "\tmp3\n";
        }
        QFile file(QString::fromStdString(root + "/resumed/") + kLedgerName);
        if (!file.open(QIODevice::WriteOnly) || file.write(ledger) != ledger.size())
            return;
    }
    const auto timed = [](const BatchOptions& o, BatchPlan& p) {
        const auto start = std::chrono::steady_clock::now();
        p = PlanBatch(o);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double find = 1e9, plan = 1e9, withLedger = 1e9, dryRun = 1e9;
    long peakKb = 0;
    size_t planned = 0, shared = 0, kept = 0;
    for (int round = 0; round < 7; ++round) {
        find = std::min(find, Run({"find", tree, "-iname", "*.wma"}).seconds);
        BatchPlan p;
        plan = std::min(plan, timed(options, p));
        planned = p.files.size();
        shared = p.sharedNames.size();
        withLedger = std::min(withLedger, timed(resume, p));
        kept = static_cast<size_t>(std::count_if(p.files.begin(), p.files.end(),
                                                 [](const PlannedFile& f) { return f.earlier != nullptr; }));
        const Outcome whole = Run({BRENVALE_EXECUTABLE, "--convert", "--dry-run", "--quiet", "-o", root + "/c", tree});
        dryRun = std::min(dryRun, whole.seconds);
        peakKb = std::max(peakKb, whole.maxRssKb);
    }
    std::printf("plan of %zu files (%zu shared names): %.1f ms, find %.1f ms: ratio %.2f (target at most 2)\n",
                planned, shared, plan * 1000, find * 1000, plan / find);
    std::printf("  the same plan resumed, a ledger of %zu lines and %zu sources with their results: %.1f ms, "
                "ratio %.2f to the plan without one (target at most 2)\n",
                planned, kept, withLedger * 1000, withLedger / plan);
    std::printf("  the whole brenvale --convert --dry-run: %.1f ms (ratio %.2f), peak RSS %.1f MB (target under 60)\n",
                dryRun * 1000, dryRun / find, peakKb / 1024.0);

    // The same library, tagged (each album folder its artist, album and
    // tracks): the plan with --name album reads each source's header.
    const std::string tagged = root + "/tagged";
    for (int folder = 0, n = 0; folder < 50; ++folder) {
        std::snprintf(name, sizeof name, "/d%03d", folder);
        const std::string dir = tagged + name;
        QDir().mkpath(QString::fromStdString(dir));
        const std::string whole = dir + "/whole.wma", header = dir + "/header.wma";
        Run({MKWMA_EXECUTABLE, "encode", whole, "--codec", "wmav2", "--seconds", "1", "--title",
             "Song " + std::to_string(folder), "--artist", "Artist " + std::to_string(folder % 10), "--album",
             "Album " + std::to_string(folder), "--track", std::to_string(folder % 12 + 1) + "/12"});
        Run({MKWMA_EXECUTABLE, "cut", whole, header, "after-header"});
        QFile headerFile(QString::fromStdString(header));
        if (!headerFile.open(QIODevice::ReadOnly))
            return;
        const QByteArray bytes = headerFile.readAll();
        headerFile.close();
        ::unlink(whole.c_str());
        ::unlink(header.c_str());
        for (int i = 0; i < 200; ++i, ++n) {
            std::snprintf(name, sizeof name, "/%02d Track %05d.wma", i % 20 + 1, n);
            QFile file(QString::fromStdString(dir + name));
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return;
        }
    }
    const auto taggedOptions = [&](bool named) {
        QByteArrayList arguments{"--convert", "-o", QByteArray::fromStdString(root + "/c"),
                                 QByteArray::fromStdString(tagged)};
        if (named)
            arguments << "--name" << "album";
        return ParseBatchOptions(arguments, QByteArray::fromStdString(root), 1);
    };
    const BatchOptions plain = taggedOptions(false), named = taggedOptions(true);
    double plainPlan = 1e9, namedPlan = 1e9, reading = 1e9;
    size_t namedFolders = 0;
    for (int round = 0; round < 7; ++round) {
        BatchPlan p;
        plainPlan = std::min(plainPlan, timed(plain, p));
        // What reading every source's header costs at the least: opening
        // each and reading its first 16 KiB, one after another.
        const auto start = std::chrono::steady_clock::now();
        static char buffer[16384];
        for (const PlannedFile& f : p.files) {
            const int fd = ::open(f.source.constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::pread(fd, buffer, sizeof buffer, 0) < 0)
                return;
            if (fd >= 0)
                ::close(fd);
        }
        reading = std::min(reading, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        namedPlan = std::min(namedPlan, timed(named, p));
        QSet<QByteArray> folders;
        for (const PlannedFile& f : p.files)
            folders.insert(f.relative);
        namedFolders = static_cast<size_t>(folders.size());
    }
    std::printf("plan of 10000 tagged files with --name album: %.1f ms (%zu album folders), without --name "
                "%.1f ms: ratio %.2f (target at most 3); opening and reading each header alone, on one core: "
                "%.1f ms (ratio %.2f)\n",
                namedPlan * 1000, namedFolders, plainPlan * 1000, namedPlan / plainPlan, reading * 1000,
                namedPlan / reading);
}

}  // namespace

int main(int argc, char** argv) {
    // "batch_bench plan" measures the plan alone, "batch_bench targets" the
    // targets other than MP3 alone.
    const bool planOnly = argc > 1 && std::string(argv[1]) == "plan";
    const bool targetsOnly = argc > 1 && std::string(argv[1]) == "targets";
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const std::string jobs = std::to_string(cores);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const std::string root = QFile::encodeName(dir.path()).toStdString();
    for (const char* sub : {"/work", "/home", "/a", "/b", "/c", "/many", "/resumed"})
        QDir().mkpath(dir.path() + sub);
    // The batch runs in a work folder of its own, as a fresh user's would.
    ::setenv("TEMP", (root + "/work").c_str(), 1);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");

    const std::string small = root + "/small.wma";
    Run({MKWMA_EXECUTABLE, "encode", small, "--codec", "wmav2", "--seconds", "1"});
    if (planOnly) {
        MeasurePlan(root);
        return 0;
    }

    // Two kinds of audio, each in 4 x cores copies of a 3-minute stereo
    // 44100 Hz wmav2 file. Music-like: a chord over a pink noise floor at
    // -30 dBFS, as every recording has one. Pure tones: the same chord with
    // no floor at all, which no recording is; there ffmpeg feeds LAME the
    // decoder's float samples, free of the noise that rounding to 16 bits
    // adds, and LAME finishes its frames sooner than on any 16-bit input,
    // the WAV file between the batch's two tools included.
    const char* const chord = "261.63+329.63+392,440+554.37";
    struct Kind {
        const char* name;
        const char* folder;
        std::vector<std::string> extra;
    };
    std::vector<Kind> kinds{{"music-like", "/in", {"--noise", "-30"}}, {"pure tones", "/tones", {}}};
    if (targetsOnly)
        kinds.pop_back();
    std::string first;
    for (const Kind& kind : kinds) {
        QDir().mkpath(dir.path() + kind.folder);
        const std::string one = root + kind.folder + "/tone_00.wma";
        std::vector<std::string> make{MKWMA_EXECUTABLE, "encode", one, "--codec", "wmav2", "--channels", "2",
                                      "--rate", "44100", "--seconds", "180", "--freqs", chord};
        make.insert(make.end(), kind.extra.begin(), kind.extra.end());
        if (Run(make).status != 0) {
            std::fprintf(stderr, "mkwma failed\n");
            return 1;
        }
        for (int i = 1; i < 4 * cores; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/tone_%02d.wma", i);
            QFile::copy(QString::fromStdString(one), QString::fromStdString(root + kind.folder + name));
        }
        if (first.empty())
            first = one;
    }
    // One untimed run of each side, so that both start with their programs
    // and the input in the page cache and the tools staged.
    Run({BRENVALE_EXECUTABLE, "--convert", "--output", root + "/c", first});
    Run({"ffmpeg", "-nostdin", "-y", "-i", first, "-c:a", "libmp3lame", "-b:a", "128k",
         root + "/c/warm.mp3"});

    // The two sides take turns, three times each, and the fastest run of
    // each counts: on a shared machine other work only ever slows a run.
    const auto batchRun = [&](const std::string& in, const std::string& n) {
        QDir(QString::fromStdString(root + "/a")).removeRecursively();
        return Run({BRENVALE_EXECUTABLE, "--convert", "--jobs", n, "--output", root + "/a", in});
    };
    const auto referenceRun = [&](const std::string& in) {
        return Run({"sh", "-c",
                    "ls \"$0\"/*.wma | xargs -P \"$1\" -I{} sh -c "
                    "'ffmpeg -nostdin -loglevel error -y -i \"$1\" -c:a libmp3lame -b:a 128k "
                    "\"$2/$(basename \"$1\" .wma).mp3\"' "
                    "sh {} \"$2\"",
                    in, jobs, root + "/b"});
    };
    const auto faster = [](const Outcome& a, const Outcome& b) {
        return a.status != 0 ? a : b.status != 0 ? b : a.seconds <= b.seconds ? a : b;
    };
    std::printf("load average before: %.2f (%d cores)\n", LoadAverage(), cores);
    Outcome musicBatch1;
    for (const Kind& kind : kinds) {
        if (targetsOnly)
            break;
        const std::string in = root + kind.folder;
        Outcome batchN = batchRun(in, jobs), reference = referenceRun(in);
        for (int round = 1; round < 3; ++round) {
            batchN = faster(batchN, batchRun(in, jobs));
            reference = faster(reference, referenceRun(in));
        }
        if (batchN.status != 0 || reference.status != 0) {
            std::fprintf(stderr, "a run failed (%d %d)\n", batchN.status, reference.status);
            return 1;
        }
        std::printf("%s:\n", kind.name);
        std::printf("  brenvale --convert --jobs %d: %.2f s (CPU %.2f s)\n", cores, batchN.seconds,
                    batchN.cpuSeconds);
        std::printf("  xargs -P%d ffmpeg 128k:      %.2f s (CPU %.2f s)\n", cores, reference.seconds,
                    reference.cpuSeconds);
        std::printf("  CPU time batch / xargs ffmpeg: %.3f\n", batchN.cpuSeconds / reference.cpuSeconds);
        std::printf("  ratio batch / xargs ffmpeg: %.3f (target at most 1.05)\n",
                    batchN.seconds / reference.seconds);
        if (musicBatch1.status == -1) {
            // What the batch and its tools write to storage per file, against
            // the results' own size.
            const StorageWrites before = ReadStorageWrites();
            musicBatch1 = batchRun(in, "1");
            const StorageWrites after = ReadStorageWrites();
            const double results = static_cast<double>(FolderBytes(root + "/a"));
            std::printf("  written to storage: %.2f x the results' size (%.2f x before the working file's "
                        "removal; target at most 1.5)\n",
                        static_cast<double>((after.written - before.written) - (after.cancelled - before.cancelled)) /
                            results,
                        static_cast<double>(after.written - before.written) / results);
            const QFileInfo ledger(QString::fromStdString(root + "/a/") + kLedgerName);
            std::printf("  the output folder's ledger: %lld bytes, %.4f %% of the results' size (target at most 1 %%)\n",
                        static_cast<long long>(ledger.size()), 100.0 * static_cast<double>(ledger.size()) / results);
            if (musicBatch1.status != 0) {
                std::fprintf(stderr, "the --jobs 1 run failed (%d)\n", musicBatch1.status);
                return 1;
            }
            std::printf("  brenvale --convert --jobs 1: %.2f s (CPU %.2f s)\n", musicBatch1.seconds,
                        musicBatch1.cpuSeconds);
            std::printf("  speed-up --jobs 1 / --jobs %d: %.2f (target at least %.2f)\n", cores,
                        musicBatch1.seconds / batchN.seconds, 0.85 * cores);
        }
    }

    // The other targets on the music-like files, against ffmpeg making the
    // same target at the same settings.
    struct Target {
        const char* name;
        std::vector<std::string> ffmpeg;
    };
    const std::vector<Target> targets{{"flac", {"-c:a", "flac"}},
                                      {"opus", {"-c:a", "libopus", "-b:a", "128k"}},
                                      {"m4a", {"-c:a", "aac", "-b:a", "192k"}}};
    for (const Target& target : targets) {
        const std::string in = root + "/in";
        const auto batchTarget = [&] {
            QDir(QString::fromStdString(root + "/a")).removeRecursively();
            return Run({BRENVALE_EXECUTABLE, "--convert", "--to", target.name, "--jobs", jobs, "--output",
                        root + "/a", in});
        };
        std::string options;
        for (const std::string& o : target.ffmpeg)
            options += " " + o;
        const auto referenceTarget = [&] {
            return Run({"sh", "-c",
                        "ls \"$0\"/*.wma | xargs -P \"$1\" -I{} sh -c "
                        "'ffmpeg -nostdin -loglevel error -y -i \"$1\"" + options +
                            " \"$2/$(basename \"$1\" .wma).$3\"' "
                            "sh {} \"$2\" \"$3\"",
                        in, jobs, root + "/b", target.name});
        };
        Outcome batch = batchTarget(), reference = referenceTarget();
        for (int round = 1; round < 3; ++round) {
            batch = faster(batch, batchTarget());
            reference = faster(reference, referenceTarget());
        }
        if (batch.status != 0 || reference.status != 0) {
            std::fprintf(stderr, "a %s run failed (%d %d)\n", target.name, batch.status, reference.status);
            return 1;
        }
        std::printf("%s: brenvale --convert %.2f s (CPU %.2f s), xargs -P%d ffmpeg%s %.2f s (CPU %.2f s): "
                    "ratio %.3f (target at most 1.05)\n",
                    target.name, batch.seconds, batch.cpuSeconds, cores, options.c_str(), reference.seconds,
                    reference.cpuSeconds, batch.seconds / reference.seconds);
    }
    if (targetsOnly)
        return 0;
    std::printf("load average after: %.2f\n", LoadAverage());

    // One short file: the program's own start and end beyond its tools, for
    // MP3 and for FLAC, whose encoder is the quickest, so that the batch's
    // own share shows most there.
    const auto ownTime = [&](const char* to, const std::vector<std::string>& encoder, const char* suffix) {
        double own = 1e9, tools = 1e9;
        for (int i = 0; i < 5; ++i) {
            own = std::min(own, Run({BRENVALE_EXECUTABLE, "--convert", "--to", to, "--output", root + "/c", small})
                                    .seconds);
            const double decode = Run({root + "/work/batch-tools/wmawav", small, root + "/c/s.wav"}).seconds;
            std::vector<std::string> encode = encoder;
            encode.insert(encode.end(), {root + "/c/s.wav", root + "/c/s" + suffix});
            tools = std::min(tools, decode + Run(encode).seconds);
        }
        std::printf("one 1-second file to %s: %.1f ms, its tools alone %.1f ms: %.1f ms of its own "
                    "(target under 30)\n",
                    to, own * 1000, tools * 1000, (own - tools) * 1000);
    };
    ownTime("mp3", {root + "/work/batch-tools/lame"}, ".mp3");
    ownTime("flac", {root + "/work/batch-tools/audioenc", "--to", "flac"}, ".flac");

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
    MeasurePlan(root);
    return 0;
}
