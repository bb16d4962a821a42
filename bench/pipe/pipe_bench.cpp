// PipeCall round trips between a client and a running Vellmon in its own process.
// Prints median and 99th percentile of 10,000 sequential calls, calls per second,
// Vellmon's resident memory over 100,000 calls, and a burst of 10,000 distinct messages
// from 8 concurrent clients (how many were answered "True" and dispatched).
//
//   pipe_bench [path to Vellmon]   (default: the one built beside this benchmark)
#include "common/servicemessage.h"
#include "piperpc/piperpc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using kestro::PipeRpc;
using Clock = std::chrono::steady_clock;

namespace {

bool callOnce(const QString& message, int timeoutMs = 0) {
    PipeRpc pipe;
    pipe.setTimeout(timeoutMs);
    pipe.setMaxRequest(200);
    pipe.setMaxResponse(200);
    pipe.setPipeName(QStringLiteral("Vellmon"));
    QByteArray response(200, '\0');
    return pipe.pipeCall(kestro::toUtf16Le(message), response) == 0 &&
           response == kestro::toUtf16Le(QStringLiteral("True"));
}

long residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void sequential(const char* label, const std::function<QString(int)>& message, int calls) {
    std::vector<double> micros;
    micros.reserve(size_t(calls));
    int failed = 0;
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const auto t0 = Clock::now();
        if (!callOnce(message(i)))
            ++failed;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(micros.begin(), micros.end());
    std::printf("%-34s calls %6d  median %7.1f us  p99 %7.1f us  %8.0f calls/s  failed %d\n", label,
                calls, micros[micros.size() / 2], micros[micros.size() * 99 / 100], calls / seconds,
                failed);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString vellmon = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                     : QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/../../service/Vellmon");
    QTemporaryDir dir;
    for (const char* sub : {"run", "registry", "windows"})
        QDir(dir.path()).mkpath(QString::fromLatin1(sub));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLMON_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("VARNHOLT_REGISTRY"), dir.filePath(QStringLiteral("registry")));
    env.insert(QStringLiteral("SystemRoot"), dir.filePath(QStringLiteral("windows")));
    env.insert(QStringLiteral("KESTRO_CONFIG"), dir.filePath(QStringLiteral("none.conf")));
    env.insert(QStringLiteral("VELLMON_READY_LINE"), QStringLiteral("1"));
    env.insert(QStringLiteral("VELLMON_POWEROFF_COMMAND"), QStringLiteral("/bin/false"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    qputenv("VELLMON_RUNTIME_DIR", env.value(QStringLiteral("VELLMON_RUNTIME_DIR")).toUtf8());

    QProcess service;
    service.setProcessEnvironment(env);
    service.setStandardErrorFile(dir.filePath(QStringLiteral("vellmon.err")));
    service.start(vellmon, {QStringLiteral("-debug")});
    if (!service.waitForReadyRead(10000) || !service.readLine().startsWith("READY")) {
        std::fprintf(stderr, "Vellmon did not start: %s\n", qPrintable(vellmon));
        return 1;
    }
    const qint64 pid = service.processId();
    const QString key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");

    std::printf("PipeCall round trip, client and Vellmon in separate processes\n");
    sequential(
        "ignored command (ShowForm|x||)", [](int) { return QStringLiteral("ShowForm|x||"); },
        10000);

    const long before = residentKb(pid);
    sequential(
        "unknown command, 100,000 calls", [](int i) { return QStringLiteral("Bench|%1||").arg(i); },
        100000);
    const long after = residentKb(pid);
    std::printf("Vellmon resident memory: %ld kB before, %ld kB after 100,000 calls (%+ld kB)\n",
                before, after, after - before);

    // 8 clients at once against the service's 2 slots; they wait for a free slot as long
    // as it takes, so what counts is that the service loses nothing.
    constexpr int kClients = 8;
    constexpr int kPerClient = 1250;
    std::atomic_int answered{0};
    const auto burstStart = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([c, &answered] {
            for (int i = 0; i < kPerClient; ++i)
                if (callOnce(QStringLiteral("Burst|%1|%2|").arg(c).arg(i), 10000))
                    ++answered;
        });
    for (std::thread& t : clients)
        t.join();
    const double burstSeconds = std::chrono::duration<double>(Clock::now() - burstStart).count();
    QFile err(dir.filePath(QStringLiteral("vellmon.err")));
    int dispatched = 0;
    for (int waited = 0; waited < 100 && dispatched < answered; ++waited) {
        QThread::msleep(100);
        err.open(QIODevice::ReadOnly);
        dispatched = int(err.readAll().count("dispatched: Burst|"));
        err.close();
    }
    std::printf("burst: %d clients x %d distinct messages: %d answered True, %d dispatched, "
                "%.2f s (%.0f calls/s)\n",
                kClients, kPerClient, answered.load(), dispatched, burstSeconds,
                kClients * kPerClient / burstSeconds);

    sequential(
        "setting write (KeySchreiben)",
        [&](int i) {
            return kestro::keySchreibenMessage(QStringLiteral("Bench"), QString::number(i));
        },
        10000);
    // The registry writes behind these calls are still being made; not waited for here.
    service.kill();
    service.waitForFinished(10000);
    return answered == kClients * kPerClient && dispatched == answered ? 0 : 2;
}
