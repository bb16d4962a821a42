#include "client/jobdb/database.h"

#include "client/jobdb/jobdblog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace kestro::jobdb {
namespace {

QString nextConnectionName() {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("kestro.jobdb.%1").arg(++counter);
}

// Every SQLite file starts with these sixteen bytes; the header is 100 bytes long.
const QByteArray kSqliteMagic("SQLite format 3\0", 16);

bool execPragma(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

} // namespace

bool Database::looksUsable(const QString& path, QString* why) {
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("file does not exist"));
    if (!info.isFile())
        return fail(QStringLiteral("not a plain file"));
    if (info.size() < 100)
        return fail(QStringLiteral("file is empty or too short to be a database"));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read: ") + f.errorString());
    if (f.read(16) != kSqliteMagic)
        return fail(QStringLiteral("not an SQLite database"));
    return true;
}

Database::Database(const QString& path, Mode mode) : name_(nextConnectionName()), path_(path) {
    const QFileInfo info(path);
    const bool creating = mode == Mode::CreateIfMissing && !info.exists();
    if (!creating && !looksUsable(path, &error_)) {
        qCWarning(lcJobDb) << "database" << path << "not opened:" << error_;
        return;
    }
    if (creating && !info.absoluteDir().exists()) {
        error_ = QStringLiteral("folder does not exist");
        qCWarning(lcJobDb) << "database" << path << "not created:" << error_;
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open()) {
        error_ = db.lastError().text();
        qCWarning(lcJobDb) << "database" << path << "cannot be opened:" << error_;
        return;
    }
    // Reading the schema proves the file is a database and not merely one with a valid
    // header; the journal mode must stay DELETE for files on network shares.
    if (!execPragma(db, QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs), &error_) ||
        !execPragma(db, QStringLiteral("PRAGMA journal_mode = DELETE"), &error_) ||
        !execPragma(db, QStringLiteral("SELECT count(*) FROM sqlite_master"), &error_)) {
        qCWarning(lcJobDb) << "database" << path << "is not usable:" << error_;
        db.close();
        return;
    }
    open_ = true;
}

Database::~Database() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase Database::connection() const {
    return QSqlDatabase::database(name_, false);
}

bool Database::hasTable(const QString& table) const {
    if (!open_)
        return false;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(
        "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"));
    q.addBindValue(table);
    return q.exec() && q.next();
}

QStringList Database::columnsOf(const QString& table) const {
    QStringList out;
    if (!open_)
        return out;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
    q.addBindValue(table);
    if (!q.exec()) {
        qCWarning(lcJobDb) << "columns of" << table << "unreadable:" << q.lastError().text();
        return out;
    }
    while (q.next())
        out << q.value(0).toString();
    return out;
}

namespace {

void setBusyWait(const Database& db, int milliseconds) {
    if (!db.isOpen())
        return;
    QSqlDatabase connection = db.connection();
    QString error;
    if (!execPragma(connection, QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds),
                    &error))
        qCWarning(lcJobDb) << "wait for other writers not set:" << error;
}

} // namespace

BusyWait::BusyWait(const Database& db, int milliseconds) : db_(db) {
    setBusyWait(db_, milliseconds);
}

BusyWait::~BusyWait() {
    setBusyWait(db_, kBusyTimeoutMs);
}

WriteTransaction::WriteTransaction(const QSqlDatabase& db) : db_(db) {
    QSqlQuery q(db_);
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        active_ = true;
    } else {
        error_ = q.lastError().text();
        qCWarning(lcJobDb) << "transaction not started:" << error_;
    }
}

WriteTransaction::~WriteTransaction() {
    if (!active_)
        return;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("ROLLBACK")))
        qCWarning(lcJobDb) << "rollback failed:" << q.lastError().text();
}

bool WriteTransaction::commit() {
    if (!active_)
        return false;
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("COMMIT"))) {
        error_ = q.lastError().text();
        qCWarning(lcJobDb) << "commit failed:" << error_;
        return false;
    }
    active_ = false;
    return true;
}

} // namespace kestro::jobdb
