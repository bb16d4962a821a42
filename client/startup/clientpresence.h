#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kestro::startup {

// Makes the running client findable by Vellmon, which closes the client's window before
// it starts an update: an entry with the process id and window title in the runtime
// folder, and a socket on which the request to close arrives. closeRequested() is then
// emitted, and the window closes as if its close box was pressed. Requests count only
// from root, this user, or the user Vellmon runs as. The entry goes with the object.
class ClientPresence : public QObject {
    Q_OBJECT
public:
    explicit ClientPresence(const QString& windowTitle, QObject* parent = nullptr);
    ~ClientPresence() override;

    // The window title changes while a job is sent; the service looks for the name in it.
    void setTitle(const QString& windowTitle);
    bool isRegistered() const { return fd_ >= 0; }

Q_SIGNALS:
    void closeRequested();

private:
    void readRequests();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace kestro::startup
