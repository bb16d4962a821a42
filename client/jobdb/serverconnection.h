#pragma once

#include "client/jobdb/address.h"

#include <QSqlDatabase>
#include <QString>

namespace kestro::jobdb {

// How long the server may work on one statement before it gives up on it.
inline constexpr int kStatementTimeoutMs = 30000;
// How long a statement sent to the server may wait for any answer at all before the line is
// taken as dead: a server that stalls (a paused machine, a line that drops without a reset)
// still has its kernel acknowledge every packet, so neither TCP keep-alives nor the server's
// own time-out end the wait. Longer than the statement time-out, which ends a slow statement
// first with the server's own message.
inline constexpr int kStalledAnswerMs = 45000;

// The driver's connect options for `address`: its own libpq options after the defaults
// (connect time-out, TCP keep-alives, TCP user time-out), each value quoted for libpq.
QString serverConnectOptions(const ServerAddress& address);

// The settings every session on the server starts with: the lock wait, the statement time-out
// and UTF-8 texts. False with `error` when the server refused one.
bool startServerSession(QSqlDatabase& db, int lockWaitMs, QString* error);

// True when the server ended the idle connection `db` (a restart, an administrator, a
// firewall ending idle lines): the goodbye or the end of the line is waiting on the socket.
// Reads nothing a statement would need: an idle connection gets nothing unasked.
bool serverConnectionLost(const QSqlDatabase& db);

// Watches the connection's TCP line while it is open: a statement that has had no answer for
// kStalledAnswerMs has its line shut down, so that the waiting call returns with an error
// instead of waiting for ever. A connection over a Unix socket is not watched (no line to
// stall). unwatch before the connection closes.
void watchServerConnection(const QSqlDatabase& db);
void unwatchServerConnection(const QString& connectionName);

// Lifts the statement time-out and the watch of one server connection while it lives, for a
// statement that rightly runs long (an index over the whole history); both return after.
class UnboundedStatements {
public:
    explicit UnboundedStatements(const QSqlDatabase& db);
    ~UnboundedStatements();
    UnboundedStatements(const UnboundedStatements&) = delete;
    UnboundedStatements& operator=(const UnboundedStatements&) = delete;

private:
    QSqlDatabase db_;
};

} // namespace kestro::jobdb
