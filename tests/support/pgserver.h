#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kestro::test {

// A real PostgreSQL 15 server for the tests: a cluster made with initdb in a temporary
// folder, started with pg_ctl on a free loopback port with trust authentication (but for
// kPasswordRole) and UTF8 texts. The server refuses to run as root, so under root the folder
// belongs to nobody (65534) and the programs run as nobody. Stopped (and the folder removed) when
// the object dies, also after a failed test.
class PgServer {
public:
    // The one login that must give a password (scram-sha-256); the tests make the role.
    static constexpr const char* kPasswordRole = "buero";

    PgServer() = default;
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // initdb (once) and start; false with `error` when either failed.
    bool start(QString* error = nullptr);
    // Stops the server at once, as a crash or a pulled cable would, keeping the cluster.
    void stop();
    bool isRunning() const { return running_; }
    int port() const { return port_; }

    // Makes a new, empty database and answers its address
    // postgresql://kestro@127.0.0.1:<port>/<name>; empty when the server refused.
    QString createDatabase(const QString& name);
    QString address(const QString& databaseName) const;

    // The one server of this test program, started on first use; nullptr with a reason in
    // `error` when it cannot start (then the server tests fail, they are not skipped).
    static PgServer* shared(QString* error = nullptr);

private:
    bool run(const QStringList& command, QString* error) const;

    std::unique_ptr<QTemporaryDir> dir_;
    int port_ = 0;
    bool running_ = false;
    bool made_ = false;
};

} // namespace kestro::test
