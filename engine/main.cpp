// Brenvale: converts Windows Media Audio files to MP3 or WAV.
//
// The program itself needs Qt Core alone: the batch mode (`--convert`) runs
// here and never loads the libraries of windows, fonts or the desktop bus,
// so that it starts at once. Everything else is the window's, a module that
// stands beside the program (libbrenvale-window.so) and is loaded from
// there, from the program's own folder only.
#include "batch/batchoptions.h"
#include "batch/batchrun.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// The window's module in the program's own folder, when it is a regular file
// that nobody but its owner (the program's owner or root) can have changed.
std::string WindowModule() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return std::string();
    std::string folder(self, static_cast<size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    const std::string module = folder + "libbrenvale-window.so";
    struct stat program, st;
    if (::stat("/proc/self/exe", &program) != 0 || ::lstat(module.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_uid != program.st_uid && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::string();
    return module;
}

}  // namespace

int main(int argc, char* argv[]) {
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    if (IsBatchCommand(arguments))
        return RunBatchCommand(argc, argv);

    const std::string module = WindowModule();
    void* window = module.empty() ? nullptr : ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = int (*)(int, char**);
    const auto entry = window ? reinterpret_cast<Entry>(::dlsym(window, "BrenvaleWindowMain")) : nullptr;
    if (!entry) {
        std::fprintf(stderr, "brenvale: the window cannot be started: %s\n",
                     window ? "its module has no entry" : module.empty() ? "its module is missing" : ::dlerror());
        return 1;
    }
    return entry(argc, argv);
}
