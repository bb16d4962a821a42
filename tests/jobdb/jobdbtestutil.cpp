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
    bool ok = binds.isEmpty() ? q.exec(sql) : q.prepare(sql);
    if (ok && !binds.isEmpty()) {
        for (const QVariant& v : binds)
            q.addBindValue(v);
        ok = q.exec();
    }
    if (!ok)
        die(sql + ": " + q.lastError().text());
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

QList<OldTable> allTables(const QStringList& without) {
    QList<OldTable> out;
    for (const TableLayout& l : tableLayouts())
        if (!without.contains(l.name))
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

QStringList rowTexts(const QString& path, const QString& sql, const QVariantList& binds) {
    QStringList out;
    for (const QVariantList& row : queryRows(path, sql, binds)) {
        QStringList values;
        for (const QVariant& v : row)
            values << (v.isNull() ? QStringLiteral("∅") : v.toString());
        out << values.join(QLatin1Char('|'));
    }
    return out;
}

void seedJobs(const QString& path, int jobs) {
    // One statement per table, so that tens of thousands of rows take moments.
    const QString numbers =
        QStringLiteral("WITH RECURSIVE n(j) AS (SELECT 1 UNION ALL SELECT j + 1 "
                       "FROM n WHERE j < %1) ")
            .arg(jobs);
    execSql(path,
            numbers + QStringLiteral(
                          "INSERT INTO JobDaten (JobNumber, Kostenstelle, Projekt, Termin, "
                          "\"User\", PCName, Name, Street, plz, Datum, Uhrzeit, Memo) SELECT "
                          "j, 'KST 12', (j % 50) || ' | Projekt ' || (j % 50), '6.12.2026 - "
                          "10 : 00', 'anna', 'buero-3', 'Müller & Söhne', 'Hauptstraße 5', "
                          "'80331 München', '06.12.26', '101500', 'Bemerkung zu Auftrag ' || j "
                          "FROM n"));
    execSql(path,
            numbers + QStringLiteral(
                          "INSERT INTO FileDaten (LaufNR, JobNumber, FileNumber, Filename, "
                          "FilePath, Anzahl, Color, Verarbeitung1, Verarbeitung2, "
                          "Verarbeitung3, Datum) SELECT 3 * j + f - 3, j, f, 'plan-' || j || "
                          "'-' || f || '.pdf', '/home/anna/Pläne/Auftrag ' || j || '/plan-' || "
                          "j || '-' || f || '.pdf', 2, 'farbig', 'heften', NULL, 'falzen', "
                          "'06.12.2026' FROM n, (SELECT 1 AS f UNION ALL SELECT 2 UNION ALL "
                          "SELECT 3) ORDER BY j, f"));
}

QByteArray expectedFile(const QString& name) {
    QFile f(JOBDB_EXPECTED_DIR "/" + name);
    if (!f.open(QIODevice::ReadOnly))
        die("missing expected file " + name);
    return f.readAll();
}

} // namespace kestro::dbtest
