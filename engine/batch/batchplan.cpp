#include "batch/batchplan.h"

#include "batch/batchoptions.h"
#include "batch/failurewords.h"
#include "batch/terminaltext.h"
#include "convert/formats.h"
#include "convert/outputprobe.h"
#include "convert/resultsave.h"
#include "system/fileio.h"
#include "system/safepath.h"
#include "tags/tags.h"
#include "walk/folderreader.h"

#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

QByteArray FolderPart(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArrayView NamePart(const QByteArrayView path) {
    return path.sliced(path.lastIndexOf('/') + 1);
}

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
    if (name.isEmpty())
        return folder;
    if (folder.isEmpty())
        return name;
    QByteArray path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (!path.endsWith('/'))
        path += '/';
    return path += name;
}

// The nearest folder at or above path that exists: where a missing output
// folder would be made.
QByteArray NearestExisting(QByteArray path) {
    struct stat st;
    while (path.size() > 1 && ::stat(path.constData(), &st) != 0)
        path = FolderPart(path);
    return path;
}

// What stands in one result folder before the batch: the names of its
// entries (as keys), and the folder itself for looking closer.
struct Listing {
    UniqueFd fd;  // -1: the folder does not exist (yet), or cannot be read
    QSet<QByteArray> names;
};

// The planner's working state.
class Planner {
public:
    Planner(const BatchOptions& options, BatchPlan& plan) : options_(options), plan_(plan) {}

