#include "service/vellmonservice.h"

#include "common/logging.h"
#include "common/servicemessage.h"
#include "piperpc/clientpresencefiles.h"
#include "service/servicelog.h"
#include "service/servicepaths.h"
#include "service/updatesearch.h"

#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace kestro::service {

namespace {

// Keeps only the end of a growing text box, so a long-running service stays small.
void appendCapped(QString& box, const QString& line, int limit) {
    box += line + QStringLiteral("\r\n");
    if (box.size() > limit)
        box.remove(0, box.size() - limit);
}

// The program file a process runs, links resolved, as the kernel names it; empty when
// the process is gone or its program file was removed.
QString programOfProcess(pid_t pid) {
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    return link.endsWith(QStringLiteral(" (deleted)")) ? QString() : link;
}

} // namespace

VellmonService::VellmonService(Options options, Prompter& prompter, QObject* parent)
    : QObject(parent), options_(std::move(options)), prompter_(prompter),
      errorLog_(windowsFolder()),
      registry_(RegistryStore(), options_.registryWriteAllow, options_.registryWriteAllowClasses,
                options_.settingNames),
      registryWrites_(registry_),
      dispatcher_([this](Hive hive, const QString& key, const QString& name, const QString& value) {
          registryWrites_.enqueue(hive, key, name, value);
      }),
      shutdown_(prompter, options_.powerOff) {
    queueTimer_.setInterval(1);
    connect(&queueTimer_, &QTimer::timeout, this, &VellmonService::workQueue);
    shutdownTimer_.setInterval(0);
    connect(&shutdownTimer_, &QTimer::timeout, this,
            [this] { shutdown_.shutDownNTbasedWindows(SystemShutdown::kServiceMode); });
    heartbeat_.setInterval(options_.heartbeatMs);
    heartbeat_.start();
    updates_.setMaxThreadCount(1);

    connect(&tidyTimer_, &QTimer::timeout, this, [] { presence::tidyFolder(); });
    connect(&pipe_, &PipeRpc::called, this, &VellmonService::onCalled);
    connect(&mailslot_, &MailslotReceiver::messageWaiting, this, &VellmonService::onMailslot);
    connect(&dispatcher_, &CommandDispatcher::received, this, [this](const QString& text) {
        appendCapped(received_, text, kLogBoxLimit);
        Q_EMIT receivedChanged(received_);
        queueTimer_.start();
    });
    connect(&dispatcher_, &CommandDispatcher::showFormRequested, this,
            &VellmonService::showFormRequested);
    connect(&dispatcher_, &CommandDispatcher::beepRequested, this, &VellmonService::beepRequested);
    connect(&dispatcher_, &CommandDispatcher::shutdownArmed, this, [this](int delayMs) {
        if (delayMs == 0) {
            shutdownTimer_.stop();
            return;
        }
        qCInfo(lcService) << "shutdown armed:" << delayMs << "ms";
        shutdownTimer_.start(delayMs);
    });
    connect(&dispatcher_, &CommandDispatcher::updateRequested, this, &VellmonService::startUpdate);
}

VellmonService::~VellmonService() {
    stopping_ = true;
    closeSlot();
    QSignalBlocker quiet(&pipe_);
    pipe_.closePipe();
    waitForUpdates();
}

void VellmonService::start() {
    pipe_.setMaxClients(2);
    pipe_.setMaxRequest(20000);
    pipe_.setMaxResponse(200);
    pipe_.setPipeName(QStringLiteral("vellmon"));
    // Clients make single calls; one that connects and never speaks must not hold a slot.
    pipe_.setIdleTimeout(1000);
    // Nor may one that keeps talking, and one user never holds every slot.
    pipe_.setMaxConnectionTime(kMaxConnectionMs);
    pipe_.setOneLastSlotPerUser(true);
    listen();
    local::makeFolder(local::clientsDir(), 01777);
    presence::prepareUserFolders();
    // Every user writes there, in /run: what is not a running client's entry goes.
    presence::tidyFolder();
    tidyTimer_.start(kTidyIntervalMs);
    createSlot(defaultMailslotName());
}

void VellmonService::appendLog(const QString& line) {
    appendCapped(log_, line, kLogBoxLimit);
    Q_EMIT logChanged(log_);
}

void VellmonService::clearLog() {
    log_.clear();
    Q_EMIT logChanged(log_);
}

bool VellmonService::listen() {
    try {
        pipe_.listen();
    } catch (const PipeRpcError& e) {
        appendLog(QStringLiteral("Error %1: %2")
                      .arg(QString::number(quint32(e.number()), 16).toUpper(), e.description()));
        writeEventLog(EventKind::Failure, e.description());
        return false;
    }
    appendLog(QStringLiteral("Listening: MaxClients=%1, MaxRequest=%2, MaxResponse=%3")
                  .arg(pipe_.maxClients())
                  .arg(pipe_.maxRequest())
                  .arg(pipe_.maxResponse()));
    Q_EMIT listeningChanged(true);
    return true;
}

bool VellmonService::closePipe() {
    pipe_.closePipe();
    appendLog(QStringLiteral("Pipe closed"));
    Q_EMIT listeningChanged(false);
    return true;
}

