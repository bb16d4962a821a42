#include "client/ftp/ftperrors.h"

#include <QHash>

namespace kestro::transfer {

QString internetErrorText(int code, const QString& serverLastReply) {
    if (code == wininet::ExtendedError)
        return serverLastReply.isEmpty() ? QStringLiteral("Extended error returned from server.")
                                         : serverLastReply;
    // Several texts end with a blank; it belongs to the text.
    static const QHash<int, QString> texts{
        {12001, QStringLiteral("No more handles could be generated at this time")},
        {12002, QStringLiteral("The request has timed out.")},
        {12004, QStringLiteral("An internal error has occurred.")},
        {12005, QStringLiteral("URL is invalid.")},
        {12006, QStringLiteral("URL scheme could not be recognized, or is not supported.")},
        {12007, QStringLiteral("Server name could not be resolved.")},
        {12008, QStringLiteral("Requested protocol could not be located.")},
        {12009, QStringLiteral("Request to InternetQueryOption or InternetSetOption specified "
                               "an invalid option value.")},
        {12010, QStringLiteral("Length of an option supplied to InternetQueryOption or "
                               "InternetSetOption is incorrect for the type of option "
                               "specified.")},
        {12011, QStringLiteral("Request option can not be set, only queried. ")},
        {12012, QStringLiteral("Win32 Internet support is being shutdown or unloaded.")},
        {12013, QStringLiteral("Request to connect and login to an FTP server could not be "
                               "completed because the supplied user name is incorrect.")},
        {12014, QStringLiteral("Request to connect and login to an FTP server could not be "
                               "completed because the supplied password is incorrect. ")},
        {12015, QStringLiteral("Request to connect to and login to an FTP server failed.")},
        {12016, QStringLiteral("Requested operation is invalid. ")},
        {12017, QStringLiteral("Übertragung durch Anwender abgebrochen. ")},
        {12018, QStringLiteral("Type of handle supplied is incorrect for this operation.")},
        {12019, QStringLiteral("Requested operation can not be carried out because the handle "
                               "supplied is not in the correct state.")},
        {12020, QStringLiteral("Request can not be made via a proxy.")},
        {12021, QStringLiteral("Required registry value could not be located. ")},
        {12022, QStringLiteral("Required registry value was located but is an incorrect type "
                               "or has an invalid value.")},
        {12023, QStringLiteral("Direct network access cannot be made at this time. ")},
        {12024, QStringLiteral("Asynchronous request could not be made because a zero context "
                               "value was supplied.")},
        {12025, QStringLiteral("Asynchronous request could not be made because a callback "
                               "function has not been set.")},
        {12026, QStringLiteral("Required operation could not be completed because one or more "
                               "requests are pending.")},
        {12027, QStringLiteral("Format of the request is invalid.")},
        {12028, QStringLiteral("Requested item could not be located.")},
        {12029, QStringLiteral("Attempt to connect to the server failed.")},
        {12030, QStringLiteral("Connection with the server has been terminated.")},
        {12031, QStringLiteral("Connection with the server has been reset.")},
        {12036, QStringLiteral("Request failed because the handle already exists.")},
    };
    return texts.value(code, QStringLiteral("Error details not available."));
}

int wininetCodeFor(const FtpFailure& failure) {
    // Whatever curl reports after the user pressed abort is the consequence of the abort.
    if (failure.abortedByUser)
        return wininet::OperationCancelled;
    switch (failure.curl) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return wininet::UnrecognizedScheme;
    case CURLE_URL_MALFORMAT:
        return wininet::InvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return wininet::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
        return wininet::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return wininet::Timeout;
    case CURLE_LOGIN_DENIED:
        if (failure.lastCommand == "USER")
            return wininet::IncorrectUserName;
        if (failure.lastCommand == "PASS")
            return wininet::IncorrectPassword;
        return wininet::LoginFailure;
    case CURLE_ABORTED_BY_CALLBACK:
        return wininet::OperationCancelled;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return wininet::ConnectionAborted;
    case CURLE_PARTIAL_FILE:
        // The server's own refusal (426, 451, 552 ...) says more than a bare "terminated".
        return failure.lastReplyCode >= 400 ? wininet::ExtendedError : wininet::ConnectionAborted;
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_PRET_FAILED:
        return wininet::ExtendedError;
    case CURLE_READ_ERROR:
        return wininet::FileNotFound;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
        return wininet::InternalError;
    default:
        return 0;
    }
}

} // namespace kestro::transfer
