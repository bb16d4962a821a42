#pragma once

#include "client/startup/clientstate.h"
#include "common/httpdownload.h"
#include "common/prompter.h"
#include "common/updateversion.h"

#include <QObject>
#include <optional>

namespace kestro::startup {

// True when the first line of a published version file names a version newer than
// `running`; false when there is no line feed within 100,000 characters, or a number
// does not fit 16 bits (the check then ends quietly).
bool isUpdateOffered(const QByteArray& versionFile, const VersionNumbers& running);

// Asks "Update installieren ?" in a box titled "Es ist ein Update verfügbar !" (Yes/No,
// no icon); true for Yes, after which the caller sends the update request.
bool confirmUpdate(Prompter& prompter);

// The client's own update check, once per start: downloads
// web server + "/AutoUpdate/Version/" + application name + ".txt" into the client data
// folder as application name + "-update.txt" without blocking the window, and emits
// updateOffered() when the published version is newer. Every failure ends it quietly.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    struct Config {
        QString webServer;
        QString clientDataFolder;
        QString appName;
        VersionNumbers running;
        // The proxy rule of every download of the client: the same as the catalogue's.
        ProxySettings proxy;
    };

    explicit UpdateCheck(Config config, QObject* parent = nullptr);
    void start();
    QString versionFileUrl() const;
    QString localFile() const;

Q_SIGNALS:
    void updateOffered();
    // After every check, offered or not.
    void finished(bool offered);

private:
    void onDownloaded(const DownloadResult& result);

    Config config_;
    AsyncDownload download_;
};

} // namespace kestro::startup
