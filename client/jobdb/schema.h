#pragma once

#include "client/jobdb/tablelayout.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace kestro {
class Prompter;
}

namespace kestro::jobdb {

class Database;

// The version text of this program ("1.0.41"), recorded in the Version table of every file it
// builds. A file recording another text is rebuilt at start-up.
QString programVersionText();

// The title of this subsystem's messages that name no other.
inline QString programTitle() {
    return QStringLiteral("KestroClient");
}

// Shows an engine error the way the database operations report one: "Fehler !!!", CR LF, the
// error number, a space, the description; critical icon; title "FEHLER...".
void showEngineError(Prompter& prompter, const QString& number, const QString& description);
void showEngineError(Prompter& prompter, const QSqlError& error);

// Builds the table in the connection's main file with the layout's columns, types and sizes
// (and its look-up indexes). Runs inside the caller's transaction when there is one.
bool buildTable(const QSqlDatabase& db, const TableLayout& layout, QSqlError* error);

// The version rebuild on a PostgreSQL server, in the caller's transaction: builds each table
// of the layouts that is missing, adds the columns a table lacks (rows keep their values)
// and records `versionText` as the one Version row. The rows stay where they are: a server
// table has no file to swap. False with `error` when the server refused.
bool completeServerTables(const Database& db, const QString& versionText, QString* error);

// The outcome of copying one table's rows from the attached file "old" into "main".
struct CopyCount {
    qint64 oldRows = 0;       // rows the old table holds (0 when it lacks the table)
    qint64 copiedRows = 0;    // rows added to the new table
    qint64 valuesLeftOut = 0; // values that did not fit a column of the current layout
};

// Copies every row of old.<table> into main.<table> in stored order: same-named columns are
// carried (converted to the column's type), a column the old table lacks stays empty, a
// value that does not fit its column is left out. For the Version table every row gets
// `versionText`. Answers false (with `error`) when the engine failed.
bool copyRows(const QSqlDatabase& db, const TableLayout& layout, const QString& versionText,
              CopyCount* count, QString* error);

// Builds `layout` in "main" and copies the rows of the same table in the attached file "old"
// into it; a table "old" lacks is built empty. Every row must arrive: a copy that fails or
// copies fewer rows than the old table holds is a failure. A Version table that ends up
// without a row gets one with `versionText`, so that the file is not taken for an old one
// at every start. Runs inside the caller's transaction. The empty text on success, else
// what went wrong (German, for the user).
QString buildAndCopyTable(const QSqlDatabase& db, const TableLayout& layout,
                          const QString& versionText);

// Create table: builds `table` in the file at `dbPath` (creating the file when missing). False
// when the table already existed or building failed (the engine error is shown). A new
// Version table gets its one row with `versionText`.
bool createTable(const QString& dbPath, const QString& table, Prompter& prompter,
                 const QString& versionText = programVersionText());

// Copy table: builds `table` in the file at `newPath` and fills it with every row of the same
// table in `oldPath`, all in one transaction. A missing or foreign old file yields an empty
// table. False (with `error`) when the table is unknown or already existed in the new file
// (nothing copied), or when building or copying failed (nothing of the table stays).
bool copyTable(const QString& newPath, const QString& oldPath, const QString& table, QString* error,
               const QString& versionText = programVersionText());

// Version check: true when the first Version row of the file, without trailing spaces, equals
// `versionText`. A missing, damaged or foreign file, a missing table or row: false.
bool versionMatches(const QString& dbPath, const QString& versionText = programVersionText());

// The layout of a table as the file stores it (names, type codes, sizes, in order), for
// checks and diagnostics; an empty column list when the table is missing.
TableLayout storedLayout(const QSqlDatabase& db, const QString& table);

} // namespace kestro::jobdb
