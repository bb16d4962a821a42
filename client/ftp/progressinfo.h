#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <deque>

namespace kestro::transfer {

// Where a running transfer stands, small enough to travel by queued signal.
struct TransferProgress {
    qint64 done = 0;           // bytes the peer has received so far
    qint64 total = 0;          // bytes of the whole file
    double bytesPerSecond = 0; // recent rate, 0 while unknown
    qint64 elapsedMs = 0;      // since the transfer began
    qint64 secondsLeft = -1;   // -1 while the rate is unknown
    bool confirmed = false;    // the peer confirmed the complete file
};

// Measures the transfer rate over the last few seconds, so that the time left follows
// the current speed instead of an average that a slow start spoils for the whole file.
class RateMeter {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateMeter(std::chrono::milliseconds window = std::chrono::seconds(3));
    void start(qint64 total, Clock::time_point now = Clock::now());
    TransferProgress sample(qint64 done, Clock::time_point now = Clock::now());

private:
    struct Point {
        Clock::time_point at;
        qint64 bytes;
    };
    std::chrono::milliseconds window_;
    Clock::time_point started_{};
    qint64 total_ = 0;
    std::deque<Point> points_;
};

// The progress line as FileZilla shows it, in German:
// "00:00:05 vergangen, 00:00:11 verbleibend, 225.443.840 Bytes (45,2 MB/s)".
QString progressDetailText(const TransferProgress& progress);

// "1,5 MB/s", "812,0 KB/s", "950 Byte/s" (1 KB = 1024 Byte, as the size texts count).
QString rateText(double bytesPerSecond);

// "412,5 MB", "812,0 KB", "950 Byte" (1 KB = 1024 Byte).
QString sizeText(double bytes);

// "hh:mm:ss"; hours go past 99 when they must.
QString durationText(qint64 seconds);

} // namespace kestro::transfer

Q_DECLARE_METATYPE(kestro::transfer::TransferProgress)
