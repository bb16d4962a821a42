#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace kestro {

// The service's mailslot: a local datagram socket named like the Windows mailslot
// ("//./mailslot/Vellmon/AllVersion" lives at <runtime dir>/mailslot/vellmon/allversion).
// Messages are ANSI (Windows-1252) text of at most 400 bytes. Only the owner of the
// mailslot (and root) may write to it: the socket file and its folder belong to the
// owner alone, and every message carries its sender's user id, which is checked again.
class MailslotReceiver : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxMessageBytes = 400;
    static QString prefix() { return QStringLiteral("//./mailslot/"); }

    explicit MailslotReceiver(QObject* parent = nullptr);
    ~MailslotReceiver() override;

    // False (and nothing is created) when the name is empty or does not begin with
    // "//./mailslot/", or the socket cannot be made.
    bool create(const QString& name);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // The next waiting message, if any; reading never waits. Messages that are too long
    // or come from another user are dropped (and logged), and the next one is tried.
    std::optional<QString> readNext();

Q_SIGNALS:
    // Something waits to be read.
    void messageWaiting();

private:
    int fd_ = -1;
    QString path_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Writes `message` as ANSI bytes to the mailslot `target`. False when a text is empty,
// the message is longer than 400 bytes, or nobody receives at the target.
bool mailSlotSend(const QString& message, const QString& target);

} // namespace kestro
