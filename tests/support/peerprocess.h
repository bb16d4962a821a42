#pragma once

#include <QProcess>

namespace kestro::test {

// A real peer (FTP, HTTP, SMTP, POP3 server, or Vellmon) started for one test; it prints
// "PORT <n>" (or "READY") once it listens. The process is killed when the object dies.
class PeerProcess {
public:
    ~PeerProcess() { stop(); }

    // Starts `program` with `args`; true when the ready line came within `timeoutMs`.
    bool start(const QString& program, const QStringList& args, int timeoutMs = 15000);
    // Starts one of tests/fixtures/*.py under Debian's /usr/bin/python3.
    bool startFixture(const QString& script, const QStringList& args, int timeoutMs = 15000);
    void stop();

    int port() const { return port_; }
    QString output() const; // all of stdout and stderr read so far
    QProcess& process() { return process_; }

private:
    mutable QProcess process_;
    int port_ = 0;
    mutable QByteArray seen_;
};

} // namespace kestro::test
