#pragma once

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

namespace kestro::transfer {

// The WinINet error codes by which the client has always named what went wrong in a
// transfer; users and the shop's support know the texts that belong to them.
namespace wininet {
constexpr int FileNotFound = 2; // a local file that cannot be read (a Windows code)
constexpr int OutOfHandles = 12001;
constexpr int Timeout = 12002;
constexpr int ExtendedError = 12003;
constexpr int InternalError = 12004;
constexpr int InvalidUrl = 12005;
constexpr int UnrecognizedScheme = 12006;
constexpr int NameNotResolved = 12007;
constexpr int IncorrectUserName = 12013;
constexpr int IncorrectPassword = 12014;
constexpr int LoginFailure = 12015;
constexpr int OperationCancelled = 12017;
constexpr int InvalidProxyRequest = 12020;
constexpr int CannotConnect = 12029;
constexpr int ConnectionAborted = 12030;
constexpr int ConnectionReset = 12031;
} // namespace wininet

// The text shown for a WinINet error code. For ExtendedError it is the server's last
// reply, or "Extended error returned from server." when there was none.
QString internetErrorText(int code, const QString& serverLastReply = QString());

// What is known about a failed transfer when curl gives up.
struct FtpFailure {
    CURLcode curl = CURLE_OK;
    bool abortedByUser = false;
    QByteArray lastCommand; // the verb of the last command sent, e.g. "PASS"
    int lastReplyCode = 0;  // the code of the server's last complete reply
};

// The WinINet code that a Windows client would have got for the same failure.
int wininetCodeFor(const FtpFailure& failure);

} // namespace kestro::transfer
