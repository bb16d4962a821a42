// kestro-send JOB.json [--send-to-default-target] [--quiet]
// kestro-send --from-job N [--send-to-default-target] [--quiet]
// kestro-send ... [--trust-fingerprint SHA256:...] [--retry-pauses 2,10,30]
// kestro-send --help
//
// Sends one job, described in a JSON file or taken from the job history, through the same send
// pipeline as the main window, with the same settings, job database and client data folder. For
// scripts:
//   0   delivered; stdout names the archive and the job number
//   1   the job was refused (no files, incomplete, a colour or step the shop's catalogue
//       does not offer, default target without the flag, catalogue not obtained, no file
//       readable, no database or one that takes no write, no such earlier job or one of
//       its files gone); the reason on stderr
//   2   the job was not delivered (upload failed, aborted, send broke off; a server
//       certificate that is not confirmed: stderr names its fingerprint)
//   3   delivered, not yet recorded: the shop has the job (stdout as for 0), but the job
//       database refused the record; it waits in the client data folder and is recorded
//       by the next send or start
//   64  bad usage or a malformed job file (copies outside 1 to 100, a NUL in a path or
//       text, larger than 4 MB)
#include "client/ftp/trustedcertificates.h"
#include "client/ftp/uploadretry.h"
#include "client/history/sendagain.h"
#include "client/jobdb/address.h"
#include "client/jobdb/database.h"
#include "client/jobdb/masterdata.h"
#include "client/send/progressdisplay.h"
#include "client/send/sendjobfile.h"
#include "client/send/sendpipeline.h"
#include "client/startup/clientstate.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/settings.h"
#include "client/startup/startup.h"
#include "common/deployconfig.h"
#include "common/prompter.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

using namespace kestro;
using transfer::SendOutcome;

