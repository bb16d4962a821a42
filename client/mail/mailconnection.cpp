#include "client/mail/mailconnection.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>
#include <mutex>

namespace kestro::transfer {

std::optional<QByteArray> mailServerUrl(const QString& scheme, const QString& server) {
    static const QRegularExpression hostPort(QStringLiteral(
        R"(^([A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?|\[[0-9A-Fa-f:.]+\])(?::(\d{1,5}))?$)"));
    const QRegularExpressionMatch m = hostPort.match(server.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QString port = m.captured(2);
    if (!port.isEmpty() && (port.toInt() < 1 || port.toInt() > 65535))
        return std::nullopt;
    return (scheme + QStringLiteral("://") + server.trimmed()).toLatin1();
}

std::optional<QByteArray> smtpServerUrl(const QString& server, std::optional<bool> tlsOnConnect) {
    static const QString prefix = QStringLiteral("smtps://");
    QString address = server.trimmed();
    if (address.startsWith(prefix, Qt::CaseInsensitive))
        return mailServerUrl(QStringLiteral("smtps"), address.mid(prefix.size()));
    const bool tls = tlsOnConnect.value_or(address.endsWith(QStringLiteral(":465")));
    return mailServerUrl(tls ? QStringLiteral("smtps") : QStringLiteral("smtp"), address);
}

bool loopbackHost(const QByteArray& url) {
    // Only an address that is this machine's by its form: a name such as
    // "127.mail.example" is looked up like any other and may lie anywhere on the network.
    const QString host = QUrl(QString::fromLatin1(url)).host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

MailCurlHandle::MailCurlHandle(const MailConnectionOptions& options, const std::atomic_bool& abort)
    : abort_(abort), timeOut_(options.lowSpeedSeconds), caFile_(options.caFile.toLocal8Bit()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    handle_ = curl_easy_init();
    if (!handle_)
        return;
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, options.lowSpeedSeconds);
    // The low-speed check does not cover a server that simply stops answering a command:
    // libcurl would wait its own two minutes for each reply. A notification is a few hundred
    // bytes, so the whole dialogue is bounded by the same time-out. CURLOPT_TIMEOUT alone
    // does not hold: after a reply that never came (the one to the message's final dot)
    // libcurl keeps the connection and says QUIT when the handle is freed, waiting the
    // response time-out again for its answer. The progress callback, which libcurl also
    // calls while it waits for a reply, ends the dialogue at the deadline.
    curl_easy_setopt(handle_, CURLOPT_SERVER_RESPONSE_TIMEOUT, options.lowSpeedSeconds);
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, options.lowSpeedSeconds);
    // Closing the connection at the end of the transfer says QUIT inside it, under the
    // deadline, not later in the handle's clean-up where nothing bounds the wait.
    curl_easy_setopt(handle_, CURLOPT_FORBID_REUSE, 1L);
    // Encrypt whenever the server offers it; an old server without STARTTLS still works,
    // unless a password would cross in clear: a STARTTLS stripped by someone between
    // office and server must not hand them the mail account.
    curl_easy_setopt(handle_, CURLOPT_USE_SSL,
                     long(options.requireTls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (!caFile_.isEmpty())
        curl_easy_setopt(handle_, CURLOPT_CAINFO, caFile_.constData());
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &MailCurlHandle::onProgress);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
}

MailCurlHandle::~MailCurlHandle() {
    if (handle_)
        curl_easy_cleanup(handle_);
}

int MailCurlHandle::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* handle = static_cast<MailCurlHandle*>(self);
    if (handle->abort_.load())
        return 1;
    if (std::chrono::steady_clock::now() >= handle->deadline_) {
        handle->pastDeadline_ = true;
        return 1;
    }
    return 0;
}

std::optional<QString> MailCurlHandle::perform() {
    if (!handle_)
        return QStringLiteral("libcurl konnte nicht gestartet werden");
    errorBuffer_[0] = '\0';
    deadline_ = std::chrono::steady_clock::now() + timeOut_;
    const CURLcode code = curl_easy_perform(handle_);
    if (code == CURLE_OK)
        return std::nullopt;
    if (code == CURLE_ABORTED_BY_CALLBACK && pastDeadline_)
        return QStringLiteral("keine Antwort des Servers binnen %1 s").arg(timeOut_.count());
    if (code == CURLE_ABORTED_BY_CALLBACK)
        return QStringLiteral("abgebrochen");
    if (code == CURLE_USE_SSL_FAILED)
        return QStringLiteral("Der Server bietet keine verschlüsselte Verbindung (STARTTLS) an. "
                              "Benutzername und Kennwort werden nicht unverschlüsselt gesendet; "
                              "bitte wählen Sie „SSL/TLS ab Verbindungsbeginn“ oder fragen Sie "
                              "Ihren Mail-Anbieter nach dem verschlüsselten Zugang.");
    QString text = QString::fromUtf8(curl_easy_strerror(code));
    const QString detail = QString::fromUtf8(errorBuffer_).trimmed();
    if (!detail.isEmpty() && detail != text)
        text += QStringLiteral(": ") + detail;
    long reply = 0;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply);
    if (reply >= 400) // the server's refusal; lower codes are just the last good step
        text += QStringLiteral(" (Antwort %1)").arg(reply);
    return text;
}

} // namespace kestro::transfer
