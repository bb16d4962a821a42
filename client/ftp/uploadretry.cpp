#include "client/ftp/uploadretry.h"

#include "client/ftp/progressinfo.h"

#include <QStringList>

#include <thread>

namespace kestro::transfer {

using namespace std::chrono_literals;

UploadRetry::Pauses UploadRetry::defaultPauses() {
    return {2s, 10s, 30s};
}

std::optional<std::chrono::milliseconds> UploadRetry::pauseBefore(int next) const {
    if (next < 2 || next > attempts())
        return std::nullopt;
    return pauses_.at(std::size_t(next - 2));
}

bool UploadRetry::wait(std::chrono::milliseconds pause, const std::function<bool()>& stop) {
    // Short steps, so that the abort button takes effect at once, not after 30 s.
    constexpr auto step = 50ms;
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!stop()) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= 0ms)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, step));
    }
    return false;
}

std::optional<UploadRetry::Pauses> parseRetryPauses(const QString& text) {
    constexpr int kMostAttempts = 10;
    constexpr int kLongestSeconds = 3600;
    const QStringList parts = text.split(QLatin1Char(','));
    if (text.trimmed().isEmpty() || parts.size() > kMostAttempts)
        return std::nullopt;
    UploadRetry::Pauses pauses;
    for (const QString& part : parts) {
        bool numeric = false;
        const int seconds = part.trimmed().toInt(&numeric);
        if (!numeric || seconds < 0 || seconds > kLongestSeconds)
            return std::nullopt;
        pauses.push_back(std::chrono::seconds(seconds));
    }
    return pauses;
}

bool connectionDropped(CURLcode code, int lastReplyCode, const QByteArray& lastVerb) {
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
        return !lastVerb.isEmpty() && lastVerb != "AUTH";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_SERVER_REPLY: // a reply cut in half
    // libcurl's word when neither the EPSV nor the PASV data connection could be opened:
    // refused, reset, or its TLS handshake broke off
    case CURLE_FTP_WEIRD_PASV_REPLY:
        return true;
    case CURLE_PARTIAL_FILE:
    case CURLE_UPLOAD_FAILED:
        return lastReplyCode < 400 || lastReplyCode == 426;
    default:
        return false;
    }
}

QString retryNotice(int next, int attempts, std::chrono::milliseconds pause) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(pause).count();
    return QStringLiteral("Verbindung unterbrochen – neuer Versuch %1 von %2 in %3 s …")
        .arg(next)
        .arg(attempts)
        .arg(seconds);
}

QString resumeNotice(qint64 offset) {
    return QStringLiteral("Übertragung wird bei %1 fortgesetzt …").arg(sizeText(double(offset)));
}

} // namespace kestro::transfer