namespace {

constexpr int kDelivered = 0;
constexpr int kRefused = 1;
constexpr int kNotDelivered = 2;
constexpr int kNotRecorded = 3;
constexpr int kUsage = 64;

void printErr(const QString& text) {
    std::fprintf(stderr, "%s\n",
                 qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
}

// Message boxes become lines on stderr. Nobody is there to answer, so every question is
// answered No. The default-target question is never asked here: the pipeline is told
// beforehand whether the caller wants the maker's target.
class TerminalPrompter : public Prompter {
public:
    void message(const QString& text, Icon, const QString& = {}) override { printErr(text); }
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override {
        message(text, icon, title);
        return false;
    }
    // The certificate and the option that trusts it follow on stderr when the send ends.
    bool askChoice(const QString&, Icon, const QString&, const QString&,
                   const QString& = {}) override {
        return false;
    }
    QString chooseOpenFile(const QString&, const QString&) override { return {}; }
};

int exitCodeFor(SendOutcome outcome) {
    switch (outcome) {
    case SendOutcome::Delivered:
        return kDelivered;
    case SendOutcome::ConfigureTarget:
    case SendOutcome::CatalogueNotObtained:
    case SendOutcome::NoFiles:
    case SendOutcome::Incomplete:
    case SendOutcome::Refused:
    case SendOutcome::NothingPacked:
        return kRefused;
    case SendOutcome::Aborted:
    case SendOutcome::NotDelivered:
    case SendOutcome::Failed:
        return kNotDelivered;
    }
    return kNotDelivered;
}

QString stateText(transfer::SendPipeline::State state) {
    switch (state) {
    case transfer::SendPipeline::State::RefreshingCatalogue:
        return QStringLiteral("Katalog wird geladen ...");
    case transfer::SendPipeline::State::Reserving:
        return QStringLiteral("Auftragsnummer wird vergeben ...");
    case transfer::SendPipeline::State::Packing:
        return QStringLiteral("Dateien werden gepackt ...");
    case transfer::SendPipeline::State::Uploading:
        return QStringLiteral("Archiv wird übertragen ...");
    case transfer::SendPipeline::State::Notifying:
        return QStringLiteral("Auftrag wird gespeichert, Druckerei wird benachrichtigt ...");
    case transfer::SendPipeline::State::Idle:
        break;
    }
    return {};
}

// Nobody is there to look at the certificate: the one who runs the script checks the
// fingerprint with the shop and trusts it explicitly.
QString untrustedHint(const transfer::PeerCertificate& certificate) {
    return QStringLiteral("Zertifikat: %1, ausgestellt von %2, gültig von %3 bis %4.\n"
                          "Wenn Ihre Druckerei Ihnen den Fingerabdruck SHA256:%5 bestätigt, "
                          "senden Sie erneut mit der Option --trust-fingerprint SHA256:%5")
        .arg(certificate.subject, certificate.issuer, certificate.validFrom, certificate.validUntil,
             certificate.fingerprint);
}

std::atomic_bool interrupted{false};

struct Options {
    QString jobFile;
    std::optional<qint32> fromJob;
    bool sendToDefaultTarget = false;
    QString trustFingerprint;                  // stored for the target before the send
    transfer::UploadRetry::Pauses retryPauses; // empty: the usual ones
    QString badValue;                          // the message naming an unusable option value
    bool quiet = false;
    bool help = false;
};

const char* const kUsageText =
    "usage: kestro-send JOB.json [--send-to-default-target] [--quiet]\n"
    "       kestro-send --from-job N [--send-to-default-target] [--quiet]\n"
    "       either with --trust-fingerprint SHA256:... to trust the FTP server's certificate\n"
    "       with --retry-pauses S,S,...: seconds to wait before each further attempt\n"
    "              after the line dropped (default 2,10,30; at most 10 pauses of 0 to 3600)\n"
    "exit codes: 0 delivered, 1 refused, 2 not delivered,\n"
    "            3 delivered but not yet recorded (recorded by the next send or start),\n"
    "            64 bad usage or job file\n";

std::optional<Options> parseArguments(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--send-to-default-target"))
            o.sendToDefaultTarget = true;
        else if (a == QLatin1String("--quiet"))
            o.quiet = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            o.help = true;
        else if (a == QLatin1String("--trust-fingerprint") && ++i < args.size()) {
            o.trustFingerprint = args[i];
            if (transfer::normalizedFingerprint(o.trustFingerprint).isEmpty()) {
                o.badValue =
                    QStringLiteral("kestro-send: ungültiger Wert für --trust-fingerprint „%1“: "
                                   "erwartet wird ein SHA-256-Fingerabdruck aus 32 Bytes in "
                                   "Hexadezimalziffern, z. B. SHA256:AB:CD:…, wie ihn "
                                   "kestro-send oder „openssl x509 -noout -fingerprint -sha256“ "
                                   "ausgibt")
                        .arg(args[i]);
                return o;
            }
        } else if (a == QLatin1String("--retry-pauses") && ++i < args.size()) {
            const auto pauses = transfer::parseRetryPauses(args[i]);
            if (!pauses) {
                o.badValue =
                    QStringLiteral("kestro-send: ungültiger Wert für --retry-pauses „%1“: "
                                   "erwartet werden 1 bis 10 Pausen in ganzen Sekunden (0 bis "
                                   "3600), durch Kommas getrennt, z. B. 2,10,30")
                        .arg(args[i]);
                return o;
            }
            o.retryPauses = *pauses;
        } else if (a == QLatin1String("--from-job") && !o.fromJob && ++i < args.size()) {
            bool ok = false;
            o.fromJob = args[i].toInt(&ok);
            if (!ok)
                return std::nullopt;
        } else if (a.startsWith(QLatin1String("--")) || !o.jobFile.isEmpty())
            return std::nullopt;
        else
            o.jobFile = a;
    }
    if (!o.help && o.jobFile.isEmpty() == !o.fromJob)
        return std::nullopt;
    return o;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto options = parseArguments(app.arguments());
    if (!options) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    if (!options->badValue.isEmpty()) {
        printErr(options->badValue);
        return kUsage;
    }
    if (options->help) {
        std::fputs(kUsageText, stdout);
        return kDelivered;
    }
    transfer::SendJobFile parsed;
    if (!options->fromJob) {
        parsed = transfer::readSendJobFile(options->jobFile, QDate::currentDate());
        if (!parsed.job) {
            printErr(QStringLiteral("kestro-send: ") + parsed.error);
            return kUsage;
        }
    }

    // The same settings, data folder and database as the window reads at start-up.
    const DeployConfig config = DeployConfig::load();
    const startup::SettingsReader reader;
    startup::ClientState state;
    state.clientDataFolder = startup::ClientStartup::prepareClientDataFolder();
    state.databasePath = reader.read(QStringLiteral("Databank"));
    state.proxy = startup::readProxySettings(reader);
    state.ftp.encryption = startup::readFtpEncryption(reader, &state.ftp.unknownEncryption);
    state.ftp.retryPauses = options->retryPauses;
    state.mail = startup::readMailAccountSettings(reader);
    if (state.databasePath.isEmpty()) {
        printErr(QStringLiteral("Es ist keine Datenbank eingestellt. Bitte starten Sie zuerst "
                                "den KestroFTP-Client."));
        return kRefused;
    }
    const jobdb::Database database(state.databasePath);
    if (!database.isOpen()) {
        printErr(QStringLiteral("Die Datenbank %1 kann nicht geöffnet werden: %2")
                     .arg(jobdb::shownDatabank(state.databasePath), database.errorText()));
        return kRefused;
    }
    const jobdb::MasterDataStore store(state.databasePath);
    store.load(state.master);
    if (const auto server = store.loadFtpServer(); server && !server->isEmpty())
        state.ftp.server = *server;
    startup::applyFtpDefaults(state.ftp, config);
    if (!options->trustFingerprint.isEmpty()) {
        QString error;
        if (!transfer::TrustedCertificates(state.clientDataFolder)
                 .trust(state.ftp.server, options->trustFingerprint, &error)) {
            printErr(error);
            return kRefused;
        }
    }
    if (options->fromJob) {
        // As "Laden" in the history and then "FTP-Senden" would send it.
        const history::JobToSendAgain again =
            history::jobToSendAgain(database, *options->fromJob, QDate::currentDate());
        if (!again.job) {
            printErr(again.error);
            return kRefused;
        }
        parsed.job = again.job;
    }

    TerminalPrompter prompter;
    transfer::SendPipeline pipeline({state, config, database, prompter});
    pipeline.setChoiceCheck(&transfer::catalogueChoiceProblem);
    pipeline.setDefaultTargetChoice(options->sendToDefaultTarget
                                        ? transfer::DefaultTargetChoice::Send
                                        : transfer::DefaultTargetChoice::Refuse);

    const bool quiet = options->quiet;
    if (!quiet) {
        QObject::connect(&pipeline, &transfer::SendPipeline::stateChanged,
                         [](transfer::SendPipeline::State s) {
                             if (const QString t = stateText(s); !t.isEmpty())
                                 printErr(t);
                         });
        QObject::connect(&pipeline, &transfer::SendPipeline::statusLine, &printErr);
        auto lastPercent = std::make_shared<int>(-1);
        QObject::connect(&pipeline, &transfer::SendPipeline::progress,
                         [lastPercent](const transfer::TransferProgress& p) {
                             // "100 %" only once the shop confirmed the archive.
                             const int percent = transfer::barPercent(
                                 double(transfer::shownBytes(p)), double(p.total));
                             if (p.total <= 0 || percent == *lastPercent || percent % 10 != 0)
                                 return;
                             *lastPercent = percent;
                             QString line = QStringLiteral("  %1 %").arg(percent);
                             if (p.bytesPerSecond > 0)
                                 line += QStringLiteral("  ") + transfer::progressDetailText(p);
                             printErr(line);
                         });
    }
    int exitCode = kNotDelivered;
    QObject::connect(
        &pipeline, &transfer::SendPipeline::finished, [&](const transfer::SendResult& r) {
            exitCode = exitCodeFor(r.outcome);
            if (r.outcome == SendOutcome::Delivered && !r.recorded)
                exitCode = kNotRecorded;
            if (r.outcome == SendOutcome::Delivered) {
                std::printf("Archiv: %s\nAuftragsnummer: %d\n", qPrintable(r.archiveName),
                            r.jobNumber);
                std::fflush(stdout);
            }
            if ((r.outcome != SendOutcome::Delivered || r.notice != transfer::SendNotice::None) &&
                !r.message.isEmpty())
                printErr(r.message);
            if (r.upload.certificateRefusal == transfer::CertificateRefusal::Untrusted)
                printErr(untrustedHint(r.upload.certificate));
            QCoreApplication::exit(exitCode);
        });

    // Ctrl+C stops the send as the abort button does: the archive is deleted and nothing
    // is recorded.
    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    QTimer abortPoll;
    QObject::connect(&abortPoll, &QTimer::timeout, [&pipeline] {
        if (interrupted.exchange(false))
            pipeline.abort();
    });
    abortPoll.start(100);

    // Started from the event loop, so that a send that ends at once still reaches exit().
    QTimer::singleShot(0, &pipeline, [&] { pipeline.start(*parsed.job); });
    app.exec();
    return exitCode;
}
