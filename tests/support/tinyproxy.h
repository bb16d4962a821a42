#pragma once

#include "support/peerprocess.h"

namespace kestro::test {

// A port on 127.0.0.1 that was free a moment ago (the kernel picked it).
int freeLoopbackPort();

// Debian's tinyproxy on a free loopback port with a login of its own, so that a download
// only passes when the proxy got the right credentials.
class TinyProxy {
public:
    // Writes its configuration into `folder` and starts it; true once it listens.
    bool start(const QString& folder, const QString& user, const QString& password);
    int port() const { return port_; }

private:
    PeerProcess process_;
    int port_ = 0;
};

} // namespace kestro::test
