#include "client/jobdb/address.h"

#include <QFileInfo>
#include <QStringList>
#include <cctype>

namespace kestro::jobdb {
namespace {

const QLatin1String kSchemes[] = {QLatin1String("postgresql://"), QLatin1String("postgres://")};

// How reserved characters are written inside a part, told with every refusal: a password
// with one of them is the usual cause.
const QString kEncodingHint = QStringLiteral(
    " Zeichen wie / # ? @ % oder Leerzeichen im Kennwort werden als %XX geschrieben, z. B. %40 "
    "für @ und %2F für /.");

// The address as typed, cut into its parts but not decoded; `shownText` is it without the
// password, the only form that may reach a window or a log.
struct RawAddress {
    QString scheme;
    QString user;
    QString password;
    QString hostPort;
    QString path;
    QString query;
    QString shownText() const {
        return scheme + user + QLatin1Char('@') + hostPort + path +
               (query.isEmpty() ? QString() : QLatin1Char('?') + query);
    }
};

qsizetype schemeLength(const QString& trimmed) {
    for (const QLatin1String& s : kSchemes) {
        if (trimmed.startsWith(s, Qt::CaseInsensitive))
            return s.size();
    }
    return 0;
}

// Decodes %XX; nullopt when a % is not followed by two hex digits.
std::optional<QString> decoded(const QString& raw) {
    for (qsizetype i = raw.indexOf(QLatin1Char('%')); i >= 0;
         i = raw.indexOf(QLatin1Char('%'), i + 1)) {
        if (i + 2 >= raw.size() || !isxdigit(raw[i + 1].toLatin1()) ||
            !isxdigit(raw[i + 2].toLatin1()))
            return std::nullopt;
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw.toUtf8()));
}

bool isPlainHostName(const QString& host) {
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
              c == QLatin1Char('_')))
            return false;
    }
    return true;
}

struct Parsed {
    RawAddress raw;
    ServerAddress address;
};

