#pragma once

#include <QTemporaryDir>
#include <memory>

namespace kestro::test {

// A real PostgreSQL 15 server of its own on a free loopback port, every login trusted but
// kPasswordRole; as nobody under root, which it refuses. Removed when the object dies.
class PgServer {
public:
    // The one login that must give a password (scram-sha-256); the tests make the role.
    static constexpr const char* kPasswordRole = "buero";

    ~PgServer() { stop(); }

    // initdb (once) and start; false with `error` when either failed.
    bool start(QString* error = nullptr);
    // Stops the server at once, as a crash or a pulled cable would, keeping the cluster.
    void stop();
    // A new, empty database's address postgresql://kestro@127.0.0.1:<port>/<name>, or empty.
    QString createDatabase(const QString& name);
    // The one server of this test program, started on first use; nullptr with the reason in
    // `error` when it cannot start (then the server tests fail, they are not skipped).
    static PgServer* shared(QString* error = nullptr);

private:
    bool run(const QString& program, const QStringList& args, QString* error = nullptr) const;

    std::unique_ptr<QTemporaryDir> dir_;
    int port_ = 0;
    bool running_ = false;
};

} // namespace kestro::test
