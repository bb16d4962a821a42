#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestro::transfer {

struct FtpReply {
    int code = 0;
    QString text; // every line of the reply, joined by CR LF, without the last line end
};

// Puts the lines a server sends on the control connection back together into replies:
// "220-Welcome" ... "220 ready" is one reply, as is every single "226 ..." line.
class FtpReplyAssembler {
public:
    // Takes one line without its line end; gives the reply it completes, if any. Lines
    // outside a reply that do not start with a code (a proxy's headers) are skipped.
    std::optional<FtpReply> feed(const QByteArray& line);

private:
    int pendingCode_ = 0;
    QString pending_;
};

} // namespace kestro::transfer
