#pragma once

// A job database in a temporary folder with hand-made jobs, for the history tests.
#include "client/jobdb/creation.h"
#include "common/prompter.h"
#include "jobdb/jobdbtestutil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestro::test {

struct HistoryJob {
    int number;
    QString project;
    QString remarks;
    QStringList files; // file names; paths below /auftrag/<number>/
    QString deliveryNumber;
    QString deliveryName1;
    QString costCentre = QStringLiteral("KST 12");
};

class HistoryDb {
public:
    explicit HistoryDb(jobdb::Engine engine = jobdb::Engine::Sqlite) {
        path = dbtest::freshDatabank(engine, dir.path());
        ScriptedPrompter quiet;
        if (!jobdb::createAllTables(path, quiet))
            ADD_FAILURE() << "database not created";
    }

    void add(const HistoryJob& j) {
        dbtest::execSql(
            path,
            QStringLiteral("INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, Name, "
                           "Datum, Uhrzeit, Memo, LieferNr, LieferName1) VALUES "
                           "(?, ?, ?, '6.12.2026 - 10 : 00', 'Muster GmbH', '06.12.26', "
                           "'101500', ?, ?, ?)"),
            {j.number, j.costCentre, j.project, nullIfEmpty(j.remarks),
             nullIfEmpty(j.deliveryNumber), nullIfEmpty(j.deliveryName1)});
        int fileNumber = 0;
        for (const QString& f : j.files)
            addFile(j.number, ++fileNumber, f);
    }

    void addFile(int job, int fileNumber, const QString& name,
                 const QString& fullPath = QString()) {
        dbtest::execSql(
            path,
            QStringLiteral("INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, "
                           "FilePath, Anzahl, Color, Verarbeitung1, Verarbeitung2, "
                           "Verarbeitung3) VALUES ((SELECT coalesce(max(LaufNR), 0) + 1 FROM "
                           "FileDaten), ?, ?, ?, ?, 2, 'farbig', 'heften', 'keine', 'falzen')"),
            {job, fileNumber, name,
             fullPath.isEmpty() ? QStringLiteral("/auftrag/%1/%2").arg(job).arg(name) : fullPath});
    }

    qint64 count(const QString& sql, const QVariantList& binds = {}) const {
        return dbtest::queryRows(path, sql, binds).value(0).value(0).toLongLong();
    }

    QTemporaryDir dir;
    QString path;

private:
    static QVariant nullIfEmpty(const QString& s) {
        return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
    }
};

} // namespace kestro::test
