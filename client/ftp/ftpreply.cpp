#include "client/ftp/ftpreply.h"

namespace kestro::transfer {

std::optional<FtpReply> FtpReplyAssembler::feed(const QByteArray& line) {
    bool numeric = false;
    const int code = line.size() >= 3 ? line.left(3).toInt(&numeric) : 0;
    const char mark = line.size() > 3 ? line.at(3) : ' ';
    const QString text = QString::fromUtf8(line);
    if (pendingCode_ == 0) {
        if (!numeric)
            return std::nullopt;
        if (mark == '-') {
            pendingCode_ = code;
            pending_ = text;
            return std::nullopt;
        }
        return FtpReply{code, text};
    }
    pending_ += QStringLiteral("\r\n") + text;
    if (!numeric || code != pendingCode_ || mark != ' ')
        return std::nullopt;
    FtpReply reply{code, pending_};
    pendingCode_ = 0;
    pending_.clear();
    return reply;
}

} // namespace kestro::transfer
