#include "client/mail/mailnotification.h"

#include "common/paths.h"
#include "common/textfile.h"
#include "common/transferlog.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

namespace kestro::transfer {

using startup::MailAccountSettings;

QString mailErrorLogPath(const QString& clientDataFolder) {
    return paths::join(clientDataFolder, QStringLiteral("MailErr.Log"));
}

MailJob notificationMailJob(const MailAccountSettings& settings, const DeployConfig& config,
                            const QString& recipient, const QString& archiveName,
                            const QString& clientDataFolder) {
    const MailAccountSettings account = effectiveMailAccount(settings, config);
    MailJob job;
    job.message = notificationMessage(account.from, recipient, archiveName);
    job.smtpServer = account.smtpServer;
    job.smtpLogin = account.smtpLogin;
    job.tlsOnConnect = account.tlsOnConnect;
    job.username = account.username;
    job.password = account.password;
    job.popLogin = account.popLogin;
    job.popServer = account.popServer;
    job.errorLogPath = mailErrorLogPath(clientDataFolder);
    return job;
}

bool sendJobMail(MailSender& sender, const MailAccountSettings& settings,
                 const DeployConfig& config, const QString& recipient, const QString& archiveName,
                 const QString& clientDataFolder) {
    const MailJob job =
        notificationMailJob(settings, config, recipient, archiveName, clientDataFolder);
    QDir().mkpath(clientDataFolder);
    QFile log(job.errorLogPath);
    if (!log.open(QIODevice::Append))
        qCWarning(lcMail) << "cannot open" << job.errorLogPath << log.errorString();
    log.close();
    if (sender.send(job))
        return true;
    const QString text = MailSender::failureText(
        QStringLiteral("eine frühere Mail wird noch gesendet (%1)").arg(archiveName));
    appendLogLine(job.errorLogPath, transferLogLine(QDateTime::currentDateTime(), text));
    Q_EMIT sender.status(text);
    return false;
}

} // namespace kestro::transfer
