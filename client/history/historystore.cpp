#include "client/history/historystore.h"

#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/tablelayout.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

Q_LOGGING_CATEGORY(lcHistory, "kestro.history")

namespace kestro::history {
namespace {

using jobdb::cleanText;

const QString kJobColumns = QStringLiteral(
    "JobNumber, Kostenstelle, Projekt, Termin, Name, Street, plz, LieferNr, LieferName1, "
    "LieferName2, LieferName3, LieferStreet, LieferOrt, LieferAnspr, Datum, Uhrzeit, Memo");

StoredJob jobFrom(const QSqlQuery& q) {
    QString v[17];
    for (int i = 0; i < 17; ++i)
        v[i] = cleanText(q.value(i));
    return {v[0], v[1],  v[2],  v[3],  v[4],  v[5],  v[6],  v[7], v[8],
            v[9], v[10], v[11], v[12], v[13], v[14], v[15], v[16]};
}

QString failed(const QSqlQuery& q, const char* what) {
    QString text = q.lastError().text();
    if (text.trimmed().isEmpty())
        text = QStringLiteral("unknown engine error");
    qCWarning(lcHistory) << what << text;
    return text;
}

// True when the connection is open; otherwise `out` says so.
template <typename Result> bool isOpen(const jobdb::Database& db, Result& out) {
    if (!db.isOpen())
        out.error = QStringLiteral("Die Datenbank ist nicht geöffnet: ") + db.path();
    return db.isOpen();
}

} // namespace

Read<std::optional<qint32>> HistoryStore::highestJobNumber() const {
    Read<std::optional<qint32>> out;
    if (!isOpen(db_, out))
        return out;
    QSqlQuery q(db_.connection());
    if (!q.exec(QStringLiteral("SELECT max(JobNumber) FROM JobDaten"))) {
        out.error = failed(q, "highest job number unreadable:");
        return out;
    }
    if (q.next() && !q.value(0).isNull())
        out.value = static_cast<qint32>(q.value(0).toLongLong());
    return out;
}

Read<std::optional<StoredJob>> HistoryStore::job(qint32 number) const {
    Read<std::optional<StoredJob>> out;
    if (!isOpen(db_, out))
        return out;
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM JobDaten WHERE JobNumber = ? ORDER BY rowid LIMIT 1")
                  .arg(kJobColumns));
    q.addBindValue(number);
    if (!q.exec()) {
        out.error = failed(q, "job unreadable:");
        return out;
    }
    if (q.next())
        out.value = jobFrom(q);
    return out;
}

Read<std::optional<qint32>> HistoryStore::nearestJobNumber(qint32 from, qint32 to) const {
    Read<std::optional<qint32>> out;
    if (!isOpen(db_, out))
        return out;
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(from <= to ? QStringLiteral("SELECT min(JobNumber) FROM JobDaten "
                                          "WHERE JobNumber BETWEEN ? AND ?")
                         : QStringLiteral("SELECT max(JobNumber) FROM JobDaten "
                                          "WHERE JobNumber BETWEEN ? AND ?"));
    q.addBindValue(qMin(from, to));
    q.addBindValue(qMax(from, to));
    if (!q.exec()) {
        out.error = failed(q, "job numbers unreadable:");
        return out;
    }
    if (q.next() && !q.value(0).isNull())
        out.value = static_cast<qint32>(q.value(0).toLongLong());
    return out;
}

Read<QList<compose::FileRow>> HistoryStore::files(qint32 number) const {
    Read<QList<compose::FileRow>> out;
    if (!isOpen(db_, out))
        return out;
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT FileNumber, Filename, Anzahl, Color, Verarbeitung1, "
                             "Verarbeitung2, Verarbeitung3, FilePath FROM FileDaten "
                             "WHERE JobNumber = ? ORDER BY LaufNR, rowid"));
    q.addBindValue(number);
    if (!q.exec()) {
        out.error = failed(q, "files unreadable:");
        return out;
    }
    while (q.next())
        out.value.append({cleanText(q.value(0)), cleanText(q.value(1)), cleanText(q.value(2)),
                          cleanText(q.value(3)), cleanText(q.value(4)), cleanText(q.value(5)),
                          cleanText(q.value(6)), cleanText(q.value(7))});
    return out;
}

Read<QList<StoredJobWithFiles>> HistoryStore::latestJobs(int limit) const {
    Read<QList<StoredJobWithFiles>> out;
    if (!isOpen(db_, out))
        return out;
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM JobDaten ORDER BY JobNumber DESC, rowid DESC "
                             "LIMIT ?")
                  .arg(kJobColumns));
    q.addBindValue(limit > 0 ? limit : -1);
    if (!q.exec()) {
        out.error = failed(q, "jobs unreadable:");
        return out;
    }
    while (q.next())
        out.value.append({jobFrom(q), {}});
    for (StoredJobWithFiles& j : out.value) {
        auto f = files(j.job.jobNumber.toInt());
        if (!f.ok()) {
            out.error = f.error;
            return out;
        }
        j.files = std::move(f.value);
    }
    return out;
}

DeleteOutcome HistoryStore::deleteJob(qint32 number) const {
    DeleteOutcome out;
    if (!isOpen(db_, out))
        return out;
    const QSqlDatabase db = db_.connection();
    jobdb::WriteTransaction tx(db);
    if (!tx.isActive()) {
        out.error = tx.errorText();
        return out;
    }
    QSqlQuery q(db);
    // Only the first job row goes, as the worker saw it; two workstations sharing a file
    // can have given one number twice.
    q.prepare(QStringLiteral("DELETE FROM JobDaten WHERE rowid = (SELECT rowid FROM JobDaten "
                             "WHERE JobNumber = ? ORDER BY rowid LIMIT 1)"));
    q.addBindValue(number);
    if (!q.exec()) {
        out.error = failed(q, "job not deleted:");
        return out;
    }
    if (q.numRowsAffected() <= 0)
        return out; // no such job: its number's file rows stay, nothing changed
    q.prepare(QStringLiteral("DELETE FROM FileDaten WHERE JobNumber = ?"));
    q.addBindValue(number);
    if (!q.exec()) {
        out.error = failed(q, "files not deleted:");
        return out;
    }
    const int filesDeleted = q.numRowsAffected();
    if (!tx.commit()) {
        out.error = tx.errorText();
        return out;
    }
    out.jobFound = true;
    out.filesDeleted = filesDeleted;
    qCInfo(lcHistory) << "job" << number << "deleted with" << filesDeleted << "file rows";
    return out;
}

compose::JobSnapshot reloadedJob(const StoredJob& job, const QList<compose::FileRow>& files) {
    compose::JobSnapshot out;
    out.files = files;
    out.remarks = job.remarks;
    if (!job.deliveryNumber.isEmpty())
        out.delivery = jobdb::listLabel(job.deliveryNumber, job.deliveryName1);
    out.project = job.project;
    return out;
}

} // namespace kestro::history
