#include "client/mail/mailsender.h"

#include "client/mail/pop3login.h"
#include "common/textfile.h"
#include "common/transferlog.h"

#include <QLoggingCategory>
#include <cstring>

Q_LOGGING_CATEGORY(lcMail, "kestro.mail")

namespace kestro::transfer {

namespace {

// The message handed to libcurl piece by piece.
struct Upload {
    QByteArray bytes;
    qsizetype sent = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* data) {
    auto* upload = static_cast<Upload*>(data);
    const size_t room = size * count;
    const size_t left = size_t(upload->bytes.size() - upload->sent);
    const size_t n = qMin(room, left);
    std::memcpy(buffer, upload->bytes.constData() + upload->sent, n);
    upload->sent += qsizetype(n);
    return n;
}

// curl wants its lists as curl_slist; freed with the object.
class RecipientList {
public:
    explicit RecipientList(const QByteArray& address)
        : list_(curl_slist_append(nullptr, address.constData())) {}
    ~RecipientList() { curl_slist_free_all(list_); }
    RecipientList(const RecipientList&) = delete;
    RecipientList& operator=(const RecipientList&) = delete;
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_;
};

} // namespace

MailSender::MailSender(QObject* parent) : QObject(parent) {}

MailSender::~MailSender() {
    abort_ = true;
    if (worker_.joinable())
        worker_.join();
}

QString MailSender::failureText(const QString& explanation) {
    return QStringLiteral("Mail nicht gesendet: ") + explanation;
}

bool MailSender::send(MailJob job) {
    if (busy_.exchange(true))
        return false;
    if (worker_.joinable())
        worker_.join(); // the previous send has ended; its thread only needs collecting
    abort_ = false;
    worker_ = std::thread([this, job = std::move(job)] {
        run(job);
        busy_ = false;
        Q_EMIT finished();
    });
    return true;
}

void MailSender::run(const MailJob& job) {
    Q_EMIT progress(0);
    const std::optional<QByteArray> url = smtpServerUrl(job.smtpServer, job.tlsOnConnect);
    if (!url) {
        fail(job, QStringLiteral("ungültiger SMTP-Server \"%1\"").arg(job.smtpServer));
        return;
    }
    const std::optional<QByteArray> content =
        renderMessage(job.message, QDateTime::currentDateTime());
    if (!content) {
        fail(job, QStringLiteral("ungültige Adresse (Absender \"%1\", Empfänger \"%2\")")
                      .arg(job.message.fromAddress, job.message.toAddress));
        return;
    }
    if (job.popLogin) {
        Q_EMIT status(QStringLiteral("POP3-Anmeldung bei %1 ...").arg(job.popServer));
        if (const auto error =
                pop3Login(job.popServer, job.username, job.password, job.connection, abort_)) {
            fail(job, QStringLiteral("POP3-Anmeldung bei %1: %2").arg(job.popServer, *error));
            return;
        }
        Q_EMIT status(QStringLiteral("POP3-Anmeldung erfolgreich."));
    }
    Q_EMIT progress(25);
    Q_EMIT status(QStringLiteral("Verbinde mit %1 ...").arg(job.smtpServer));
    if (const auto error = sendSmtp(job, *url, *content)) {
        fail(job, QStringLiteral("SMTP-Server %1: %2").arg(job.smtpServer, *error));
        return;
    }
    Q_EMIT progress(100);
    Q_EMIT status(QStringLiteral("Mail an %1 gesendet.").arg(job.message.toAddress));
    Q_EMIT sendSuccessful();
}

std::optional<QString> MailSender::sendSmtp(const MailJob& job, const QByteArray& url,
                                            const QByteArray& content) {
    MailConnectionOptions options = job.connection;
    options.requireTls =
        passwordNeedsTls(url, job.smtpLogin && !(job.username.isEmpty() && job.password.isEmpty()));
    MailCurlHandle curl(options, abort_);
    const QByteArray from = '<' + job.message.fromAddress.toLatin1() + '>';
    RecipientList recipients('<' + job.message.toAddress.toLatin1() + '>');
    const QByteArray user = job.username.toUtf8();
    const QByteArray password = job.password.toUtf8();
    Upload upload{content};
    CURL* h = curl.get();
    if (!h)
        return curl.perform();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    if (job.smtpLogin) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &readUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, &upload);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(content.size()));
    Q_EMIT status(QStringLiteral("Sende Mail an %1 ...").arg(job.message.toAddress));
    return curl.perform();
}

void MailSender::fail(const MailJob& job, const QString& explanation) {
    const QString text = failureText(explanation);
    qCWarning(lcMail).noquote() << text;
    if (!job.errorLogPath.isEmpty() &&
        !appendLogLine(job.errorLogPath, transferLogLine(QDateTime::currentDateTime(), text)))
        qCWarning(lcMail) << "mail error log not writable:" << job.errorLogPath;
    Q_EMIT status(text);
    Q_EMIT sendFailed(explanation);
}

} // namespace kestro::transfer
