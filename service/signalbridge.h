#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kestro::service {

// Turns the service manager's signals into Qt signals on the main thread: SIGTERM and
// SIGINT stop, SIGUSR1 pauses, SIGUSR2 continues. The handler only writes the signal
// number into a socket pair; the event loop reads it.
class SignalBridge : public QObject {
    Q_OBJECT
public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

Q_SIGNALS:
    void stopRequested();
    void pauseRequested();
    void continueRequested();

private:
    void readSignal();
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace kestro::service