    void Run();

private:
    void AddSources();
    // True when path is a source planned already: it is then left out as given twice.
    bool GivenTwice(const QByteArray& path, TreeWalk::FileId id);
    QByteArray FolderArtOf(const QByteArray& folder);
    void ReadNamingTags();
    size_t OutputFor(const QByteArray& base);
    void OpenOutput(OutputFolder& output, bool make);
    void NameFile(PlannedFile& file);
    QByteArray Key(const PlannedFile& file, const QByteArray& name) const {
        return plan_.TargetKey(file, name);
    }
    Listing& ListingOf(const PlannedFile& file);
    bool Present(const PlannedFile& file, const QByteArray& name) {
        const OutputFolder& output = *plan_.outputs[file.output];
        return ListingOf(file).names.contains(output.rules.foldsCase ? CaseKey(name) : name);
    }
    std::optional<LedgerEntry> Earlier(PlannedFile& file, QByteArray& madeBefore);
    int NumberOf(const PlannedFile& file, QByteArrayView name) const;
    bool OwnFileAt(const PlannedFile& file, const QByteArray& name) {
        const Listing& listing = ListingOf(file);
        struct stat st;
        return listing.fd.get() >= 0 &&
               ::fstatat(listing.fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    }
    bool IsSource(const PlannedFile& file) const;
    void AssignNames();

    const BatchOptions& options_;
    BatchPlan& plan_;
    QHash<QByteArray, size_t> outputsByPath_;
    std::unordered_map<dev_t, OutputProbe> probes_;  // by device, where a probe could be made
    std::map<std::pair<size_t, QByteArray>, Listing> listings_;  // by output and folder
    Listing* lastListing_ = nullptr;
    size_t lastOutput_ = 0;
    QByteArray lastRelative_;
    // Files met so far by device and inode, and the first source of each.
    struct IdHash {
        size_t operator()(const std::pair<dev_t, ino_t>& id) const {
            return std::hash<ino_t>()(id.second) * 31 + std::hash<dev_t>()(id.first);
        }
    };
    std::unordered_map<std::pair<dev_t, ino_t>, size_t, IdHash> seen_;  // the first source of each
    QSet<QByteArray> fileArguments_;
    std::set<std::pair<dev_t, ino_t>> fileArgumentInodes_;
    // The ledger's entries whose source is gone: a source moved (the same
    // name, size and time) is known by them.
    std::map<size_t, std::multimap<QByteArray, LedgerEntry>> moved_;
    std::set<size_t> movedRead_;
    QHash<QByteArray, QByteArray> folderArt_;  // of the folders of FILE arguments
    std::vector<TrackTags> tags_;              // for --name, by source
    std::set<std::pair<size_t, QByteArray>> movedTaken_;
};

bool Planner::GivenTwice(const QByteArray& path, TreeWalk::FileId id) {
    if (id.inode == 0)
        return false;
    const auto [it, added] = seen_.emplace(std::make_pair(id.device, id.inode), plan_.files.size());
    if (added)
        return false;
    // The listing's inode numbers are only a hint: the files themselves
    // must be one.
    struct stat a, b;
    if (::stat(plan_.files[it->second].source.constData(), &a) != 0 || ::stat(path.constData(), &b) != 0 ||
        a.st_dev != b.st_dev || a.st_ino != b.st_ino)
        return false;
    TreeWalk::LeftOut& twice = plan_.walk.leftOut[static_cast<int>(LeftOutRule::GivenTwice)];
    twice.count++;
    twice.paths.push_back(path);
    return true;
}

// The album art in folder (of a FILE argument: no walk has looked there).
QByteArray Planner::FolderArtOf(const QByteArray& folder) {
    const auto known = folderArt_.constFind(folder);
    if (known != folderArt_.cend())
        return *known;
    QByteArray art;
    FolderReader reader(folder);
    off_t largest = -1;
    if (reader.fd() >= 0)
        reader.ForEach([&](const char* name, size_t length, unsigned char) {
            struct stat st;
            if (IsFolderArtName(name, length) && ::fstatat(reader.fd(), name, &st, 0) == 0 && S_ISREG(st.st_mode) &&
                st.st_size > largest) {
                largest = st.st_size;
                art = Joined(folder, QByteArray(name, static_cast<qsizetype>(length)));
            }
        });
    folderArt_.insert(folder, art);
    return art;
}

// The tags each source's name is made of, read from the headers alone, on
// every core.
void Planner::ReadNamingTags() {
    tags_.resize(plan_.files.size());
    std::atomic<size_t> next{0};
    const auto work = [&]() {
        for (size_t i; (i = next++) < plan_.files.size();) {
            // The walk found regular files; a FILE argument that is none
            // (a FIFO) is never waited for, and fails when it converts.
            const int fd = ::open(plan_.files[i].source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
            if (fd < 0)
                continue;
            struct stat st;
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
                tags_[i] = ReadWmaTags(fd, TagScope::Naming);
            ::close(fd);
        }
    };
    const int helpers = std::min(UsableCores(), static_cast<int>(plan_.files.size() / 64 + 1)) - 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < helpers; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
}

void Planner::AddSources() {
    const QByteArray& output = options_.outputFolder;
    TreeWalk& walk = plan_.walk;
    for (const QByteArray& path : options_.paths) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0) {
            // Not there (or not to be reached): told as the run tells it.
            walk.unreadable.push_back({path, errno, false});
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            // Converted as the user named it: what it is turns out when it
            // is opened.
            if (GivenTwice(path, {st.st_dev, st.st_ino}))
                continue;
            PlannedFile file;
            file.source = path;
            file.output = OutputFor(output.isEmpty() ? FolderPart(path) : output);
            if (options_.folderArt)
                file.folderArt = FolderArtOf(FolderPart(path));
            plan_.files.push_back(std::move(file));
            fileArguments_.insert(path);
            fileArgumentInodes_.insert({st.st_dev, st.st_ino});
            continue;
        }
        const size_t first = walk.files.size();
        WalkTree(path, "wma", walk);
        plan_.files.reserve(plan_.files.size() + walk.files.size() - first);
        const QByteArray root = path.endsWith('/') ? path : path + '/';
        QByteArray lastFolder, lastRelative, lastUnderRoot, lastArt;
        size_t lastOutput = 0;
        for (size_t i = first; i < walk.files.size(); ++i) {
            if (GivenTwice(walk.files[i], walk.ids[i]))
                continue;
            PlannedFile file;
            file.source = std::move(walk.files[i]);
            // The files of one folder share their folder's texts.
            const QByteArray folder = FolderPart(file.source);
            if (folder != lastFolder) {
                lastFolder = folder;
                lastOutput = OutputFor(output.isEmpty() ? folder : output);
                // With --keep-folders, the folders below the FOLDER argument
                // again below DIR.
                lastUnderRoot = folder.size() > root.size() ? folder.mid(root.size()) : QByteArray();
                lastRelative = !output.isEmpty() && options_.keepFolders ? lastUnderRoot : QByteArray();
                lastArt = options_.folderArt ? walk.folderArt.value(folder) : QByteArray();
            }
            file.output = lastOutput;
            file.relative = lastRelative;
            file.underRoot = lastUnderRoot;
            file.folderArt = lastArt;
            plan_.files.push_back(std::move(file));
        }
    }
    walk.files.clear();
    walk.files.shrink_to_fit();
    walk.ids.clear();
    walk.ids.shrink_to_fit();
}

