#include "client/jobdb/serverconnection.h"

#include "client/jobdb/jobdblog.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <condition_variable>
#include <cstring>
#include <libpq-fe.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace kestro::jobdb {
namespace {

PGconn* handleOf(const QSqlDatabase& db) {
    if (!db.isValid() || !db.driver())
        return nullptr;
    // The driver hands out libpq's connection under the name of its struct.
    const QVariant h = db.driver()->handle();
    if (!h.isValid() ||
        (qstrcmp(h.typeName(), "pg_conn*") != 0 && qstrcmp(h.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(h.constData());
}

QString quotedOption(const QString& key, const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
    return key + QStringLiteral("='") + v + QLatin1Char('\'');
}

// Both ends of a TCP line: libpq closes its socket when the line breaks, and the number
// may then be handed to any other socket of the process (an FTP upload, the mail). The watch
// shuts down only the line it was given.
struct LineEnds {
    sockaddr_storage local{};
    sockaddr_storage peer{};
};

std::optional<LineEnds> lineEndsOf(int fd) {
    LineEnds ends;
    socklen_t localSize = sizeof ends.local;
    socklen_t peerSize = sizeof ends.peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ends.local), &localSize) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&ends.peer), &peerSize) != 0)
        return std::nullopt;
    return ends;
}

bool sameLine(const LineEnds& a, const LineEnds& b) {
    return std::memcmp(&a.local, &b.local, sizeof a.local) == 0 &&
           std::memcmp(&a.peer, &b.peer, sizeof a.peer) == 0;
}

struct WatchedLine {
    int fd = -1;
    LineEnds ends;
};

// The lines being watched, by connection name, and the one thread that watches them.
class StallWatch {
public:
    static StallWatch& instance() {
        static StallWatch watch;
        return watch;
    }

    void add(const QString& name, int fd, const LineEnds& ends) {
        std::lock_guard lock(mutex_);
        lines_.insert(name, WatchedLine{fd, ends});
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }

    void remove(const QString& name) {
        std::lock_guard lock(mutex_);
        lines_.remove(name);
    }

    ~StallWatch() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
            for (auto it = lines_.begin(); it != lines_.end();) {
                const std::optional<LineEnds> now = lineEndsOf(it.value().fd);
                if (!now || !sameLine(*now, it.value().ends)) {
                    // libpq has closed the line; the next statement opens a new one.
                    it = lines_.erase(it);
                    continue;
                }
                if (!stalled(it.value().fd)) {
                    ++it;
                    continue;
                }
                qCWarning(lcJobDb)
                    << "the database server has not answered for" << kStalledAnswerMs / 1000
                    << "s; connection" << it.key() << "given up";
                // The waiting call sees the end of the line and returns with an error; the
                // descriptor stays libpq's to close.
                ::shutdown(it.value().fd, SHUT_RDWR);
                it = lines_.erase(it);
            }
        }
    }

    // Sent more recently than anything came back, and that long ago.
    static bool stalled(int fd) {
        tcp_info info{};
        socklen_t size = sizeof info;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
            return false;
        return info.tcpi_last_data_recv > info.tcpi_last_data_sent &&
               info.tcpi_last_data_sent >= unsigned(kStalledAnswerMs);
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    QHash<QString, WatchedLine> lines_;
    std::thread thread_;
    bool stopping_ = false;
};

} // namespace

QString serverConnectOptions(const ServerAddress& address) {
    QStringList options{QStringLiteral("connect_timeout=10"),
                        QStringLiteral("keepalives=1"),
                        QStringLiteral("keepalives_idle=30"),
                        QStringLiteral("keepalives_interval=10"),
                        QStringLiteral("keepalives_count=3"),
                        QStringLiteral("tcp_user_timeout=%1").arg(kStalledAnswerMs)};
    // libpq takes the last value of a key: the address's own choice wins.
    for (const auto& [key, value] : address.options)
        options << quotedOption(key, value);
    return options.join(QLatin1Char(';'));
}

bool startServerSession(QSqlDatabase& db, int lockWaitMs, QString* error) {
    QSqlQuery q(db);
    for (const QString& sql :
         {QStringLiteral("SET lock_timeout = %1").arg(lockWaitMs),
          QStringLiteral("SET statement_timeout = %1").arg(kStatementTimeoutMs),
          QStringLiteral("SET client_min_messages = warning")}) {
        if (!q.exec(sql)) {
            *error = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool serverConnectionLost(const QSqlDatabase& db) {
    PGconn* conn = handleOf(db);
    if (!conn)
        return false;
    if (PQstatus(conn) == CONNECTION_BAD)
        return true;
    pollfd p{PQsocket(conn), POLLIN, 0};
    if (p.fd < 0 || ::poll(&p, 1, 0) <= 0)
        return false;
    // The socket is non-blocking: this reads what is there and notes an ended line.
    for (int i = 0; i < 2 && PQstatus(conn) != CONNECTION_BAD; ++i)
        PQconsumeInput(conn);
    return PQstatus(conn) == CONNECTION_BAD || (p.revents & (POLLHUP | POLLERR)) != 0;
}

void watchServerConnection(const QSqlDatabase& db) {
    PGconn* conn = handleOf(db);
    if (!conn)
        return;
    const int fd = PQsocket(conn);
    const std::optional<LineEnds> ends = fd < 0 ? std::nullopt : lineEndsOf(fd);
    if (!ends || (ends->local.ss_family != AF_INET && ends->local.ss_family != AF_INET6))
        return;
    StallWatch::instance().add(db.connectionName(), fd, *ends);
}

void unwatchServerConnection(const QString& connectionName) {
    StallWatch::instance().remove(connectionName);
}

UnboundedStatements::UnboundedStatements(const QSqlDatabase& db) : db_(db) {
    unwatchServerConnection(db_.connectionName());
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SET statement_timeout = 0")))
        qCWarning(lcJobDb) << "statement time-out not lifted:" << q.lastError().text();
}

UnboundedStatements::~UnboundedStatements() {
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SET statement_timeout = %1").arg(kStatementTimeoutMs)))
        qCWarning(lcJobDb) << "statement time-out not set again:" << q.lastError().text();
    watchServerConnection(db_);
}

} // namespace kestro::jobdb
