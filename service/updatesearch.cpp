#include "service/updatesearch.h"

#include "common/ansi.h"
#include "common/fileexists.h"
#include "common/httpdownload.h"
#include "common/logging.h"
#include "common/paths.h"
#include "common/updateversion.h"
#include "service/errorlog.h"
#include "service/installersignature.h"
#include "service/rootfiles.h"
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

// A version file is a line and an address; anything larger is not one.
constexpr qint64 kMaxVersionFileBytes = 16 * 1024 * 1024;

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

std::optional<QString> installedClientFolder(const UpdateRequest& request,
                                             const QStringList& clientFolders, QString* why) {
    const QString folder = QFileInfo(request.clientFolder).canonicalFilePath();
    if (folder.isEmpty()) {
        *why = QStringLiteral("client folder does not exist: ") + request.clientFolder;
        return std::nullopt;
    }
    for (const QString& listed : clientFolders)
        if (QFileInfo(listed).canonicalFilePath() == folder)
            return folder;
    // The kernel names the program file with its links resolved, as the folder now is.
    const QFileInfo program(request.requesterProgram);
    if (!request.requesterProgram.isEmpty() && program.fileName() == clientProgramName() &&
        program.path() == folder)
        return folder;
    *why = QStringLiteral("no installed client in %1: asked by %2, and the folder is not "
                          "among the deployment file's client folders")
               .arg(request.clientFolder, request.requesterProgram.isEmpty()
                                              ? QStringLiteral("an unknown program")
                                              : request.requesterProgram);
    return std::nullopt;
}

bool isPackageManagedFolder(const QString& folder) {
    const QString top = folder.section(QLatin1Char('/'), 1, 1);
    // /usr/local is the administrator's own, which the package manager never touches.
    if (top == QStringLiteral("usr") &&
        folder.section(QLatin1Char('/'), 2, 2) == QStringLiteral("local"))
        return false;
    return folder.startsWith(QLatin1Char('/')) &&
           (top == QStringLiteral("usr") || top == QStringLiteral("bin") ||
            top == QStringLiteral("sbin") || top == QStringLiteral("etc") ||
            top == QStringLiteral("boot") || top.startsWith(QStringLiteral("lib")));
}

bool InstallerStarts::startedLately(const QString& folder) const {
    const QMutexLocker lock(&mutex_);
    const auto it = lastStart_.constFind(folder);
    return it != lastStart_.constEnd() && !it->hasExpired();
}

bool InstallerStarts::claim(const QString& folder) {
    const QMutexLocker lock(&mutex_);
    const auto it = lastStart_.constFind(folder);
    if (it != lastStart_.constEnd() && !it->hasExpired())
        return false;
    lastStart_.insert(folder, QDeadlineTimer(gapMs_));
    return true;
}

UpdateSearch::UpdateSearch(Environment env) : env_(std::move(env)) {}

QString UpdateSearch::versionFileUrl(const QString& webServer, const QString& productName) {
    return webServer + QStringLiteral("/AutoUpdate/Version/") + productName +
           QStringLiteral(".txt");
}

QString UpdateSearch::downloadFolder(const QString& windowsFolder) {
    return paths::join(windowsFolder, QStringLiteral("downloads"));
}

bool UpdateSearch::fetchInto(const QString& url, const QString& target, const QString& staged) {
    DownloadOptions options;
    options.abort = env_.abort;
    options.maxBytes = kMaxVersionFileBytes;
    QString why;
    const bool ok = downloadToFile(url, staged, options).ok() &&
                    rootfiles::installCopy(staged, target, 0644, &why);
    if (!why.isEmpty())
        qCWarning(lcService).noquote() << "version file not stored:" << logSafe(why);
    QFile::remove(staged);
    return ok;
}

bool UpdateSearch::isVerified(const QString& installerUrl, const QByteArray& installer) {
    if (env_.publicKey.isEmpty()) {
        qCWarning(lcService) << "installer not verified: no public key is configured";
        return true;
    }
    const QString staged =
        paths::join(downloadFolder(env_.windowsFolder), QStringLiteral("Update.exe.sig"));
    DownloadOptions options;
    options.abort = env_.abort;
    options.maxBytes = 4096;
    QByteArray signature;
    QString why;
    const DownloadResult download =
        downloadToFile(installerUrl + QStringLiteral(".sig"), staged, options);
    bool ok = false;
    if (!download.ok())
        why = QStringLiteral("no signature: ") + download.error;
    else
        ok = rootfiles::readRegularFile(staged, &signature, options.maxBytes, &why) &&
             verifyInstallerSignature(installer, signature, env_.publicKey, &why);
    QFile::remove(staged);
    if (!ok)
        qCWarning(lcService).noquote() << "installer refused:" << logSafe(why);
    return ok;
}

