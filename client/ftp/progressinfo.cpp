#include "client/ftp/progressinfo.h"

#include "common/germanformat.h"

#include <cmath>

namespace kestro::transfer {

RateMeter::RateMeter(std::chrono::milliseconds window) : window_(window) {}

void RateMeter::start(qint64 total, Clock::time_point now) {
    started_ = now;
    total_ = total;
    points_.clear();
    points_.push_back({now, 0});
}

TransferProgress RateMeter::sample(qint64 done, Clock::time_point now) {
    points_.push_back({now, done});
    // Keep one point older than the window so that the rate always spans it.
    while (points_.size() > 2 && now - points_[1].at >= window_)
        points_.pop_front();

    TransferProgress progress;
    progress.done = done;
    progress.total = total_;
    progress.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - started_).count();
    const auto span = std::chrono::duration<double>(now - points_.front().at).count();
    const qint64 moved = done - points_.front().bytes;
    if (span > 0.05 && moved > 0) {
        progress.bytesPerSecond = double(moved) / span;
        const qint64 rest = qMax<qint64>(0, total_ - done);
        progress.secondsLeft = qint64(std::ceil(double(rest) / progress.bytesPerSecond));
    }
    return progress;
}

QString sizeText(double bytes) {
    constexpr double kb = 1024.0;
    constexpr double mb = 1024.0 * 1024.0;
    if (bytes >= mb)
        return de::number(bytes / mb, 1) + QStringLiteral(" MB");
    if (bytes >= kb)
        return de::number(bytes / kb, 1) + QStringLiteral(" KB");
    return de::number(bytes, 0) + QStringLiteral(" Byte");
}

QString rateText(double bytesPerSecond) {
    return sizeText(bytesPerSecond) + QStringLiteral("/s");
}

QString durationText(qint64 seconds) {
    seconds = qMax<qint64>(0, seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString progressDetailText(const TransferProgress& progress) {
    const QString left =
        progress.secondsLeft < 0 ? QStringLiteral("--:--:--") : durationText(progress.secondsLeft);
    QString text = durationText(progress.elapsedMs / 1000) + QStringLiteral(" vergangen, ") + left +
                   QStringLiteral(" verbleibend, ") + de::number(double(progress.done), 0) +
                   QStringLiteral(" Bytes");
    if (progress.bytesPerSecond > 0)
        text += QStringLiteral(" (") + rateText(progress.bytesPerSecond) + QLatin1Char(')');
    return text;
}

} // namespace kestro::transfer
