#pragma once

#include "client/jobdb/jobrecords.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kestro::jobdb {

class Database;

// Jobs that reached the print shop but could not be recorded (the database refused the write
// after the upload) wait in the client data folder, one file per job, until a later send or
// start records them under the number the shop already has. Their number stays reserved in
// the meantime, so no other job takes it.
//
// Each file is JSON: the database it belongs to and the job's rows as record job would have
// written them.

// The folder of the waiting jobs: client data folder + "/Nachzutragen".
QString pendingRecordsFolder(const QString& clientDataFolder);

// Keeps the rows of a job for `databasePath`; the path of the new file, or an empty text with
// `error` when it could not be written.
QString keepPendingRecord(const QString& clientDataFolder, const QString& databasePath,
                          const JobRows& rows, QString* error);

// What recordPendingJobs did.
struct PendingReport {
    QList<qint32> recorded; // job numbers now in the database
    QList<qint32> waiting;  // job numbers that still wait (the database still refuses)
    QStringList problems;   // files that could not be read or removed, for the log
};

// Records every waiting job of the database `db` (jobs of another database file stay where
// they are), each in its own transaction, and removes its file. A job found recorded already
// (the file outlived its commit) is not recorded twice.
PendingReport recordPendingJobs(const Database& db, const QString& clientDataFolder);

// The worker's messages: a recorded job, and a delivered job that waits to be recorded.
QString pendingRecordedText(qint32 jobNumber);
QString notRecordedText(qint32 jobNumber, const QString& archiveName, const QString& error,
                        const QString& keptError);

} // namespace kestro::jobdb