std::optional<Parsed> parse(const QString& databank, QString* error) {
    auto fail = [error](const QString& why, bool hint = true) {
        if (error)
            *error = QStringLiteral("Die Datenbankadresse ist ungültig: ") + why +
                     QLatin1Char('.') + (hint ? kEncodingHint : QString());
        return std::nullopt;
    };
    const QString text = databank.trimmed();
    const qsizetype schemeSize = schemeLength(text);
    if (schemeSize == 0)
        return fail(QStringLiteral("sie beginnt nicht mit postgresql://"), false);
    Parsed p;
    p.raw.scheme = text.left(schemeSize);
    QString rest = text.mid(schemeSize);
    for (const QChar c : rest) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return fail(QStringLiteral("sie enthält ein Leerzeichen oder Steuerzeichen"));
    }
    if (rest.contains(QLatin1Char('#')))
        return fail(QStringLiteral("sie enthält ein #"));
    if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        p.raw.query = rest.mid(q + 1);
        rest.truncate(q);
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    p.raw.path = slash < 0 ? QString() : rest.mid(slash);
    const qsizetype at = authority.indexOf(QLatin1Char('@'));
    if (at < 0)
        return fail(QStringLiteral("es fehlt der Benutzer (postgresql://benutzer@rechner/db)"));
    if (authority.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return fail(QStringLiteral("sie enthält mehr als ein @"));
    const QString userInfo = authority.left(at);
    p.raw.hostPort = authority.mid(at + 1);
    const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
    p.raw.user = colon < 0 ? userInfo : userInfo.left(colon);
    p.raw.password = colon < 0 ? QString() : userInfo.mid(colon + 1);

    ServerAddress& a = p.address;
    const auto user = decoded(p.raw.user);
    const auto password = decoded(p.raw.password);
    if (!user || !password)
        return fail(QStringLiteral("im Benutzer oder Kennwort steht ein % ohne zwei "
                                   "Hex-Ziffern danach"));
    a.user = *user;
    a.password = *password;
    if (a.user.isEmpty())
        return fail(QStringLiteral("es fehlt der Benutzer (postgresql://benutzer@rechner/db)"));

    QString hostRaw = p.raw.hostPort;
    QString portRaw;
    if (hostRaw.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostRaw.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("nach der IPv6-Adresse fehlt die ]"), false);
        portRaw = hostRaw.mid(close + 1);
        hostRaw = hostRaw.mid(1, close - 1);
        if (!portRaw.isEmpty() && !portRaw.startsWith(QLatin1Char(':')))
            return fail(QStringLiteral("nach der IPv6-Adresse steht kein :port"), false);
        portRaw = portRaw.mid(1);
    } else if (const qsizetype c = hostRaw.lastIndexOf(QLatin1Char(':')); c >= 0) {
        portRaw = hostRaw.mid(c + 1);
        hostRaw.truncate(c);
        if (portRaw.isEmpty())
            return fail(QStringLiteral("der Port ist keine Zahl von 1 bis 65535"), false);
    }
    const auto host = decoded(hostRaw);
    if (!host || host->isEmpty())
        return fail(QStringLiteral("es fehlt der Rechner (postgresql://benutzer@rechner/db)"));
    // An absolute folder is where the server's Unix socket lives.
    if (!host->startsWith(QLatin1Char('/')) && !p.raw.hostPort.startsWith(QLatin1Char('[')) &&
        !isPlainHostName(*host))
        return fail(QStringLiteral("der Rechnername enthält ein Zeichen, das in keinem "
                                   "Rechnernamen steht"));
    a.host = *host;
    if (!portRaw.isEmpty()) {
        bool ok = false;
        a.port = portRaw.toInt(&ok);
        if (!ok || a.port <= 0 || a.port > 65535)
            return fail(QStringLiteral("der Port ist keine Zahl von 1 bis 65535"), false);
    }
    const auto name = decoded(p.raw.path.mid(1));
    if (!name || name->isEmpty() || p.raw.path.indexOf(QLatin1Char('/'), 1) >= 0)
        return fail(
            QStringLiteral("es fehlt der Name der Datenbank (postgresql://benutzer@rechner/db)"));
    a.databaseName = *name;

    if (!p.raw.query.isEmpty()) {
        for (const QString& pair : p.raw.query.split(QLatin1Char('&'))) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            const auto key = decoded(eq < 0 ? pair : pair.left(eq));
            const auto value = decoded(eq < 0 ? QString() : pair.mid(eq + 1));
            if (!key || !value)
                return fail(QStringLiteral("in den Optionen steht ein % ohne zwei Hex-Ziffern"),
                            false);
            if (!knownServerOptions().contains(*key))
                return fail(QStringLiteral("die Option „%1“ ist unbekannt (bekannt sind %2)")
                                .arg(*key, knownServerOptions().join(QStringLiteral(", "))),
                            false);
            // The driver takes the options as one list separated by ";".
            if (eq < 0 || value->isEmpty() || value->contains(QLatin1Char(';')))
                return fail(QStringLiteral("die Option „%1“ hat keinen gültigen Wert").arg(*key),
                            false);
            a.options << qMakePair(*key, *value);
        }
    }
    return p;
}

} // namespace

bool isServerAddress(const QString& databank) {
    return schemeLength(databank.trimmed()) > 0;
}

const QStringList& knownServerOptions() {
    static const QStringList options{
        QStringLiteral("sslmode"),         QStringLiteral("sslrootcert"),
        QStringLiteral("sslcert"),         QStringLiteral("sslkey"),
        QStringLiteral("connect_timeout"), QStringLiteral("application_name")};
    return options;
}

std::optional<ServerAddress> parseServerAddress(const QString& databank, QString* error) {
    const auto p = parse(databank, error);
    if (!p)
        return std::nullopt;
    return p->address;
}

QString shownDatabank(const QString& databank) {
    if (!isServerAddress(databank))
        return databank;
    const auto p = parse(databank, nullptr);
    return p ? p->raw.shownText() : QStringLiteral("postgresql://…");
}

QString databaseIdentity(const QString& databank) {
    if (!isServerAddress(databank)) {
        const QFileInfo info(databank);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    }
    const auto p = parse(databank, nullptr);
    if (!p)
        return shownDatabank(databank);
    const ServerAddress& a = p->address;
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(a.user, a.host.toLower(), QString::number(a.port), a.databaseName);
}

} // namespace kestro::jobdb