size_t Planner::OutputFor(const QByteArray& base) {
    const auto it = outputsByPath_.constFind(base);
    if (it != outputsByPath_.cend())
        return *it;
    auto output = std::make_unique<OutputFolder>();
    output->path = base;
    // The --output folder is made before anything is converted; a source's
    // own folder is there already.
    OpenOutput(*output, !options_.dryRun && base == options_.outputFolder);
    const size_t index = plan_.outputs.size();
    plan_.outputs.push_back(std::move(output));
    outputsByPath_.insert(base, index);
    return index;
}

void Planner::OpenOutput(OutputFolder& output, bool make) {
    QByteArray problem;
    int err = 0;
    output.fd.reset(OpenFolderSafely(output.path, make, &problem, &err));
    // A folder still to be made is probed where it would be made.
    const QByteArray probed = output.fd.get() >= 0 ? output.path : NearestExisting(FolderPart(output.path));
    const int probeFd =
        output.fd.get() >= 0 ? output.fd.get() : OpenFolderSafely(probed, false, &problem, &err);
    if (probeFd < 0) {
        output.error = err != 0 ? err : EACCES;
        return;
    }
    struct stat st;
    const bool known = ::fstat(probeFd, &st) == 0;
    const auto cached = known ? probes_.find(st.st_dev) : probes_.end();
    OutputProbe probe;
    if (cached != probes_.end() && cached->second.error == 0) {
        probe = cached->second;
        // A folder of its own may still be closed to this user.
        if (::faccessat(probeFd, ".", W_OK, AT_EACCESS) != 0 && errno != ENOSYS)
            probe.error = errno;
    } else {
        probe = ProbeOutputFolder(probeFd);
        if (known && (probe.error == 0 || probe.error == EROFS))
            probes_[st.st_dev] = probe;
    }
    if (probeFd != output.fd.get())
        ::close(probeFd);
    output.error = probe.error;
    output.rules = probe.rules;
    output.writesInPlace = probe.writesInPlace;
    output.rules.portable = output.rules.portable || options_.portableNames;
    if (output.fd.get() >= 0) {
        output.ledger = std::make_unique<ResultLedger>(output.fd.get(), output.path, output.rules.foldsCase);
        if (!options_.dryRun && output.error == 0)
            output.ledger->Compact();
    }
}

Listing& Planner::ListingOf(const PlannedFile& file) {
    // The files of one folder come one after another.
    if (lastListing_ && lastOutput_ == file.output && lastRelative_ == file.relative)
        return *lastListing_;
    lastOutput_ = file.output;
    lastRelative_ = file.relative;
    const auto key = std::make_pair(file.output, file.relative);
    const auto it = listings_.find(key);
    if (it != listings_.end())
        return *(lastListing_ = &it->second);
    Listing& listing = listings_[key];
    lastListing_ = &listing;
    const OutputFolder& output = *plan_.outputs[file.output];
    QByteArray problem;
    listing.fd.reset(output.OpenBelow(file.relative, false, &problem));
    if (listing.fd.get() < 0)
        return listing;
    FolderReader reader(listing.fd.get(), ".", false);
    if (reader.fd() >= 0)
        reader.ForEach([&](const char* name, size_t length, unsigned char) {
            const QByteArray entry(name, static_cast<qsizetype>(length));
            listing.names.insert(output.rules.foldsCase ? CaseKey(entry) : entry);
        });
    return listing;
}

