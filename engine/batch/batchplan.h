#pragma once
// What a batch will do, decided before anything is converted: every source
// in a stable order (the arguments in the order given, each folder's files
// sorted by path) and the name of every result. The same sources always get
// the same names, whichever file happens to finish first: a source that has
// a result already (its output folder's ledger says so) keeps that result's
// name, and the others take the first names free in plan order, so a run
// that was stopped, or a library that grew, gets each source the name it
// had.
//
// Names are made for the file system they go to: where it folds letter
// case, names equal but for case are numbered apart like equal names; where
// it refuses names (FAT, exFAT), or with --portable-names, names are made
// portable (see convert/resultnames.h); every name fits its longest name.
#include "batch/batchoptions.h"
#include "common/uniquefd.h"
#include "convert/resultledger.h"
#include "convert/resultnames.h"
#include "walk/treewalk.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <memory>
#include <optional>
#include <vector>

// A folder that results go to, directly or in folders below it: the
// --output DIR, or (without one) a source's own folder. It keeps the ledger
// of the results below it.
struct OutputFolder {
    QByteArray path;  // absolute
    UniqueFd fd;      // open (O_PATH) while the plan lives; -1 when it does not exist
    int error = 0;    // why no file can be made there (0: it can, or it is still to be made)
    NameRules rules;
    bool writesInPlace = true;  // results are made and tagged there (see OutputProbe)
    std::unique_ptr<ResultLedger> ledger;  // null where fd is -1

    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Opens relative below it ("" is the folder itself), made with make,
    // never through a folder of another user's or a link one could have
    // planted; -1 when it cannot (with problem set), or when the output
    // folder does not exist.
    int OpenBelow(const QByteArray& relative, bool make, QByteArray* problem) const;
};

struct PlannedFile {
    QByteArray source;  // absolute, the system's bytes
    // The result's folder: the output folder, and below it relative ("" for
    // the output folder itself), which is made as needed, never through a
    // link or a folder that another user could have planted.
    size_t output = 0;  // in BatchPlan::outputs
    QByteArray base;    // that output folder's path
    QByteArray relative;
    QByteArray name;       // the result's file name
    QByteArray plainName;  // the name it would have without a number
    int number = 1;        // the number in name (1: none)
    // The source's folder under its FOLDER argument ("" for a FILE).
    QByteArray underRoot;
    // The album art beside the source that Windows keeps for its album, or "".
    QByteArray folderArt;
    // This source's earlier result in the ledger, where one stands under
    // the name planned: a resume may leave it alone.
    std::shared_ptr<const LedgerEntry> earlier;

    QByteArray Folder() const;  // base and relative joined
    // The result's path, under its own name or another one in its folder.
    QByteArray Target() const { return Target(name); }
    QByteArray Target(const QByteArray& as) const;
    // The result's path under its output folder, as the ledger has it.
    QByteArray Recorded() const { return Recorded(name); }
    QByteArray Recorded(const QByteArray& as) const;
};

struct BatchPlan {
    std::vector<PlannedFile> files;
    std::vector<std::unique_ptr<OutputFolder>> outputs;
    // Where the walk of the FOLDER arguments met what it could not read, or
    // left out by its rules (files given twice among them).
    TreeWalk walk;
    // The sources that share a result name, each group in plan order (the
    // first keeps the plain name, the others are numbered).
    std::vector<std::vector<size_t>> sharedNames;
    // Sources whose plain name a file of the user's holds (no batch made
    // it), with that file's path: such a file is never replaced, unless
    // --overwrite says so.
    std::vector<std::pair<size_t, QByteArray>> userFiles;
    // Sources whose names were changed for the output's file system.
    std::vector<size_t> renamed;
    // Sources named by their file names: their tags lack what --name needs.
    std::vector<size_t> untagged;
    // Sources that have a result under another name (an earlier --name, or
    // none): it is left as it is, and a new one is made.
    std::vector<std::pair<size_t, QByteArray>> madeBefore;
    // Why the whole batch cannot be run (the --output folder cannot be
    // written), or "".
    QString stop;

    // True when name in file's folder is planned for some source.
    bool Reserved(const PlannedFile& file, const QByteArray& name) const;

    // Every planned result: its output folder, and its path under it as a
    // key (case folded where the file system folds case).
    QSet<QByteArray> targets;
    QByteArray TargetKey(const PlannedFile& file, const QByteArray& name) const;
};

BatchPlan PlanBatch(const BatchOptions& options);
