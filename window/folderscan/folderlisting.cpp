#include "folderscan/folderlisting.h"

#include "app/errorreport.h"
#include "walk/folderreader.h"
#include "runtime/filehelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringBuilder>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// Lets the window repaint and handle input. Asking the event loop costs a
// system call even when nothing is waiting, so a walk over thousands of
// folders goes back to it at most every few milliseconds (the first time at
// once): the window still answers without delay.
void YieldNowAndThen(QElapsedTimer& sinceYield) {
    constexpr qint64 kYieldIntervalNs = 4 * 1000 * 1000;
    if (sinceYield.isValid() && sinceYield.nsecsElapsed() < kYieldIntervalNs)
        return;
    QCoreApplication::processEvents();
    sinceYield.start();
}

// Work on a folder of many entries looks at the clock once per this many
// entries, to let the window answer in between.
constexpr unsigned kEntriesBetweenLooks = 256;

// The order in which a person reads names: by name ignoring letter case, and
// names that differ only in case by their characters (the raw order of a
// Linux folder looks random).
template <typename A, typename B>
bool ListedBefore(const A& a, const B& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

// Names as a listing read them, kept together: their bytes one after the
// other, each followed by a NUL, and for a name that is not all ASCII its
// decoded form too. A name whose bytes are not valid UTF-8 is not kept: it
// cannot be represented, and its stand-in (U+FFFD for the bad bytes) could
// be the name of another file.
class ReadNames {
public:
    // Keeps the name when it is valid UTF-8 and, with wanted, matches it;
    // quick is wanted's answer from the bytes (-1: the decoded name tells).
    bool Keep(const char* bytes, size_t length, unsigned char type, const WildcardPattern* wanted = nullptr,
              int quick = 1) {
        bool ascii = true;
        for (size_t i = 0; i < length && ascii; ++i)
            ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
        const QByteArrayView encoded(bytes, static_cast<qsizetype>(length));
        qint32 decoded = -1;
        if (!ascii) {
            QString name = QString::fromLocal8Bit(encoded);
            if (name.toLocal8Bit() != encoded || (quick < 0 && !wanted->Matches(name)))
                return false;
            decoded = static_cast<qint32>(decoded_.size());
            decoded_.push_back(std::move(name));
        } else if (quick < 0 && !wanted->Matches(QString::fromLatin1(encoded))) {
            return false;
        }
        entries_.push_back(
            {static_cast<quint32>(bytes_.size()), static_cast<quint32>(length), decoded, type});
        bytes_.append(bytes, length + 1);  // with its NUL
        return true;
    }

    size_t size() const { return entries_.size(); }
    // The bytes of all names, their NULs aside.
    size_t TotalLength() const { return bytes_.size() - entries_.size(); }
    const char* Bytes(size_t i) const { return bytes_.data() + entries_[i].offset; }
    size_t Length(size_t i) const { return entries_[i].length; }
    unsigned char Type(size_t i) const { return entries_[i].type; }
    // The decoded name of a name that is not all ASCII; none otherwise.
    const QString* Decoded(size_t i) const {
        return entries_[i].decoded < 0 ? nullptr : &decoded_[static_cast<size_t>(entries_[i].decoded)];
    }
    QString Name(size_t i) const {
        const QString* decoded = Decoded(i);
        return decoded ? *decoded : QString::fromLatin1(Bytes(i), static_cast<qsizetype>(Length(i)));
    }

    // The names' positions in listing order; pause() runs now and then, so
    // that putting many thousands of names in order does not hold up the
    // window: runs of names are sorted one at a time, then merged pairwise.
    // Names differ, so any way of sorting them gives the same order. Two
    // names of ASCII characters only, the usual case, are compared with ASCII
    // letters folded to lower case, which is exactly what ignoring letter
    // case means for them, and their first sixteen characters so folded are
    // kept beside each position as two numbers that compare in the same
    // order, so that most comparisons need not reach the names at all.
    template <typename Pause>
    std::vector<quint32> InListingOrder(Pause&& pause) const {
        struct Key {
            quint64 head[2];  // the first sixteen folded characters, zero-padded
            quint32 index;
            bool ascii;
        };
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        std::vector<Key> keys;
        keys.reserve(entries_.size());
        for (size_t i = 0; i < entries_.size(); ++i) {
            Key key{{0, 0}, static_cast<quint32>(i), entries_[i].decoded < 0};
            if (key.ascii) {
                const char* name = Bytes(i);
                for (size_t k = 0; k < 16 && k < Length(i); ++k)
                    key.head[k / 8] |= quint64(lower(static_cast<unsigned char>(name[k])))
                                       << (8 * (7 - k % 8));
            }
            keys.push_back(key);
        }
        const auto before = [&](const Key& a, const Key& b) {
            const char* x = Bytes(a.index);
            const char* y = Bytes(b.index);
            const auto xn = static_cast<qsizetype>(Length(a.index));
            const auto yn = static_cast<qsizetype>(Length(b.index));
            if (!a.ascii && !b.ascii)
                return ListedBefore(*Decoded(a.index), *Decoded(b.index));
            if (!a.ascii)
                return ListedBefore(*Decoded(a.index), QLatin1String(y, yn));
            if (!b.ascii)
                return ListedBefore(QLatin1String(x, xn), *Decoded(b.index));
            if (a.head[0] != b.head[0])
                return a.head[0] < b.head[0];
            if (a.head[1] != b.head[1])
                return a.head[1] < b.head[1];
            const qsizetype n = std::min(xn, yn);
            for (qsizetype i = 16; i < n; ++i) {
                const auto cx = lower(static_cast<unsigned char>(x[i]));
                const auto cy = lower(static_cast<unsigned char>(y[i]));
                if (cx != cy)
                    return cx < cy;
            }
            if (xn != yn)
                return xn < yn;
            return std::memcmp(x, y, static_cast<size_t>(n)) < 0;
        };
        constexpr size_t kRun = 4096;
        const size_t n = keys.size();
        for (size_t lo = 0; lo < n; lo += kRun) {
            std::sort(keys.begin() + lo, keys.begin() + std::min(lo + kRun, n), before);
            pause();
        }
        if (n > kRun) {
            std::vector<Key> merged(n);
            for (size_t width = kRun; width < n; width *= 2) {
                for (size_t lo = 0; lo < n; lo += 2 * width) {
                    const size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
                    std::merge(keys.begin() + lo, keys.begin() + mid, keys.begin() + mid, keys.begin() + hi,
                               merged.begin() + lo, before);
                    pause();
                }
                keys.swap(merged);
            }
        }
        std::vector<quint32> order;
        order.reserve(n);
        for (const Key& key : keys)
            order.push_back(key.index);
        return order;
    }

private:
    struct Entry {
        quint32 offset;  // of its bytes in bytes_
        quint32 length;
        qint32 decoded;  // its place in decoded_, or -1 for an ASCII name
        unsigned char type;
    };
    std::string bytes_;
    std::vector<Entry> entries_;
    std::vector<QString> decoded_;
};

// True when a listed entry may be a folder: a folder, or a symbolic link
// (or an entry of unknown type) that leads to one.
bool LeadsToFolder(int folderFd, const char* name, unsigned char type) {
    if (type == DT_DIR)
        return true;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return false;
    struct stat st;
    return ::fstatat(folderFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// IsExistingFile of one listed file, and whether its attribute value is
// exactly 34, from one look at it: the listing's type tells a plain file from
// the rest, lstat is asked only where it does not (symbolic links, unknown
// types) and for dot-files, whose read-only bit decides; then the system is
// asked whether the file may be opened for reading (the same permission test
// as opening, without opening). name is relative to the folder folderFd.
bool LookAtFile(int folderFd, const char* name, unsigned char type, bool& plainHidden) {
    plainHidden = false;
    if (type != DT_REG && type != DT_LNK && type != DT_UNKNOWN)
        return false;  // folders, devices, FIFOs and sockets are not files
    const bool dotFile = name[0] == '.';
    if (type != DT_REG || dotFile) {
        struct stat st;
        if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(st.st_mode)) {
            // A link's attribute value carries 1024: never 34.
            if (::fstatat(folderFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                return false;
        } else if (!S_ISREG(st.st_mode)) {
            return false;
        } else {
            plainHidden = dotFile && (st.st_mode & S_IWUSR) != 0;
        }
    }
    return ::faccessat(folderFd, name, R_OK, AT_EACCESS) == 0;
}

// Paths are accepted up to this many encoded bytes: FitsPathLimit's limit,
// for a listed file's path counted from its parts without making it.
constexpr qsizetype kMaxPathBytes = PATH_MAX - 1;

// The files of one folder that its listing returns. Offer() takes each entry
// as read and keeps those whose names match the pattern, are valid UTF-8 and
// make a path within the limit; Look() then looks at the kept ones in listing
// order and returns those that open as files.
class FolderFiles {
public:
    FolderFiles(const WildcardPattern& wanted, qsizetype prefixBytes)
        : wanted_(wanted), prefixBytes_(prefixBytes) {}

    void Offer(const char* name, size_t length, unsigned char type) {
        const int quick = wanted_.MatchesEncoded(name, length);
        if (quick != 0 && prefixBytes_ + static_cast<qsizetype>(length) <= kMaxPathBytes)
            names_.Keep(name, length, type, &wanted_, quick);
    }

    // pause() runs now and then.
    template <typename Pause>
    FileListing Look(int folderFd, Pause&& pause) const {
        FileListing listing;
        listing.Reserve(names_.size(), names_.TotalLength());
        unsigned looked = 0;
        for (const quint32 i : names_.InListingOrder(pause)) {
            if (++looked % kEntriesBetweenLooks == 0)
                pause();
            bool plainHidden = false;
            if (LookAtFile(folderFd, names_.Bytes(i), names_.Type(i), plainHidden))
                listing.Append(names_.Bytes(i), names_.Length(i), names_.Decoded(i), plainHidden);
        }
        return listing;
    }

private:
    const WildcardPattern& wanted_;
    qsizetype prefixBytes_;
    ReadNames names_;
};

dev_t DeviceOf(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_dev : 0;
}

// The start of the paths of a folder's files: the folder and one "/".
QByteArray FilePrefix(QByteArray folder) {
    if (!folder.endsWith('/'))
        folder += '/';
    return folder;
}

bool IsHiddenSystemFolder(int attributes) {
    return attributes == kAttrHiddenSystemFolder || attributes == kAttrHiddenSystemLink;
}

QString WalkLocation() {
    return QStringLiteral("in FenholtTitle2021/08/31.AddFolder.GetSubDirectories2016 ");
}

// What the levels of one walk share.
struct WalkContext {
    explicit WalkContext(const FolderSystem& fileSystem) : fs(fileSystem) {}

    void Yield() { YieldNowAndThen(sinceYield); }

    const FolderSystem& fs;
    QHash<QString, int> known;  // attribute values read by a level's test
    QElapsedTimer sinceYield;
};

// One level of the walk. Two rules deal with failures: at first every
// failure is reported and the walk carries on with the next step (a failing
// test counts as passed); once the first entry has been found fit to enter,
// a failure abandons the entry in work instead, and a folder that denies
// access or has vanished is taken out of the set without a word.
//
// Every level hands the folders it keeps up to the level above, which looks
// at them once more before keeping them itself. Their attribute values, read
// when their level tested them, are remembered for the whole walk, so that a
// folder ten levels down is read twice rather than twenty times; a value
// that could not be read is not remembered, and is read again.
class LevelWalk {
public:
    LevelWalk(Dialogs& dialogs, QStringList& folders, WalkContext& context)
        : dialogs_(dialogs),
          folders_(folders),
          context_(context),
          fs_(context.fs),
          known_(context.known),
          trap_(dialogs, WalkLocation()) {}

    void Run(bool recursive, bool chosenEntries) {
        QStringList found;
        QStringList entries;
        trap_.run(106, [&] { entries = folders_; });

        for (const QString& f : entries) {
            bool carryOn = true;
            if (!Test(108, f, carryOn, [&] { return fs_.IsFolder(f); }) || !carryOn)
                continue;
            if (!Test(110, f, carryOn, [&] { return FitsPathLimit(f); }) || !carryOn)
                continue;
            if (!Step(112, f, [&] { fs_.GetFolder(f); }))
                continue;
            if (!Step(114, f, [&] { context_.Yield(); }))
                continue;
            const bool enter = Test(116, f, carryOn, [&] {
                if (fs_.IsRootFolder(f))
                    return true;
                const int attributes = chosenEntries ? fs_.ChosenFolderAttributes(f) : fs_.Attributes(f);
                if (!chosenEntries)
                    known_.insert(f, attributes);
                return !IsHiddenSystemFolder(attributes);
            });
            if (!carryOn || !enter)
                continue;

            skipRule_ = true;
            Step(116, f, [&] {
                fs_.ForEachSubFolder(f, [&](const QString& name) {
                    context_.Yield();
                    if (!FitsNameLimit(name) || HasUnsafeNameChars(name) || name == QLatin1String(".") ||
                        name == QLatin1String(".."))
                        return;
                    found.append(f + name + QLatin1Char('/'));
                });
            });
        }

        // The deeper levels, each with a trap of its own.
        skipRule_ = false;
        if (trap_.test(150, [&] { return recursive && !found.isEmpty(); }))
            trap_.run(150, [&] { LevelWalk(dialogs_, found, context_).Run(true, false); });

        QStringList keep;
        trap_.run(152, [&] { keep = found; });
        for (const QString& g : keep) {
            const auto seen = known_.constFind(g);
            const bool remembered = seen != known_.constEnd();
            if (!trap_.test(154,
                            [&] { return remembered ? (*seen & kAttrDirectory) != 0 : fs_.IsFolder(g); }))
                continue;
            trap_.run(156, [&] { context_.Yield(); });
            if (trap_.test(158, [&] {
                    if (fs_.IsRootFolder(g))
                        return true;
                    return !IsHiddenSystemFolder(remembered ? *seen : fs_.Attributes(g));
                }))
                trap_.run(160, [&] { folders_.append(g); });
        }
    }

private:
    // Runs a step under the rule in force. Returns false when the skip rule
    // has abandoned the entry f.
    bool Step(int line, const QString& f, const std::function<void()>& step) {
        if (!skipRule_) {
            trap_.run(line, step);
            return true;
        }
        try {
            step();
            return true;
        } catch (...) {
            Skip(f, std::current_exception());
            return false;
        }
    }

    // Runs a test under the rule in force: its result, true after a reported
    // failure; carryOn turns false when the skip rule has abandoned f.
    bool Test(int line, const QString& f, bool& carryOn, const std::function<bool()>& condition) {
        carryOn = true;
        if (!skipRule_)
            return trap_.test(line, condition);
        try {
            return condition();
        } catch (...) {
            Skip(f, std::current_exception());
            carryOn = false;
            return false;
        }
    }

    void Skip(const QString& f, std::exception_ptr failure) {
        const int number = CurrentFailure(failure).number;
        if (number == 70 || number == 76) {
            const qsizetype at = folders_.indexOf(f);
            if (at >= 0)
                folders_.removeAt(at);
        }
    }

    Dialogs& dialogs_;
    QStringList& folders_;
    WalkContext& context_;
    const FolderSystem& fs_;
    QHash<QString, int>& known_;
    ErrorTrap trap_;
    bool skipRule_ = false;
};

}  // namespace

FolderSystem::FolderSystem(const QString& notePattern)
    : noting_(!notePattern.isEmpty()), notePattern_(notePattern), noteWanted_(notePattern) {}

FolderSystem::~FolderSystem() = default;

void FolderSystem::GetFolder(const QString& /*folder*/) const {
    // The folder was just found to be one; reading it raises when it has
    // gone since.
}

bool FolderSystem::IsFolder(const QString& path) const {
    struct stat st = {};
    lastPath_ = path;
    lastAttributes_ = TryFileAttributes(path, kinds_, st);
    const bool folder = lastAttributes_ >= 0 && (lastAttributes_ & kAttrDirectory) != 0;
    // A link's own device is not that of the folder it leads to.
    statPath_ = folder && S_ISDIR(st.st_mode) ? path : QString();
    statDevice_ = st.st_dev;
    return folder;
}

int FolderSystem::Attributes(const QString& folder) const {
    if (lastAttributes_ >= 0 && folder == lastPath_) {
        const int attributes = lastAttributes_;
        lastAttributes_ = -1;
        lastPath_.clear();
        return attributes;
    }
    return FileAttributes(folder, kinds_);
}

int FolderSystem::ChosenFolderAttributes(const QString& folder) const {
    const int attributes = Attributes(folder);
    if (attributes != kAttrHiddenSystemLink)
        return attributes;
    const QString target = QFileInfo(folder).canonicalFilePath();
    return target.isEmpty() ? attributes : FileAttributes(target, kinds_);
}

bool FolderSystem::IsRootFolder(const QString& folder) const {
    if (folder.isEmpty())
        return false;
    for (const QChar c : folder)
        if (c != u'/')
            return false;
    return true;
}

void FolderSystem::ForEachSubFolder(const QString& folder,
                                    const std::function<void(const QString& name)>& onName) const {
    const QByteArray encoded = QFile::encodeName(folder);
    FolderReader dir(encoded);
    if (dir.fd() < 0)
        RaiseErrno(dir.openError(), true);

    // The files that the listing after the walk will want are noted now,
    // while the folder is open; a folder of a kernel pseudo file system lists
    // none. The listing takes the folder without the "/" that ends an entry.
    const bool noting = noting_ && !kinds_.IsOnPseudoFileSystem(
                                       dir.fd(), folder == statPath_ ? statDevice_ : DeviceOf(dir.fd()));
    FolderFiles files(noteWanted_, FilePrefix(encoded.endsWith('/') ? encoded.chopped(1) : encoded).size());

    // A folder of many thousands of entries takes a while to read: the window
    // still answers.
    QElapsedTimer sinceYield;
    sinceYield.start();
    const auto pause = [&] { YieldNowAndThen(sinceYield); };
    unsigned read = 0;
    ReadNames subFolders;
    const int failure = dir.ForEach([&](const char* name, size_t length, unsigned char type) {
        if (++read % kEntriesBetweenLooks == 0)
            pause();
        if (LeadsToFolder(dir.fd(), name, type))
            subFolders.Keep(name, length, type);
        else if (noting)
            files.Offer(name, length, type);
    });
    const std::vector<quint32> order = subFolders.InListingOrder(pause);
    if (noting && failure == 0)
        notes_[folder] = files.Look(dir.fd(), pause);

    // Names read before a failure are still handed on, then the failure.
    for (const quint32 i : order)
        onName(subFolders.Name(i));
    if (failure != 0)
        RaiseErrno(failure, true);
}

FileListing FolderSystem::ListFiles(const QString& folder, const QString& pattern) const {
    if (noting_ && pattern == notePattern_) {
        // A folder's notes serve one listing; a folder listed twice is read
        // again the second time.
        const auto noted = notes_.find(folder + QLatin1Char('/'));
        if (noted != notes_.end()) {
            FileListing listing = std::move(noted->second);
            notes_.erase(noted);
            return listing;
        }
    }

    const QByteArray prefix = FilePrefix(QFile::encodeName(folder));
    FolderReader dir(prefix);
    if (dir.fd() < 0 || kinds_.IsOnPseudoFileSystem(dir.fd()))
        return FileListing();
    const WildcardPattern wanted(pattern);
    FolderFiles files(wanted, prefix.size());
    // Folders are never listed; every other entry is judged by whether it
    // opens as a file. What was read before a failure is listed.
    dir.ForEach([&](const char* name, size_t length, unsigned char type) {
        if (type != DT_DIR)
            files.Offer(name, length, type);
    });
    return files.Look(dir.fd(), [] {});
}

void FileListing::Reserve(size_t files, size_t nameBytes) {
    files_.reserve(files);
    names_.reserve(static_cast<qsizetype>(nameBytes));
}

void FileListing::Append(const char* bytes, size_t length, const QString* decoded, bool plainHidden) {
    qint32 decodedAt = -1;
    if (decoded) {
        decodedAt = static_cast<qint32>(decoded_.size());
        decoded_.push_back(*decoded);
    }
    files_.push_back(
        {static_cast<quint32>(names_.size()), static_cast<quint32>(length), decodedAt, plainHidden});
    names_.append(bytes, static_cast<qsizetype>(length));
}

QString FileListing::Name(size_t i) const {
    const File& f = files_[i];
    return f.decoded >= 0
               ? decoded_[static_cast<size_t>(f.decoded)]
               : QString::fromLatin1(names_.constData() + f.offset, static_cast<qsizetype>(f.length));
}

bool FileListing::NameStartsWith(size_t i, char c) const {
    return files_[i].length > 0 && names_[static_cast<qsizetype>(files_[i].offset)] == c;
}

QString FileListing::PathIn(const QString& folder, size_t i) const {
    const File& f = files_[i];
    if (f.decoded >= 0)
        return folder % QLatin1Char('/') % decoded_[static_cast<size_t>(f.decoded)];
    return folder % QLatin1Char('/') %
           QLatin1String(names_.constData() + f.offset, static_cast<qsizetype>(f.length));
}

void GetSubDirectories2016(Dialogs& dialogs, QStringList& folders, bool recursive) {
    const FolderSystem fs;
    GetSubDirectories2016(dialogs, folders, recursive, fs);
}

void GetSubDirectories2016(Dialogs& dialogs, QStringList& folders, bool recursive, const FolderSystem& fs) {
    WalkContext context(fs);
    LevelWalk(dialogs, folders, context).Run(recursive, true);
}

bool HasUnsafeNameChars(const QString& name) {
    for (const QChar c : name) {
        const char16_t code = c.unicode();
        if (code < 32 || (code >= 127 && code <= 159) || code == QChar::ReplacementCharacter)
            return true;
    }
    return false;
}

bool FitsPathLimit(const QString& path) {
    return QFile::encodeName(path).size() < PATH_MAX;
}

bool FitsNameLimit(const QString& name) {
    return QFile::encodeName(name).size() <= NAME_MAX;
}

WildcardPattern::WildcardPattern(const QString& pattern) {
    if (pattern == QLatin1String("*.*")) {
        matchesAll_ = true;
        return;
    }
    // "*" followed by plain characters, as in "*.wma", only needs a look at
    // the end of the name.
    const QStringView rest = QStringView(pattern).mid(1);
    if (pattern.startsWith(u'*') && !rest.contains(u'*') && !rest.contains(u'?')) {
        suffixOnly_ = true;
        suffix_ = rest.toString();
        bool ascii = true;
        for (const QChar c : suffix_)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            asciiSuffix_ = suffix_.toLatin1().toLower();
        return;
    }
    folded_.reserve(pattern.size());
    for (const QChar c : pattern)
        folded_.append(c == u'*' || c == u'?' ? c : c.toCaseFolded());
}

bool WildcardPattern::Matches(QStringView name) const {
    if (matchesAll_)
        return true;
    if (suffixOnly_)
        return name.size() >= suffix_.size() &&
               name.right(suffix_.size()).compare(suffix_, Qt::CaseInsensitive) == 0;
    // Greedy matching that returns to the last "*" on a mismatch.
    const QString& pattern = folded_;
    qsizetype n = 0, p = 0;
    qsizetype starAt = -1, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

int WildcardPattern::MatchesEncoded(const char* name, size_t length) const {
    if (matchesAll_)
        return 1;
    if (!suffixOnly_ || (asciiSuffix_.isEmpty() && !suffix_.isEmpty()))
        return -1;
    // The name's last bytes are the suffix's characters when they are all
    // ASCII; ASCII letters fold to ASCII letters only. A name with fewer
    // bytes has fewer characters than the suffix.
    const auto n = static_cast<size_t>(asciiSuffix_.size());
    if (length < n)
        return 0;
    const char* end = name + length - n;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(end[i]) >= 0x80)
            return -1;
    for (size_t i = 0; i < n; ++i) {
        char c = end[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
        if (c != asciiSuffix_[static_cast<qsizetype>(i)])
            return 0;
    }
    return 1;
}

bool MatchesWildcard(const QString& name, const QString& pattern) {
    return WildcardPattern(pattern).Matches(name);
}

FileNameArray::FileNameArray() : slots_(1) {}

const QString& FileNameArray::operator[](int i) const {
    if (i < LBound() || i > UBound())
        RaiseError(9);
    return slots_[static_cast<size_t>(i - lowerBound_)];
}

QStringList FileNameArray::names() const {
    QStringList result;
    if (lowerBound_ == 0)
        return result;
    for (int i = 0; i < stored_; ++i)
        result << slots_[static_cast<size_t>(i)];
    return result;
}

void FileNameArray::Append(const QString& name) {
    if (lowerBound_ == 0) {
        slots_.clear();
        slots_.resize(100);
        lowerBound_ = 1;
        stored_ = 0;
    } else if (stored_ == static_cast<int>(slots_.size())) {
        slots_.resize(slots_.size() + 50);
    }
    slots_[static_cast<size_t>(stored_++)] = name;
}

void FileNameArray::Finish() {
    if (stored_ == 0) {
        slots_.assign(1, QString());
        lowerBound_ = 0;
        return;
    }
    slots_.resize(static_cast<size_t>(stored_));
    slots_.shrink_to_fit();
}

FileNameArray ListFilesInFolder(const QString& folder, const QString& pattern) {
    FileNameArray names;
    const FolderSystem fs;
    const FileListing files = fs.ListFiles(folder, pattern);
    for (size_t i = 0; i < files.size(); ++i)
        names.Append(files.Name(i));
    names.Finish();
    return names;
}