void Planner::NameFile(PlannedFile& file) {
    const OutputFolder& output = *plan_.outputs[file.output];
    const NameRules& rules = output.rules;
    file.base = output.path;
    const QByteArrayView sourceName = NamePart(file.source);
    const QByteArrayView extension(FormatOf(options_.format).extension);
    QByteArrayView stem = StemOf(sourceName);
    QByteArray named;  // the stem a pattern made
    if (options_.name) {
        const size_t i = static_cast<size_t>(&file - plan_.files.data());
        NameSource source{i < tags_.size() ? std::move(tags_[i]) : TrackTags(),
                          QString::fromUtf8(stem.toByteArray()), QString::fromUtf8(file.underRoot)};
        const std::optional<QStringList> path = options_.name->Render(source);
        if (path) {
            file.relative = path->mid(0, path->size() - 1).join(QLatin1Char('/')).toUtf8();
            named = path->last().toUtf8();
            stem = named;
        } else {
            plan_.untagged.push_back(i);
        }
    }
    QByteArrayList parts = file.relative.isEmpty() ? QByteArrayList() : file.relative.split('/');
    for (QByteArray& part : parts)
        part = rules.portable ? PortableName(FittedName(PortableName(part, rules.asciiOnly), rules.longestName),
                                             rules.asciiOnly)
                              : FittedName(part, rules.longestName);
    const QByteArray relative = parts.join('/');
    const QByteArray madeStem = rules.portable ? PortableName(stem, rules.asciiOnly) : stem.toByteArray();
    file.plainName = NumberedName(madeStem, 1, extension, rules.longestName);
    file.name = file.plainName;
    // A name the file system made other (cut to fit, or made portable) is
    // told in the summary.
    const bool cut = file.plainName.size() < stem.size() + extension.size();
    if (relative != file.relative || cut ||
        (rules.portable && file.plainName != stem.toByteArray() + extension.toByteArray()))
        plan_.renamed.push_back(static_cast<size_t>(&file - plan_.files.data()));
    file.relative = relative;
}

// True when file's result would take the name of a FILE argument: the same
// text, or the same file. (The files a walk finds end in .wma.)
bool Planner::IsSource(const PlannedFile& file) const {
    if (fileArguments_.isEmpty())
        return false;
    const QByteArray target = file.Target();
    struct stat st;
    return fileArguments_.contains(target) ||
           (::stat(target.constData(), &st) == 0 && fileArgumentInodes_.count({st.st_dev, st.st_ino}) > 0);
}

// The source's earlier result, where the ledger has one under a name this
// plan could give it (in its folder, of its format); the file takes that
// name's number. A result of this format under another name is told in
// madeBefore. Whether the result still stands there is looked at when it
// matters: a resume converts a source whose result is gone again, under its
// name, and a save replaces only a file that is still as the ledger has it.
std::optional<LedgerEntry> Planner::Earlier(PlannedFile& file, QByteArray& madeBefore) {
    const OutputFolder& output = *plan_.outputs[file.output];
    if (!output.ledger || output.ledger->Empty())
        return std::nullopt;
    std::vector<LedgerEntry> entries = output.ledger->EntriesForSource(file.source);
    if (entries.empty()) {
        // A source that moved (a library copied elsewhere, a stick mounted
        // under another name): its name, size and time are the same.
        auto& moved = moved_[file.output];
        if (movedRead_.insert(file.output).second) {
            struct stat st;
            for (const LedgerEntry& e : output.ledger->Entries()) {
                if (::stat(e.source.constData(), &st) != 0)
                    moved.emplace(NamePart(e.source).toByteArray(), e);
            }
        }
        const auto [from, to] = moved.equal_range(NamePart(file.source).toByteArray());
        struct stat st;
        if (from == to || ::stat(file.source.constData(), &st) != 0)
            return std::nullopt;
        for (auto it = from; it != to; ++it) {
            const qint64 time = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            if (it->second.sourceSize == st.st_size && SameFileTime(it->second.sourceTime, time) &&
                movedTaken_.insert({file.output, it->second.result}).second) {
                entries.push_back(it->second);
                break;
            }
        }
    }
    // The result that this plan would name so: in this folder, of this
    // format, its name this source's plain name or a numbered one.
    for (LedgerEntry& entry : entries) {
        const QByteArray folder = entry.result.contains('/') ? FolderPart(entry.result) : QByteArray();
        const bool sameFolder =
            output.rules.foldsCase ? CaseKey(folder) == CaseKey(file.relative) : folder == file.relative;
        const int k = NumberOf(file, NamePart(entry.result));
        if (sameFolder && k > 0) {
            entry.result = NamePart(entry.result).toByteArray();  // the name alone, for the plan
            file.number = k;
            return std::move(entry);
        }
    }
    // Results under other names (another pattern, another format) stay.
    if (!entries.empty() && ExtensionOf(entries.front().result) == ExtensionOf(file.plainName))
        madeBefore = entries.front().result;
    return std::nullopt;
}

