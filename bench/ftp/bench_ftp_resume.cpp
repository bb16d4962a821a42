// What a dropped line costs a resumed upload: one archive goes to a pyftpdlib server on
// loopback once without interruption and once over an account whose data connection the
// server cuts after every CUT_MB; prints both times and the bytes sent in all, and their
// ratios against the targets (time <= 1.3 x, bytes <= 1.1 x the uninterrupted upload).
//
//   bench_ftp_resume [MB=500] [CUT_MB=100] [PAUSE_MS=0] [REPEATS=3]   (run it under nice -n 5)
//
// The two uploads alternate which goes first, and the medians are compared, so that
// neither always meets a colder page cache or server.
//
// PAUSE_MS is the wait before each new attempt; the client waits 2 s on a real line, which
// on loopback would only measure the pause, not the resume.
#include "bench/ftp/ftpbench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kestro::transfer;

namespace {

struct Run {
    double seconds = -1;
    qint64 bytesSent = 0;
};

Run upload(const FtpUploadRequest& request) {
    Run run;
    double seconds = 0;
    const FtpUploadResult result = kestro::bench::timedUpload(request, seconds);
    if (!result.delivered) {
        std::fprintf(stderr, "%s: upload failed: %s\n", qPrintable(request.user),
                     qPrintable(result.errorText));
        return run;
    }
    run.seconds = seconds;
    run.bytesSent = result.bytesSent;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 500;
    const qint64 cutMegabytes = argc > 2 ? QByteArray(argv[2]).toLongLong() : 100;
    const int pauseMs = argc > 3 ? QByteArray(argv[3]).toInt() : 0;
    const int repeats = argc > 4 ? QByteArray(argv[4]).toInt() : 3;
    if (megabytes <= 0 || cutMegabytes <= 0 || pauseMs < 0 || repeats <= 0) {
        std::fprintf(stderr, "usage: bench_ftp_resume [MB] [CUT_MB] [PAUSE_MS] [REPEATS]\n");
        return 64;
    }
    constexpr qint64 mb = 1024 * 1024;

    QTemporaryDir work;
    const QString archive = work.filePath(QStringLiteral("Muster GmbH-071226-100503.zip"));
    const QString root = work.filePath(QStringLiteral("ftproot"));
    QDir().mkpath(root);
    {
        // Incompressible, as a packed archive of photos and PDFs mostly is.
        QFile file(archive);
        QByteArray chunk(int(4 * mb), Qt::Uninitialized);
        QRandomGenerator generator(7);
        bool ok = file.open(QIODevice::WriteOnly);
        for (qint64 left = megabytes * mb; ok && left > 0; left -= chunk.size()) {
            generator.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
            const qint64 length = std::min<qint64>(left, chunk.size());
            ok = file.write(chunk.constData(), length) == length;
        }
        if (!ok) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(archive));
            return 1;
        }
    }

    const qint64 archiveBytes = QFile(archive).size();
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(KESTRO_FTP_FIXTURE), QStringLiteral("--root"), root,
                  QStringLiteral("--cut-after"), QString::number(cutMegabytes * mb)});
    if (!server.waitForReadyRead(15000)) {
        std::fprintf(stderr, "FTP fixture did not start\n");
        return 1;
    }
    const int port = server.readLine().trimmed().mid(5).toInt();

    FtpUploadRequest request;
    request.server = QStringLiteral("127.0.0.1:%1").arg(port);
    request.password = QStringLiteral("geheim");
    request.localPath = archive;
    request.retryPauses.assign(3, std::chrono::milliseconds(pauseMs));

    std::printf("%lld MB archive, data connection cut after every %lld MB, pause %d ms, "
                "loopback pyftpdlib on port %d\n",
                static_cast<long long>(megabytes), static_cast<long long>(cutMegabytes), pauseMs,
                port);
    std::vector<double> seconds[2];
    qint64 mostSent[2] = {0, 0};
    const char* users[2] = {"kunde", "stueckweise"};
    for (int r = 0; r < repeats; ++r) {
        for (int turn = 0; turn < 2; ++turn) {
            const int i = (r + turn) % 2;
            request.user = QString::fromLatin1(users[i]);
            const Run run = upload(request);
            if (run.seconds <= 0)
                return 1;
            seconds[i].push_back(run.seconds);
            mostSent[i] = std::max(mostSent[i], run.bytesSent);
            std::printf("run %d  %-12s %7.2f s  %10lld bytes sent (%.3f x the archive)\n", r + 1,
                        users[i], run.seconds, static_cast<long long>(run.bytesSent),
                        double(run.bytesSent) / double(archiveBytes));
            std::fflush(stdout);
            for (const QString& name : QDir(root).entryList(QDir::Files))
                QFile::remove(root + QLatin1Char('/') + name);
        }
    }
    using kestro::bench::median;
    const double timeRatio = median(seconds[1]) / median(seconds[0]);
    const double bytesRatio = double(mostSent[1]) / double(archiveBytes);
    std::printf("median    uninterrupted %.2f s   cut %.2f s\n", median(seconds[0]),
                median(seconds[1]));
    std::printf("ratio     time %.3f (target <= 1.3)   bytes, worst run %.3f (target <= 1.1)\n",
                timeRatio, bytesRatio);
    server.terminate();
    server.waitForFinished(3000);
    return timeRatio <= 1.3 && bytesRatio <= 1.1 ? 0 : 1;
}
