#include "client/startup/cataloguefetch.h"

#include "client/startup/startuplog.h"
#include "common/paths.h"
#include "common/textfile.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace kestro::startup {

namespace {

// Fetches share the three files of the client data folder; one at a time per process.
std::mutex& fetchMutex() {
    static std::mutex mutex;
    return mutex;
}

// Fetches of other processes (a second window, kestro-send beside the window, scripts)
// share the same three files: one process at a time, or one's clean-up removes the list
// another is about to read. The lock goes with the descriptor, so a killed process holds
// nothing.
class FolderFetchLock {
public:
    explicit FolderFetchLock(const QString& clientDataFolder) {
        const QByteArray path =
            QFile::encodeName(paths::join(clientDataFolder, QLatin1String(kFetchLockName)));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            qCWarning(lcStartup).noquote()
                << "cannot lock" << path << ": fetching without the lock";
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderFetchLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderFetchLock(const FolderFetchLock&) = delete;
    FolderFetchLock& operator=(const FolderFetchLock&) = delete;

private:
    static constexpr const char* kFetchLockName = ".Katalog.lock";
    int fd_ = -1;
};

QString encoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

void removeFile(const QString& path) {
    QFile file(path);
    if (file.exists() && !file.remove())
        qCWarning(lcStartup).noquote() << "could not delete" << path << ":" << file.errorString();
}

CatalogueOutcome failed(CatalogueOutcome outcome, const QString& reason,
                        const QString& catalogueFile) {
    removeFile(catalogueFile);
    outcome.obtained = false;
    outcome.failure = reason;
    qCWarning(lcStartup).noquote() << "catalogue not obtained:" << reason;
    return outcome;
}

} // namespace

CatalogueRequest catalogueRequestFor(const ClientState& state, const DeployConfig& config) {
    CatalogueRequest request;
    request.webServer = config.webServer;
    request.clientDataFolder = state.clientDataFolder;
    request.ftpServer = state.ftp.server;
    request.proxy = state.proxy;
    return request;
}

QString proxiedUrl(const QString& url, const ProxySettings& proxy) {
    // Without any credentials an empty "user:@" would only send a stray login to the server.
    if (!proxy.useProxy || (proxy.user.isEmpty() && proxy.password.isEmpty()))
        return url;
    const QString user = encoded(proxy.user);
    const QString password = encoded(proxy.password);
    if (url.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive))
        return withProxyCredentials(url, user, password);
    // The rule assumed "http://"; an https address keeps its scheme.
    const qsizetype authority = url.indexOf(QStringLiteral("://"));
    if (authority < 0)
        return url;
    return url.left(authority + 3) + user + QLatin1Char(':') + password + QLatin1Char('@') +
           url.mid(authority + 3);
}

QString httpProxyAddress(const ProxySettings& proxy) {
    const QString host = proxy.httpProxy.trimmed();
    if (!proxy.useProxy || host.isEmpty())
        return {};
    static const QRegularExpression hasPort(QStringLiteral(":\\d+$"));
    QString address = host;
    if (!hasPort.match(host).hasMatch()) {
        const QString port = proxy.httpProxyPort.trimmed();
        address += QLatin1Char(':') + (port.isEmpty() ? QStringLiteral("80") : port);
    }
    if (!proxy.user.isEmpty() || !proxy.password.isEmpty())
        address = encoded(proxy.user) + QLatin1Char(':') + encoded(proxy.password) +
                  QLatin1Char('@') + address;
    return QStringLiteral("http://") + address;
}

DownloadOptions downloadOptionsFor(const ProxySettings& proxy) {
    DownloadOptions options;
    options.proxy = httpProxyAddress(proxy);
    return options;
}

CatalogueOutcome obtainCatalogue(const CatalogueRequest& request, const std::atomic_bool* abort) {
    std::lock_guard<std::mutex> lock(fetchMutex());
    const FolderFetchLock folderLock(request.clientDataFolder);
    const QString targetsFile = paths::join(request.clientDataFolder, kTargetsFileName);
    const QString catalogueFile = paths::join(request.clientDataFolder, kCatalogueFileName);
    const QString logoFile = paths::join(request.clientDataFolder, kLogoFileName);

    DownloadOptions options = downloadOptionsFor(request.proxy);
    options.connectTimeoutMs = request.connectTimeoutMs;
    options.totalTimeoutMs = request.totalTimeoutMs;
    options.maxBytes = request.maxListBytes;
    options.abort = abort;

    CatalogueOutcome outcome;
    const QString targetsUrl = proxiedUrl(request.webServer + kTargetsPath, request.proxy);
    const DownloadResult targets = downloadToFile(targetsUrl, targetsFile, options);
    if (!targets.ok())
        return failed(outcome, QStringLiteral("targets list: ") + targets.error, catalogueFile);

    QByteArray targetsBytes;
    const bool read = readWholeFile(targetsFile, &targetsBytes, request.maxListBytes);
    removeFile(targetsFile);
    if (!read)
        return failed(outcome, QStringLiteral("targets list unreadable"), catalogueFile);

    const std::optional<QString> url =
        findCatalogueUrl(decodeCatalogueText(targetsBytes), request.ftpServer);
    if (!url)
        return failed(
            outcome, QStringLiteral("FTP server %1 not in the targets list").arg(request.ftpServer),
            catalogueFile);
    outcome.catalogueUrl = *url;
    outcome.logoUrl = logoUrlFor(*url);

    const DownloadResult catalogue =
        downloadToFile(proxiedUrl(*url, request.proxy), catalogueFile, options);
    if (!catalogue.ok())
        return failed(outcome, QStringLiteral("catalogue: ") + catalogue.error, catalogueFile);

    // The logo is decoration: whatever happens to it, the catalogue counts as obtained.
    if (!outcome.logoUrl.isEmpty()) {
        options.maxBytes = request.maxLogoBytes;
        const DownloadResult logo =
            downloadToFile(proxiedUrl(outcome.logoUrl, request.proxy), logoFile, options);
        outcome.logoDownloaded = logo.ok();
        if (!logo.ok())
            qCInfo(lcStartup).noquote() << "no logo:" << logo.error;
    }

    outcome.obtained = true;
    outcome.lists = readCatalogueLists(catalogueFile);
    return outcome;
}

CatalogueRefresh::CatalogueRefresh(QObject* parent) : QObject(parent) {}

CatalogueRefresh::~CatalogueRefresh() {
    abort_ = true;
    if (worker_)
        worker_->wait();
}

bool CatalogueRefresh::isRunning() const {
    return running_;
}

bool CatalogueRefresh::start(const CatalogueRequest& request) {
    if (isRunning())
        return false;
    // The previous thread has reported already; it only has its last instructions left.
    if (worker_)
        worker_->wait();
    abort_ = false;
    running_ = true;
    worker_.reset(QThread::create([this, request] {
        CatalogueOutcome outcome = obtainCatalogue(request, &abort_);
        QMetaObject::invokeMethod(
            this,
            [this, outcome = std::move(outcome)] {
                outcome_ = outcome;
                running_ = false;
                Q_EMIT finished(outcome_.obtained);
            },
            Qt::QueuedConnection);
    }));
    worker_->start();
    return true;
}

} // namespace kestro::startup
