#include "batch/batchplan.h"

#include "convert/formats.h"

#include <QHash>
#include <QSet>

#include <sys/stat.h>

#include <map>
#include <set>
#include <utility>

namespace {

QByteArray FolderPart(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArrayView NamePart(const QByteArray& path) {
    return QByteArrayView(path).sliced(path.lastIndexOf('/') + 1);
}

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
    if (name.isEmpty())
        return folder;
    QByteArray path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (!folder.endsWith('/'))
        path += '/';
    return path += name;
}

QByteArray Numbered(const QByteArray& name, int k) {
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    return stem + " (" + QByteArray::number(k) + ")" + (dot > 0 ? name.mid(dot) : QByteArray());
}

using InodeKey = std::pair<dev_t, ino_t>;

}  // namespace

QByteArray PlannedFile::Folder() const {
    return Joined(base, relative);
}

QByteArray PlannedFile::Target() const {
    return Joined(Folder(), name);
}

BatchPlan PlanBatch(const BatchOptions& options) {
    BatchPlan plan;
    const QByteArray& output = options.outputFolder;
    // A result never takes a source's name: the same text, or the same
    // file. Only a FILE argument can be named like a result: the files a
    // walk finds end in .wma.
    QSet<QByteArray> fileArguments;
    std::set<InodeKey> fileArgumentInodes;
    for (const QByteArray& path : options.paths) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            // Converted as the user named it: what it is turns out when it
            // is opened.
            PlannedFile file;
            file.source = path;
            file.base = output.isEmpty() ? FolderPart(path) : output;
            plan.files.push_back(std::move(file));
            fileArguments.insert(path);
            if (::stat(path.constData(), &st) == 0)
                fileArgumentInodes.insert({st.st_dev, st.st_ino});
            continue;
        }
        const size_t first = plan.walk.files.size();
        WalkTree(path, "wma", plan.walk);
        const QByteArray root = path.endsWith('/') ? path : path + '/';
        QByteArray lastFolder, lastBase, lastRelative;
        for (size_t i = first; i < plan.walk.files.size(); ++i) {
            PlannedFile file;
            file.source = std::move(plan.walk.files[i]);
            // The files of one folder share their folder's texts.
            const QByteArray folder = FolderPart(file.source);
            if (folder != lastFolder) {
                lastFolder = folder;
                lastBase = output.isEmpty() ? folder : output;
                // With --keep-folders, the folders below the FOLDER argument
                // again below DIR.
                lastRelative = !output.isEmpty() && options.keepFolders ? folder.mid(root.size()) : QByteArray();
            }
            file.base = lastBase;
            file.relative = lastRelative;
            plan.files.push_back(std::move(file));
        }
    }
    plan.walk.files.clear();
    plan.walk.files.shrink_to_fit();

    const auto isSource = [&](const QByteArray& target) {
        if (fileArguments.isEmpty())
            return false;
        struct stat st;
        return fileArguments.contains(target) || (::stat(target.constData(), &st) == 0 &&
                                                  fileArgumentInodes.count({st.st_dev, st.st_ino}) > 0);
    };

    // Each source claims its plain name in plan order; those whose name was
    // claimed before them are numbered once every plain name is out, so
    // that a source named "Song (2).wma" keeps its own name.
    QHash<QByteArray, size_t> claimedBy;  // a plain target and the source that has it
    claimedBy.reserve(static_cast<qsizetype>(plan.files.size()));
    std::vector<std::pair<size_t, size_t>> numbered;  // a source, and the one that has its name
    for (size_t i = 0; i < plan.files.size(); ++i) {
        PlannedFile& file = plan.files[i];
        file.plainName = ResultFileName(NamePart(file.source), options.format);
        file.name = file.plainName;
        const QByteArray target = file.Target();
        const auto it = claimedBy.constFind(target);
        if (it != claimedBy.cend())
            numbered.emplace_back(i, *it);
        else if (isSource(target))
            numbered.emplace_back(i, i);
        else
            claimedBy.insert(target, i);
    }
    plan.targets.reserve(static_cast<qsizetype>(plan.files.size()));
    for (auto it = claimedBy.cbegin(); it != claimedBy.cend(); ++it)
        plan.targets.insert(it.key());
    std::map<size_t, std::vector<size_t>> groups;  // by the source that keeps the name
    for (const auto& [i, holder] : numbered) {
        PlannedFile& file = plan.files[i];
        const QByteArray folder = file.Folder();
        for (int k = 2;; ++k) {
            file.name = Numbered(file.plainName, k);
            const QByteArray target = Joined(folder, file.name);
            if (!plan.targets.contains(target) && !isSource(target)) {
                plan.targets.insert(target);
                break;
            }
        }
        if (holder != i) {
            std::vector<size_t>& group = groups[holder];
            if (group.empty())
                group.push_back(holder);
            group.push_back(i);
        }
    }
    for (auto& [holder, group] : groups)
        plan.sharedNames.push_back(std::move(group));
    return plan;
}