// The number name has among file's names ("Song (3).mp3" is the third of
// "Song"; 1 the plain name), or 0 when it is none of them.
int Planner::NumberOf(const PlannedFile& file, QByteArrayView name) const {
    if (name == file.plainName)
        return 1;
    const QByteArrayView extension = ExtensionOf(file.plainName);
    const QByteArrayView stem = StemOf(name);
    if (ExtensionOf(name) != extension || !stem.endsWith(')'))
        return 0;
    const qsizetype open = stem.lastIndexOf(" (");
    bool ok = false;
    const int k = open > 0 ? stem.sliced(open + 2).chopped(1).toInt(&ok) : 0;
    return ok && k > 1 &&
                   NumberedName(StemOf(file.plainName), k, extension, plan_.outputs[file.output]->rules.longestName) ==
                       name
               ? k
               : 0;
}

void Planner::AssignNames() {
    const size_t count = plan_.files.size();
    std::vector<QByteArray> plainKeys(count);
    QHash<QByteArray, size_t> claimedBy;  // a key and the source that has it
    claimedBy.reserve(static_cast<qsizetype>(count));
    std::vector<size_t> unnamed;
    // First the sources that have a result already: each keeps its name.
    for (size_t i = 0; i < count; ++i) {
        PlannedFile& file = plan_.files[i];
        plainKeys[i] = Key(file, file.plainName);
        QByteArray madeBefore;
        if (std::optional<LedgerEntry> earlier = Earlier(file, madeBefore))
            file.earlier = std::make_shared<const LedgerEntry>(std::move(*earlier));
        else if (!madeBefore.isEmpty())
            plan_.madeBefore.emplace_back(i, Joined(file.base, madeBefore));
        if (file.earlier) {
            file.name = file.earlier->result;
            claimedBy.insert(file.name == file.plainName ? plainKeys[i] : Key(file, file.name), i);
        } else {
            unnamed.push_back(i);
        }
    }
    // Then the others, each its plain name in plan order where it is free;
    // those whose name is taken are numbered once every plain name is out,
    // so that a source named "Song (2).wma" keeps its own name.
    std::vector<size_t> numbered;
    for (const size_t i : unnamed) {
        PlannedFile& file = plan_.files[i];
        const QByteArray& key = plainKeys[i];
        if (claimedBy.contains(key) || IsSource(file)) {
            numbered.push_back(i);
            continue;
        }
        if (Present(file, file.plainName) && OwnFileAt(file, file.plainName)) {
            // What stands there: another source's result, this source's own
            // from before the ledger, or a file of the user's. (Another
            // user's file, a link or a folder stops the save of this name,
            // which says so.)
            const OutputFolder& output = *plan_.outputs[file.output];
            const std::optional<LedgerEntry> entry =
                output.ledger ? output.ledger->EntryForResult(file.Recorded(file.plainName)) : std::nullopt;
            const Listing& listing = ListingOf(file);
            const QByteArray recorded = entry ? entry->source
                                        : listing.fd.get() >= 0
                                            ? ResultSourceOf(listing.fd.get(), file.plainName)
                                            : QByteArray();
            if (!recorded.isEmpty() && recorded != file.source) {
                numbered.push_back(i);
                continue;
            }
            if (recorded.isEmpty() && !options_.overwrite) {
                plan_.userFiles.emplace_back(i, file.Target());
                numbered.push_back(i);
                continue;
            }
        }
        claimedBy.insert(key, i);
    }
    plan_.targets.reserve(static_cast<qsizetype>(count));
    for (auto it = claimedBy.cbegin(); it != claimedBy.cend(); ++it)
        plan_.targets.insert(it.key());
    // The next number to try for a plain name: a thousand sources of one
    // name are numbered in one pass.
    QHash<QByteArray, int> nextNumber;
    for (const size_t i : numbered) {
        PlannedFile& file = plan_.files[i];
        const int longest = plan_.outputs[file.output]->rules.longestName;
        const QByteArrayView extension = ExtensionOf(file.plainName);
        const QByteArrayView stem = StemOf(file.plainName);
        int& next = nextNumber[plainKeys[i]];
        for (int k = std::max(next, 2);; ++k) {
            file.name = NumberedName(stem, k, extension, longest);
            file.number = k;
            const QByteArray key = Key(file, file.name);
            if (!plan_.targets.contains(key) && !Present(file, file.name) && !IsSource(file)) {
                plan_.targets.insert(key);
                next = k + 1;
                break;
            }
        }
    }
    // The sources that share a plain name, announced together: the one that
    // has it first, the others in plan order. Only a source whose name is
    // not its plain name can share one.
    std::map<QByteArray, std::set<size_t>> groups;
    for (size_t i = 0; i < count; ++i) {
        if (plan_.files[i].name == plan_.files[i].plainName)
            continue;
        std::set<size_t>& group = groups[plainKeys[i]];
        group.insert(i);
        const auto holder = claimedBy.constFind(plainKeys[i]);
        if (holder != claimedBy.cend())
            group.insert(*holder);
    }
    std::vector<std::vector<size_t>> shared;
    for (const auto& [key, members] : groups) {
        if (members.size() < 2)
            continue;
        std::vector<size_t> group(members.begin(), members.end());
        const auto holder = claimedBy.constFind(key);
        if (holder != claimedBy.cend())
            std::rotate(group.begin(), std::find(group.begin(), group.end(), *holder),
                        std::find(group.begin(), group.end(), *holder) + 1);
        shared.push_back(std::move(group));
    }
    // In the order of their first source.
    std::sort(shared.begin(), shared.end(), [](const auto& a, const auto& b) {
        return *std::min_element(a.begin(), a.end()) < *std::min_element(b.begin(), b.end());
    });
    plan_.sharedNames = std::move(shared);
}

