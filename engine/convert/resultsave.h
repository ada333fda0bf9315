#pragma once
// Saving a finished result into the user's folder, whole or not at all. The
// result is written as a file without a name (or, where the file system has
// no such files, under a temporary name that a later save removes when its
// writer is gone) and given its name only once it is whole, so that no
// partial file is ever seen under a result's name nor left in the folder.
// The name is taken without replacing anything (a link that fails when the
// name exists), so two batches writing into one folder never replace each
// other's results. Each result records the source it was made from, which
// tells a result of this source from another source's of the same name.
#include "common/uniquefd.h"
#include "convert/resultnames.h"

#include <QByteArray>

#include <functional>

// The extended attribute that holds a result's source path.
inline constexpr char kResultSourceAttribute[] = "user.brenvale.source";

// A temporary name in an output folder: this prefix and six characters.
inline constexpr char kResultPartPrefix[] = ".brenvale-part-";

// The source that the entry name in the folder open at folder was made
// from, as its attribute records; "" when it records none (another
// program's file, a file system without extended attributes) or is not the
// user's regular file.
QByteArray ResultSourceOf(int folder, const QByteArray& name);

// Who made a file of the user's that stands at a result's name.
enum class ResultOwner {
    ThisSource,   // an earlier result of this very source
    OtherSource,  // another source's result
    Nobody,       // no batch: a file of the user's own
    Refused,      // a file that must not be replaced (one the user made read-only)
};

// A result's name and its numbered forms (see NumberedName).
struct ResultName {
    QByteArray stem;
    QByteArray extension;
    int k = 1;  // the number of the name planned (1: no number)
    int longest = 255;
    QByteArray At(int number) const { return NumberedName(stem, number, extension, longest); }
};

enum class SaveStatus {
    Saved,
    NoSpace,         // the output disk is full (or the user's quota used up)
    ForeignEntry,    // another user's file or link, or a folder, stands at the name
    Failed,          // any other failure; problem says what
};

struct SaveOutcome {
    SaveStatus status = SaveStatus::Failed;
    QByteArray name;     // the name the result was saved under
    QByteArray problem;  // what went wrong, for the failures
    int error = 0;       // the errno of a system's failure (NoSpace among them)
    // Why it is not the name planned: who holds that one.
    ResultOwner heldBy = ResultOwner::ThisSource;
    qint64 size = 0;  // the saved file's size and modification time (ns)
    qint64 time = 0;
};

// How a result takes its name.
struct SavePolicy {
    // Who made what stands at a name: the user's own entry, or with
    // replaceOthers any but a folder (without it, a file's attribute tells).
    std::function<ResultOwner(const QByteArray& name)> ownerOf;
    // The names other sources of the run are to get: never taken.
    std::function<bool(const QByteArray& name)> reserved;
    // A file of the user's that no batch made is replaced (at the name
    // planned only).
    bool replaceUsersFiles = false;
    // What another user has at the name planned is replaced where the
    // folder lets the user do so (the window's rule; never a batch's).
    bool replaceOthers = false;
    // The result's modification time (nanoseconds since 1970), or -1.
    qint64 modified = -1;
};

// A result being written in the folder where it is to stay: a file without
// a name (or, where the file system has no such files, under a temporary
// name that is locked while it lives) until Link gives it its name, once it
// is whole. Unlinked, it is gone with the object: no partial file is ever
// seen under a result's name nor left in the folder.
class ResultPart {
public:
    ResultPart() = default;
    ~ResultPart();
    ResultPart(const ResultPart&) = delete;
    ResultPart& operator=(const ResultPart&) = delete;

    // Makes the part in the folder open at folder (an O_PATH descriptor will
    // do; it must outlive the part). 0, or the errno.
    int Make(int folder);
    // The part, open for reading and writing.
    int fd() const { return part_.fd.get(); }

    // Flushes the whole part to the disk, records source, and gives it
    // name.At(name.k), or where that is taken:
    // - by this source's own earlier result: it is replaced, atomically;
    // - by a file of the user's that no batch made: replaced only with
    //   policy.replaceUsersFiles (and only at the name planned);
    // - by another source's result, or a file of the user's: the result
    //   takes the next free number;
    // - by another user's file or link (unless policy.replaceOthers), a
    //   folder, or a file refused: nothing is saved.
    SaveOutcome Link(const ResultName& name, const QByteArray& source, const SavePolicy& policy);

    // The file being saved: unnamed (O_TMPFILE), or under a temporary name.
    struct Part {
        UniqueFd fd;
        QByteArray temp;  // "" while the file has no name
    };

private:
    int folder_ = -1;
    Part part_;
};

// Copies the whole file open at result (read from its start) into a new
// part in the folder open at folder, then links it as ResultPart::Link does.
SaveOutcome SaveResultFile(int folder, const ResultName& name, int result, const QByteArray& source,
                           const SavePolicy& policy);

// Removes the temporary names that saves killed half-way left in the
// folder: only the user's own, and only those whose writer has gone (a save
// holds a lock on its file for as long as the name stands).
void RemoveStaleParts(int folder);
