#pragma once

#include "client/ftp/ftpsession.h"

#include <QObject>
#include <memory>
#include <thread>

namespace kestro::transfer {

// Runs one upload at a time on a worker thread and reports it by signals, which reach
// receivers on other threads queued: the window's thread never waits for the network.
// The worker never outlives this object: destroying it aborts and joins.
class FtpUploader : public QObject {
    Q_OBJECT
public:
    explicit FtpUploader(QObject* parent = nullptr);
    ~FtpUploader() override;

    // Starts the upload; false when one is still running.
    bool start(const FtpUploadRequest& request);
    // Stops a running upload: it ends with "Übertragung durch Anwender abgebrochen. ".
    // Call it on the uploader's own thread (the abort button's slot); harmless when
    // nothing runs.
    void abort();
    bool isRunning() const { return running_.load(); }

Q_SIGNALS:
    void statusText(const QString& text);
    void transferStarted(qint64 total, const QString& barMessage);
    void progress(const kestro::transfer::TransferProgress& progress);
    void finished(const kestro::transfer::FtpUploadResult& result);

private:
    class Relay;
    void join();

    std::unique_ptr<Relay> relay_;
    std::unique_ptr<FtpPutSession> session_;
    std::thread worker_;
    std::atomic<bool> running_{false};
};

} // namespace kestro::transfer
