#include "client/jobdb/address.h"

#include <QUrl>

namespace kestro::jobdb {

bool isServerAddress(const QString& databank) {
    return databank.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           databank.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::optional<ServerAddress> parseServerAddress(const QString& databank, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = QStringLiteral("Die Datenbankadresse ist ungültig: ") + why;
        return std::nullopt;
    };
    if (!isServerAddress(databank))
        return fail(QStringLiteral("sie beginnt nicht mit postgresql://"));
    const QUrl url(databank.trimmed(), QUrl::StrictMode);
    if (!url.isValid())
        return fail(url.errorString());
    ServerAddress a;
    a.user = url.userName(QUrl::FullyDecoded);
    a.password = url.password(QUrl::FullyDecoded);
    a.host = url.host(QUrl::FullyDecoded);
    a.port = url.port(5432);
    a.databaseName = url.path(QUrl::FullyDecoded).mid(1);
    if (a.user.isEmpty())
        return fail(QStringLiteral("es fehlt der Benutzer (postgresql://benutzer@rechner/db)"));
    if (a.host.isEmpty())
        return fail(QStringLiteral("es fehlt der Rechner (postgresql://benutzer@rechner/db)"));
    if (a.databaseName.isEmpty() || a.databaseName.contains(QLatin1Char('/')))
        return fail(
            QStringLiteral("es fehlt der Name der Datenbank (postgresql://benutzer@rechner/db)"));
    if (a.port <= 0 || a.port > 65535)
        return fail(QStringLiteral("der Port ist keine Zahl von 1 bis 65535"));
    return a;
}

QString shownDatabank(const QString& databank) {
    if (!isServerAddress(databank))
        return databank;
    QUrl url(databank.trimmed());
    if (!url.isValid())
        return QStringLiteral("postgresql://…");
    url.setPassword(QString());
    return url.toString(QUrl::RemovePassword);
}

} // namespace kestro::jobdb
