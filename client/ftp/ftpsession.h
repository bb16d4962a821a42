#pragma once

#include "client/ftp/ftpcertificate.h"
#include "client/ftp/ftpreply.h"
#include "client/ftp/progressinfo.h"
#include "client/ftp/uploadretry.h"
#include "client/startup/ftpencryption.h"

#include <QLoggingCategory>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <atomic>
#include <curl/curl.h>
#include <map>
#include <mutex>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcFtp)

namespace kestro::transfer {

// The proxy settings of the FTP configuration. The FTP proxy is reached as an HTTP
// proxy that tunnels both FTP connections (CONNECT).
struct FtpProxySettings {
    bool enabled = false;
    QString host;     // FProxy; may carry ":port"
    QString port;     // FProxP, used when the host carries no port
    QString user;     // ProxyU
    QString password; // ProxyP
};

struct FtpUploadRequest {
    QString server; // "host" or "host:port"
    QString directory = QStringLiteral("/");
    QString localPath;  // the file to upload, streamed from disk
    QString remoteName; // its name on the server; the local file name when empty
    QString user;
    QString password;
    FtpProxySettings proxy;
    // Explicit TLS (AUTH TLS) on the control connection and PROT P on the data connections.
    startup::FtpEncryption encryption = startup::FtpEncryption::Plain;
    // The SHA-256 fingerprint of the certificate the worker trusted for this server; with
    // it exactly that certificate is taken, without it the system's authorities decide.
    QString trustedFingerprint;
    QString agent = QStringLiteral("KestroFTP-Client"); // named to a proxy
    int connectTimeoutSeconds = 30;
    int responseTimeoutSeconds = 60; // longest wait for any server reply
    int lowSpeedSeconds = 60;        // give up when nothing moves this long
    // Where the upload notes the name its file travels under before it sends it, so that
    // a later send can remove the part file should this process be killed; none if empty.
    QString partNoteFile;
    // Part files that killed uploads left in this account's folder, removed after this one.
    QStringList staleParts;
    // The pauses before each further attempt after the connection dropped mid-upload; an
    // attempt that moved the file on starts the count anew.
    UploadRetry::Pauses retryPauses = UploadRetry::defaultPauses();
};

// The note an upload of `request` writes for its part file `partName`.
QByteArray partNote(const FtpUploadRequest& request, const QString& partName);
// The part file a note names, when it was written for the account and folder of
// `request` and names nothing but a part file of ours; empty otherwise.
QString stalePartFrom(const QByteArray& note, const FtpUploadRequest& request);

struct FtpUploadResult {
    bool delivered = false; // the server confirmed the whole file and its size matches
    bool connected = false; // the server accepted the login
    int errorCode = 0;      // WinINet code of the failure, 0 when delivered
    QString errorText;      // the text shown for errorCode
    QString serverLastReply;
    qint64 localSize = 0;
    qint64 bytesSent = 0;   // over all attempts, so a resumed upload shows what it saved
    qint64 remoteSize = -1; // the size the server names for the stored file, -1 when it gave none
    QString remoteName;     // the name the file finally stands under on the server
    // A complete part file the upload had to leave on the server: the line stayed down
    // while it was being renamed. Its note must outlive the send, so a later one removes it.
    QString partLeft;
    // The server's certificate when it was refused: unconfirmed, or not the trusted one.
    CertificateRefusal certificateRefusal = CertificateRefusal::None;
    PeerCertificate certificate;
};

// "Uploading Job 1.zip" for Job_1.zip: the bar message of an upload.
QString uploadBarMessage(const QString& localPath);
// "Uploading Job_1.zip": the main window's caption while the archive goes out.
QString uploadCaption(const QString& localPath);
// The file name part of a local path.
QString fileNamePart(const QString& localPath);

// Receives the events of one upload; called on the thread that runs the upload.
class FtpSessionObserver {
public:
    virtual ~FtpSessionObserver() = default;
    virtual void onStatus(const QString& text) = 0;
    virtual void onTransferStarted(qint64 total, const QString& barMessage) = 0;
    virtual void onProgress(const TransferProgress& progress) = 0;
};

// One upload over libcurl in passive mode, run to its end on the calling thread:
// connect and log in, change into the directory, store the file under a name of this
// upload's own (the remote name + a unique part + ".part"), ask the server for the stored
// size (SIZE, else MLST, else a listing), and only then rename it to the remote name, or
// to the remote name + "-2", "-3", ... when another file already holds that name. While
// it looks and renames, the upload holds the name by a folder "<name>.lock" (creating a
// folder is atomic), so two uploads never take one name. The shop never sees a half
// file under an archive's name, and two uploads never replace each other's file. A failed or
// aborted upload removes its partial file, on a fresh control connection when the first one broke.
// A server that refuses the rename gets the file under its final name directly, the name held
// by its lock folder meanwhile, and loses it again on failure; the refusal is remembered for
// the program's run, so only the first upload to such a server goes out twice. abort() may be
// called from any other thread at any time; once the stored file proved complete, the rename is no
// longer interrupted.
class FtpPutSession {
public:
    FtpPutSession(FtpUploadRequest request, FtpSessionObserver& observer);
    FtpPutSession(const FtpPutSession&) = delete;
    FtpPutSession& operator=(const FtpPutSession&) = delete;

