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

// True when both index tables are in the file and their triggers sit on the indexed tables.
bool hasSearchIndex(const QSqlDatabase& db);

// Builds the index tables, fills them from the rows already there and adds the triggers, in
// one transaction; nothing happens when the index is complete and its stamps match the
// tables. An index that no longer fits its table (rows renumbered by a dump read back,
// rows written while its triggers sat on a table renamed aside) is built afresh. False (with
// `error`) when the engine refused, for example on a read-only file; the file is then unchanged.
bool ensureSearchIndex(const QSqlDatabase& db, QString* error = nullptr);

} // namespace kestro::jobdb
