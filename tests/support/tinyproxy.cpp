#include "support/tinyproxy.h"

#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestro::test {
namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool acceptsOnLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool TinyProxy::start(const QString& folder, const QString& user, const QString& password) {
    const int port = freeLoopbackPort();
    if (port == 0)
        return false;
    const QString config = folder + QStringLiteral("/tinyproxy.conf");
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 10\n"
                           "LogLevel Warning\nBasicAuth %2 %3\n")
                .arg(port)
                .arg(user, password)
                .toUtf8());
    f.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("tinyproxy"),
                   {QStringLiteral("-d"), QStringLiteral("-c"), config});
    if (!process_.waitForStarted(5000))
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (acceptsOnLoopback(port)) {
            port_ = port;
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}
TinyProxy::~TinyProxy() {
    process_.terminate();
    if (!process_.waitForFinished(3000))
        process_.kill();
}
} // namespace kestro::test
