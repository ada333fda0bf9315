#include "batch/fileconverter.h"

#include "batch/failurewords.h"
#include "batch/jobprocess.h"
#include "batch/terminaltext.h"
#include "common/uniquefd.h"
#include "convert/conversion.h"
#include "convert/resultsave.h"
#include "system/fileio.h"
#include "tags/coverfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <optional>
#include <utility>

namespace {

Finished Failed(Finished done, const QString& reason) {
    done.result = FileResult::Failed;
    done.reason = reason;
    return done;
}

}  // namespace

FileConverter::FileConverter(const BatchOptions& options, const BatchPlan& plan, JobProcesses& processes,
                             const QString& workFolder)
    : options_(options),
      plan_(plan),
      processes_(processes),
      workFolder_(workFolder),
      tagRoomOverhead_(std::make_shared<std::atomic<int>>(FormatOf(options.format).tagRoomOverhead)) {}

// True when the result that stands at file's name is this source's own,
// made from the source as it is now and with these options: a resume leaves
// it alone.
bool FileConverter::OwnResultStands(const PlannedFile& file) const {
    QByteArray problem;
    const UniqueFd folder(plan_.outputs[file.output]->OpenBelow(file.relative, false, &problem));
    if (folder.get() < 0)
        return false;
    if (file.earlier) {
        const LedgerEntry& e = *file.earlier;
        struct stat st;
        return ::stat(file.source.constData(), &st) == 0 && st.st_size == e.sourceSize &&
               SameFileTime(static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                            e.sourceTime) &&
               e.options == options_.OptionsText() && StandsAsRecorded(folder.get(), file.name, e);
    }
    // No ledger there: a result of an older version records its source
    // itself.
    return ResultSourceOf(folder.get(), file.name) == file.source;
}

