#include "folderscan/treewalk.h"

#include "folderscan/folderreader.h"
#include "util/files.h"
#include "util/safepath.h"

#include <sys/stat.h>

#include <algorithm>
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
        std::sort(found_.begin(), found_.end());
        walk_.files.insert(walk_.files.end(), std::make_move_iterator(found_.begin()),
                           std::make_move_iterator(found_.end()));
    }

private:
    struct Entry {
        std::string name;
        unsigned char type;
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

    void Leave(LeftOutRule rule, const QByteArray& path) {
        TreeWalk::LeftOut& out = walk_.leftOut[static_cast<int>(rule)];
        ++out.count;
        if (rule != LeftOutRule::OtherFile || out.paths.size() < kOtherFilesKept)
            out.paths.push_back(path);
    }

    static QByteArray PathIn(const QByteArray& folder, const std::string& name) {
        QByteArray path = folder;
        if (!path.endsWith('/'))
            path += '/';
        return path + QByteArray::fromStdString(name);
    }

    // A file with the extension: to convert, unless a rule leaves it out or
    // it cannot be read.
    void File(int folder, const QByteArray& path, const std::string& name) {
        if (!Matches(name))
            Leave(LeftOutRule::OtherFile, path);
        else if (name[0] == '.')
            Leave(LeftOutRule::Hidden, path);
        else if (name[0] == '~')
            Leave(LeftOutRule::Tilde, path);
        else if (::faccessat(folder, name.c_str(), R_OK, AT_EACCESS) != 0)
            walk_.unreadable.push_back({path, errno, false});
        else
            found_.push_back(path);
    }

    void Enter(FolderReader& folder, const QByteArray& path, int depth) {
        struct stat self;
        if (::fstat(folder.fd(), &self) != 0) {
            walk_.unreadable.push_back({path, errno, true});
            return;
        }
        if (!visited_.insert({self.st_dev, self.st_ino}).second) {
            Leave(LeftOutRule::WalkedAlready, path);
            return;
        }
        if (kinds_.IsOnPseudoFileSystem(folder.fd(), self.st_dev)) {
            Leave(LeftOutRule::SystemFolder, path);
            return;
        }
        std::vector<Entry> entries;
        const int err = folder.ForEach([&](const char* name, size_t length, unsigned char type) {
            entries.push_back({std::string(name, length), type});
        });
        if (err != 0)
            walk_.unreadable.push_back({path, err, true});

        std::vector<std::pair<std::string, bool>> folders;  // name, through a link
        for (const Entry& entry : entries) {
            const QByteArray entryPath = PathIn(path, entry.name);
            const char* name = entry.name.c_str();
            unsigned char type = entry.type;
            struct stat st;
            if (type == DT_UNKNOWN) {
                if (::fstatat(folder.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    walk_.unreadable.push_back({entryPath, errno, false});
                    continue;
                }
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
            }
            if (type == DT_DIR) {
                folders.emplace_back(entry.name, false);
            } else if (type == DT_REG) {
                File(folder.fd(), entryPath, entry.name);
            } else if (type != DT_LNK) {
                Leave(Matches(entry.name) ? LeftOutRule::NotRegular : LeftOutRule::OtherFile, entryPath);
            } else if (::fstatat(folder.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !MayFollowLink(st, self)) {
                Leave(LeftOutRule::ForeignLink, entryPath);
            } else if (::fstatat(folder.fd(), name, &st, 0) != 0) {
                Leave(Matches(entry.name) ? LeftOutRule::BrokenLink : LeftOutRule::OtherFile, entryPath);
            } else if (S_ISDIR(st.st_mode)) {
                folders.emplace_back(entry.name, true);
            } else if (S_ISREG(st.st_mode)) {
                File(folder.fd(), entryPath, entry.name);
            } else {
                Leave(Matches(entry.name) ? LeftOutRule::NotRegular : LeftOutRule::OtherFile, entryPath);
            }
        }
        entries.clear();
        entries.shrink_to_fit();

        for (const auto& [name, throughLink] : folders) {
            const QByteArray folderPath = PathIn(path, name);
            FolderReader sub(folder.fd(), name.c_str(), throughLink);
            if (sub.fd() < 0)
                walk_.unreadable.push_back({folderPath, sub.openError(), true});
            else if (depth >= kMostDepth)
                walk_.unreadable.push_back({folderPath, ENAMETOOLONG, true});
            else
                Enter(sub, folderPath, depth + 1);
        }
    }

    const QByteArray extension_;
    TreeWalk& walk_;
    std::vector<QByteArray> found_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    FileSystemKinds kinds_;
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
    }
    return "";
}

void WalkTree(const QByteArray& root, const QByteArray& extension, TreeWalk& walk) {
    Walker(extension, walk).Root(root);
}
