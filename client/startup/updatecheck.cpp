#include "client/startup/updatecheck.h"

#include "client/startup/cataloguefetch.h"
#include "client/startup/startuplog.h"
#include "common/ansi.h"
#include "common/paths.h"
#include "common/textfile.h"

#include <QLoggingCategory>

namespace kestro::startup {

bool isUpdateOffered(const QByteArray& versionFile, const VersionNumbers& running) {
    const std::optional<QString> line = versionFirstLine(fromAnsi(versionFile));
    if (!line)
        return false;
    const std::optional<VersionNumbers> published = parseVersion(*line);
    return published && isNewer(*published, running);
}

bool confirmUpdate(Prompter& prompter) {
    return prompter.askYesNo(QStringLiteral("Update installieren ?"), Prompter::Icon::None,
                             QStringLiteral("Es ist ein Update verfügbar !"));
}

UpdateCheck::UpdateCheck(Config config, QObject* parent)
    : QObject(parent), config_(std::move(config)) {
    connect(&download_, &AsyncDownload::finished, this, &UpdateCheck::onDownloaded);
}

QString UpdateCheck::versionFileUrl() const {
    const QString url = config_.webServer + QStringLiteral("/AutoUpdate/Version/") +
                        config_.appName + QStringLiteral(".txt");
    return proxiedUrl(url, config_.proxy);
}

QString UpdateCheck::localFile() const {
    return paths::join(config_.clientDataFolder, config_.appName + QStringLiteral("-update.txt"));
}

void UpdateCheck::start() {
    DownloadOptions options = downloadOptionsFor(config_.proxy);
    options.maxBytes = 16 * 1024 * 1024;
    if (!download_.start(versionFileUrl(), localFile(), options))
        qCDebug(lcStartup) << "update check already running";
}

void UpdateCheck::onDownloaded(const DownloadResult& result) {
    bool offered = false;
    QByteArray content;
    if (result.ok() && readWholeFile(localFile(), &content))
        offered = isUpdateOffered(content, config_.running);
    else
        qCInfo(lcStartup).noquote() << "no update check:" << result.error;
    if (offered)
        Q_EMIT updateOffered();
    Q_EMIT finished(offered);
}

} // namespace kestro::startup
