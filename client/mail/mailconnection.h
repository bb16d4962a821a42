#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <curl/curl.h>
#include <optional>

// What the SMTP send and the POP3 login share: the server URL from a "host" or
// "host:port" setting, time-outs, STARTTLS when offered, the abort flag, and the text of
// a failure.
namespace kestro::transfer {

struct MailConnectionOptions {
    long connectTimeoutSeconds = 20;
    // The time-out of the mail dialogue (the POP3 login and the SMTP send each): a server
    // that sends below 1 byte/s, leaves a command unanswered (a greeting, DATA, the
    // message's final dot), or has not finished the dialogue after this long ends it.
    long lowSpeedSeconds = 60;
    // An extra CA bundle for the server's certificate (a company's own mail server);
    // empty: the system's certificate store.
    QString caFile;
    // STARTTLS must succeed (a server that offers none is refused) instead of being used
    // when offered: set whenever a password goes over the connection.
    bool requireTls = false;
};

// True when the URL's host is this machine (an address in 127.0.0.0/8, ::1, or exactly
// "localhost"): nobody between
// client and server could strip STARTTLS there.
bool loopbackHost(const QByteArray& url);

// Whether a mail connection to `url` that sends a password must be encrypted: always,
// except to this machine itself (a local relay that speaks no TLS).
inline bool passwordNeedsTls(const QByteArray& url, bool sendsPassword) {
    return sendsPassword && !loopbackHost(url);
}

// "smtp://host:port" from a server setting of the form host, host:port, [v6] or [v6]:port.
// Nothing when the setting is empty or carries anything else (user info, paths, blanks).
std::optional<QByteArray> mailServerUrl(const QString& scheme, const QString& server);

// The URL of an SMTP server setting: "smtps://" (TLS from the first byte) for a setting
// written "smtps://host:port", or when `tlsOnConnect` says so, or, without that choice,
// for port 465; else "smtp://" (STARTTLS).
std::optional<QByteArray> smtpServerUrl(const QString& server,
                                        std::optional<bool> tlsOnConnect = std::nullopt);

// A libcurl easy handle with the shared options set; the handle is freed with the object.
// `abort` ends a running transfer when it turns true.
class MailCurlHandle {
public:
    MailCurlHandle(const MailConnectionOptions& options, const std::atomic_bool& abort);
    ~MailCurlHandle();
    MailCurlHandle(const MailCurlHandle&) = delete;
    MailCurlHandle& operator=(const MailCurlHandle&) = delete;

    CURL* get() const { return handle_; }
    // Runs the transfer, the whole dialogue bounded by the time-out (what libcurl still says
    // to the server after it, its QUIT, included); on failure returns the explanation (curl's
    // message, its detail and the server's last reply code), otherwise nothing.
    std::optional<QString> perform();

private:
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CURL* handle_ = nullptr;
    const std::atomic_bool& abort_;
    std::chrono::seconds timeOut_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    bool pastDeadline_ = false;
    QByteArray caFile_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace kestro::transfer
