#include "client/jobdb/copyto.h"

#include "client/jobdb/address.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/schema.h"
#include "client/jobdb/searchindex.h"
#include "client/jobdb/tablelayout.h"

#include <QCryptographicHash>
#include <QSqlError>
#include <QSqlQuery>

namespace kestro::jobdb {
namespace {

QString columnList(const TableLayout& layout) {
    QStringList names;
    for (const ColumnSpec& c : layout.columns)
        names << quoted(c.name);
    return names.join(QLatin1Char(','));
}

// A row as the checksum reads it: every value as text, Null as a mark no text can hold.
QByteArray canonicalRow(const QSqlQuery& q, int columns) {
    QByteArray row;
    for (int i = 0; i < columns; ++i) {
        const QVariant v = q.value(i);
        row += v.isNull() ? QByteArray("\x01N") : v.toString().toUtf8();
        row += '\x1f';
    }
    row += '\x1e';
    return row;
}

// Row count and checksum of a table, rows in the order they were added.
bool tableSum(const Database& db, const TableLayout& layout, qint64* rows, QByteArray* sum,
              QString* error) {
    QSqlQuery q(db.connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                    .arg(columnList(layout), quoted(layout.name)))) {
        *error = q.lastError().text();
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    *rows = 0;
    while (q.next()) {
        hash.addData(canonicalRow(q, int(layout.columns.size())));
        ++*rows;
    }
    *sum = hash.result().toHex();
    return true;
}

// The first table of the target that holds a row, with its count; empty when none does.
QString nonEmptyTable(const Database& target, QString* error) {
    for (const TableLayout& layout : tableLayouts()) {
        if (!target.hasTable(layout.name))
            continue;
        QSqlQuery q(target.connection());
        if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + quoted(layout.name)) || !q.next()) {
            *error = q.lastError().text();
            return {};
        }
        if (q.value(0).toLongLong() > 0)
            return QStringLiteral("%1 (%2 Zeilen)").arg(layout.name).arg(q.value(0).toLongLong());
    }
    return {};
}

bool copyTableRows(const Database& source, const Database& target, const TableLayout& layout,
                   const std::function<void(const QString&)>& progress, QString* error) {
    QSqlQuery read(source.connection());
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                       .arg(columnList(layout), quoted(layout.name)))) {
        *error = read.lastError().text();
        return false;
    }
    QSqlQuery write(target.connection());
    if (!write.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                           .arg(quoted(layout.name), columnList(layout),
                                QStringList(layout.columns.size(), QStringLiteral("?"))
                                    .join(QLatin1Char(','))))) {
        *error = write.lastError().text();
        return false;
    }
    qint64 done = 0;
    while (read.next()) {
        for (int i = 0; i < layout.columns.size(); ++i) {
            const QVariant v = read.value(i);
            // A value keeps its text; a long-integer column gets a number (or Null).
            if (v.isNull())
                write.bindValue(i, layout.columns[i].type == ColumnType::Long
                                       ? QVariant(QMetaType::fromType<qint32>())
                                       : QVariant(QMetaType::fromType<QString>()));
            else
                write.bindValue(i, layout.columns[i].type == ColumnType::Long
                                       ? QVariant(v.toLongLong())
                                       : QVariant(v.toString()));
        }
        if (!write.exec()) {
            *error = QStringLiteral("Zeile %1: %2").arg(done + 1).arg(write.lastError().text());
            return false;
        }
        if (++done % 10000 == 0 && progress)
            progress(QStringLiteral("  %1: %2 Zeilen").arg(layout.name).arg(done));
    }
    if (progress)
        progress(QStringLiteral("  %1: %2 Zeilen kopiert").arg(layout.name).arg(done));
    return true;
}

} // namespace

CopyReport copyToServer(const QString& sourcePath, const QString& target,
                        const std::function<void(const QString&)>& progress) {
    CopyReport report;
    auto fail = [&report](const QString& why) {
        report.error = why;
        qCWarning(lcJobDb) << "copy to the server failed:" << why;
        return report;
    };
    if (!isServerAddress(target))
        return fail(QStringLiteral("Das Ziel ist keine PostgreSQL-Adresse (postgresql://…)."));
    if (isServerAddress(sourcePath))
        return fail(QStringLiteral("Die eingestellte Datenbank ist schon ein Server."));
    if (!versionMatches(sourcePath))
        return fail(QStringLiteral("Die Datei %1 stammt von einer anderen Programmversion. "
                                   "Bitte starten Sie zuerst den KestroFTP-Client, der sie "
                                   "umbaut.")
                        .arg(sourcePath));
    const Database source(sourcePath, Database::Mode::ReadOnly);
    if (!source.isOpen())
        return fail(QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2")
                        .arg(sourcePath, source.errorText()));
    const Database server(target);
    if (!server.isOpen())
        return fail(QStringLiteral("Die Datenbank %1 kann nicht geöffnet werden: %2")
                        .arg(shownDatabank(target), server.errorText()));
    {
        WriteTransaction tx(server.connection());
        if (!tx.isActive())
            return fail(QStringLiteral("Die Datenbank %1 ist gesperrt: %2")
                            .arg(shownDatabank(target), tx.errorText()));
        QString error;
        const QString filled = nonEmptyTable(server, &error);
        if (!error.isEmpty())
            return fail(error);
        if (!filled.isEmpty())
            return fail(QStringLiteral("Die Datenbank %1 ist nicht leer: die Tabelle %2. Es "
                                       "wird nur in eine leere Datenbank kopiert.")
                            .arg(shownDatabank(target), filled));
        if (!completeServerTables(server, programVersionText(), &error))
            return fail(QStringLiteral("Die Tabellen können nicht angelegt werden: ") + error);
        for (const TableLayout& layout : tableLayouts()) {
            // The Version row is the one the tables were just made with.
            if (layout.name == table::Version || !source.hasTable(layout.name))
                continue;
            if (!copyTableRows(source, server, layout, progress, &error))
                return fail(QStringLiteral("Die Tabelle %1 kann nicht kopiert werden: %2")
                                .arg(layout.name, error));
        }
        // Checked before the commit: a table that does not match leaves the server empty.
        for (const TableLayout& layout : tableLayouts()) {
            TableCheck check{layout.name, 0, 0, {}, {}};
            if (source.hasTable(layout.name) &&
                !tableSum(source, layout, &check.sourceRows, &check.sourceSum, &error))
                return fail(QStringLiteral("Die Tabelle %1 der Datei ist nicht lesbar: %2")
                                .arg(layout.name, error));
            if (!source.hasTable(layout.name))
                check.sourceSum = QCryptographicHash::hash({}, QCryptographicHash::Sha256).toHex();
            if (!tableSum(server, layout, &check.targetRows, &check.targetSum, &error))
                return fail(QStringLiteral("Die Tabelle %1 auf dem Server ist nicht lesbar: %2")
                                .arg(layout.name, error));
            report.tables << check;
            if (!check.matches())
                return fail(QStringLiteral("Die Tabelle %1 stimmt nach dem Kopieren nicht überein "
                                           "(%2 Zeilen in der Datei, %3 auf dem Server).")
                                .arg(layout.name)
                                .arg(check.sourceRows)
                                .arg(check.targetRows));
        }
        if (!tx.commit())
            return fail(QStringLiteral("Die Zeilen können nicht gespeichert werden: ") +
                        tx.errorText());
    }
    QString indexError;
    if (!ensureSearchIndex(server.connection(), &indexError))
        qCWarning(lcJobDb) << "search on the server without its index:" << indexError;

    report.ok = true;
    return report;
}

} // namespace kestro::jobdb
