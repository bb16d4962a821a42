#pragma once

#include <QDateTime>
#include <QString>

// The two append-only logs of a transfer in the client data folder. Both are read by
// people (and by the shop's support), so their line formats stay exactly as the Windows
// client wrote them, CR LF included.
namespace kestro::transfer {

QString transferLogPath(const QString& clientDataFolder); // .../KestroFTP.Log
QString ftpErrorLogPath(const QString& clientDataFolder); // .../KestroFtpErr.Log

// "Date: 06.12.2026    Time: 14:05:09" padded with blanks to the next 14-column print
// zone, then the text (without line end). With German date and time the text starts at
// column 43. Line breaks in the text become blanks.
QString transferLogLine(const QDateTime& when, const QString& text);

// Appends one status line to the transfer log; false (and a warning) when it failed.
bool appendTransferLog(const QString& clientDataFolder, const QString& text,
                       const QDateTime& when = QDateTime::currentDateTime());

// The two lines a failed send leaves in the FTP error log: "errproxy:: " and
// "End ErrLog: ", each followed by a lone CR and then the CR LF line end.
bool appendFtpErrorLogEnd(const QString& clientDataFolder);

} // namespace kestro::transfer
