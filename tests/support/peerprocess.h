#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kestro::test {

// A real peer (FTP, HTTP, SMTP, POP3 server, or Vellmon) started for one test. The
// peer prints "PORT <n>" (or "READY") on its first line of standard output once it
// listens; start() waits for that line. The process is killed when the object dies.
class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts `program` with `args`; true when the ready line came within `timeoutMs`.
    bool start(const QString& program, const QStringList& args, int timeoutMs = 15000);
    // Starts one of tests/fixtures/*.py under Debian's /usr/bin/python3.
    bool startFixture(const QString& script, const QStringList& args, int timeoutMs = 15000);
    void stop();

    int port() const { return port_; }
    QString output() const; // all of stdout and stderr read so far
    QProcess& process() { return process_; }

private:
    QProcess process_;
    int port_ = 0;
    QByteArray seen_;
};

QString fixturePath(const QString& name);

} // namespace kestro::test