void Planner::Run() {
    AddSources();
    if (options_.name)
        ReadNamingTags();
    for (PlannedFile& file : plan_.files)
        NameFile(file);
    tags_.clear();
    // The --output folder must take files before anything is converted.
    if (!options_.outputFolder.isEmpty()) {
        const size_t at = OutputFor(options_.outputFolder);
        const OutputFolder& output = *plan_.outputs[at];
        if (output.error != 0)
            plan_.stop = CannotWrite(output.path, output.error);
    }
    AssignNames();
}

}  // namespace

// The ledger goes before the folder it is kept in.
OutputFolder::~OutputFolder() = default;

int OutputFolder::OpenBelow(const QByteArray& relative, bool make, QByteArray* problem) const {
    return fd.get() < 0 ? -1 : OpenFolderSafelyAt(fd.get(), relative, make, path, problem, nullptr, true);
}

QByteArray PlannedFile::Folder() const {
    return Joined(base, relative);
}

QByteArray PlannedFile::Target(const QByteArray& as) const {
    return Joined(Folder(), as);
}

QByteArray PlannedFile::Recorded(const QByteArray& as) const {
    return Joined(relative, as);
}

QByteArray BatchPlan::TargetKey(const PlannedFile& file, const QByteArray& name) const {
    QByteArray key;
    key.reserve(12 + file.relative.size() + name.size());
    key.setNum(static_cast<qulonglong>(file.output));
    key += ':';
    if (outputs[file.output]->rules.foldsCase)
        return key += CaseKey(Joined(file.relative, name));
    if (!file.relative.isEmpty())
        key.append(file.relative).append('/');
    return key += name;
}

bool BatchPlan::Reserved(const PlannedFile& file, const QByteArray& name) const {
    return targets.contains(TargetKey(file, name));
}

BatchPlan PlanBatch(const BatchOptions& options) {
    BatchPlan plan;
    Planner(options, plan).Run();
    return plan;
}
