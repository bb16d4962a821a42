#pragma once

#include <QString>
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

// True when the request may be carried out: the product name is a plain file name and
// the client folder an existing absolute folder. Otherwise `why` says what is wrong.
bool isAcceptableUpdateRequest(const UpdateRequest& request, QString* why);

// Looks on the maker's web server for a newer client and installs it: downloads the
// version file (local copy in the client folder, fallback copy in the Windows folder),
// compares the versions, closes the client's window, downloads the installer, leaves the
// hint file and starts the installer detached. It blocks on its downloads, so the service
// runs it on a worker thread; everything it reports goes to the error log.
class UpdateSearch {
public:
    struct Environment {
        QString webServer;     // base of /AutoUpdate/Version/
        QString windowsFolder; // fallback copy
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

private:
    Environment env_;
};

// Starts `program` detached, made executable first (it arrives as a download).
bool startDetachedInstaller(const QString& program, const QString& workingFolder);

} // namespace kestro::service
