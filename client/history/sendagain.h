#pragma once

#include "client/compose/jobsnapshot.h"

#include <QDate>
#include <QString>
#include <optional>

namespace kestro::jobdb {
class Database;
}

namespace kestro::history {

// An earlier job made ready to be sent again, as "Laden" followed by "FTP-Senden" in a
// freshly opened main window would send it: the stored files with their settings (read
// from their stored paths), remarks, delivery address and project; the deadline is the
// fresh window's (today, no time chosen).
struct JobToSendAgain {
    std::optional<compose::JobSnapshot> job;
    QString error; // German, naming the job or the file when the job cannot go
};

JobToSendAgain jobToSendAgain(const jobdb::Database& db, qint32 jobNumber, const QDate& today);

} // namespace kestro::history
