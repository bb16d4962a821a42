#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <curl/curl.h>
#include <functional>
#include <optional>
#include <vector>

namespace kestro::transfer {

// How an upload whose connection dropped tries again: the pauses before each further
// attempt, which failures count as a dropped line, and what the status box says meanwhile.
class UploadRetry {
public:
    using Pauses = std::vector<std::chrono::milliseconds>;
    // 2 s, 10 s, 30 s: a short glitch is over at once, a restarting router gets its time.
    static Pauses defaultPauses();

    explicit UploadRetry(Pauses pauses) : pauses_(std::move(pauses)) {}

    // The first attempt and one for each pause.
    int attempts() const { return int(pauses_.size()) + 1; }
    // The pause before attempt `next` (counted from 1), none when no attempt is left.
    std::optional<std::chrono::milliseconds> pauseBefore(int next) const;
    // Sleeps `pause` in short steps; false as soon as `stop` says the worker gave up.
    static bool wait(std::chrono::milliseconds pause, const std::function<bool()>& stop);

private:
    Pauses pauses_;
};

// Pauses as a script gives them: whole seconds separated by commas ("2,10,30"), one for
// each further attempt, at most 10 of at most an hour each; none when the text is not that.
std::optional<UploadRetry::Pauses> parseRetryPauses(const QString& text);

// True when curl's failure means the line went away (reset, time-out, server gone),
// not a refusal by the server: only then is another attempt worth it. A 426 is the
// server telling that it lost the data connection; a 421 (the server closes the control
// connection) libcurl itself reports as a time-out. `lastVerb` is the command sent last: a TLS
// handshake that fails after anything but AUTH is a data connection's, which a line
// that drops breaks as it breaks any other.
bool connectionDropped(CURLcode code, int lastReplyCode, const QByteArray& lastVerb);

// "Verbindung unterbrochen – neuer Versuch 2 von 4 in 10 s …"
QString retryNotice(int next, int attempts, std::chrono::milliseconds pause);
// "Übertragung wird bei 412,5 MB fortgesetzt …"
QString resumeNotice(qint64 offset);

} // namespace kestro::transfer
