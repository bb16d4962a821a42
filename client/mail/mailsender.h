#pragma once

#include "client/mail/mailconnection.h"
#include "client/mail/mailmessage.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <atomic>
#include <thread>

// Diagnostics of the notification mail.
Q_DECLARE_LOGGING_CATEGORY(lcMail)

namespace kestro::transfer {

// One mail to send: the message, the servers and login, and where failures are logged.
struct MailJob {
    MailMessage message;
    QString smtpServer;               // host or host:port (25 when none)
    std::optional<bool> tlsOnConnect; // as smtpServerUrl() takes it
    bool smtpLogin = false;
    QString username;
    QString password;
    bool popLogin = false; // log in to popServer first, with the same user and password
    QString popServer;     // host or host:port (110 when none)
    MailConnectionOptions connection;
    QString errorLogPath; // a failure is appended here; empty: not logged
};

// Sends mail on a thread of its own and reports through queued signals, so the window
// stays responsive during the SMTP dialogue. One mail at a time; the destructor aborts a
// running send and waits for the thread.
//
// Signals in the order of a send: status() lines for the list of the main window,
// progress() in percent, then exactly one of sendSuccessful() or sendFailed(), then
// finished(). A failure also appends a line to the mail error log and comes as a
// status() line, so the user sees it; it never counts as success.
class MailSender : public QObject {
    Q_OBJECT
public:
    explicit MailSender(QObject* parent = nullptr);
    ~MailSender() override;

    // Starts the send; false (and nothing happens) while another send still runs.
    bool send(MailJob job);
    bool isBusy() const { return busy_.load(); }
    void abort() { abort_ = true; }

    // "Mail nicht gesendet: " + explanation: the status line and, behind the date zone of
    // the logs, the error-log line of a failed send.
    static QString failureText(const QString& explanation);

Q_SIGNALS:
    void status(const QString& text);
    void progress(int percent);
    void sendFailed(const QString& explanation);
    void sendSuccessful();
    void finished();

private:
    void run(const MailJob& job);
    std::optional<QString> sendSmtp(const MailJob& job, const QByteArray& url,
                                    const QByteArray& content);
    void fail(const MailJob& job, const QString& explanation);

    std::thread worker_;
    std::atomic_bool busy_{false};
    std::atomic_bool abort_{false};
};

} // namespace kestro::transfer
