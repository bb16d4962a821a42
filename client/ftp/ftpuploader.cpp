#include "client/ftp/ftpuploader.h"

namespace kestro::transfer {

// Turns the session's calls on the worker thread into the uploader's signals.
class FtpUploader::Relay : public FtpSessionObserver {
public:
    explicit Relay(FtpUploader& owner) : owner_(owner) {}
    void onStatus(const QString& text) override { Q_EMIT owner_.statusText(text); }
    void onTransferStarted(qint64 total, const QString& message) override {
        Q_EMIT owner_.transferStarted(total, message);
    }
    void onProgress(const TransferProgress& progress) override { Q_EMIT owner_.progress(progress); }

private:
    FtpUploader& owner_;
};

FtpUploader::FtpUploader(QObject* parent) : QObject(parent), relay_(new Relay(*this)) {
    qRegisterMetaType<TransferProgress>();
    qRegisterMetaType<FtpUploadResult>();
}

FtpUploader::~FtpUploader() {
    // The window is closing: it must not wait for a server to take a partial file's
    // removal, which then stays on the server (the log says so).
    if (session_)
        session_->abandon();
    join();
}

bool FtpUploader::start(const FtpUploadRequest& request) {
    if (running_)
        return false;
    join();
    session_ = std::make_unique<FtpPutSession>(request, *relay_);
    running_ = true;
    worker_ = std::thread([this, session = session_.get()] {
        const FtpUploadResult result = session->uploadFile();
        running_ = false;
        Q_EMIT finished(result);
    });
    return true;
}

void FtpUploader::abort() {
    if (session_)
        session_->abort();
}

void FtpUploader::join() {
    if (worker_.joinable())
        worker_.join();
}

} // namespace kestro::transfer
