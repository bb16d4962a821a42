#include "client/jobdb/database.h"

#include "client/jobdb/address.h"
#include "client/jobdb/dialect.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/serverconnection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>

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

// The file each open connection opened, by device and inode: a rebuild on another
// workstation renames it aside and puts the rebuilt file in its place, and a connection
// still holding the old one must not write there.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileIdOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

QMutex openedFilesLock;
QHash<QString, FileId>& openedFiles() {
    static QHash<QString, FileId> files;
    return files;
}

// How long a connection waits for another writer, and since when it waits.
struct LockWait {
    int timeoutMs = kBusyTimeoutMs;
    QElapsedTimer waiting;
};

QHash<QString, std::shared_ptr<LockWait>>& lockWaits() {
    static QHash<QString, std::shared_ptr<LockWait>> waits;
    return waits;
}

// SQLite's own wait backs off to 100 ms between tries, so with several workstations writing
// one that has waited long keeps losing the lock to those that just came and can be told
// "database is locked" while the others go on. Short, jittered tries keep every waiting
// writer in the race, up to the same time-out.
int waitForWriter(void* state, int attempt) {
    auto* wait = static_cast<LockWait*>(state);
    if (attempt == 0)
        wait->waiting.start();
    if (wait->waiting.elapsed() >= wait->timeoutMs)
        return 0;
    sqlite3_sleep(1 + int(QRandomGenerator::global()->bounded(4)));
    return 1;
}

// The connections with a write transaction under way (guarded by openedFilesLock).
QSet<QString>& writingConnections() {
    static QSet<QString> names;
    return names;
}

bool inWriteTransaction(const QString& connectionName) {
    QMutexLocker lock(&openedFilesLock);
    return writingConnections().contains(connectionName);
}

void noteWriting(const QString& connectionName, bool writing) {
    QMutexLocker lock(&openedFilesLock);
    if (writing)
        writingConnections().insert(connectionName);
    else
        writingConnections().remove(connectionName);
}

// False when the file at the connection's path is no longer the one it opened.
bool stillTheOpenedFile(const QSqlDatabase& db) {
    std::optional<FileId> opened;
    {
        QMutexLocker lock(&openedFilesLock);
        const auto it = openedFiles().constFind(db.connectionName());
        if (it == openedFiles().cend())
            return true;
        opened = *it;
    }
    return fileIdOf(db.databaseName()) == opened;
}

} // namespace

sqlite3* sqliteHandle(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.constData());
}

void installLockWait(const QSqlDatabase& db) {
    sqlite3* handle = sqliteHandle(db);
    if (!handle)
        return;
    std::shared_ptr<LockWait> wait;
    {
        QMutexLocker lock(&openedFilesLock);
        std::shared_ptr<LockWait>& slot = lockWaits()[db.connectionName()];
        if (!slot)
            slot = std::make_shared<LockWait>();
        wait = slot;
    }
    sqlite3_busy_handler(handle, &waitForWriter, wait.get());
}

QString swappedFileText() {
    return QStringLiteral("Die Datenbank wurde inzwischen auf eine neue Programmversion umgebaut. "
                          "Bitte starten Sie das Programm neu.");
}

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
    if (isServerAddress(path)) {
        openServer();
        return;
    }
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
    const bool readOnly = mode == Mode::ReadOnly;
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                             .arg(kBusyTimeoutMs)
                             .arg(readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!db.open()) {
        error_ = db.lastError().text();
        qCWarning(lcJobDb) << "database" << path << "cannot be opened:" << error_;
        return;
    }
    // Reading the schema proves the file is a database and not merely one with a valid
    // header; the journal mode must stay DELETE for files on network shares.
    installLockWait(db);
    if ((!readOnly && !execPragma(db, QStringLiteral("PRAGMA journal_mode = DELETE"), &error_)) ||
        !execPragma(db, QStringLiteral("SELECT count(*) FROM sqlite_master"), &error_)) {
        qCWarning(lcJobDb) << "database" << path << "is not usable:" << error_;
        db.close();
        return;
    }
    if (const auto id = fileIdOf(path)) {
        QMutexLocker lock(&openedFilesLock);
        openedFiles().insert(name_, *id);
    }
    open_ = true;
}

