#pragma once

#include "client/jobdb/database.h"
#include "client/jobdb/jobrecords.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kestro::jobdb {

// Jobs that reached the print shop wait, from the moment the shop confirmed them until their
// record committed, so that neither a refused write nor a send killed in between loses one;
// a job that could not be recorded then waits in the client data folder, one file per job, until a
// later send or start records them under the number the shop already has. Their number stays
// reserved in the meantime, so no other job takes it.
//
// Each file is JSON: the database it belongs to (a server address without its password) and the
// job's rows as record job would have written them.

// The folder of the waiting jobs: client data folder + "/Nachzutragen".
QString pendingRecordsFolder(const QString& clientDataFolder);

// Keeps the rows of a job for `databasePath`; the path of the new file, or an empty text with
// `error` when it could not be written.
QString keepPendingRecord(const QString& clientDataFolder, const QString& databasePath,
                          const JobRows& rows, QString* error);

// What recordPendingJobs did.
struct PendingReport {
    QList<qint32> recorded; // job numbers now in the database
    QList<qint32> waiting;  // job numbers that still wait (the database refused the write)
    QStringList problems;   // files that could not be read or removed, for the log
};

// Records every waiting job of the database `db` (jobs of another database file stay where
// they are), each in its own transaction, and removes its file. A job found recorded already
// (the file outlived its commit, or another process recorded it at the same time) is not
// recorded twice. Each write waits at most `busyWaitMs` for another writer; the first
// refused write ends the run, and the jobs not tried yet wait on with it.
PendingReport recordPendingJobs(const Database& db, const QString& clientDataFolder,
                                int busyWaitMs = kBusyTimeoutMs);

// How many jobs wait to be recorded in the database `databank` (the same server whatever its
// password, or the same file).
int pendingJobCount(const QString& clientDataFolder, const QString& databank);

// Removes the file of a job that its own send has recorded; one that a replay of another
// process removed first is fine. False (logged) when it stays.
bool dropPendingRecord(const QString& path);

// The worker's messages: a recorded job, and a delivered job that waits to be recorded.
QString pendingRecordedText(qint32 jobNumber);
// "Auftrag 4 wartet weiter ..." / "Aufträge 4, 5 warten weiter ..." for the jobs not recorded.
QString stillWaitingText(const QList<qint32>& jobNumbers);
QString notRecordedText(qint32 jobNumber, const QString& archiveName, const QString& error,
                        const QString& keptError);

} // namespace kestro::jobdb
