#include "common/outputfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// Path of the temporary file being written, for the signal handler.
char g_tempPath[PATH_MAX + 1];
volatile sig_atomic_t g_tempActive = 0;

void OnSignal(int sig) {
    if (g_tempActive)
        ::unlink(g_tempPath);
    ::_exit(128 + sig);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

[[noreturn]] void Fail(std::string message) {
    throw OutputFailure{std::move(message)};
}

}  // namespace

void CheckOutputPath(const std::string& output) {
    struct stat st {};
    if (output == "-") {
        if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
            Fail("the standard output is not a regular file");
        return;
    }
    if (::lstat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        Fail(output + " exists and is not a regular file");
}

TempOutput::TempOutput(const std::string& output, const char* prefix) : output_(output) {
    if (output == "-") {
        fd_ = STDOUT_FILENO;
        return;
    }
    const std::string pattern = FolderOf(output) + "/" + prefix + "XXXXXX";
    if (pattern.size() >= PATH_MAX)
        Fail("output path too long: " + output);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0)
        Fail("cannot create a file in " + FolderOf(output) + ": " + std::strerror(errno));
    temp_.assign(name.data());
    std::memcpy(g_tempPath, temp_.c_str(), temp_.size() + 1);
    g_tempActive = 1;
}

TempOutput::~TempOutput() {
    if (fd_ > STDOUT_FILENO)
        ::close(fd_);
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        g_tempActive = 0;
    }
}

void WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset, const std::string& name) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("cannot write " + name + ": " + std::strerror(n < 0 ? errno : ENOSPC));
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

void TempOutput::WriteAt(const uint8_t* data, size_t size, uint64_t offset) {
    WriteAllAt(fd_, data, size, offset, output_);
}

void TempOutput::Commit() {
    if (output_ == "-")
        return;  // the caller's file
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0)
        Fail(std::string("cannot set the output's mode: ") + std::strerror(errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        Fail("cannot write " + output_ + ": " + std::strerror(errno));
    if (::rename(temp_.c_str(), output_.c_str()) != 0)
        Fail("cannot create " + output_ + ": " + std::strerror(errno));
    temp_.clear();
    g_tempActive = 0;
}

void InstallTempCleanupOnSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}
