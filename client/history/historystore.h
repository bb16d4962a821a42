#pragma once

#include "client/compose/jobsnapshot.h"

#include <QList>
#include <QString>
#include <optional>

namespace kestro::jobdb {
class Database;
}

namespace kestro::history {

// The seventeen values of a sent job that the history shows, as stored (trailing blanks
// removed, Null as the empty text).
struct StoredJob {
    QString jobNumber;
    QString costCentre;     // Kostenstelle
    QString project;        // Projekt
    QString deadline;       // Termin
    QString name;           // Name
    QString street;         // Street
    QString plzTown;        // plz
    QString deliveryNumber; // LieferNr
    QString deliveryName1;
    QString deliveryName2;
    QString deliveryName3;
    QString deliveryStreet;
    QString deliveryTown;    // LieferOrt
    QString deliveryContact; // LieferAnspr
    QString date;            // Datum
    QString time;            // Uhrzeit
    QString remarks;         // Memo

    bool operator==(const StoredJob&) const = default;
};

// A job with its file rows (FileDaten, by LaufNR; FilePath in fullPath).
struct StoredJobWithFiles {
    StoredJob job;
    QList<compose::FileRow> files;
};

// A read that may fail: `error` (the engine's text) is empty on success.
template <typename T> struct Read {
    T value{};
    QString error;
    bool ok() const { return error.isEmpty(); }
};

struct DeleteOutcome {
    bool jobFound = false; // a JobDaten row with that number was there and is gone
    int filesDeleted = 0;  // its FileDaten rows, deleted with it
    QString error;         // the engine's text; nothing was deleted then
    bool ok() const { return error.isEmpty(); }
};

// The history's reads and the delete, on one connection. Job numbers are bound as numbers;
// nothing typed by the worker ever becomes part of a statement.
class HistoryStore {
public:
    explicit HistoryStore(const jobdb::Database& db) : db_(db) {}

    // The highest JobNumber; nullopt when the table has no job.
    Read<std::optional<qint32>> highestJobNumber() const;
    // The first job row with that number in stored order; nullopt when there is none.
    Read<std::optional<StoredJob>> job(qint32 number) const;
    // The job number nearest to `from` in the range from..to (walking either way, both ends
    // included); nullopt when no job lies in it.
    Read<std::optional<qint32>> nearestJobNumber(qint32 from, qint32 to) const;
    // The file rows of that job number, by LaufNR.
    Read<QList<compose::FileRow>> files(qint32 number) const;
    // The newest `limit` jobs (all when limit <= 0), newest first, each with its files.
    Read<QList<StoredJobWithFiles>> latestJobs(int limit) const;

    // Deletes the first job row with that number and every file row of the number, in one
    // transaction: an interruption leaves both or neither.
    DeleteOutcome deleteJob(qint32 number) const;

private:
    const jobdb::Database& db_;
};

// The job as "Laden" puts it back into the main window: the files with their settings,
// the remarks, the delivery address (its label "LieferNr | LieferName1", only when the job
// had a delivery number, otherwise empty for "leave as it is") and the project. Deadline,
// cost centre and the rest are not carried back: the date is invalid and the time empty.
compose::JobSnapshot reloadedJob(const StoredJob& job, const QList<compose::FileRow>& files);

} // namespace kestro::history
