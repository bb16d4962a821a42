#pragma once

#include "piperpc/localsocket.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <stdexcept>
#include <vector>

class QSocketNotifier;

namespace kestro {

// Raised for misuse of a PipeRpc: a property set against its rule or outside pstFree, a
// method called in the wrong state, or a pipe that cannot be created.
class PipeRpcError : public std::runtime_error {
public:
    PipeRpcError(qint32 number, const QString& description);
    qint32 number() const { return number_; }
    QString description() const { return description_; }
    static QString source() { return QStringLiteral("PipeRPC"); }

private:
    qint32 number_;
    QString description_;
};

// A request/response channel over local message sockets (AF_UNIX, SOCK_SEQPACKET), with
// the behaviour of the Windows named-pipe control both programs were built on. One
// instance is free, a server listening on a pipe name that answers each request through
// called(), or a client holding one pipe open; a free instance can also make single calls.
//
// The server keeps a list of slots. One slot at a time is the waiting instance (the
// listening socket); when a client arrives it becomes that client's slot and the waiting
// instance moves to the lowest free slot, unless MaxClients slots are in use: then nobody
// can connect until a slot is freed. Slots are served in one pass over all of them,
// started when any socket has something to say (rather than on a 16 ms poll), so events
// come in slot order, synchronously, on the owner's thread.
class PipeRpc : public QObject {
    Q_OBJECT
public:
    enum State : qint32 { pstFree = 0, pstListening = 1, pstOpen = 2 };
    Q_ENUM(State)
    enum DisconnectReason : qint32 {
        pdrNoReason = 0,
        pdrConnectFailed = 1,
        pdrClientDisconnect = 2,
        pdrClosePipe = 3,
        pdrRequestTooLong = 4,
        pdrResponseTooShort = 5,
        pdrReadError = 6,
        pdrWriteError = 7,
        // A connected client sent nothing for IdleTimeout milliseconds.
        pdrIdleTimeout = 8,
    };
    Q_ENUM(DisconnectReason)

    static constexpr qint32 kErrInvalidProperty = 5;
    static constexpr qint32 kErrInvalidWhileConnected = qint32(0x80048A04);
    static constexpr qint32 kErrPipe = qint32(0x80048A00);
    static constexpr int kPollIntervalMs = 16;
    // What a client waits for a waiting instance when Timeout is 0: the default time-out
    // that Listen gives the server pipes.
    static constexpr int kServerDefaultTimeoutMs = 250;
    // How long a call waits for its answer once the request is written.
    static constexpr int kReplyWaitMs = 5000;

    explicit PipeRpc(QObject* parent = nullptr);
    ~PipeRpc() override;

    // Properties. Setting one while the state is not pstFree, or against its rule,
    // throws PipeRpcError (number 5) and keeps the old value.
    qint16 maxClients() const { return maxClients_; }
    void setMaxClients(qint16 value);
    qint32 maxRequest() const { return maxRequest_; }
    void setMaxRequest(qint32 value);
    qint32 maxResponse() const { return maxResponse_; }
    void setMaxResponse(qint32 value);
    bool multiPoll() const { return multiPoll_; }
    void setMultiPoll(bool value);
    QString pipeName() const { return pipeName_; }
    void setPipeName(const QString& value);
    QString server() const { return server_; }
    void setServer(const QString& value);
    qint32 timeout() const { return timeout_; }
    void setTimeout(qint32 value);
    // Server only: a connected slot that sends nothing for this many milliseconds is
    // closed (pdrIdleTimeout), so clients that connect and never speak cannot hold every
    // slot. 0 (the default) never closes an idle slot.
    qint32 idleTimeout() const { return idleTimeout_; }
    void setIdleTimeout(qint32 value);
    // Server only: a connection is closed (pdrIdleTimeout) this many milliseconds after it
    // was made, whatever it sends, so nobody can keep a slot by talking. 0 (the default)
    // lets a connection stay as long as it likes.
    qint32 maxConnectionTime() const { return maxConnectionTime_; }
    void setMaxConnectionTime(qint32 value);
    // Server only: when set, a user who already holds a connection cannot take the last
    // free slot, so one user can never hold every slot while another user's client waits.
    // Root and the server's own user are not limited.
    bool oneLastSlotPerUser() const { return oneLastSlotPerUser_; }
    void setOneLastSlotPerUser(bool value);

    // Read-only properties.
    State state() const { return state_; }
    QString computerName() const { return computerName_; }
    static QString copyright();
    static qint16 versionMajor() { return 1; }
    static qint16 versionMinor() { return 1; }
    // VersionMajor + VersionMinor / 10000 in units of 1/10000 (fixed-point currency).
    static qint64 versionTenThousandths() { return versionMajor() * 10000 + versionMinor(); }
    static double version() { return double(versionTenThousandths()) / 10000.0; }

    // Property bag: the stored values, taken over without the rules.
    QVariantMap writeProperties() const;
    void readProperties(const QVariantMap& bag);

    // Methods.
    void listen();
    void closePipe();
    quint32 openPipe();
    // `response` is sized by the caller; on success it shrinks to the bytes received.
    quint32 pipeCall(const QByteArray& request, QByteArray& response);
    static void copyMemory(void* dest, const void* source, qint32 lengthInBytes);

    // Server: who is at the other end of a slot (pid and user id from the socket).
    local::PeerCredentials peerOf(qint32 pipe) const;
    // Server: the slot count and how many wait for a client (for diagnostics and tests).
    int slotCount() const { return int(slots_.size()); }
    int listeningCount() const { return listening_; }

Q_SIGNALS:
    // Emitted synchronously from the pass; a handler fills *response.
    void called(qint32 pipe, const QByteArray& request, QByteArray* response);
    void connected(qint32 pipe);
    void disconnected(qint32 pipe, qint32 reason, quint32 systemError);

private:
    struct Slot {
        int fd = -1; // the connection, or the listening socket while waiting
        bool connected = false;
        std::unique_ptr<QSocketNotifier> notifier;
        local::PeerCredentials peer;
        qint64 lastActivityMs = 0;
        qint64 connectedAtMs = 0;
    };

    void requireFree() const;
    void openSlot();
    void closeSlot(int index, DisconnectReason reason, quint32 systemError);
    void releaseListener();
    void watch(int index);
    void schedulePass();
    void runPoll();
    bool pollSlot(int index);
    void acceptOn(int index);
    bool serveRequest(int index, const QByteArray& request);
    void checkIdle();
    bool wouldTakeLastSlot(const local::PeerCredentials& peer) const;
    void reapHungUpSlots(int except);
    bool isLocalServer() const;
    int waitMs() const;

    qint16 maxClients_ = 1;
    qint32 maxRequest_ = 1024;
    qint32 maxResponse_ = 1024;
    bool multiPoll_ = false;
    QString pipeName_;
    QString server_ = QStringLiteral(".");
    qint32 timeout_ = 0;
    qint32 idleTimeout_ = 0;
    qint32 maxConnectionTime_ = 0;
    bool oneLastSlotPerUser_ = false;
    State state_ = pstFree;
    QString computerName_;

    std::vector<Slot> slots_;
    int listening_ = 0;
    int listenFd_ = -1;
    QString fullPath_;
    bool passScheduled_ = false;
    bool inPass_ = false;
    bool closing_ = false;
    ino_t listenInode_ = 0;
    QObject* idleTimer_ = nullptr; // runs only while listening with a time limit
    int clientFd_ = -1;
    qint64 refusalLoggedMs_ = 0;
    int refusedSinceLog_ = 0;
};

} // namespace kestro