Finished FileConverter::Convert(int slot, const JobSetup& job, size_t index) const {
    const PlannedFile& file = plan_.files[index];
    Finished done;
    done.index = index;
    const auto failed = [&done](const QString& reason) { return Failed(std::move(done), reason); };
    if (options_.skipExisting && OwnResultStands(file)) {
        done.result = FileResult::Skipped;
        done.target = file.Target();
        return done;
    }
    OutputFolder& output = *plan_.outputs[file.output];
    if (output.error != 0)
        return failed(CannotWrite(output.path, output.error));
    if (job.path.isEmpty())
        return failed(WorkFolderReason(workFolder_));

    // The result is written once, where it is to stay: a file without a
    // name in its folder, named only when it is whole and tagged.
    QByteArray problem;
    const UniqueFd folder(output.OpenBelow(file.relative, true, &problem));
    if (folder.get() < 0)
        return failed(CannotSave(file.Target(), output.fd.get() < 0 ? output.path + ": not there" : problem));
    // Where the output's file system cannot write a file where it stands
    // (some FAT drivers), the result is made in the job's folder and copied.
    const UniqueFd jobFolder(output.writesInPlace ? -1
                                                    : ::open(SystemPath(job.path).c_str(),
                                                             O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    ResultPart part;
    if (const int err = part.Make(output.writesInPlace ? folder.get() : jobFolder.get()))
        return failed(output.writesInPlace ? SaveFailure(err, file.Target()) : WorkFolderReason(workFolder_));

    // The source is opened once, and that one file is decoded and its tags
    // read: a name swapped meanwhile changes nothing. It is read where it
    // lies, never copied.
    WorkContext work{job.path, job.encoderOptions, {}, {}, tagRoomOverhead_};
    FileConversion conversion(work, file.source);
    if (!file.folderArt.isEmpty())
        if (const std::optional<CoverPicture> art = ReadCoverFile(file.folderArt))
            conversion.SetFallbackPicture(*art);
    StageResult stage = conversion.OpenSource();
    if (stage.ok())
        stage = conversion.Stream(
            options_.format,
            [this, slot](const ProgramCommand& decoder, const ProgramCommand* encoder, int input, int out,
                         const QString& in) { return processes_.Run(slot, decoder, encoder, input, out, in); },
            part.fd());
    // A tool that failed to write a result into a full output disk says
    // what failed in its words; the cause is the disk.
    const auto full = [&]() {
        struct statvfs room;
        return output.writesInPlace && ::fstatvfs(part.fd(), &room) == 0 && room.f_bavail == 0;
    };
    if (!stage.ok())
        return failed(full() ? SaveFailure(ENOSPC, file.Target()) : StageFailure(stage, workFolder_));
    if (stage.outcome == StageOutcome::CutShort)
        done.warning = stage.detail;
    done.notice = stage.note;
    if (!conversion.Tag(part.fd()))
        return failed(SaveFailure(full() ? ENOSPC : EIO, file.Target()));
    done.folderArt = conversion.UsedFallbackPicture();
    // A source written to meanwhile gave audio and tags of two files.
    if (conversion.SourceChanged())
        return failed(QStringLiteral("changed while converting"));
    return Save(conversion, folder.get(), part, index, std::move(done));
}

Finished FileConverter::Save(const FileConversion& conversion, int folder, ResultPart& part, size_t index,
                             Finished done) const {
    const PlannedFile& file = plan_.files[index];
    const auto failed = [&done](const QString& reason) { return Failed(std::move(done), reason); };
    OutputFolder& output = *plan_.outputs[file.output];
    // Who made what stands at a name: the ledger says it on every file
    // system (for a file still as it recorded it), the file's attribute
    // where there is one.
    ResultLedger* ledger = output.ledger.get();
    const auto ownerOf = [&](const QByteArray& name) {
        const std::optional<LedgerEntry> entry =
            ledger ? ledger->EntryForResult(file.Recorded(name), true) : std::nullopt;
        QByteArray source;
        if (entry && StandsAsRecorded(folder, name, *entry))
            source = entry->source;
        else
            source = ResultSourceOf(folder, name);
        if (source.isEmpty())
            return ResultOwner::Nobody;
        const bool own = source == file.source || (file.earlier && source == file.earlier->source);
        return own ? ResultOwner::ThisSource : ResultOwner::OtherSource;
    };
    SavePolicy policy;
    policy.ownerOf = ownerOf;
    policy.reserved = [&](const QByteArray& name) { return plan_.Reserved(file, name); };
    policy.replaceUsersFiles = options_.overwrite;
    policy.modified = options_.keepDates ? conversion.SourceTime() : -1;
    const ResultName name{StemOf(file.plainName).toByteArray(), ExtensionOf(file.plainName).toByteArray(), file.number,
                          output.rules.longestName};
    const SaveOutcome saved = output.writesInPlace
                                  ? part.Link(name, file.source, policy)
                                  : SaveResultFile(folder, name, part.fd(), file.source, policy);
    const QByteArray target = file.Target();
    switch (saved.status) {
        case SaveStatus::Saved:
            break;
        case SaveStatus::ForeignEntry:
            return failed(QString::fromUtf8(saved.problem + ' ' + PrintableName(target)));
        case SaveStatus::NoSpace:
            return failed(SaveFailure(saved.error, target));
        case SaveStatus::Failed:
            return failed(CannotSave(target, saved.problem));
    }
    done.result = FileResult::Converted;
    done.target = file.Target(saved.name);
    if (ledger) {
        LedgerEntry entry{file.Recorded(saved.name), file.source, conversion.SourceSize(),
                          conversion.SourceTime(),   saved.size,  saved.time,
                          options_.OptionsText()};
        if (const int recordError = ledger->Record(entry)) {
            done.unrecordedFolder = output.path;
            done.unrecordedError = recordError;
        }
    }
    if (saved.name != file.name)
        done.savedAs =
            QStringLiteral("saved as %1: %2 %3")
                .arg(
                    QString::fromUtf8(PrintableName(saved.name)), QString::fromUtf8(PrintableName(file.name)),
                    saved.heldBy == ResultOwner::Nobody
                        ? QStringLiteral("is a file of yours")
                        : QStringLiteral("holds another source's result (another batch saved it meanwhile)"));
    return done;
}
