#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace kestro::jobdb {

enum class Engine { Sqlite, Postgres };

// The few places where the embedded engine and a PostgreSQL server need different SQL. Every
// query of the job database is written once; where the engines differ it asks for the piece
// it needs here.
struct Dialect {
    Engine engine;
    // Starts a write transaction that holds the database's single write lock at once, so
    // that job numbers and LaufNR are taken by one writer at a time on every workstation.
    QStringList beginWrite;
    // Declared type of a long-integer, a sized text (%1 = size) and a memo column.
    QString longType;
    QString textType;
    QString memoType;
    // Extra column a server table gets that numbers its rows in the order they were added,
    // as SQLite's rowid does; the queries order and address rows by it under the same name.
    QString rowNumberColumn;
    // Null-safe equality between a column and a value.
    QString sameAs;
    // Appended to every LIKE: the server otherwise treats a backslash in the pattern as an
    // escape, which the embedded engine does not.
    QString likeTail;
    // Line feed in an SQL expression.
    QString lineFeed;
    // Whether the engine's LIKE folds A-Z by itself (the embedded engine's does).
    bool likeFoldsAscii;
    // Whether table and column names are stored in lower case (a server folds unquoted
    // names to lower case, so names are made so when its tables are built).
    bool lowerCaseNames;
};

const Dialect& dialectFor(Engine engine);
Engine engineOf(const QSqlDatabase& db);
inline const Dialect& dialectOf(const QSqlDatabase& db) {
    return dialectFor(engineOf(db));
}

// The key of the server's transaction lock that stands for the embedded engine's write lock.
inline constexpr qint64 kWriteLockKey = 0x4b6573747230; // "Kestr0"

} // namespace kestro::jobdb
