#include "service/signalbridge.h"

#include "service/servicelog.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace kestro::service {

namespace {

int g_pair[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(g_pair[0], &byte, 1);
    errno = saved;
}

} // namespace

SignalBridge::SignalBridge(QObject* parent) : QObject(parent) {
    if (g_pair[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pair) != 0) {
        qCWarning(lcService) << "cannot watch service signals";
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_pair[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalBridge::readSignal);
    struct sigaction sa {};
    sa.sa_handler = &onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2})
        ::sigaction(s, &sa, nullptr);
}

SignalBridge::~SignalBridge() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2})
        ::sigaction(s, &sa, nullptr);
}

void SignalBridge::readSignal() {
    char byte = 0;
    while (::read(g_pair[1], &byte, 1) == 1) {
        switch (byte) {
        case SIGTERM:
        case SIGINT:
            Q_EMIT stopRequested();
            break;
        case SIGUSR1:
            Q_EMIT pauseRequested();
            break;
        case SIGUSR2:
            Q_EMIT continueRequested();
            break;
        default:
            break;
        }
    }
}

} // namespace kestro::service
