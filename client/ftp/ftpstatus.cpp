#include "client/ftp/ftpstatus.h"

namespace kestro::transfer {

std::optional<QString> ftpStatusText(int status, const QString& info) {
    switch (FtpStatus(status)) {
    case FtpStatus::ResolvingName:
        return QStringLiteral("Looking up the IP address for ") + info;
    case FtpStatus::NameResolved:
        return QStringLiteral("Name resolved ") + info;
    case FtpStatus::ConnectingToServer:
        return QStringLiteral("Connecting to server...") + info;
    case FtpStatus::ConnectedToServer:
        return QStringLiteral("Connected to ") + info;
    case FtpStatus::ClosingConnection:
        return QStringLiteral("Closing connection");
    case FtpStatus::ConnectionClosed:
        return QStringLiteral("Connection closed");
    case FtpStatus::HandleCreated:
        return QStringLiteral("Handle created: ") + info;
    case FtpStatus::DetectingProxy:
        return QStringLiteral("Detecting proxy");
    case FtpStatus::Redirect:
        return QStringLiteral("HTTP request redirected to ") + info;
    case FtpStatus::StateChange:
        if (info == QLatin1String("2"))
            return QStringLiteral("Disconnected from network.");
        if (info == QLatin1String("16"))
            return QStringLiteral("Disconnected by user request.");
        return std::nullopt;
    case FtpStatus::SendingRequest:
    case FtpStatus::RequestSent:
    case FtpStatus::HandleClosing:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace kestro::transfer
