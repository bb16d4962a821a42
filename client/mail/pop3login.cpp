#include "client/mail/pop3login.h"

namespace kestro::transfer {

std::optional<QString> pop3Login(const QString& server, const QString& user,
                                 const QString& password, const MailConnectionOptions& options,
                                 const std::atomic_bool& abort) {
    const std::optional<QByteArray> url = mailServerUrl(QStringLiteral("pop3"), server);
    if (!url)
        return QStringLiteral("ungültiger POP3-Server \"%1\"").arg(server);
    MailConnectionOptions secured = options;
    secured.requireTls = passwordNeedsTls(*url, true);
    MailCurlHandle curl(secured, abort);
    const QByteArray userBytes = user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const QByteArray address = *url + '/';
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.constData());
    curl_easy_setopt(curl.get(), CURLOPT_USERNAME, userBytes.constData());
    curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, passwordBytes.constData());
    // STAT answers on one line; without NOBODY libcurl would wait for a list.
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "STAT");
    curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
    return curl.perform();
}

} // namespace kestro::transfer
