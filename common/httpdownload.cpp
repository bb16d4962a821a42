#include "common/httpdownload.h"

#include "common/logging.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <curl/curl.h>
#include <mutex>

namespace kestro {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    QSaveFile* file;
    qint64 maxBytes;
    qint64 written = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const qint64 n = qint64(size * count);
    if (sink->written + n > sink->maxBytes) {
        sink->tooLarge = true;
        return 0;
    }
    if (sink->file->write(data, n) != n) {
        sink->writeFailed = true;
        return 0;
    }
    sink->written += n;
    return size_t(n);
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* abort = static_cast<const std::atomic_bool*>(user);
    return abort && abort->load() ? 1 : 0;
}

DownloadResult fail(int status, const QString& error, long httpCode = 0) {
    DownloadResult r;
    r.status = status;
    r.httpCode = httpCode;
    r.error = error;
    return r;
}

} // namespace

QString withProxyCredentials(const QString& url, const QString& proxyUser,
                             const QString& proxyPassword) {
    return QStringLiteral("http://") + proxyUser + QLatin1Char(':') + proxyPassword +
           QLatin1Char('@') + url.mid(7);
}

DownloadResult downloadToFile(const QString& url, const QString& targetFile,
                              const DownloadOptions& options) {
    initCurlOnce();
    QDir().mkpath(QFileInfo(targetFile).absolutePath());
    QSaveFile file(targetFile);
    if (!file.open(QIODevice::WriteOnly))
        return fail(CURLE_WRITE_ERROR, file.errorString());

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return fail(CURLE_FAILED_INIT, QStringLiteral("curl_easy_init failed"));

    Sink sink{&file, options.maxBytes};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray urlBytes = url.toUtf8();
    const QByteArray proxyBytes = options.proxy.toUtf8();
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    // A stalled server must not hold a transfer for the whole total time-out.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBytes));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_PROXY, proxyBytes.isEmpty() ? "" : proxyBytes.constData());
    curl_easy_setopt(h, CURLOPT_NOPROXY, proxyBytes.isEmpty() ? "*" : "");
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic_bool*>(options.abort));

    const CURLcode code = curl_easy_perform(h);
    long httpCode = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &httpCode);

    DownloadResult result;
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        result = fail(CURLE_FILESIZE_EXCEEDED,
                      QStringLiteral("answer larger than %1 bytes").arg(options.maxBytes));
    else if (sink.writeFailed)
        result = fail(CURLE_WRITE_ERROR, file.errorString());
    else if (code != CURLE_OK)
        result =
            fail(code, QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code)));
    else if (httpCode < 200 || httpCode > 299)
        result = fail(CURLE_HTTP_RETURNED_ERROR, QStringLiteral("HTTP status %1").arg(httpCode),
                      httpCode);
    if (result.ok() && !file.commit())
        result = fail(CURLE_WRITE_ERROR, file.errorString());
    result.httpCode = httpCode;
    if (!result.ok()) {
        file.cancelWriting();
        // The address may carry the proxy login; the log never shows it.
        qCWarning(lcCommon).noquote()
            << "download of" << QUrl(url).toDisplayString(QUrl::RemoveUserInfo) << "failed:"
            << result.status << result.error;
    }
    return result;
}

AsyncDownload::AsyncDownload(QObject* parent) : QObject(parent) {
    qRegisterMetaType<kestro::DownloadResult>();
}

AsyncDownload::~AsyncDownload() {
    abort_ = true;
    if (worker_)
        worker_->wait();
}

bool AsyncDownload::isRunning() const {
    return worker_ && worker_->isRunning();
}

bool AsyncDownload::start(const QString& url, const QString& targetFile, DownloadOptions options) {
    if (isRunning())
        return false;
    if (worker_)
        worker_->wait();
    abort_ = false;
    options.abort = &abort_;
    worker_.reset(QThread::create([this, url, targetFile, options] {
        const DownloadResult result = downloadToFile(url, targetFile, options);
        QMetaObject::invokeMethod(
            this, [this, result] { Q_EMIT finished(result); }, Qt::QueuedConnection);
    }));
    worker_->start();
    return true;
}

} // namespace kestro
