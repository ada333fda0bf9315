#pragma once
// What a batch will do, decided before anything is converted: every source
// in a stable order (the arguments in the order given, each folder's files
// sorted by path) and the name of every result. The same sources always get
// the same names, whichever file happens to finish first, so a run that was
// stopped and run again gives each source the name it had.
#include "batch/batchoptions.h"
#include "folderscan/treewalk.h"

#include <QByteArray>
#include <QSet>

#include <vector>

struct PlannedFile {
    QByteArray source;  // absolute, the system's bytes
    // The result's folder: base (absolute), and below it relative ("" for
    // base itself), which is made as needed, never through a link that
    // another user could have planted.
    QByteArray base;
    QByteArray relative;
    QByteArray name;       // the result's file name
    QByteArray plainName;  // the name it would have without a number

    QByteArray Folder() const;  // base and relative joined
    QByteArray Target() const;  // the result's path
};

struct BatchPlan {
    std::vector<PlannedFile> files;
    // Where the walk of the FOLDER arguments met what it could not read, or
    // left out by its rules.
    TreeWalk walk;
    // The sources that share a result name, each group in plan order (the
    // first keeps the plain name, the others are numbered).
    std::vector<std::vector<size_t>> sharedNames;
    // Every planned result path.
    QSet<QByteArray> targets;
};

BatchPlan PlanBatch(const BatchOptions& options);
