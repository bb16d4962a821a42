#include "client/startup/catalogue.h"

#include "client/startup/startuplog.h"
#include "common/ansi.h"
#include "common/inifile.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

namespace kestro::startup {

namespace {

QStringList readNumberedList(const IniFile& ini, const QString& section, const QString& prefix) {
    QStringList entries;
    for (int i = 1;; ++i) {
        const QString value = profileValue(ini, section, prefix + QString::number(i));
        if (value.isEmpty())
            return entries;
        entries << value;
    }
}

// Characters that may stand inside a host name; anything else after the host ends the
// first field of a line.
bool isHostCharacter(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.') ||
           c == QLatin1Char('_');
}

// True when `line` begins with `host` as its whole first field. A ":" followed by a digit
// belongs to the field (a port), so "host" does not match a line for "host:2121".
bool firstFieldIs(const QString& line, const QString& host) {
    if (!line.startsWith(host, Qt::CaseInsensitive) || line.size() <= host.size())
        return false;
    const QChar next = line.at(host.size());
    if (isHostCharacter(next))
        return false;
    const bool portFollows = next == QLatin1Char(':') && line.size() > host.size() + 1 &&
                             line.at(host.size() + 1).isDigit();
    return !portFollows;
}

// The configured server as it is, then without its port when it carries one.
QStringList hostCandidates(const QString& ftpServer) {
    const QString server = ftpServer.trimmed();
    QStringList candidates{server};
    static const QRegularExpression withPort(QStringLiteral("^(.+):(\\d+)$"));
    const QRegularExpressionMatch m = withPort.match(server);
    if (m.hasMatch())
        candidates << m.captured(1);
    return candidates;
}

QStringList targetLines(const QString& targetsText) {
    QString text = targetsText;
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        while (!line.isEmpty() &&
               (line.at(0) == QLatin1Char(' ') || line.at(0) == QLatin1Char('\t')))
            line.remove(0, 1);
    }
    return lines;
}

} // namespace

CatalogueLists readCatalogueLists(const QString& catalogueFile) {
    CatalogueLists lists;
    if (QFileInfo(catalogueFile).isDir()) {
        qCWarning(lcStartup).noquote() << "catalogue" << catalogueFile << "is a folder; no lists";
        return lists;
    }
    const IniFile ini = IniFile::load(catalogueFile, IniFile::Comments::LineOnly, true);
    if (ini.isEmpty())
        qCInfo(lcStartup).noquote() << "catalogue" << catalogueFile << "offers nothing";
    lists.colors = readNumberedList(ini, QStringLiteral("ColorMenue"), QStringLiteral("Color"));
    lists.work1 = readNumberedList(ini, QStringLiteral("Work1Menue"), QStringLiteral("Work"));
    lists.work2 = readNumberedList(ini, QStringLiteral("Work2Menue"), QStringLiteral("Work"));
    lists.work3 = readNumberedList(ini, QStringLiteral("Work3Menue"), QStringLiteral("Work"));
    lists.ftpUser = profileValue(ini, QStringLiteral("FTP"), QStringLiteral("User"));
    lists.ftpPassword = profileValue(ini, QStringLiteral("FTP"), QStringLiteral("PW"));
    lists.mail = profileValue(ini, QStringLiteral("FTP"), QStringLiteral("Mail"));
    return lists;
}

void takeFtpAccount(FtpSettings& ftp, const CatalogueLists& lists) {
    ftp.user = lists.ftpUser;
    ftp.password = lists.ftpPassword;
    ftp.recipient = lists.mail;
}

std::optional<QString> findCatalogueUrl(const QString& targetsText, const QString& ftpServer) {
    if (ftpServer.trimmed().isEmpty())
        return std::nullopt;
    const QStringList lines = targetLines(targetsText);
    for (const QString& host : hostCandidates(ftpServer)) {
        for (const QString& line : lines) {
            if (!firstFieldIs(line, host))
                continue;
            // Two separator characters follow the host; they are skipped unchecked.
            const QString url = line.mid(host.size() + 2).trimmed();
            if (url.isEmpty())
                return std::nullopt;
            return url;
        }
    }
    return std::nullopt;
}

QString logoUrlFor(const QString& catalogueUrl) {
    const qsizetype slash = catalogueUrl.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    const qsizetype scheme = catalogueUrl.indexOf(QStringLiteral("://"));
    // "http://host" has no path: the logo then lies at the root of that server.
    const QString base =
        (scheme >= 0 && slash <= scheme + 2) ? catalogueUrl : catalogueUrl.left(slash);
    return base + QStringLiteral("/FTP-Logo.jpg");
}

QString decodeCatalogueText(const QByteArray& bytes) {
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : fromAnsi(bytes);
}

} // namespace kestro::startup
