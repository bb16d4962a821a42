#include "client/jobdb/pendingrecords.h"

#include "client/jobdb/address.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "common/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>

namespace kestro::jobdb {
namespace {

// A waiting job is a few kilobytes; anything far larger in the folder is not one of ours.
constexpr qint64 kMaxPendingBytes = 64 * 1024 * 1024;

QJsonArray valuesToJson(const JobRows::Values& values) {
    QJsonArray out;
    for (const auto& [column, value] : values) {
        const QJsonValue v = value.typeId() == QMetaType::Int ? QJsonValue(value.toInt())
                                                              : QJsonValue(value.toString());
        out.append(QJsonArray{column, v});
    }
    return out;
}

std::optional<JobRows::Values> valuesFromJson(const QJsonValue& json) {
    if (!json.isArray())
        return std::nullopt;
    JobRows::Values out;
    for (const QJsonValue& pair : json.toArray()) {
        const QJsonArray p = pair.toArray();
        if (p.size() != 2 || !p.at(0).isString())
            return std::nullopt;
        const QJsonValue v = p.at(1);
        out << qMakePair(p.at(0).toString(),
                         v.isDouble() ? QVariant(v.toInt()) : QVariant(v.toString()));
    }
    return out;
}

struct PendingFile {
    QString databasePath;
    JobRows rows;
};

std::optional<PendingFile> readPending(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxPendingBytes), &parseError);
    const QJsonObject o = doc.object();
    PendingFile out;
    out.databasePath = o.value(QStringLiteral("database")).toString();
    out.rows.jobNumber = o.value(QStringLiteral("jobNumber")).toInt();
    const auto job = valuesFromJson(o.value(QStringLiteral("job")));
    if (parseError.error != QJsonParseError::NoError || out.databasePath.isEmpty() ||
        out.rows.jobNumber == 0 || !job) {
        *error = QStringLiteral("not a waiting job");
        return std::nullopt;
    }
    out.rows.job = *job;
    for (const QJsonValue& f : o.value(QStringLiteral("files")).toArray()) {
        const auto values = valuesFromJson(f);
        if (!values) {
            *error = QStringLiteral("not a waiting job");
            return std::nullopt;
        }
        out.rows.files << *values;
    }
    return out;
}

} // namespace

QString pendingRecordsFolder(const QString& clientDataFolder) {
    return paths::join(clientDataFolder, QStringLiteral("Nachzutragen"));
}

QString keepPendingRecord(const QString& clientDataFolder, const QString& databasePath,
                          const JobRows& rows, QString* error) {
    const QString folder = pendingRecordsFolder(clientDataFolder);
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Ordner %1 kann nicht angelegt werden").arg(folder);
        return {};
    }
    QJsonArray files;
    for (const JobRows::Values& f : rows.files)
        files.append(valuesToJson(f));
    // The password stays out of the file: the job is recorded through the address in use then.
    const QJsonObject o{{QStringLiteral("database"), shownDatabank(databasePath)},
                        {QStringLiteral("jobNumber"), rows.jobNumber},
                        {QStringLiteral("job"), valuesToJson(rows.job)},
                        {QStringLiteral("files"), files}};
    // A name of its own for every job: two sends may be waiting at once.
    const QString path =
        paths::join(folder, QStringLiteral("Auftrag-%1-%2.json")
                                .arg(rows.jobNumber)
                                .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).left(8)));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(o).toJson()) < 0 ||
        !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return {};
    }
    qCInfo(lcJobDb) << "job" << rows.jobNumber << "waits to be recorded in" << path;
    return path;
}

