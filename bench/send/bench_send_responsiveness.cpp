// bench_send_responsiveness CORPUS_DIR
//
// Sends every file of CORPUS_DIR as one job through the send pipeline to a print shop on
// loopback (catalogue over HTTP, FTP upload, mail), while a 10 ms timer ticks on the
// pipeline's thread, as the window's clock and repaints would. Prints how long the event
// loop was held up at most and how often it missed 100 ms, per phase of the send.
#include "cli/sendworkstation.h"
#include "client/jobdb/database.h"
#include "client/send/sendpipeline.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>

using namespace kestro;
using namespace kestro::transfer;

namespace {

struct PhaseFigures {
    qint64 longestMs = 0;
    int ticks = 0;
    int over100 = 0;
    qint64 durationMs = 0;
};

const char* phaseName(SendPipeline::State s) {
    switch (s) {
    case SendPipeline::State::Idle:
        return "start/checks";
    case SendPipeline::State::RefreshingCatalogue:
        return "catalogue";
    case SendPipeline::State::Reserving:
        return "job number";
    case SendPipeline::State::Packing:
        return "packing";
    case SendPipeline::State::Uploading:
        return "upload";
    case SendPipeline::State::Notifying:
        return "record+mail";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_send_responsiveness CORPUS_DIR\n");
        return 64;
    }
    compose::JobSnapshot job;
    job.deadlineDate = QDate::currentDate();
    job.deadlineTime = QStringLiteral("Sofort");
    qint64 corpusBytes = 0;
    QDirIterator it(QString::fromLocal8Bit(argv[1]), QDir::Files);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        corpusBytes += f.size();
        job.files << compose::FileRow{QString::number(job.files.size() + 1),
                                      f.fileName(),
                                      QStringLiteral("1"),
                                      QStringLiteral("farbig"),
                                      QStringLiteral("keine"),
                                      QStringLiteral("keine"),
                                      QStringLiteral("keine"),
                                      f.absoluteFilePath()};
    }
    test::SendWorkstation ws;
    if (!ws.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(ws.problem()));
        return 1;
    }
    startup::ClientState state;
    state.clientDataFolder = ws.machine.clientDataFolder();
    state.databasePath = ws.databasePath;
    state.ftp.server = ws.value("ftpServer");
    state.master.name = test::kCompany;
    const DeployConfig config = DeployConfig::load(ws.machine.configFile());
    const jobdb::Database database(ws.databasePath);
    ScriptedPrompter prompter;
    SendPipeline pipeline({state, config, database, prompter});

    std::map<SendPipeline::State, PhaseFigures> phases;
    SendPipeline::State phase = SendPipeline::State::Idle;
    QElapsedTimer sinceTick, sincePhase, total;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        PhaseFigures& p = phases[phase];
        p.longestMs = std::max(p.longestMs, gap);
        ++p.ticks;
        if (gap > 100)
            ++p.over100;
    });
    QObject::connect(&pipeline, &SendPipeline::stateChanged, [&](SendPipeline::State s) {
        phases[phase].durationMs += sincePhase.restart();
        phase = s;
    });
    SendResult result;
    QObject::connect(&pipeline, &SendPipeline::finished, [&](const SendResult& r) {
        phases[phase].durationMs += sincePhase.restart();
        result = r;
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, [&] {
        total.start();
        sincePhase.start();
        sinceTick.start();
        ticker.start(10);
        pipeline.start(job);
    });
    app.exec();

    const qint64 archiveBytes = result.upload.localSize;
    std::printf("job: %lld files, %.1f MB; archive %.1f MB; outcome %d (%s)\n",
                qlonglong(job.files.size()), corpusBytes / 1e6, archiveBytes / 1e6,
                int(result.outcome), qPrintable(result.message));
    std::printf("%-14s %10s %8s %14s %12s\n", "phase", "time [s]", "ticks", "longest [ms]",
                "gaps >100ms");
    qint64 longest = 0;
    int over = 0;
    for (const auto& [state, p] : phases) {
        std::printf("%-14s %10.2f %8d %14lld %12d\n", phaseName(state), p.durationMs / 1000.0,
                    p.ticks, qlonglong(p.longestMs), p.over100);
        longest = std::max(longest, p.longestMs);
        over += p.over100;
    }
    std::printf("whole send: %.2f s, longest event-loop gap %lld ms (target <= 100 ms), "
                "%d gaps over 100 ms\n",
                total.elapsed() / 1000.0, qlonglong(longest), over);
    return result.outcome == SendOutcome::Delivered ? 0 : 1;
}
