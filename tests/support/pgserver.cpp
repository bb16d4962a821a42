#include "support/pgserver.h"

#include "support/tinyproxy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <unistd.h>

namespace kestro::test {
namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
constexpr uid_t kNobody = 65534;

} // namespace

PgServer::~PgServer() {
    if (running_)
        run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"),
             dir_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
            nullptr);
}

bool PgServer::run(const QStringList& command, QString* error) const {
    QStringList args = command;
    QString program = args.takeFirst();
    if (::geteuid() == 0) {
        args = QStringList{QStringLiteral("--reuid=%1").arg(kNobody),
                           QStringLiteral("--regid=%1").arg(kNobody),
                           QStringLiteral("--clear-groups"), program} +
               args;
        program = QStringLiteral("/usr/bin/setpriv");
    }
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir_->path());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok =
        p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error)
        *error = command.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(p.readAll());
    return ok;
}

bool PgServer::start(QString* error) {
    if (running_)
        return true;
    if (!made_) {
        dir_ =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kestro-pg-XXXXXX"));
        if (!dir_->isValid())
            return false;
        if (::geteuid() == 0 &&
            ::chown(QFile::encodeName(dir_->path()).constData(), kNobody, kNobody) != 0)
            return false;
        port_ = freeLoopbackPort();
        if (!run({kBin + QStringLiteral("initdb"), QStringLiteral("-D"),
                  dir_->filePath(QStringLiteral("data")), QStringLiteral("-U"),
                  QStringLiteral("kestro"), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C.UTF-8"),
                  QStringLiteral("--no-sync")},
                 error))
            return false;
        // Every login is trusted but one: kPasswordRole must show its password, from the
        // address or from ~/.pgpass, as on a company's server.
        QFile hba(dir_->filePath(QStringLiteral("data/pg_hba.conf")));
        if (!hba.open(QIODevice::ReadWrite))
            return false;
        const QByteArray rules = hba.readAll();
        hba.seek(0);
        hba.write("host all " + QByteArray(kPasswordRole) + " 127.0.0.1/32 scram-sha-256\n" +
                  rules);
        hba.close();
        made_ = true;
    }
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 "
                                           "-c max_connections=60")
                                .arg(port_)
                                .arg(dir_->path());
    running_ = run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"),
                    dir_->filePath(QStringLiteral("data")), QStringLiteral("-l"),
                    dir_->filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options,
                    QStringLiteral("-w"), QStringLiteral("start")},
                   error);
    return running_;
}

void PgServer::stop() {
    if (!running_)
        return;
    run({kBin + QStringLiteral("pg_ctl"), QStringLiteral("-D"),
         dir_->filePath(QStringLiteral("data")), QStringLiteral("-m"), QStringLiteral("immediate"),
         QStringLiteral("-w"), QStringLiteral("stop")},
        nullptr);
    running_ = false;
}

QString PgServer::address(const QString& databaseName) const {
    return QStringLiteral("postgresql://kestro@127.0.0.1:%1/%2").arg(port_).arg(databaseName);
}

QString PgServer::createDatabase(const QString& name) {
    const QString connection = QStringLiteral("kestro.test.pgadmin");
    bool made = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(port_);
        db.setUserName(QStringLiteral("kestro"));
        db.setDatabaseName(QStringLiteral("postgres"));
        if (db.open()) {
            QSqlQuery q(db);
            made = q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!made)
                qWarning("CREATE DATABASE %s: %s", qPrintable(name),
                         qPrintable(q.lastError().text()));
        } else {
            qWarning("server not reachable: %s", qPrintable(db.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return made ? address(name) : QString();
}

PgServer* PgServer::shared(QString* error) {
    static PgServer server;
    static QString why;
    if (!server.isRunning() && !server.start(&why)) {
        if (error)
            *error = why;
        return nullptr;
    }
    return &server;
}

} // namespace kestro::test
