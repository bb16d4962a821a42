#include "support/peerprocess.h"

#include <QDeadlineTimer>

namespace kestro::test {

bool PeerProcess::start(const QString& program, const QStringList& args, int timeoutMs) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program, args);
    if (!process_.waitForStarted(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!process_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) &&
            process_.state() != QProcess::Running)
            return false;
        seen_ += process_.readAll();
        for (const QByteArray& line : seen_.split('\n')) {
            if (line.startsWith("PORT ")) {
                port_ = line.mid(5).trimmed().toInt();
                return port_ > 0;
            }
            if (line.trimmed() == "READY")
                return true;
        }
    }
    return false;
}

bool PeerProcess::startFixture(const QString& script, const QStringList& args, int timeoutMs) {
    return start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(KESTRO_FIXTURES_DIR "/") + script} + args, timeoutMs);
}

void PeerProcess::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString PeerProcess::output() const {
    seen_ += process_.readAll();
    return QString::fromUtf8(seen_);
}

} // namespace kestro::test
