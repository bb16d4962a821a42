#include "support/tinyproxy.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

using namespace Qt::StringLiterals;

namespace kestro::test {

int freeLoopbackPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool TinyProxy::start(const QString& folder, const QString& user, const QString& password) {
    const int port = freeLoopbackPort();
    QFile config(folder + u"/tinyproxy.conf"_s);
    if (port == 0 || !config.open(QIODevice::WriteOnly))
        return false;
    config.write(u"Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 10\nLogLevel Warning\n"
                 "BasicAuth %2 %3\n"_s.arg(port)
                     .arg(user, password)
                     .toUtf8());
    config.close();
    process_.process().setProcessChannelMode(QProcess::MergedChannels);
    process_.process().start(u"tinyproxy"_s, {u"-d"_s, u"-c"_s, config.fileName()});
    if (!process_.process().waitForStarted(5000))
        return false;
    for (int attempt = 0; attempt < 100; ++attempt, QThread::msleep(50)) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (probe.waitForConnected(1000)) {
            port_ = port;
            return true;
        }
    }
    return false;
}

} // namespace kestro::test
