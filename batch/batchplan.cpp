#include "batch/batchplan.h"

#include "convert/target.h"

#include <QHash>
#include <QSet>

#include <sys/stat.h>

#include <set>
#include <utility>

namespace {

QByteArray FolderPart(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray NamePart(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
    if (name.isEmpty())
        return folder;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray Numbered(const QByteArray& name, int k) {
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    return stem + " (" + QByteArray::number(k) + ")" + (dot > 0 ? name.mid(dot) : QByteArray());
}

using InodeKey = std::pair<dev_t, ino_t>;

}  // namespace

QByteArray PlannedFile::Target() const {
    return Joined(Joined(base, relative), name);
}

BatchPlan PlanBatch(const BatchOptions& options) {
    BatchPlan plan;
    const QByteArray& output = options.outputFolder;
    for (const QByteArray& path : options.paths) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            // A FILE argument, converted as the user named it (what it is
            // turns out when it is opened).
            PlannedFile file;
            file.source = path;
            file.base = output.isEmpty() ? FolderPart(path) : output;
            plan.files.push_back(std::move(file));
            continue;
        }
        const size_t first = plan.walk.files.size();
        WalkTree(path, "wma", plan.walk);
        const QByteArray root = path.endsWith('/') ? path : path + '/';
        for (size_t i = first; i < plan.walk.files.size(); ++i) {
            PlannedFile file;
            file.source = plan.walk.files[i];
            if (output.isEmpty()) {
                file.base = FolderPart(file.source);
            } else {
                file.base = output;
                // The folders below the FOLDER argument, again below DIR.
                if (options.keepFolders)
                    file.relative = FolderPart(file.source).mid(root.size());
            }
            plan.files.push_back(std::move(file));
        }
    }
    plan.walk.files.clear();
    plan.walk.files.shrink_to_fit();

    // A result never takes a source's name: the same text, or (for the FILE
    // arguments, the only sources that need not end in .wma) the same file.
    QSet<QByteArray> sources;
    std::set<InodeKey> fileArguments;
    for (const PlannedFile& file : plan.files) {
        sources.insert(file.source);
        struct stat st;
        if (!file.source.toLower().endsWith(".wma") && ::stat(file.source.constData(), &st) == 0)
            fileArguments.insert({st.st_dev, st.st_ino});
    }
    const auto isSource = [&](const QByteArray& target) {
        if (sources.contains(target))
            return true;
        struct stat st;
        return !fileArguments.empty() && ::stat(target.constData(), &st) == 0 &&
               fileArguments.count({st.st_dev, st.st_ino}) > 0;
    };

    // Each source claims its plain name in plan order; those whose name was
    // claimed before them are numbered once every plain name is out, so
    // that a source named "Song (2).wma" keeps its own name.
    QSet<QByteArray> claimed;
    QHash<QByteArray, std::vector<size_t>> byPlainTarget;
    std::vector<size_t> numbered;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        PlannedFile& file = plan.files[i];
        file.plainName = ResultFileName(NamePart(file.source), options.format);
        file.name = file.plainName;
        const QByteArray target = file.Target();
        byPlainTarget[target].push_back(i);
        if (!claimed.contains(target) && !isSource(target))
            claimed.insert(target);
        else
            numbered.push_back(i);
    }
    for (const size_t i : numbered) {
        PlannedFile& file = plan.files[i];
        for (int k = 2;; ++k) {
            file.name = Numbered(file.plainName, k);
            const QByteArray target = file.Target();
            if (!claimed.contains(target) && !isSource(target)) {
                claimed.insert(target);
                break;
            }
        }
    }
    for (auto it = byPlainTarget.cbegin(); it != byPlainTarget.cend(); ++it) {
        if (it->size() > 1)
            plan.sharedNames.push_back(*it);
    }
    std::sort(plan.sharedNames.begin(), plan.sharedNames.end());
    return plan;
}
