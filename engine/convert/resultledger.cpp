#include "convert/resultledger.h"

#include "convert/resultnames.h"
#include "system/fileio.h"

#include <QByteArrayList>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace {

constexpr char kHeader[] =
    "# Brenvale's record of the results it made in this folder, one per line:\n"
    "# result, source, source size, source time, result size, result time, options.\n";
constexpr char kRewriteName[] = ".brenvale-ledger.new";
constexpr int kFields = 7;
// A ledger is rewritten when it holds more lines than this many times its
// results (and more than a few).
constexpr int kGrowth = 2;
constexpr int kFewLines = 64;

// A field as written: the bytes that would break a line or a field (and
// "%") as %XX; every other byte as it is, so names in any encoding stay
// what they are.
QByteArray Escaped(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (const char c : field) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == '%' || b == 0x7F) {
            static const char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray Unescaped(QByteArrayView field) {
    if (!field.contains('%'))
        return field.toByteArray();
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size()) {
            bool ok = false;
            const int b = field.sliced(i + 1, 2).toByteArray().toInt(&ok, 16);
            if (ok) {
                out += static_cast<char>(b);
                i += 2;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// A whole number as the ledger writes it (an optional "-", then digits).
bool ReadNumber(QByteArrayView field, qint64& value) {
    const bool negative = field.startsWith('-');
    if (negative)
        field = field.sliced(1);
    if (field.isEmpty() || field.size() > 19)
        return false;
    quint64 n = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + static_cast<quint64>(c - '0');
    }
    if (n > static_cast<quint64>(std::numeric_limits<qint64>::max()))
        return false;
    value = negative ? -static_cast<qint64>(n) : static_cast<qint64>(n);
    return true;
}

QByteArray Line(const LedgerEntry& e, const QByteArray& where) {
    // A source in the ledger's own folder is written relative to it, so
    // that the record holds wherever the folder is mounted next time.
    QByteArray source = e.source;
    if (source.startsWith(where) && source.size() > where.size() && source[where.size()] == '/')
        source = source.mid(where.size() + 1);
    return Escaped(e.result) + '\t' + Escaped(source) + '\t' + QByteArray::number(e.sourceSize) + '\t' +
           QByteArray::number(e.sourceTime) + '\t' + QByteArray::number(e.resultSize) + '\t' +
           QByteArray::number(e.resultTime) + '\t' + Escaped(e.options) + '\n';
}

qint64 TimeOf(const struct stat& st) {
    return static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool OwnRegularFile(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// True when fd is still the file that name in folder holds.
bool StillNamed(int folder, const char* name, int fd) {
    struct stat held, named;
    return ::fstat(fd, &held) == 0 && held.st_nlink > 0 &&
           ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

}  // namespace

bool SameFileTime(qint64 a, qint64 b) {
    return std::llabs(a - b) < 2000000000LL;
}

bool StandsAsRecorded(int folder, const QByteArray& name, const LedgerEntry& entry) {
    struct stat st;
    return ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == ::geteuid() && static_cast<qint64>(st.st_size) == entry.resultSize &&
           SameFileTime(TimeOf(st), entry.resultTime);
}

ResultLedger::ResultLedger(int folder, const QByteArray& where, bool foldsCase)
    : folder_(folder), where_(where.endsWith('/') && where.size() > 1 ? where.chopped(1) : where),
      foldsCase_(foldsCase) {
    const int fd = ::openat(folder_, kLedgerName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        usable_ = errno == ENOENT;
        return;
    }
    struct stat st;
    if (OwnRegularFile(fd) && ::fstat(fd, &st) == 0) {
        // About a line a hundred bytes: room made once.
        const auto lines = static_cast<qsizetype>(st.st_size / 100 + 16);
        entries_.reserve(static_cast<size_t>(lines));
        byResult_.reserve(lines);
        bySource_.reserve(lines);
        ReadFrom(fd, 0);
    } else {
        usable_ = false;
    }
    ::close(fd);
}

QByteArray ResultLedger::Key(const QByteArray& name) const {
    return foldsCase_ ? CaseKey(name) : name;
}

void ResultLedger::Take(QByteArrayView line) {
    if (line.isEmpty() || line.startsWith('#'))
        return;
    QByteArrayView fields[kFields];
    qsizetype from = 0;
    for (int i = 0; i < kFields; ++i) {
        const bool last = i + 1 == kFields;
        const qsizetype end = last ? line.size() : line.indexOf('\t', from);
        if (end < 0 || (last && line.sliced(from).contains('\t')))
            return;  // not the fields of a line
        fields[i] = line.sliced(from, end - from);
        from = end + 1;
    }
    LedgerEntry e;
    if (fields[0].isEmpty() || fields[1].isEmpty() || !ReadNumber(fields[2], e.sourceSize) ||
        !ReadNumber(fields[3], e.sourceTime) || !ReadNumber(fields[4], e.resultSize) ||
        !ReadNumber(fields[5], e.resultTime))
        return;
    e.result = Unescaped(fields[0]);
    e.source = Unescaped(fields[1]);
    // The options of one batch are the same on every line: kept once.
    if (fields[6] != QByteArrayView(lastOptions_))
        lastOptions_ = Unescaped(fields[6]);
    e.options = lastOptions_;
    if (!e.source.startsWith('/'))
        e.source = where_ + '/' + e.source;
    ++lines_;
    const size_t at = entries_.size();
    byResult_.insert(Key(e.result), at);
    bySource_.insert(e.source, at);
    entries_.push_back(std::move(e));
}

void ResultLedger::ReadFrom(int fd, qint64 from) {
    QByteArray pending;
    char buffer[1 << 16];
    qint64 at = from;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        at += got;
        pending.append(buffer, got);
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
            Take(QByteArrayView(pending).sliced(start, end - start));
            readTo_ += end + 1 - start;
        }
        pending.remove(0, start);
    }
    // A last line without its end is one a kill cut short: passed over
    // (and the next line appended begins on a line of its own).
}

std::optional<LedgerEntry> ResultLedger::EntryForResult(const QByteArray& name, bool refresh) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (refresh && usable_) {
        const int fd = ::openat(folder_, kLedgerName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            if (OwnRegularFile(fd))
                ReadFrom(fd, readTo_);
            ::close(fd);
        }
    }
    const auto it = byResult_.constFind(Key(name));
    if (it == byResult_.cend())
        return std::nullopt;
    return entries_[*it];
}

std::vector<LedgerEntry> ResultLedger::EntriesForSource(const QByteArray& source) const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<LedgerEntry> entries;
    for (auto it = bySource_.constFind(source); it != bySource_.cend() && it.key() == source; ++it)
        if (byResult_.value(Key(entries_[*it].result)) == *it)
            entries.push_back(entries_[*it]);
    // The hash gives the latest insertion first.
    return entries;
}

