#pragma once

#include <QProcess>
#include <QString>

namespace kestro::test {

// A port on 127.0.0.1 that was free a moment ago (the kernel picked it).
int freeLoopbackPort();
// True when something listens on 127.0.0.1 at `port`.
bool acceptsOnLoopback(int port);

// Debian's tinyproxy, started on a free loopback port with its own configuration and a
// login, so that a download only passes when the proxy got the right credentials.
class TinyProxy {
public:
    TinyProxy() = default;
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    // Writes its configuration into `folder` and starts it; true once it listens.
    bool start(const QString& folder, const QString& user, const QString& password);
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace kestro::test
