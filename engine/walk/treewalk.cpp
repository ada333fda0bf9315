#include "walk/treewalk.h"

#include "walk/folderreader.h"
#include "system/fileio.h"
#include "system/safepath.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace {

// Deeper than this, a path no longer fits the system's limit anyway.
constexpr int kMostDepth = 512;

class Walker {
public:
    Walker(const QByteArray& extension, TreeWalk& walk) : extension_(extension.toLower()), walk_(walk) {}

    void Root(const QByteArray& root) {
        FolderReader folder(root);
        if (folder.fd() < 0) {
            walk_.unreadable.push_back({root, folder.openError(), true});
            return;
        }
        Enter(folder, root, 0);
    }

private:
    // An entry to go on with: a file to convert or a folder to enter.
    struct Kept {
        std::string name;
        bool folder;
        bool throughLink;
        TreeWalk::FileId id;
    };

    bool Matches(const std::string& name) const {
        const size_t n = static_cast<size_t>(extension_.size());
        if (name.size() <= n + 1 || name[name.size() - n - 1] != '.')
            return false;
        for (size_t i = 0; i < n; ++i) {
            char c = name[name.size() - n + i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != extension_[static_cast<qsizetype>(i)])
                return false;
        }
        return true;
    }

    void Leave(LeftOutRule rule, const QByteArray& folder, const std::string& name) {
        TreeWalk::LeftOut& out = walk_.leftOut[static_cast<int>(rule)];
        ++out.count;
        if (rule != LeftOutRule::OtherFile || out.paths.size() < kOtherFilesKept)
            out.paths.push_back(PathIn(folder, name));
    }

    // A folder left out whole: always named.
    void LeaveFolder(LeftOutRule rule, const QByteArray& path) {
        TreeWalk::LeftOut& out = walk_.leftOut[static_cast<int>(rule)];
        ++out.count;
        out.paths.push_back(path);
    }

    static QByteArray PathIn(const QByteArray& folder, const std::string& name) {
        QByteArray path;
        path.reserve(folder.size() + 1 + static_cast<qsizetype>(name.size()));
        path += folder;
        if (!path.endsWith('/'))
            path += '/';
        return path.append(name.data(), static_cast<qsizetype>(name.size()));
    }

    // A regular file: kept when it has the extension, unless a rule leaves
    // it out. Whether it can be read is found out when it is opened.
    void File(const QByteArray& folder, std::string&& name, TreeWalk::FileId id, std::vector<Kept>& kept) {
        if (!Matches(name) && IsFolderArtName(name.data(), name.size()))
            art_.push_back(std::move(name));
        else if (!Matches(name))
            Leave(LeftOutRule::OtherFile, folder, name);
        else if (name[0] == '.')
            Leave(LeftOutRule::Hidden, folder, name);
        else if (name[0] == '~')
            Leave(LeftOutRule::Tilde, folder, name);
        else
            kept.push_back({std::move(name), false, false, id});
    }

    // Before b in the order of the paths below the folder: a folder's name
    // counts as if followed by "/", so that files come out sorted by path.
    static bool Before(const Kept& a, const Kept& b) {
        const size_t n = std::min(a.name.size(), b.name.size());
        const int c = std::memcmp(a.name.data(), b.name.data(), n);
        if (c != 0)
            return c < 0;
        const auto next = [n](const Kept& k) -> int {
            return n < k.name.size() ? static_cast<unsigned char>(k.name[n]) : k.folder ? '/' : -1;
        };
        return next(a) < next(b);
    }

