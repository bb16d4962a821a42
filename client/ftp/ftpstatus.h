#pragma once

#include <QString>
#include <optional>

namespace kestro::transfer {

// The connection events the client has always reported while it uploads, numbered as
// the WinINet status codes they stand for.
enum class FtpStatus {
    ResolvingName = 10,
    NameResolved = 11,
    ConnectingToServer = 20,
    ConnectedToServer = 21,
    SendingRequest = 30,
    RequestSent = 31,
    ClosingConnection = 50,
    ConnectionClosed = 51,
    HandleCreated = 60,
    HandleClosing = 70,
    DetectingProxy = 80,
    Redirect = 110,
    StateChange = 200,
};

// The status text shown for an event, or nothing for the events that only move the bar
// and for codes the client does not report. `info` is the event's information (a host,
// an address, a handle number, or a state number for StateChange).
std::optional<QString> ftpStatusText(int status, const QString& info);

} // namespace kestro::transfer