void UpdateSearch::run(const UpdateRequest& request) {
    QString why;
    if (!env_.products.contains(request.productName)) {
        qCWarning(lcService).noquote()
            << "update request refused: product not named in the deployment file:"
            << logSafe(request.productName);
        return;
    }
    // From here on the folder as judged, whatever links in the caller's path change to.
    const std::optional<QString> clientFolder =
        installedClientFolder(request, env_.clientFolders, &why);
    if (!clientFolder) {
        qCWarning(lcService).noquote() << "update request refused:" << logSafe(why);
        return;
    }
    if (isPackageManagedFolder(*clientFolder)) {
        qCWarning(lcService).noquote()
            << "update request refused: the package manager updates the client in"
            << logSafe(*clientFolder);
        return;
    }
    const std::optional<QString> folder = rootfiles::trustedFolder(*clientFolder, &why);
    if (!folder) {
        qCWarning(lcService).noquote() << "update request refused:" << logSafe(why);
        return;
    }
    if (env_.starts && env_.starts->startedLately(*folder)) {
        qCWarning(lcService).noquote() << "update request refused: an installer was started for"
                                       << logSafe(*folder) << "a short time ago";
        return;
    }
    const QString downloads = downloadFolder(env_.windowsFolder);
    if (!rootfiles::ensurePrivateFolder(downloads, &why)) {
        qCWarning(lcService).noquote() << "update search impossible:" << logSafe(why);
        return;
    }

    ErrorLog& log = *env_.log;
    const QString url = versionFileUrl(env_.webServer, request.productName);
    const QString localCopy =
        paths::join(*folder, request.productName + QStringLiteral("-update.txt"));
    const QString fallbackCopy = paths::join(env_.windowsFolder, QStringLiteral("u-update.txt"));
    const QString stagedVersion = paths::join(downloads, QStringLiteral("version.txt"));

    fetchInto(url, localCopy, stagedVersion);
    log.write(1, url);
    log.write(1, localCopy);
    QString chosen = localCopy;
    if (!fileExists(localCopy)) {
        fetchInto(url, fallbackCopy, stagedVersion);
        chosen = fallbackCopy;
    }

    try {
        QByteArray bytes;
        if (!rootfiles::readRegularFile(chosen, &bytes, kMaxVersionFileBytes, &why)) {
            qCWarning(lcService).noquote() << "version file unusable:" << logSafe(why);
            throw SearchError{53, QStringLiteral("File not found")};
        }
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
        log.write(1, QStringLiteral("UpdateSoft 3"));
        // A line break after the address would only break it.
        installerUrl = installerUrl.trimmed();
        const QString staged = paths::join(downloads, QStringLiteral("Update.exe"));
        DownloadOptions options;
        options.abort = env_.abort;
        const bool downloaded = downloadToFile(installerUrl, staged, options).ok();
        QByteArray installerBytes;
        const bool usable =
            downloaded && !stopping() &&
            rootfiles::readRegularFile(staged, &installerBytes, options.maxBytes, &why) &&
            isVerified(installerUrl, installerBytes);
        if (downloaded && !usable && !why.isEmpty())
            qCWarning(lcService).noquote() << "installer unusable:" << logSafe(why);
        const QString installer = paths::join(*folder, QStringLiteral("Update.exe"));
        // Exactly the bytes that were checked go into place.
        const bool placed =
            usable && rootfiles::installBytes(installerBytes, installer, 0755, &why);
        QFile::remove(staged);
        if (!usable || stopping())
            return;
        if (!placed) {
            qCWarning(lcService).noquote() << "installer not stored:" << logSafe(why);
            throw SearchError{75, QStringLiteral("Path/File access error")};
        }
        log.write(1, QStringLiteral("UpdateSoft 4"));
        if (!rootfiles::installBytes(toAnsi(*folder) + "\r\n",
                                     paths::join(*folder, QStringLiteral("update.ini")), 0644,
                                     &why)) {
            qCWarning(lcService).noquote() << "hint file not written:" << logSafe(why);
            throw SearchError{75, QStringLiteral("Path/File access error")};
        }
        // The client is closed only now that its installer is really about to start.
        if (stopping())
            return;
        if (env_.starts && !env_.starts->claim(*folder)) {
            qCWarning(lcService).noquote() << "installer not started: another one was started for"
                                           << logSafe(*folder) << "a short time ago";
            return;
        }
        if (env_.closeClient)
            env_.closeClient(request.productName);
        if (stopping())
            return;
        if (env_.startInstaller && !env_.startInstaller(installer, *folder))
            throw SearchError{53, QStringLiteral("File not found")};
    } catch (const SearchError& e) {
        log.write(1, QStringLiteral("ErrOpenUrl 1 %1 - %2").arg(e.number).arg(e.description));
    }
}

bool startDetachedInstaller(const QString& program, const QString& workingFolder) {
    // Code 10 would give the installer a normal window with the focus; Linux has none.
    Q_UNUSED(osVersionCode());
    const bool started = QProcess::startDetached(program, {}, workingFolder);
    if (!started)
        qCWarning(lcService).noquote() << "cannot start the installer" << logSafe(program);
    return started;
}

} // namespace kestro::service
