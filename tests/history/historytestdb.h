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
    QString costCentre = "KST 12";
};

class HistoryDb {
public:
    explicit HistoryDb(jobdb::Engine engine = jobdb::Engine::Sqlite)
        : path(dbtest::freshDatabank(engine, dir.path())) {
        ScriptedPrompter quiet;
        if (!jobdb::createAllTables(path, quiet))
            ADD_FAILURE() << "database not created";
    }

    void add(const HistoryJob& j) {
        // An empty text is stored as Null, as the program stores it.
        const auto text = [](const QString& s) {
            return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
        };
        dbtest::execSql(path,
                        "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, Name, "
                        "Datum, Uhrzeit, Memo, LieferNr, LieferName1) VALUES (?, ?, ?, "
                        "'6.12.2026 - 10 : 00', 'Muster GmbH', '06.12.26', '101500', ?, ?, ?)",
                        {j.number, j.costCentre, j.project, text(j.remarks), text(j.deliveryNumber),
                         text(j.deliveryName1)});
        for (int f = 0; f < j.files.size(); ++f)
            addFile(j.number, f + 1, j.files[f]);
    }

    void addFile(int job, int fileNumber, const QString& name) {
        dbtest::execSql(
            path,
            "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, "
            "FilePath, Anzahl, Color, Verarbeitung1, Verarbeitung2, Verarbeitung3) "
            "VALUES ((SELECT coalesce(max(LaufNR), 0) + 1 FROM FileDaten), ?, ?, ?, "
            "?, 2, 'farbig', 'heften', 'keine', 'falzen')",
            {job, fileNumber, name, QStringLiteral("/auftrag/%1/%2").arg(job).arg(name)});
    }

    qint64 count(const QString& sql) const {
        return dbtest::queryRows(path, sql).value(0).value(0).toLongLong();
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace kestro::test
