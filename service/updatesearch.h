#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

namespace kestro::service {

class ErrorLog;

// One "searchingUpdate" request.
struct UpdateRequest {
    QString productName;
    QString clientFolder;
    QString currentVersion;
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
        QString webServer;     // base of /AutoUpdate/Version/
        QString windowsFolder; // fallback copy; the service's own download folder below it
        QStringList products;  // the product names a search may be made for
        QString publicKey;     // the maker's Ed25519 key; empty: installers are not verified
        ErrorLog* log = nullptr;
        // Asks the first running client whose title contains the product name to close.
        std::function<void(const QString& productName)> closeClient;
        // Starts the installer without waiting for it.
        std::function<bool(const QString& program, const QString& workingFolder)> startInstaller;
        // Set when the service stops: a running download ends at once.
        const std::atomic_bool* abort = nullptr;
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
