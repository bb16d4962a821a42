#include "jobdbtestutil.h"

#include "client/jobdb/rowvalues.h"
#include "client/jobdb/tablelayout.h"
#include "support/pgserver.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cstdio>
#include <cstdlib>

namespace kestro::dbtest {

using namespace kestro::jobdb;

namespace {

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "test setup failed: %s\n", qPrintable(what));
    std::abort();
}

QSqlQuery run(const Database& db, const QString& sql, const QVariantList& binds) {
    QSqlQuery q(db.connection());
    // A server prepares only queries and row changes; a statement without values runs as is.
    if (binds.isEmpty()) {
        if (!q.exec(sql))
            die(sql + QStringLiteral(": ") + q.lastError().text());
        return q;
    }
    if (!q.prepare(sql))
        die(sql + QStringLiteral(": ") + q.lastError().text());
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (!q.exec())
        die(sql + QStringLiteral(": ") + q.lastError().text());
    return q;
}

} // namespace

QString freshDatabank(Engine engine, const QString& folder) {
    if (engine == Engine::Sqlite)
        return folder + QStringLiteral("/jobs.mdb");
    QString why;
    test::PgServer* server = test::PgServer::shared(&why);
    if (!server) {
        ADD_FAILURE() << "PostgreSQL server not started: " << why.toStdString();
        return {};
    }
    static int counter = 0;
    return server->createDatabase(QStringLiteral("jobs%1").arg(++counter));
}

std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::Postgres ? "PostgreSQL" : "SQLite";
}

QList<OldTable> allTables() {
    QList<OldTable> out;
    for (const TableLayout& l : tableLayouts())
        out << OldTable{l.name, {}};
    return out;
}

void makeOldDatabase(const QString& path, const QList<OldTable>& tables,
                     const QStringList& versionRows) {
    Database db(path, Database::Mode::CreateIfMissing);
    if (!db.isOpen())
        die(db.errorText());
    for (const OldTable& t : tables) {
        const TableLayout* layout = findLayout(t.name);
        QStringList cols;
        for (const ColumnSpec& c : layout->columns) {
            if (t.dropColumns.contains(c.name))
                continue;
            // Older files declared their columns plainly; the rebuild must not rely on
            // the declared types matching.
            cols << quoted(c.name) + (c.type == ColumnType::Long ? QStringLiteral(" LONG")
                                                                 : QStringLiteral(" TEXT"));
        }
        run(db, QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(t.name), cols.join(',')), {});
        if (t.name == table::Version) {
            for (const QString& v : versionRows)
                run(db, QStringLiteral("INSERT INTO Version (Version) VALUES (?)"), {v});
        }
    }
}

void execSql(const QString& path, const QString& sql, const QVariantList& binds) {
    Database db(path);
    if (!db.isOpen())
        die(path + QStringLiteral(": ") + db.errorText());
    run(db, sql, binds);
}

QList<QVariantList> queryRows(const QString& path, const QString& sql, const QVariantList& binds) {
    Database db(path);
    if (!db.isOpen())
        die(path + QStringLiteral(": ") + db.errorText());
    QList<QVariantList> out;
    QSqlQuery q = run(db, sql, binds);
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

qint64 rowCount(const QString& path, const QString& table) {
    return queryRows(path, QStringLiteral("SELECT count(*) FROM %1").arg(quoted(table)))
        .value(0)
        .value(0)
        .toLongLong();
}

void seedJobs(const QString& path, int jobs, int filesPerJob) {
    Database db(path);
    if (!db.isOpen())
        die(db.errorText());
    run(db, QStringLiteral("BEGIN"), {});
    QSqlQuery job(db.connection());
    job.prepare(QStringLiteral(
        "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, \"User\", PCName, Name, "
        "Street, plz, Datum, Uhrzeit, Memo) VALUES (?, 'KST 12', ?, '6.12.2026 - 10 : 00', "
        "'anna', 'buero-3', 'Müller & Söhne', 'Hauptstraße 5', '80331 München', '06.12.26', "
        "'101500', ?)"));
    QSqlQuery file(db.connection());
    file.prepare(QStringLiteral(
        "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, FilePath, Anzahl, Color, "
        "Verarbeitung1, Verarbeitung2, Verarbeitung3, Datum) VALUES (?, ?, ?, ?, ?, 2, 'farbig', "
        "'heften', NULL, 'falzen', '06.12.2026')"));
    int lauf = 0;
    for (int j = 1; j <= jobs; ++j) {
        job.addBindValue(j);
        job.addBindValue(QStringLiteral("%1 | Projekt %1").arg(j % 50));
        job.addBindValue(QStringLiteral("Bemerkung zu Auftrag %1").arg(j));
        if (!job.exec())
            die(job.lastError().text());
        for (int f = 1; f <= filesPerJob; ++f) {
            file.addBindValue(++lauf);
            file.addBindValue(j);
            file.addBindValue(f);
            file.addBindValue(QStringLiteral("plan-%1-%2.pdf").arg(j).arg(f));
            file.addBindValue(
                QStringLiteral("/home/anna/Pläne/Auftrag %1/plan-%1-%2.pdf").arg(j).arg(f));
            if (!file.exec())
                die(file.lastError().text());
        }
    }
    run(db, QStringLiteral("COMMIT"), {});
}

QByteArray expectedFile(const QString& name) {
    QFile f(QStringLiteral(JOBDB_EXPECTED_DIR) + QLatin1Char('/') + name);
    if (!f.open(QIODevice::ReadOnly))
        die(QStringLiteral("missing expected file ") + name);
    return f.readAll();
}

} // namespace kestro::dbtest
