#pragma once

#include "client/jobdb/dialect.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

struct sqlite3;

namespace kestro::jobdb {

// How long a write waits for another writer (another workstation, another send) before the
// engine gives up with "database is locked".
inline constexpr int kBusyTimeoutMs = 10000;

// One open connection to a job database file, or to a PostgreSQL server when `path` is a
// postgresql:// address (see address.h); the server waits as long for a lock. Every object has its
// own connection name, so the program-wide connection, the master-data routines and a second
// process can all hold the same file at once. The file is shared like the Jet file it replaces: the
// engine waits up to ten seconds for another writer instead of failing, and the rollback journal
// stays in DELETE mode (never WAL, which does not work on network shares).
//
// A path that is missing (when not asked to create), a folder, an empty file, or a file
// that is not an SQLite database does not open: isOpen() is false, errorText() says why and
// a log line is written. Nothing here ever crashes on a bad file.
class Database {
public:
    // ReadOnly opens a file so that nothing, not even its journal, is written.
    enum class Mode { ExistingOnly, CreateIfMissing, ReadOnly };

    explicit Database(const QString& path, Mode mode = Mode::ExistingOnly);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool isOpen() const { return open_; }
    Engine engine() const { return engine_; }
    QString path() const { return path_; }
    QString errorText() const { return error_; }
    // The Qt connection; use it only on the thread that made this object.
    QSqlDatabase connection() const;

    bool hasTable(const QString& table) const;
    // Column names of a table as stored in the file, in order; empty when it is missing.
    QStringList columnsOf(const QString& table) const;

    // Answers whether a file at `path` looks like a database this class can open, without
    // opening it; `why` receives the reason when not.
    static bool looksUsable(const QString& path, QString* why = nullptr);

private:
    // Opens a postgresql:// address with the server driver.
    void openServer();

    QString name_;
    QString path_;
    Engine engine_ = Engine::Sqlite;
    QString error_;
    bool open_ = false;
};

// The engine's handle of an SQLite connection; nullptr for any other.
sqlite3* sqliteHandle(const QSqlDatabase& db);

// Puts the job database's wait for other writers (up to kBusyTimeoutMs, or what a BusyWait
// set) back on an SQLite connection of a Database, after someone replaced it.
void installLockWait(const QSqlDatabase& db);

// "Die Datenbank wurde inzwischen ... umgebaut": a write on a connection whose file a rebuild
// (on this or another workstation) has renamed aside and replaced.
QString swappedFileText();

// A write transaction that takes the file's write lock at once (BEGIN IMMEDIATE), so that two
// processes never deadlock upgrading read locks. Rolled back unless commit() succeeded. Not
// started (swappedFileText()) when the connection's file has been swapped by a rebuild.
// Deferred is for a file this process alone writes while an attached one is held by the
// caller for writing: it takes no lock until the first write, so the attached file is only
// read.
class WriteTransaction {
public:
    enum class Start { Immediate, Deferred };
    explicit WriteTransaction(const QSqlDatabase& db, Start start = Start::Immediate);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool isActive() const { return active_; }
    bool commit();
    QString errorText() const { return error_; }

private:
    QSqlDatabase db_;
    bool active_ = false;
    QString error_;
};

// Shortens (or lengthens) the wait for another writer on one connection while it lives, for
// work that may as well be done later than hold the caller up; the usual wait returns after.
class BusyWait {
public:
    BusyWait(const Database& db, int milliseconds);
    ~BusyWait();
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

private:
    const Database& db_;
};

} // namespace kestro::jobdb
