#pragma once

#include "client/jobdb/database.h"
#include "support/textprint.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace kestro::dbtest {

// A table of an older file: the current layout of `name` without `dropColumns`.
struct OldTable {
    QString name;
    QStringList dropColumns;
};

// Writes a database file the way an older program version left it: the listed tables, a
// Version table only when listed (with one row per entry of `versionRows`).
void makeOldDatabase(const QString& path, const QList<OldTable>& tables,
                     const QStringList& versionRows);
// The tables of the current layout but those named.
QList<OldTable> allTables(const QStringList& without = {});

// Runs one statement with bound values on the file; aborts the test program on failure.
void execSql(const QString& path, const QString& sql, const QVariantList& binds = {});
// The rows of a query, each as a list of values.
QList<QVariantList> queryRows(const QString& path, const QString& sql,
                              const QVariantList& binds = {});
qint64 rowCount(const QString& path, const QString& table);
// The rows of a query, each as its values joined by "|", a Null shown as "∅": one comparison
// checks a whole row.
QStringList rowTexts(const QString& path, const QString& sql, const QVariantList& binds = {});

// Fills JobDaten and FileDaten of an embedded file with `jobs` jobs of three files each.
void seedJobs(const QString& path, int jobs);

// A fresh, empty job database of that engine for one test: a path below `folder` for the
// embedded engine, or a new database on the test program's PostgreSQL server (started on
// first use; the test fails when it cannot start).
QString freshDatabank(jobdb::Engine engine, const QString& folder);
// "SQLite" / "PostgreSQL", for the names of tests run on both engines.
std::string engineName(const ::testing::TestParamInfo<jobdb::Engine>& info);
inline auto bothEngines() {
    return ::testing::Values(jobdb::Engine::Sqlite, jobdb::Engine::Postgres);
}

// The expected file of that name below tests/jobdb/expected.
QByteArray expectedFile(const QString& name);

} // namespace kestro::dbtest
