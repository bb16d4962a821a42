#include "service/updatesearch.h"

#include "common/ansi.h"
#include "common/fileexists.h"
#include "common/httpdownload.h"
#include "common/paths.h"
#include "common/textfile.h"
#include "common/updateversion.h"
#include "service/errorlog.h"
#include "service/servicelog.h"
#include "service/shutdown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace kestro::service {

namespace {

// A step that fails from the open of the chosen file on, as the Windows program's error
// number and description.
struct SearchError {
    int number;
    QString description;
};

} // namespace

bool isAcceptableUpdateRequest(const UpdateRequest& request, QString* why) {
    const QString& name = request.productName;
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name == QStringLiteral(".") || name == QStringLiteral("..") || name.contains(QChar(0))) {
        *why = QStringLiteral("product name is not a plain file name: ") + name;
        return false;
    }
    const QFileInfo folder(request.clientFolder);
    if (request.clientFolder.isEmpty() || !folder.isAbsolute() || !folder.isDir() ||
        request.clientFolder.contains(QStringLiteral("/../")) ||
        request.clientFolder.endsWith(QStringLiteral("/.."))) {
        *why = QStringLiteral("client folder is not an existing absolute folder: ") +
               request.clientFolder;
        return false;
    }
    return true;
}

UpdateSearch::UpdateSearch(Environment env) : env_(std::move(env)) {}

QString UpdateSearch::versionFileUrl(const QString& webServer, const QString& productName) {
    return webServer + QStringLiteral("/AutoUpdate/Version/") + productName +
           QStringLiteral(".txt");
}

void UpdateSearch::run(const UpdateRequest& request) {
    ErrorLog& log = *env_.log;
    const QString url = versionFileUrl(env_.webServer, request.productName);
    const QString localCopy =
        paths::join(request.clientFolder, request.productName + QStringLiteral("-update.txt"));
    const QString fallbackCopy = paths::join(env_.windowsFolder, QStringLiteral("u-update.txt"));

    DownloadOptions options;
    options.abort = env_.abort;
    downloadToFile(url, localCopy, options);
    log.write(1, url);
    log.write(1, localCopy);
    QString chosen = localCopy;
    if (!fileExists(localCopy)) {
        downloadToFile(url, fallbackCopy, options);
        chosen = fallbackCopy;
    }

    try {
        QByteArray bytes;
        if (!QFile::exists(chosen) || !readWholeFile(chosen, &bytes))
            throw SearchError{53, QStringLiteral("File not found")};
        const QString content = fromAnsi(bytes);
        log.write(1, QStringLiteral("UpdateSoft 1"));
        QString installerUrl;
        const std::optional<QString> offeredText = versionFirstLine(content, &installerUrl);
        if (!offeredText)
            return; // no line feed within the scan limit: no update
        const auto offered = parseVersion(*offeredText);
        const auto current = parseVersion(request.currentVersion);
        if (!offered || !current)
            throw SearchError{6, QStringLiteral("Overflow")};
        if (!isNewer(*offered, *current))
            return;
        if (env_.closeClient)
            env_.closeClient(request.productName);
        log.write(1, QStringLiteral("UpdateSoft 3"));
        // A line break after the address would only break it.
        installerUrl = installerUrl.trimmed();
        const QString installer = paths::join(request.clientFolder, QStringLiteral("Update.exe"));
        const DownloadResult download = downloadToFile(installerUrl, installer, options);
        if (!download.ok() || (env_.abort && env_.abort->load()))
            return;
        log.write(1, QStringLiteral("UpdateSoft 4"));
        const QString hint = paths::join(request.clientFolder, QStringLiteral("update.ini"));
        QString error;
        if (!writeWholeFile(hint, toAnsi(request.clientFolder) + "\r\n", &error))
            throw SearchError{75, QStringLiteral("Path/File access error")};
        if (env_.startInstaller && !env_.startInstaller(installer, request.clientFolder))
            throw SearchError{53, QStringLiteral("File not found")};
    } catch (const SearchError& e) {
        log.write(1, QStringLiteral("ErrOpenUrl 1 %1 - %2").arg(e.number).arg(e.description));
    }
}

bool startDetachedInstaller(const QString& program, const QString& workingFolder) {
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner | QFile::ExeGroup |
                                       QFile::ExeOther);
    // Code 10 would give the installer a normal window with the focus; Linux has none.
    Q_UNUSED(osVersionCode());
    const bool started = QProcess::startDetached(program, {}, workingFolder);
    if (!started)
        qCWarning(lcService).noquote() << "cannot start the installer" << program;
    return started;
}

} // namespace kestro::service
