#pragma once

#include "common/deployconfig.h"
#include "common/prompter.h"
#include "piperpc/mailslot.h"
#include "piperpc/piperpc.h"
#include "service/commanddispatcher.h"
#include "service/commandqueue.h"
#include "service/errorlog.h"
#include "service/registrywritequeue.h"
#include "service/registrywriter.h"
#include "service/shutdown.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <memory>

namespace kestro::service {

// Everything Vellmon does, without a window: the pipe server "vellmon", the mailslot,
// the command queue and its worker, the dispatcher, the shutdown and heartbeat timers,
// and the update worker. The diagnostics window only shows it and presses its buttons.
class VellmonService : public QObject {
    Q_OBJECT
public:
    static QString defaultMailslotName() {
        return QStringLiteral("//./mailslot/Vellmon/AllVersion");
    }
    static constexpr int kLogBoxLimit = 64 * 1024;
    // How long one pipe connection may stay, whatever it sends.
    static constexpr int kMaxConnectionMs = 3000;
    // How often the clients folder is cleared of what is not a running client's entry.
    static constexpr int kTidyIntervalMs = 10000;
    // Update searches waiting or running at most.
    static constexpr int kMaxWaitingUpdates = 4;
    // ... and of them, asked for by one user.
    static constexpr int kMaxWaitingUpdatesPerUser = 1;
    // No second installer starts for the same client folder within this time.
    static constexpr qint64 kInstallerGapMs = 10 * 60 * 1000;

    struct Options {
        QString webServer;
        QStringList registryWriteAllow;
        QStringList registryWriteAllowClasses;
        QStringList settingNames = DeployConfig().settingNames;
        QStringList products = DeployConfig().products;
        QString updatePublicKey;
        QStringList clientFolders;
        int heartbeatMs = 1000;
        SystemShutdown::PowerOffAction powerOff = SystemShutdown::defaultAction();
    };

    VellmonService(Options options, Prompter& prompter, QObject* parent = nullptr);
    ~VellmonService() override;

    // Start-up steps after the command line: queue, pipe server, mailslot.
    void start();

    // The window's buttons.
    bool listen();                        // "Listen"
    bool closePipe();                     // "ClosePipe"
    bool createSlot(const QString& name); // "Erstellen"
    void closeSlot();                     // when the window is asked to close
    bool sendTestMessage(const QString& slot, const QString& text); // "Senden"

    // Service control: pause stops the heartbeat only; pipe, mailslot and commands go on.
    void pause();
    void resume();
    bool isHeartbeatActive() const { return heartbeat_.isActive(); }

    QString logText() const { return log_; }
    QString receivedText() const { return received_; }
    void clearLog();
    PipeRpc& pipe() { return pipe_; }
    int shutdownInterval() const {
        return shutdownTimer_.isActive() ? shutdownTimer_.interval() : 0;
    }

    // Waits until queued update searches and registry writes have finished.
    void waitForUpdates();

Q_SIGNALS:
    void logChanged(const QString& text);
    void receivedChanged(const QString& text);
    void listeningChanged(bool listening);
    void showFormRequested(bool show);
    void beepRequested();

private:
    void appendLog(const QString& line);
    void onCalled(qint32 pipe, const QByteArray& request, QByteArray* response);
    void onMailslot();
    void workQueue();
    bool enqueue(const QueuedMessage& message);
    void startUpdate(const UpdateRequest& request);
    bool isTrustedPeer(qint32 pipe) const;

    Options options_;
    Prompter& prompter_;
    ErrorLog errorLog_;
    RegistryWriter registry_;
    RegistryWriteQueue registryWrites_;
    CommandDispatcher dispatcher_;
    CommandQueue queue_;
    PipeRpc pipe_;
    MailslotReceiver mailslot_;
    SystemShutdown shutdown_;
    QTimer queueTimer_;    // Timer2
    QTimer shutdownTimer_; // timShutDown
    QTimer heartbeat_;     // Timer
    QTimer tidyTimer_;
    QThreadPool updates_;
    std::atomic_bool stopping_{false};
    std::atomic_int waitingUpdates_{0};
    QMutex waitingMutex_;
    QHash<uid_t, int> waitingPerUser_; // guarded by waitingMutex_
    QSet<uid_t> preparedUsers_;        // whose folder in the clients folder is made
    InstallerStarts installerStarts_{kInstallerGapMs};
    QString log_;
    QString received_;
};

} // namespace kestro::service