    FtpUploadResult uploadFile();
    void abort();
    // Stops everything at once, the removal of a partial file and the rename included:
    // for an owner that goes away and must not wait for the server.
    void abandon();
    bool abortRequested() const { return aborted_.load(); }

private:
    friend struct SessionCallbacks;

    // What the server says of one file in the upload's folder.
    struct RemoteFile {
        enum class Kind { Unknown, Absent, Present } kind = Kind::Unknown;
        qint64 size = -1;
    };
    // LineDropped: the connection broke before the rename could be done or refused.
    enum class Publish { Done, RenameRefused, LineDropped, Failed };
    enum class Claim { Held, Taken, NotHeld, Broken };

    void deliver(CURL* curl, std::FILE* file, const QString& wanted, FtpUploadResult& result);
    bool putOneFile(CURL* curl, std::FILE* file, const QString& remoteName, FtpUploadResult& result,
                    qint64 offset = 0);
    bool putResumable(CURL* curl, std::FILE* file, const QString& partName,
                      FtpUploadResult& result);
    std::optional<qint64> resumeOffset(CURL* curl, const QString& partName, qint64 limit);
    // What reading back the end of a part file showed.
    enum class Tail { Same, Differs, Unreadable, Broken };
    Tail readBackTail(CURL* curl, const QString& partName, qint64 held);
    bool resumedToFullSize(CURL* curl, const QString& partName);
    // The server refused the last connection: its certificate, the login or TLS.
    bool refusedConnection() const;
    bool confirmStoredSize(CURL* curl, const QString& remoteName, FtpUploadResult& result);
    Publish publish(CURL* curl, const QString& partName, const QString& wanted, QString& finalName);
    Publish publishAcrossDrops(CURL* curl, const QString& partName, const QString& wanted,
                               QString& finalName);
    Claim claimName(CURL* curl, const QString& name);
    void releaseName(CURL* curl, const QString& name);
    Publish renameTo(CURL* curl, const QString& partName, const QString& name, bool& taken);
    bool storeUnderFreeName(CURL* curl, std::FILE* file, const QString& wanted,
                            FtpUploadResult& result, QString& finalName);
    QString accountKey() const;
    RemoteFile probe(CURL* curl, const QString& remoteName, bool askSize);
    RemoteFile fromListing(CURL* curl, const QString& remoteName);
    bool runCommands(CURL* curl, const QStringList& commands);
    bool configure(CURL* curl);
    // True when the server took the DELE (the file is gone).
    bool removeRemote(CURL* curl, const QString& remoteName);
    // Removes the note that names the part file: nothing of this upload is on the server.
    void dropPartNote();
    void fail(FtpUploadResult& result, int code);
    bool interruptible() const {
        return aborted_.load() && (!shielded_.load() || abandoned_.load());
    }
    void status(int code, const QString& info = QString());

    // libcurl callbacks, on the upload's thread
    size_t readFile(char* buffer, size_t length);
    size_t listed(const char* data, size_t length);
    bool progressed(curl_off_t uploaded);
    void traced(curl_infotype type, const char* data, size_t size);
    void replyComplete(int code, const QString& text);
    curl_socket_t openSocket(curl_sockaddr* address);
    void closeSocket(curl_socket_t fd);

    FtpUploadRequest request_;
    FtpSessionObserver& observer_;
    std::atomic<bool> aborted_{false};
    // Set while the rename or the removal of a partial file runs: an abort no longer
    // interrupts those short steps.
    std::atomic<bool> shielded_{false};
    std::atomic<bool> abandoned_{false};
    std::mutex socketsMutex_;
    std::map<curl_socket_t, QString> sockets_; // open sockets and their peer address
    int socketsOpened_ = 0;
    // A name whose lock folder this upload made but the server would not let it remove.
    QString ownStaleClaim_;
    bool resolving_ = false;

    std::FILE* file_ = nullptr;
    bool readFailed_ = false;
    CURLcode lastCode_ = CURLE_OK; // of the last transfer or commands
    bool tlsRefused_ = false;      // TLS was required and the server did not offer it
    qint64 localSize_ = 0;
    qint64 resumedAt_ = 0; // where the running attempt continues the file
    qint64 totalSent_ = 0; // over all attempts
    bool transferring_ = false;
    QByteArray listing_;
    RateMeter meter_;
    RateMeter::Clock::time_point lastReport_{};

    // What the control connection said so far.
    struct DialogueState {
        QByteArray lastVerb;
        QString lastReply;
        int lastReplyCode = 0;
        bool greeted = false;
        bool loggedIn = false;
        bool handleCreated = false;
        bool storSent = false;
        bool storConfirmed = false;
        qint64 remoteSize = -1;
        std::map<QByteArray, FtpReply> replies; // the last reply to each command verb
        QString controlPeer;
        QString dataPeer;
    } dialogue_;
    FtpReplyAssembler replies_;
    CertificateCheck certificates_;
};

} // namespace kestro::transfer

Q_DECLARE_METATYPE(kestro::transfer::FtpUploadResult)