void Database::openServer() {
    engine_ = Engine::Postgres;
    const auto address = parseServerAddress(path_, &error_);
    if (!address) {
        qCWarning(lcJobDb) << "database" << shownDatabank(path_) << "not opened:" << error_;
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    if (!db.isValid()) {
        error_ = QStringLiteral("Der PostgreSQL-Treiber (libqt6sql6-psql) ist nicht installiert.");
        qCWarning(lcJobDb) << "database" << shownDatabank(path_) << "not opened:" << error_;
        return;
    }
    db.setHostName(address->host);
    db.setPort(address->port);
    db.setUserName(address->user);
    // Without a password in the address libpq looks in ~/.pgpass.
    if (!address->password.isEmpty())
        db.setPassword(address->password);
    db.setDatabaseName(address->databaseName);
    db.setConnectOptions(serverConnectOptions(*address));
    if (!db.open()) {
        error_ = db.lastError().text();
        qCWarning(lcJobDb) << "database" << shownDatabank(path_) << "cannot be opened:" << error_;
        return;
    }
    // A lock held by another workstation is waited for as long as the embedded engine waits
    // for a file lock; the texts are compared and folded as UTF-8.
    QSqlQuery q(db);
    if (!startServerSession(db, kBusyTimeoutMs, &error_) ||
        !q.exec(QStringLiteral("SHOW server_encoding")) || !q.next()) {
        if (error_.isEmpty())
            error_ = q.lastError().text();
        qCWarning(lcJobDb) << "database" << shownDatabank(path_) << "is not usable:" << error_;
        db.close();
        return;
    }
    if (q.value(0).toString().compare(QLatin1String("UTF8"), Qt::CaseInsensitive) != 0) {
        error_ = QStringLiteral("Die Datenbank ist nicht in UTF8 angelegt (%1); bitte mit "
                                "ENCODING 'UTF8' anlegen.")
                     .arg(q.value(0).toString());
        qCWarning(lcJobDb) << "database" << shownDatabank(path_) << "not usable:" << error_;
        db.close();
        return;
    }
    watchServerConnection(db);
    open_ = true;
}

Database::~Database() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (sqlite3* handle = sqliteHandle(db))
            sqlite3_busy_handler(handle, nullptr, nullptr);
        QMutexLocker lock(&openedFilesLock);
        openedFiles().remove(name_);
        lockWaits().remove(name_);
    }
    unwatchServerConnection(name_);
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase Database::connection() const {
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    // A workstation keeps its connection all day; a server restarted in between ended it.
    // Every statement asks for the connection first, so an ended one is opened again here,
    // once, before the statement fails on it; never inside a write transaction, whose
    // earlier statements died with the old connection.
    if (engine_ == Engine::Postgres && open_ && serverConnectionLost(db) &&
        !inWriteTransaction(name_)) {
        qCWarning(lcJobDb) << "the server ended the connection to" << shownDatabank(path_)
                           << "; opening it again";
        unwatchServerConnection(name_);
        db.close();
        QString error;
        if (!db.open() || !startServerSession(db, kBusyTimeoutMs, &error))
            qCWarning(lcJobDb) << "connection to" << shownDatabank(path_)
                               << "not opened again:" << db.lastError().text() << error;
        else
            watchServerConnection(db);
    }
    return db;
}

bool Database::hasTable(const QString& table) const {
    if (!open_)
        return false;
    QSqlQuery q(connection());
    q.prepare(engine_ == Engine::Postgres
                  ? QStringLiteral("SELECT 1 FROM information_schema.tables WHERE table_schema = "
                                   "current_schema() AND table_name = lower(?)")
                  : QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name "
                                   "= ? COLLATE NOCASE"));
    q.addBindValue(table);
    return q.exec() && q.next();
}

QStringList Database::columnsOf(const QString& table) const {
    QStringList out;
    if (!open_)
        return out;
    QSqlQuery q(connection());
    q.prepare(engine_ == Engine::Postgres
                  ? QStringLiteral("SELECT column_name FROM information_schema.columns WHERE "
                                   "table_schema = current_schema() AND table_name = lower(?) "
                                   "AND column_name <> 'rowid' ORDER BY ordinal_position")
                  : QStringLiteral("SELECT name FROM pragma_table_info(?)"));
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
    if (db.engine() == Engine::Sqlite) {
        QMutexLocker lock(&openedFilesLock);
        if (const auto wait = lockWaits().value(connection.connectionName()))
            wait->timeoutMs = milliseconds;
        return;
    }
    QString error;
    if (!execPragma(connection, QStringLiteral("SET lock_timeout = %1").arg(milliseconds), &error))
        qCWarning(lcJobDb) << "wait for other writers not set:" << error;
}

} // namespace

BusyWait::BusyWait(const Database& db, int milliseconds) : db_(db) {
    setBusyWait(db_, milliseconds);
}

BusyWait::~BusyWait() {
    setBusyWait(db_, kBusyTimeoutMs);
}

WriteTransaction::WriteTransaction(const QSqlDatabase& db, Start start) : db_(db) {
    noteWriting(db_.connectionName(), true);
    QSqlQuery q(db_);
    const QStringList begin =
        start == Start::Deferred ? QStringList{QStringLiteral("BEGIN")} : dialectOf(db_).beginWrite;
    for (const QString& sql : begin) {
        if (!q.exec(sql)) {
            error_ = q.lastError().text();
            qCWarning(lcJobDb) << "transaction not started:" << error_;
            if (active_)
                q.exec(QStringLiteral("ROLLBACK"));
            active_ = false;
            return;
        }
        active_ = true;
    }
    // Holding the write lock, the file at the path cannot change any more: a connection on
    // a file that was swapped out writes nothing.
    if (active_ && start == Start::Immediate && dialectOf(db_).engine == Engine::Sqlite &&
        !stillTheOpenedFile(db_)) {
        q.exec(QStringLiteral("ROLLBACK"));
        active_ = false;
        error_ = swappedFileText();
        qCWarning(lcJobDb) << "file" << db_.databaseName() << "was swapped by a rebuild";
    }
}

WriteTransaction::~WriteTransaction() {
    noteWriting(db_.connectionName(), false);
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
