#pragma once
// The record of the results a batch made in an output folder: a small
// hidden file, ".brenvale-ledger", one line per result saved (its name
// under the folder, the source it was made from with the source's size and
// time, the result's own size and time, and the options it was made with).
// It tells which result belongs to which source on every file system, FAT
// and exFAT too, which keep no extended attributes: a resume converts
// exactly the sources without a result of their own and gives each source
// the name it had, and another source's result or a file of the user's is
// never taken for this source's.
//
// A line is appended, whole, in one write, after each result is saved; a
// line torn by a kill is passed over when read. Several batches may append
// to one ledger at once. A ledger that has grown far beyond its results is
// rewritten, atomically, when a batch starts.
#include <QByteArray>
#include <QHash>
#include <QMultiHash>

#include <mutex>
#include <optional>
#include <vector>

inline constexpr char kLedgerName[] = ".brenvale-ledger";

struct LedgerEntry {
    QByteArray result;  // the result's path under the ledger's folder
    QByteArray source;  // the source's absolute path
    qint64 sourceSize = 0;
    qint64 sourceTime = 0;  // modification time, nanoseconds since 1970
    qint64 resultSize = 0;
    qint64 resultTime = 0;
    QByteArray options;  // the format and quality it was made with ("mp3", "opus --bitrate 96")
};

// True when two modification times are one: FAT keeps them to 2 seconds.
bool SameFileTime(qint64 a, qint64 b);

// True when the entry name in folder (no link followed) is a regular file
// of the user's that is still the result entry records: the same size and
// modification time.
bool StandsAsRecorded(int folder, const QByteArray& name, const LedgerEntry& entry);

class ResultLedger {
public:
    // The ledger of the output folder open at folder (the descriptor stays
    // the caller's and must outlive this), read when it is the user's own
    // regular file; where is the folder's absolute path, for the sources
    // recorded relative to it. With foldsCase, result names that differ
    // only in letter case are one.
    ResultLedger(int folder, const QByteArray& where, bool foldsCase);

    // The latest entry for the result name (a path under the folder). With
    // refresh, lines that other batches appended since are read first.
    std::optional<LedgerEntry> EntryForResult(const QByteArray& name, bool refresh = false);
    // The entries made from source that are still the latest of their
    // results (a source may have results under several names), the most
    // recent first.
    std::vector<LedgerEntry> EntriesForSource(const QByteArray& source) const;
    // The latest entry of each result, in the order written.
    std::vector<LedgerEntry> Entries() const;
    // True when the ledger holds no entry (or there is none yet).
    bool Empty() const;

    // Appends entry, whole, and flushes it to the disk. Returns 0 or the
    // errno (no ledger can be kept in a folder where another user's file
    // holds its name).
    int Record(const LedgerEntry& entry);

    // Rewrites the ledger with only the latest entry of each result that
    // still stands, when it holds more than twice as many lines.
    void Compact();

private:
    QByteArray Key(const QByteArray& name) const;
    int OpenLocked(int& fd);
    int Replace(const QByteArray& bytes);
    void ReadFrom(int fd, qint64 from);
    void Take(QByteArrayView line);

    int folder_;
    QByteArray where_;
    bool foldsCase_;
    bool usable_ = true;  // false when another user's file holds the name
    qint64 readTo_ = 0;   // the ledger's bytes read so far
    int lines_ = 0;
    std::vector<LedgerEntry> entries_;
    QByteArray lastOptions_;
    QHash<QByteArray, size_t> byResult_;  // the latest entry of a result (its key)
    QMultiHash<QByteArray, size_t> bySource_;  // the entries made from a source
    mutable std::mutex mutex_;
};