    void Enter(FolderReader& folder, const QByteArray& path, int depth) {
        struct stat self;
        if (::fstat(folder.fd(), &self) != 0) {
            walk_.unreadable.push_back({path, errno, true});
            return;
        }
        if (!visited_.insert({self.st_dev, self.st_ino}).second) {
            LeaveFolder(LeftOutRule::WalkedAlready, path);
            return;
        }
        if (kinds_.IsOnPseudoFileSystem(folder.fd(), self.st_dev)) {
            LeaveFolder(LeftOutRule::SystemFolder, path);
            return;
        }
        std::vector<Kept> kept;
        const int err = folder.ForEach([&](const char* bytes, size_t length, unsigned char type, ino_t inode) {
            std::string name(bytes, length);
            struct stat st;
            if (type == DT_UNKNOWN) {
                if (::fstatat(folder.fd(), bytes, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    walk_.unreadable.push_back({PathIn(path, name), errno, false});
                    return;
                }
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : DT_FIFO;
            }
            if (type == DT_DIR) {
                kept.push_back({std::move(name), true, false, {}});
            } else if (type == DT_REG) {
                File(path, std::move(name), {self.st_dev, inode}, kept);
            } else if (type != DT_LNK) {
                Leave(Matches(name) ? LeftOutRule::NotRegular : LeftOutRule::OtherFile, path, name);
            } else if (::fstatat(folder.fd(), bytes, &st, AT_SYMLINK_NOFOLLOW) != 0 || !MayFollowLink(st, self)) {
                Leave(LeftOutRule::ForeignLink, path, name);
            } else if (::fstatat(folder.fd(), bytes, &st, 0) != 0) {
                Leave(Matches(name) ? LeftOutRule::BrokenLink : LeftOutRule::OtherFile, path, name);
            } else if (S_ISDIR(st.st_mode)) {
                kept.push_back({std::move(name), true, true, {}});
            } else if (S_ISREG(st.st_mode)) {
                File(path, std::move(name), {st.st_dev, st.st_ino}, kept);
            } else {
                Leave(Matches(name) ? LeftOutRule::NotRegular : LeftOutRule::OtherFile, path, name);
            }
        });
        if (err != 0)
            walk_.unreadable.push_back({path, err, true});
        // The folder's album art: the largest picture.
        off_t largest = -1;
        for (const std::string& name : art_) {
            struct stat st;
            if (::fstatat(folder.fd(), name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode) && st.st_size > largest) {
                largest = st.st_size;
                walk_.folderArt.insert(path, PathIn(path, name));
            }
        }
        art_.clear();

        std::sort(kept.begin(), kept.end(), Before);
        for (const Kept& entry : kept) {
            QByteArray entryPath = PathIn(path, entry.name);
            if (!entry.folder) {
                walk_.files.push_back(std::move(entryPath));
                walk_.ids.push_back(entry.id);
                continue;
            }
            FolderReader sub(folder.fd(), entry.name.c_str(), entry.throughLink);
            if (sub.fd() < 0)
                walk_.unreadable.push_back({entryPath, sub.openError(), true});
            else if (depth >= kMostDepth)
                walk_.unreadable.push_back({entryPath, ENAMETOOLONG, true});
            else
                Enter(sub, entryPath, depth + 1);
        }
    }

    const QByteArray extension_;
    TreeWalk& walk_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    FileSystemKinds kinds_;
    std::vector<std::string> art_;  // the album art of the folder being read
};

}  // namespace

const char* LeftOutRuleText(LeftOutRule rule) {
    switch (rule) {
        case LeftOutRule::Hidden:
            return "hidden (name begins with \".\")";
        case LeftOutRule::Tilde:
            return "name begins with \"~\" (a temporary file)";
        case LeftOutRule::NotRegular:
            return "not a regular file (a FIFO, device or socket)";
        case LeftOutRule::BrokenLink:
            return "a link that leads nowhere";
        case LeftOutRule::ForeignLink:
            return "a link of another user, not followed";
        case LeftOutRule::WalkedAlready:
            return "a link to a folder walked already (a loop)";
        case LeftOutRule::SystemFolder:
            return "a system folder (/proc, /sys)";
        case LeftOutRule::OtherFile:
            return "not a .wma file";
        case LeftOutRule::GivenTwice:
            return "given twice (the same file named again, or inside a folder named too)";
    }
    return "";
}

bool IsFolderArtName(const char* name, size_t length) {
    std::string lower(name, length);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (lower == "folder.jpg" || lower == "albumartsmall.jpg")
        return true;
    // "albumart_{" GUID "}_large.jpg": 36 characters of the GUID.
    const std::string start = "albumart_{";
    if (lower.compare(0, start.size(), start) != 0 || lower.size() < start.size() + 37)
        return false;
    const std::string guid = lower.substr(start.size(), 36);
    const std::string end = lower.substr(start.size() + 36);
    return guid.find_first_not_of("0123456789abcdef-") == std::string::npos &&
           (end == "}_large.jpg" || end == "}_small.jpg");
}

void WalkTree(const QByteArray& root, const QByteArray& extension, TreeWalk& walk) {
    Walker(extension, walk).Root(root);
}