bool ResultLedger::Empty() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return entries_.empty();
}

std::vector<LedgerEntry> ResultLedger::Entries() const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<LedgerEntry> latest;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (byResult_.value(Key(entries_[i].result)) == i)
            latest.push_back(entries_[i]);
    }
    return latest;
}

// Opens the ledger, made when missing, locked and checked to be the file
// its name holds (a rewrite may have replaced it meanwhile). The lock is
// held on a descriptor opened for reading, which every file system allows.
int ResultLedger::OpenLocked(int& fd) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = ::openat(folder_, kLedgerName, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0)
            return errno == ELOOP ? EEXIST : errno;
        if (!OwnRegularFile(fd)) {
            ::close(fd);
            fd = -1;
            return EEXIST;
        }
        if (::flock(fd, LOCK_EX) == 0 && StillNamed(folder_, kLedgerName, fd))
            return 0;
        ::close(fd);
        fd = -1;
    }
    return EAGAIN;
}

// Puts bytes in the place of the ledger (held locked at locked): written
// whole under another name first, then renamed over it.
int ResultLedger::Replace(const QByteArray& bytes) {
    ::unlinkat(folder_, kRewriteName, 0);
    const int out = ::openat(folder_, kRewriteName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0)
        return errno;
    int err = WriteFully(out, bytes);
    if (err == 0 && ::fdatasync(out) != 0 && errno != EINVAL)
        err = errno;
    ::close(out);
    if (err == 0 && ::renameat(folder_, kRewriteName, folder_, kLedgerName) != 0)
        err = errno;
    if (err != 0)
        ::unlinkat(folder_, kRewriteName, 0);
    return err;
}

int ResultLedger::Record(const LedgerEntry& entry) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!usable_)
        return EEXIST;
    int locked = -1;
    if (const int err = OpenLocked(locked)) {
        if (err == EEXIST)
            usable_ = false;
        return err;
    }
    // What other batches appended comes in first, so that this one's line
    // is the latest here as it is in the file.
    ReadFrom(locked, readTo_);
    struct stat st;
    const qint64 size = ::fstat(locked, &st) == 0 ? static_cast<qint64>(st.st_size) : 0;
    QByteArray bytes;
    if (size == 0)
        bytes = kHeader;
    char last = '\n';
    if (size > 0 && ::pread(locked, &last, 1, size - 1) == 1 && last != '\n')
        bytes += '\n';  // after a line that a kill cut short
    const QByteArray line = Line(entry, where_);
    bytes += line;
    // Appended in one write; where the file system cannot append to a file
    // (some FAT drivers write only new files), the whole ledger is
    // rewritten.
    int err = 0;
    const int append = ::openat(folder_, kLedgerName, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (append >= 0) {
        err = WriteFully(append, bytes);
        if (err == 0 && ::fdatasync(append) != 0 && errno != EINVAL)
            err = errno;
        ::close(append);
    } else {
        err = errno;
    }
    bool rewritten = false;
    if (err != 0 && err != ENOSPC && err != EDQUOT && err != EROFS && err != EIO) {
        // Made from the lines read (after a refused write the file's pages
        // are not to be trusted on such a driver).
        QByteArray whole = kHeader;
        for (const LedgerEntry& e : entries_)
            whole += Line(e, where_);
        whole += line;
        err = Replace(whole);
        rewritten = true;
        if (err == 0)
            readTo_ = whole.size();
    }
    ::close(locked);
    if (err == 0) {
        if (!rewritten)
            readTo_ = size + bytes.size();
        Take(line.chopped(1));
    }
    return err;
}

void ResultLedger::Compact() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!usable_ || lines_ <= kFewLines || lines_ <= kGrowth * byResult_.size())
        return;
    int locked = -1;
    if (OpenLocked(locked) != 0)
        return;
    // Under the lock: everything written so far, then only what stands.
    ReadFrom(locked, readTo_);
    QByteArray bytes = kHeader;
    std::vector<LedgerEntry> kept;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const LedgerEntry& e = entries_[i];
        if (byResult_.value(Key(e.result)) != i || !StandsAsRecorded(folder_, e.result, e))
            continue;
        bytes += Line(e, where_);
        kept.push_back(e);
    }
    if (Replace(bytes) == 0) {
        entries_.clear();
        byResult_.clear();
        bySource_.clear();
        lines_ = 0;
        for (const LedgerEntry& e : kept)
            Take(Line(e, where_).chopped(1));
        readTo_ = bytes.size();
    }
    ::close(locked);
}
