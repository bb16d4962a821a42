#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace kestro::jobdb {

// A substring index over the texts the job search looks at, so that a search need not
// read every job row. It is an accelerator only: the search still tests every candidate
// with its own rule, so a missing or stale index costs time, never a hit.
//
// Two FTS5 tables with the trigram tokenizer (which folds case for all of Latin-1): one row
// per JobDaten row holding the fourteen searched columns joined by line feeds, one row per
// FileDaten row holding its file name, each under the rowid of the row it indexes. Triggers
// on JobDaten and FileDaten keep them current for every writer of the file, other programs
// included, using only what SQLite itself provides, and keep a stamp of each table (row
// count, sum of rowids) that tells at opening whether the index still fits the table.
namespace searchindex {
inline const QString JobTable = QStringLiteral("JobDatenSuche");
inline const QString FileTable = QStringLiteral("FileDatenSuche");
// Row count and sum of rowids of each indexed table, kept by the same triggers.
inline const QString StampTable = QStringLiteral("SucheStand");
} // namespace searchindex

// The fourteen JobDaten columns the job search looks at, in the search's order.
const QStringList& searchedJobColumns();

// The search's case folding: A-Z, U+00C0 to U+00DE without U+00D7 (the multiplication sign)
// to their small letters, and U+1E9E (capital sharp s) to U+00DF. Every character stays one
// character.
QString foldForSearch(const QString& text);

// On a PostgreSQL server the index is a trigram index (pg_trgm) over the folded, joined
// texts, and the folding is the SQL function kestro_fold(text), made with the tables from
// the same rule. This is that joined text of the job row (or, with `files`, of the file row)
// under the alias `row`, as the index holds it: a search narrows by it before its own test.
QString serverSearchText(const QString& row, bool files);
// The statement that makes (or replaces) kestro_fold() on a server: a translate() over every
// character the rule changes, so that the server folds exactly as foldForSearch() does.
QString serverFoldFunctionSql();

// True when both index tables are in the file and their triggers sit on the indexed tables.
bool hasSearchIndex(const QSqlDatabase& db);

// Builds the index tables, fills them from the rows already there and adds the triggers, in
// one transaction; nothing happens when the index is complete and its stamps match the
// tables. An index that no longer fits its table (rows renumbered by a dump read back,
// rows written while its triggers sat on a table renamed aside) is built afresh. False (with
// `error`) when the engine refused, for example on a read-only file; the file is then unchanged.
// On a server: makes kestro_fold() and, where pg_trgm is there or may be installed, the two
// trigram indexes; without the extension the search reads every row, with the same hits.
bool ensureSearchIndex(const QSqlDatabase& db, QString* error = nullptr);

} // namespace kestro::jobdb
