#include "support/pgserver.h"

#include "support/tinyproxy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kestro::test {

bool PgServer::run(const QString& program, const QStringList& args, QString* error) const {
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, dir_->path());
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString binary = u"/usr/lib/postgresql/15/bin/"_s + program;
    if (::geteuid() == 0)
        p.start(u"/usr/bin/setpriv"_s,
                QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, binary} +
                    args);
    else
        p.start(binary, args);
    const bool ok =
        p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error)
        *error =
            program + u" "_s + args.join(u" "_s) + u": "_s + QString::fromLocal8Bit(p.readAll());
    return ok;
}

bool PgServer::start(QString* error) {
    if (running_)
        return true;
    if (!dir_) {
        dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/kestro-pg-XXXXXX"_s);
        port_ = freeLoopbackPort();
        // One login must show its password (from the address or ~/.pgpass), as at a company.
        QFile hba(dir_->filePath(u"data/pg_hba.conf"_s));
        if (!dir_->isValid() ||
            (::geteuid() == 0 &&
             ::chown(QFile::encodeName(dir_->path()).constData(), 65534, 65534) != 0) ||
            !run(u"initdb"_s,
                 {u"-D"_s, dir_->filePath(u"data"_s), u"-U"_s, u"kestro"_s, u"-A"_s, u"trust"_s,
                  u"-E"_s, u"UTF8"_s, u"--locale=C.UTF-8"_s, u"--no-sync"_s},
                 error) ||
            !hba.open(QIODevice::ReadWrite)) {
            dir_.reset();
            return false;
        }
        const QByteArray rules = hba.readAll();
        hba.seek(0);
        hba.write("host all " + QByteArray(kPasswordRole) + " 127.0.0.1/32 scram-sha-256\n" +
                  rules);
    }
    running_ =
        run(u"pg_ctl"_s,
            {u"-D"_s, dir_->filePath(u"data"_s), u"-l"_s, dir_->filePath(u"server.log"_s), u"-o"_s,
             u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c max_connections=60"_s.arg(port_).arg(
                 dir_->path()),
             u"-w"_s, u"start"_s},
            error);
    return running_;
}

void PgServer::stop() {
    if (running_)
        run(u"pg_ctl"_s,
            {u"-D"_s, dir_->filePath(u"data"_s), u"-m"_s, u"immediate"_s, u"-w"_s, u"stop"_s});
    running_ = false;
}

QString PgServer::createDatabase(const QString& name) {
    QString why;
    if (run(u"createdb"_s,
            {u"-h"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(port_), u"-U"_s, u"kestro"_s, name},
            &why))
        return u"postgresql://kestro@127.0.0.1:%1/%2"_s.arg(port_).arg(name);
    qWarning("%s", qPrintable(why));
    return {};
}

PgServer* PgServer::shared(QString* error) {
    static PgServer server;
    return server.start(error) ? &server : nullptr;
}

} // namespace kestro::test
