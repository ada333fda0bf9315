#include "folderscan/folderwalk.h"

#include "app/errorreport.h"
#include "util/files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>

#include <cstring>
#include <exception>

namespace {

// An open directory stream that is closed however the reading ends.
class DirectoryStream {
public:
    explicit DirectoryStream(const QString& folder) {
        const QByteArray path = QFile::encodeName(folder);
        dir_ = ::opendir(path.constData());
        error_ = dir_ ? 0 : errno;
    }
    ~DirectoryStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    bool isOpen() const { return dir_ != nullptr; }
    int openError() const { return error_; }
    DIR* get() const { return dir_; }

private:
    DIR* dir_ = nullptr;
    int error_ = 0;
};

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Names come out of a folder in the order a person reads them: by name,
// ignoring letter case (the raw order of a Linux folder looks random).
void SortNames(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

// The type of a directory entry, following a symbolic link; DT_UNKNOWN when
// it cannot be told.
unsigned char EntryType(DIR* dir, const struct dirent* entry) {
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return entry->d_type;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0)
        return DT_UNKNOWN;
    if (S_ISDIR(st.st_mode))
        return DT_DIR;
    if (S_ISREG(st.st_mode))
        return DT_REG;
    return DT_UNKNOWN;
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

    // Lets the window repaint and handle input. Asking the event loop costs
    // a system call even when nothing is waiting, so a walk over thousands
    // of folders goes back to it at most every few milliseconds (the first
    // time at once): the window still answers without delay.
    void Yield() {
        if (sinceYield.isValid() && sinceYield.nsecsElapsed() < kYieldIntervalNs)
            return;
        QCoreApplication::processEvents();
        sinceYield.start();
    }

    static constexpr qint64 kYieldIntervalNs = 4 * 1000 * 1000;
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
            if (!Test(110, f, carryOn, [&] { return f.size() < 260; }) || !carryOn)
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
                    if (name.size() >= 260 || HasUnsafeNameChars(name) || name == QLatin1String(".") ||
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

FolderSystem::~FolderSystem() = default;

void FolderSystem::GetFolder(const QString& /*folder*/) const {
    // The folder was just found to be one; reading it raises when it has
    // gone since.
}

bool FolderSystem::IsFolder(const QString& path) const {
    lastPath_ = path;
    lastAttributes_ = TryFileAttributes(path, -1);
    return lastAttributes_ >= 0 && (lastAttributes_ & kAttrDirectory) != 0;
}

int FolderSystem::Attributes(const QString& folder) const {
    if (lastAttributes_ >= 0 && folder == lastPath_) {
        const int attributes = lastAttributes_;
        lastAttributes_ = -1;
        lastPath_.clear();
        return attributes;
    }
    return FileAttributes(folder);
}

int FolderSystem::ChosenFolderAttributes(const QString& folder) const {
    const int attributes = Attributes(folder);
    if (attributes != kAttrHiddenSystemLink)
        return attributes;
    const QString target = QFileInfo(folder).canonicalFilePath();
    return target.isEmpty() ? attributes : FileAttributes(target);
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
    const DirectoryStream dir(folder);
    if (!dir.isOpen())
        RaiseErrno(dir.openError(), true);
    QStringList names;
    int failure = 0;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir.get());
        if (!entry) {
            failure = errno;
            break;
        }
        if (IsDotOrDotDot(entry->d_name) || EntryType(dir.get(), entry) != DT_DIR)
            continue;
        names << QFile::decodeName(entry->d_name);
    }
    SortNames(names);
    // Names read before a failure are still handed on, then the failure.
    for (const QString& name : names)
        onName(name);
    if (failure != 0)
        RaiseErrno(failure, true);
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
    QString prefix = folder;
    if (!prefix.endsWith(u'/'))
        prefix += u'/';

    FileNameArray names;
    const WildcardPattern wanted(pattern);
    const DirectoryStream dir(prefix);
    if (dir.isOpen()) {
        QStringList matching;
        while (const struct dirent* entry = ::readdir(dir.get())) {
            // Folders are never listed; every other entry is judged by
            // whether it opens as a file.
            if (IsDotOrDotDot(entry->d_name) || entry->d_type == DT_DIR)
                continue;
            const QString name = QFile::decodeName(entry->d_name);
            if (wanted.Matches(name))
                matching << name;
        }
        SortNames(matching);
        for (const QString& name : matching)
            if (IsExistingFile(prefix + name))
                names.Append(name);
    }
    names.Finish();
    return names;
}
