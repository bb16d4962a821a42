#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace kestro::service {

class ErrorLog;

// One "searchingUpdate" request.
struct UpdateRequest {
    QString productName;
    QString clientFolder;
    QString currentVersion;
    // Who asked: its user and the program file it runs (resolved; empty when not known).
    uid_t requesterUid = 0;
    QString requesterProgram;
};

// The file name of the client program as installed.
inline QString clientProgramName() {
    return QStringLiteral("KestroClient");
}

// The request's folder, links resolved, when it is that of an installed client: one of
// `clientFolders` (the deployment file's list), or the folder the asking program is the
// client program in. A folder merely owned by root holds no client of its own (/, /etc,
// /usr/bin), and root must neither write there nor close clients for it. Otherwise
// nothing, and `why` says why not.
std::optional<QString> installedClientFolder(const UpdateRequest& request,
                                             const QStringList& clientFolders, QString* why);

// True when `folder` (absolute, links resolved) is one of the system's own folders,
// which the package manager keeps: /usr (but not /usr/local), /bin, /sbin, /lib*, /etc,
// /boot and everything below them. A client there came with the system's package; an installer run by root
// would put files there that the package manager does not know, survive a purge and
// overwrite packaged programs, so no update is made for such a folder.
bool isPackageManagedFolder(const QString& folder);

// Remembers when an installer was last started for each client folder: within `gapMs`
// no second one starts there, so nobody can make root close the clients of that folder
// and run its installer again and again.
class InstallerStarts {
public:
    explicit InstallerStarts(qint64 gapMs) : gapMs_(gapMs) {}
    // True (and the start recorded) when no installer started for `folder` lately.
    bool claim(const QString& folder);
    bool startedLately(const QString& folder) const;

private:
    const qint64 gapMs_;
    mutable QMutex mutex_;
    QHash<QString, QDeadlineTimer> lastStart_;
};

// True when the request has the right shape: the product name is a plain file name and
// the client folder an existing absolute folder. Otherwise `why` says what is wrong.
// Whom to trust is decided by the search itself, right before it touches anything.
bool isAcceptableUpdateRequest(const UpdateRequest& request, QString* why);

// Looks on the maker's web server for a newer client and installs it: downloads the
// version file (local copy in the client folder, fallback copy in the Windows folder),
// compares the versions, downloads the installer, leaves the hint file, closes the
// client's window and starts the installer detached. It blocks on its downloads, so the
// service runs it on a worker thread; its steps go to the error log.
//
// Any local user may ask for a search, and the search runs as root, so it only serves a
// product named in the deployment file and a client folder that only root can change;
// every download lands in the service's own folder first and is copied into place only
// when complete, never through a link.
class UpdateSearch {
public:
    struct Environment {
        QString webServer;         // base of /AutoUpdate/Version/
        QString windowsFolder;     // fallback copy; the service's own download folder below it
        QStringList products;      // the product names a search may be made for
        QStringList clientFolders; // folders of installed clients, whoever asks for them
        QString publicKey;         // the maker's Ed25519 key; empty: installers are not verified
        ErrorLog* log = nullptr;
        // Asks the first running client whose title contains the product name to close.
        std::function<void(const QString& productName)> closeClient;
        // Starts the installer without waiting for it.
        std::function<bool(const QString& program, const QString& workingFolder)> startInstaller;
        // Set when the service stops: a running download ends at once.
        const std::atomic_bool* abort = nullptr;
        // The installers started lately; none: no limit.
        InstallerStarts* starts = nullptr;
    };

    explicit UpdateSearch(Environment env);
    void run(const UpdateRequest& request);

    static QString versionFileUrl(const QString& webServer, const QString& productName);
    // The service's own download folder (root only) below the Windows folder.
    static QString downloadFolder(const QString& windowsFolder);

private:
    // Downloads `url` into the download folder and, when complete, copies it to `target`.
    bool fetchInto(const QString& url, const QString& target, const QString& staged);
    bool isVerified(const QString& installerUrl, const QByteArray& installer);
    bool stopping() const { return env_.abort && env_.abort->load(); }

    Environment env_;
};

// Starts `program` detached.
bool startDetachedInstaller(const QString& program, const QString& workingFolder);

} // namespace kestro::service
