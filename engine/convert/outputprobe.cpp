#include "convert/outputprobe.h"

#include "system/fileio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Makes an empty file name in folder; 0 or the errno.
int MakeProbe(int folder, const QByteArray& name) {
    const int fd = ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

// True when the file system takes name (a probe made and removed again).
bool Takes(int folder, const QByteArray& name) {
    if (MakeProbe(folder, name) != 0)
        return false;
    ::unlinkat(folder, name.constData(), 0);
    return true;
}

// True when the file system writes the probe name as a result is made:
// written, opened again, rewritten at its start and lengthened, and then
// reads back what was written.
bool RewritesInPlace(int folder, const QByteArray& name) {
    const int made = ::openat(folder, name.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    bool ok = made >= 0 && ::pwrite(made, "abcdefgh", 8, 0) == 8;
    if (made >= 0)
        ok = ::close(made) == 0 && ok;
    const int again = ok ? ::openat(folder, name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC) : -1;
    char back[12] = {};
    ok = again >= 0 && ::pwrite(again, "AB", 2, 0) == 2 && ::pwrite(again, "ijkl", 4, 8) == 4 &&
         ::pread(again, back, sizeof back, 0) == 12 && std::memcmp(back, "ABcdefghijkl", 12) == 0;
    if (again >= 0)
        ::close(again);
    return ok;
}

}  // namespace

OutputProbe ProbeOutputFolder(int folder) {
    OutputProbe probe;
    const int dir = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        probe.error = errno;
        return probe;
    }
    const long longest = ::fpathconf(dir, _PC_NAME_MAX);
    if (longest > 0 && longest < 255)
        probe.rules.longestName = static_cast<int>(longest);
    const QByteArray name = kProbePrefix + RandomLetters(8, "abcdefghijklmnopqrstuvwxyz");
    probe.error = MakeProbe(dir, name);
    if (probe.error == 0) {
        // Looked up in upper case, the lower-case name is found only where
        // case is folded: no other file can have this random name.
        const QByteArray upper = name.toUpper();
        probe.rules.foldsCase = ::faccessat(dir, upper.constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
        probe.rules.portable = !Takes(dir, name + "?") || !Takes(dir, name + ":") || !Takes(dir, name + "\xF6");
        probe.rules.asciiOnly = !Takes(dir, name + "\xC3\xA9");
        probe.rules.portable = probe.rules.portable || probe.rules.asciiOnly;
        probe.writesInPlace = RewritesInPlace(dir, name);
        ::unlinkat(dir, name.constData(), 0);
    }
    ::close(dir);
    return probe;
}