PendingReport recordPendingJobs(const Database& db, const QString& clientDataFolder,
                                int busyWaitMs) {
    PendingReport report;
    const QDir folder(pendingRecordsFolder(clientDataFolder));
    if (!folder.exists() || !db.isOpen())
        return report;
    const QString databaseKey = databaseIdentity(db.path());
    const JobStore store(db);
    const BusyWait wait(db, busyWaitMs);
    bool refused = false;
    for (const QString& name :
         folder.entryList({QStringLiteral("Auftrag-*.json")}, QDir::Files, QDir::Name)) {
        const QString path = folder.filePath(name);
        QString error;
        const auto pending = readPending(path, &error);
        if (!pending) {
            // Another process may have recorded and removed it a moment ago.
            if (QFile::exists(path))
                report.problems << path + QStringLiteral(": ") + error;
            continue;
        }
        if (databaseIdentity(pending->databasePath) != databaseKey)
            continue; // it waits for its own database
        if (refused) {
            report.waiting << pending->rows.jobNumber;
            continue;
        }
        const RecordResult r = store.storeJobRows(pending->rows, true);
        if (!r.ok) {
            // A database that refused one write refuses the next as well: the others are
            // not kept waiting for it again.
            qCWarning(lcJobDb) << "waiting job" << pending->rows.jobNumber
                               << "still not recorded:" << r.error;
            refused = r.writeRefused;
            report.waiting << pending->rows.jobNumber;
            continue;
        }
        if (r.alreadyRecorded)
            store.releaseJobNumber(pending->rows.jobNumber);
        else
            report.recorded << pending->rows.jobNumber;
        if (!dropPendingRecord(path))
            report.problems << path + QStringLiteral(": cannot be removed");
    }
    if (refused)
        qCWarning(lcJobDb) << "the database takes no write; jobs" << report.waiting
                           << "wait for the next send or start";
    for (const QString& p : report.problems)
        qCWarning(lcJobDb) << "waiting job:" << p;
    return report;
}

int pendingJobCount(const QString& clientDataFolder, const QString& databank) {
    const QDir folder(pendingRecordsFolder(clientDataFolder));
    const QString databaseKey = databaseIdentity(databank);
    int count = 0;
    for (const QString& name :
         folder.entryList({QStringLiteral("Auftrag-*.json")}, QDir::Files, QDir::Name)) {
        QString error;
        const auto pending = readPending(folder.filePath(name), &error);
        if (pending && databaseIdentity(pending->databasePath) == databaseKey)
            ++count;
    }
    return count;
}

bool dropPendingRecord(const QString& path) {
    if (QFile::remove(path) || !QFile::exists(path))
        return true;
    qCWarning(lcJobDb) << "recorded job's file stays:" << path;
    return false;
}

QString pendingRecordedText(qint32 jobNumber) {
    return QStringLiteral("Auftrag %1 wurde in der Datenbank nachgetragen.").arg(jobNumber);
}

QString stillWaitingText(const QList<qint32>& jobNumbers) {
    QStringList numbers;
    for (const qint32 n : jobNumbers)
        numbers << QString::number(n);
    return (jobNumbers.size() == 1 ? QStringLiteral("Auftrag %1 wartet")
                                   : QStringLiteral("Aufträge %1 warten"))
               .arg(numbers.join(QStringLiteral(", "))) +
           QStringLiteral(" weiter darauf, in der Datenbank gespeichert zu werden.");
}

QString notRecordedText(qint32 jobNumber, const QString& archiveName, const QString& error,
                        const QString& keptError) {
    QString text = QStringLiteral("Der Auftrag %1 (%2) ist bei der Druckerei angekommen, konnte "
                                  "aber nicht in der Datenbank gespeichert werden:\r%3\r")
                       .arg(jobNumber)
                       .arg(archiveName, error);
    if (keptError.isEmpty())
        return text + QStringLiteral("Er wird beim nächsten Senden oder Programmstart "
                                     "nachgetragen.");
    return text + QStringLiteral("Er konnte auch nicht zum Nachtragen aufbewahrt werden (%1). "
                                 "Bitte notieren Sie die Auftragsnummer.")
                      .arg(keptError);
}

} // namespace kestro::jobdb