bool VellmonService::createSlot(const QString& name) {
    return mailslot_.create(name);
}

void VellmonService::closeSlot() {
    mailslot_.close();
}

bool VellmonService::sendTestMessage(const QString& slot, const QString& text) {
    if (slot.isEmpty() || text.isEmpty())
        return false;
    if (mailSlotSend(text, slot))
        return true;
    prompter_.message(QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!"),
                      Prompter::Icon::None, kServiceTitle());
    return false;
}

void VellmonService::pause() {
    heartbeat_.stop();
    writeEventLog(EventKind::Paused, QStringLiteral("Service ") + QStringLiteral("pausiert"));
}

void VellmonService::resume() {
    heartbeat_.start();
    writeEventLog(EventKind::Continued, QStringLiteral("Service fortgefahren"));
}

bool VellmonService::isTrustedPeer(qint32 pipe) const {
    const local::PeerCredentials peer = pipe_.peerOf(pipe);
    return peer.known() && (peer.uid == 0 || peer.uid == ::geteuid());
}

bool VellmonService::enqueue(const QueuedMessage& message) {
    // An empty message would only mark a free slot; it is not a command.
    if (message.text.isEmpty() || !queue_.append(message))
        return false;
    queueTimer_.start();
    return true;
}

void VellmonService::onCalled(qint32 pipe, const QByteArray& request, QByteArray* response) {
    *response = toUtf16Le(QStringLiteral("False"));
    const QString text = decodeServiceMessage(fromUtf16Le(request));
    // A flood of setting writes waits for the disk; the sender hears of it as of a busy pipe.
    if (text.startsWith(QStringLiteral("KeySchreiben")) && !registryWrites_.hasRoom()) {
        qCWarning(lcService) << "setting write refused: too many writes waiting";
        return;
    }
    QueuedMessage message{text, isTrustedPeer(pipe)};
    const local::PeerCredentials peer = pipe_.peerOf(pipe);
    message.senderUid = peer.known() ? peer.uid : uid_t(-1);
    // A caller's clients register in a folder of its own, made here for users not listed
    // when the service started.
    if (peer.known() && !preparedUsers_.contains(peer.uid) && presence::prepareUserFolder(peer.uid))
        preparedUsers_.insert(peer.uid);
    if (text.startsWith(QStringLiteral("searchingUpdate"))) {
        // The caller hears at once that no installer will come for a packaged client;
        // the search itself checks again, with the folder it then finds.
        const QString folder = QFileInfo(splitServiceMessage(text).field2).canonicalFilePath();
        if (!folder.isEmpty() && isPackageManagedFolder(folder)) {
            qCWarning(lcService).noquote()
                << "update request refused: the package manager updates the client in"
                << logSafe(folder);
            *response = toUtf16Le(kPackageManagedAnswer);
            return;
        }
        // Read now, while the caller waits for its answer: later its pid may be another's.
        if (peer.known())
            message.senderProgram = programOfProcess(peer.pid);
    }
    if (enqueue(message))
        *response = toUtf16Le(QStringLiteral("True"));
}

void VellmonService::onMailslot() {
    // One message per wake-up, as the poll took one per tick; the socket wakes us again.
    if (const auto text = mailslot_.readNext()) {
        if (!enqueue({decodeServiceMessage(*text), true}))
            qCWarning(lcService) << "mailslot message dropped: the queue is full";
    }
}

void VellmonService::workQueue() {
    queueTimer_.stop();
    queue_.work([this](const QueuedMessage& m) { dispatcher_.dispatch(m); });
}

void VellmonService::startUpdate(const UpdateRequest& request) {
    const UpdateSearch::Environment env{options_.webServer,
                                        windowsFolder(),
                                        options_.products,
                                        options_.clientFolders,
                                        options_.updatePublicKey,
                                        &errorLog_,
                                        [this](const QString& product) {
                                            presence::closeFirstClientTitled(product, 10000,
                                                                             &stopping_);
                                        },
                                        &startDetachedInstaller,
                                        &stopping_,
                                        &installerStarts_};
    // Searches run one after another; a caller asking again and again only waits in line
    // up to a few places, so neither memory nor the real client's turn is lost to it.
    if (waitingUpdates_ >= kMaxWaitingUpdates) {
        qCWarning(lcService) << "update request refused: too many searches waiting";
        return;
    }
    {
        const QMutexLocker lock(&waitingMutex_);
        if (waitingPerUser_.value(request.requesterUid) >= kMaxWaitingUpdatesPerUser) {
            qCWarning(lcService) << "update request refused: user" << request.requesterUid
                                 << "has a search waiting already";
            return;
        }
        ++waitingPerUser_[request.requesterUid];
    }
    ++waitingUpdates_;
    updates_.start([this, env, request] {
        UpdateSearch(env).run(request);
        const QMutexLocker lock(&waitingMutex_);
        if (--waitingPerUser_[request.requesterUid] <= 0)
            waitingPerUser_.remove(request.requesterUid);
        --waitingUpdates_;
    });
}

void VellmonService::waitForUpdates() {
    updates_.waitForDone();
}

} // namespace kestro::service
