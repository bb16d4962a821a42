#include "common/transferlog.h"

#include "common/germanformat.h"
#include "common/paths.h"
#include "common/textfile.h"

namespace kestro::transfer {
namespace {

constexpr int printZoneWidth = 14;

} // namespace

QString transferLogPath(const QString& clientDataFolder) {
    return paths::join(clientDataFolder, QStringLiteral("KestroFTP.Log"));
}

QString ftpErrorLogPath(const QString& clientDataFolder) {
    return paths::join(clientDataFolder, QStringLiteral("KestroFtpErr.Log"));
}

QString transferLogLine(const QDateTime& when, const QString& text) {
    QString line = QStringLiteral("Date: ") + de::shortDate(when.date()) +
                   QStringLiteral("    Time: ") + de::longTime(when.time());
    // The comma of a Print statement moves on to the start of the next zone.
    const qsizetype zoneStart = (line.size() / printZoneWidth + 1) * printZoneWidth;
    line += QString(zoneStart - line.size(), QLatin1Char(' '));
    // One entry, one line: a line break in a server's reply or a setting (a sender address
    // pasted with its line end) must not start a line that reads like an entry of its own.
    QString flat = text;
    for (QChar& c : flat)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0x2028) ||
            c == QChar(0x2029))
            c = QLatin1Char(' ');
    return line + flat;
}

bool appendTransferLog(const QString& clientDataFolder, const QString& text,
                       const QDateTime& when) {
    return appendLogLine(transferLogPath(clientDataFolder), transferLogLine(when, text));
}

bool appendFtpErrorLogEnd(const QString& clientDataFolder) {
    const QString path = ftpErrorLogPath(clientDataFolder);
    const bool first = appendLogLine(path, QStringLiteral("errproxy:: \r"));
    const bool second = appendLogLine(path, QStringLiteral("End ErrLog: \r"));
    return first && second;
}

} // namespace kestro::transfer
