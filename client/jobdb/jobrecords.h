#pragma once

#include "client/compose/jobsnapshot.h"
#include "client/jobdb/jobsheet.h"
#include "client/jobdb/masterdata.h"

#include <QDate>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <optional>

namespace kestro {
class Prompter;
}

namespace kestro::jobdb {

class Database;

// What prepare job fixed for the job being sent.
struct PreparedJob {
    qint32 jobNumber = 0; // reserved in the database until recorded or released
    LookupResult delivery;
    LookupResult project;
    QString sheetPath; // the written JobDaten.txt
};

// The outcome of prepare job: the prepared job, or a German message naming what failed
// (the send must then stop; no job sheet is left behind).
struct PrepareResult {
    std::optional<PreparedJob> job;
    QString error;
    bool notWritable = false; // the database takes no write: the job must not be sent
    bool ok() const { return job.has_value(); }
};

// The outcome of record job.
struct RecordResult {
    bool ok = false;
    bool alreadyRecorded = false; // storeJobRows found the job stored before; nothing added
    bool writeRefused = false;    // the database took no write at all (held by another writer
                                  // beyond the wait, read-only): the next job fares no better
    qint32 firstLaufNr = 0;       // LaufNR of the job's first file row
    QString error;
};

// The values record job writes for one job, before they are fitted to the columns: the
// JobDaten row and one FileDaten row per file without its LaufNR, which is given when the
// rows are stored. Plain texts and numbers, so that a job can wait in a file.
struct JobRows {
    using Values = QList<QPair<QString, QVariant>>;
    qint32 jobNumber = 0;
    Values job;
    QList<Values> files;
};

// "Die Datenbank nimmt keinen Auftrag an, ..." with the file and the engine's reason: the job
// is refused before anything is sent.
QString notWritableText(const QString& databasePath, const QString& error);

JobRows jobRows(const compose::JobSnapshot& job, const MasterData& master,
                const PreparedJob& prepared, const QString& sendTime, const QDate& today,
                const QString& databasePath);

// The job records on the program-wide connection: prepare job before the archive is built,
// record job after the upload reached 100 %.
class JobStore {
public:
    explicit JobStore(const Database& db) : db_(db) {}

    // Next job number: highest non-zero JobNumber of the jobs and of the reservations + 1
    // (1 for none), found through the indexes. nullopt when the database cannot be queried.
    std::optional<qint32> nextJobNumber() const;
    // Finds the next job number and reserves it in one write transaction, so that no other
    // send, on this or another workstation, can take it; this is also the proof that the
    // database takes a write before anything is sent. nullopt with `error` when it does not
    // (read-only file or folder, held by another writer beyond the wait).
    std::optional<qint32> reserveJobNumber(QString* error) const;
    // Gives a reserved number back (the send failed); false with `error` when the
    // database refused, in which case the number is merely skipped.
    bool releaseJobNumber(qint32 number, QString* error = nullptr) const;
    // Next LaufNR: highest non-zero LaufNR + 1 (1 for none).
    std::optional<qint32> nextLaufNr() const;

    // Looks up a delivery address / project by its list label ("12 | Müller"). A label without
    // " | " means none: an empty result and no message. A number with no row shows
    // "Es konnte keine Lieferadresse zugewiesen werden!" / "Es konnte kein Projekt zugewiesen
    // werden!" (critical) and gives an empty result. nullopt when the query failed.
    std::optional<LookupResult> lookUpDelivery(const QString& label, Prompter& prompter) const;
    std::optional<LookupResult> lookUpProject(const QString& label, Prompter& prompter) const;

    // Prepare job: reserves the job number (unless the caller reserved `reservedNumber`
    // already), resolves delivery address and project, and writes the job sheet into
    // `clientDataFolder` + "/JobDaten.txt", replacing an old one. The sheet is written under a
    // temporary name and renamed, so it is either complete or absent. On failure the number
    // is given back.
    PrepareResult prepareJob(const compose::JobSnapshot& job, const MasterData& master,
                             const QString& sendTime, const QDate& today,
                             const QString& clientDataFolder, Prompter& prompter,
                             qint32 reservedNumber = 0) const;

    // Record job: the JobDaten row and one FileDaten row per file, all in one transaction
    // (all of the job's rows or none) that also ends the number's reservation. Values that do
    // not fit a column are left out; empty texts are stored as Null.
    RecordResult recordJob(const compose::JobSnapshot& job, const MasterData& master,
                           const PreparedJob& prepared, const QString& sendTime, const QDate& today,
                           const QString& databasePath) const;
    // Stores rows as record job does. With `unlessStored`, a job whose JobDaten row (same
    // number, date and time) is already there is not stored again (alreadyRecorded).
    RecordResult storeJobRows(const JobRows& rows, bool unlessStored = false) const;

private:
    const Database& db_;
};

// The logged-on user's and the computer's names as the job row stores them: at most 200
// characters, cut at the first NUL and trimmed; empty when the system does not tell.
QString systemUserName();
QString systemComputerName();
QString systemNameText(const QByteArray& raw);

// The number before the first " | " of a list label, read like a leading number ("12abc" is
// 12, no digits is 0); nullopt when the label has no " | ".
std::optional<qint32> labelNumber(const QString& label);

} // namespace kestro::jobdb
