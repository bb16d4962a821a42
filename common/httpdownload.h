#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

// HTTP(S) GET into a file, in place of the Windows URL download service. Both programs
// fetch small files this way: the client its targets list, catalogue and version file,
// Vellmon the version file and the update installer.
namespace kestro {

struct DownloadOptions {
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 300000;
    // Larger answers are refused, so a wrong address cannot fill the disk.
    qint64 maxBytes = qint64(512) * 1024 * 1024;
    // Optional HTTP proxy as "host" or "host:port"; empty means a direct connection.
    QString proxy;
    // Polled while the transfer runs; when it becomes true the download stops (status 42).
    const std::atomic_bool* abort = nullptr;
};

// The outcome of one download. `status` is 0 on success, otherwise a libcurl error code:
// 22 for a non-2xx answer (then `httpCode` says which), 63 when the size cap was hit,
// 42 when aborted, 23 when the file could not be written.
struct DownloadResult {
    int status = 0;
    long httpCode = 0;
    QString error;
    bool ok() const { return status == 0; }
};

// Fetches `url` into `targetFile`, replacing it only when the whole answer arrived with a
// 2xx status: the bytes go to a temporary file beside the target and are renamed over it
// at the end, so a failed download never leaves a partial file and keeps an older copy.
DownloadResult downloadToFile(const QString& url, const QString& targetFile,
                              const DownloadOptions& options = {});

// The client's proxy rule: with the proxy on, the proxy user and password go into the
// address as user information, "http://" + user + ":" + password + "@" + the address
// without its first 7 characters (the address is assumed to begin with "http://").
QString withProxyCredentials(const QString& url, const QString& proxyUser,
                             const QString& proxyPassword);

// Runs one download on a worker thread and reports on the thread that owns the object
// through the queued signal finished(). Destroying the object aborts a running download
// and waits for its thread, so no thread outlives it.
class AsyncDownload : public QObject {
    Q_OBJECT
public:
    explicit AsyncDownload(QObject* parent = nullptr);
    ~AsyncDownload() override;

    // False when a download is already running.
    bool start(const QString& url, const QString& targetFile, DownloadOptions options = {});
    bool isRunning() const;
    void abort() { abort_ = true; }

Q_SIGNALS:
    void finished(const kestro::DownloadResult& result);

private:
    std::unique_ptr<QThread> worker_;
    std::atomic_bool abort_{false};
};

} // namespace kestro

Q_DECLARE_METATYPE(kestro::DownloadResult)
