#include "client/jobdb/schema.h"
#include "client/jobdb/address.h"

#include "client/jobdb/database.h"
#include "client/jobdb/dialect.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/searchindex.h"
#include "common/prompter.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace kestro::jobdb {
namespace {

// Declared types chosen so that SQLite's type affinity matches the column's type code and
// the code and size can be read back from the file.
QString declaredType(const Dialect& dialect, const ColumnSpec& c) {
    switch (c.type) {
    case ColumnType::Long:
        return dialect.longType;
    case ColumnType::Text:
        return dialect.textType.arg(c.size);
    case ColumnType::Memo:
        return dialect.memoType;
    }
    return {};
}

// A name as the engine stores it for an object built under it.
QString declaredName(const Dialect& dialect, const QString& name) {
    return dialect.lowerCaseNames ? quoted(name) : quotedAsIs(name);
}

// The expression that turns an old value into what the new column accepts, Null when it
// does not fit (as the old engine refused it).
QString fittingExpression(const ColumnSpec& c, const QString& col) {
    switch (c.type) {
    case ColumnType::Long:
        return QStringLiteral(
                   "CASE WHEN typeof(%1) = 'integer' AND %1 BETWEEN -2147483648 AND 2147483647 "
                   "THEN %1 "
                   "WHEN typeof(%1) = 'real' AND %1 = CAST(%1 AS INTEGER) "
                   "AND %1 BETWEEN -2147483648 AND 2147483647 THEN CAST(%1 AS INTEGER) "
                   "WHEN typeof(%1) = 'text' AND trim(%1) <> '' "
                   "AND CAST(CAST(trim(%1) AS INTEGER) AS TEXT) = trim(%1) "
                   "AND CAST(trim(%1) AS INTEGER) BETWEEN -2147483648 AND 2147483647 "
                   "THEN CAST(trim(%1) AS INTEGER) ELSE NULL END")
            .arg(col);
    case ColumnType::Text:
        return QStringLiteral("CASE WHEN length(CAST(%1 AS TEXT)) BETWEEN 1 AND %2 "
                              "THEN CAST(%1 AS TEXT) ELSE NULL END")
            .arg(col)
            .arg(c.size);
    case ColumnType::Memo:
        return QStringLiteral("NULLIF(CAST(%1 AS TEXT), '')").arg(col);
    }
    return QStringLiteral("NULL");
}

QStringList attachedColumns(const QSqlDatabase& db, const QString& schema, const QString& table) {
    QStringList out;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?, ?)"));
    q.addBindValue(table);
    q.addBindValue(schema);
    if (q.exec()) {
        while (q.next())
            out << q.value(0).toString();
    }
    return out;
}

bool hasOldColumn(const QStringList& columns, const QString& name) {
    return columns.contains(name, Qt::CaseInsensitive);
}

bool scalar(const QSqlDatabase& db, const QString& sql, qint64* out, QString* error) {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        *error = q.lastError().text();
        return false;
    }
    *out = q.value(0).toLongLong();
    return true;
}

} // namespace

QString programVersionText() {
    return QStringLiteral(KESTRO_VERSION_TEXT);
}

void showEngineError(Prompter& prompter, const QString& number, const QString& description) {
    qCWarning(lcJobDb) << "engine error" << number << description;
    prompter.message(QStringLiteral("Fehler !!!\r\n") + number + QLatin1Char(' ') + description,
                     Prompter::Icon::Critical, QStringLiteral("FEHLER..."));
}

void showEngineError(Prompter& prompter, const QSqlError& error) {
    const QString number =
        error.nativeErrorCode().isEmpty() ? QStringLiteral("0") : error.nativeErrorCode();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    showEngineError(prompter, number, text);
}

bool buildTable(const QSqlDatabase& db, const TableLayout& layout, QSqlError* error) {
    const Dialect& dialect = dialectOf(db);
    QStringList cols;
    for (const ColumnSpec& c : layout.columns)
        cols << declaredName(dialect, c.name) + QLatin1Char(' ') + declaredType(dialect, c);
    if (!dialect.rowNumberColumn.isEmpty())
        cols << dialect.rowNumberColumn;
    QSqlQuery q(db);
    // The search's folding is made with the tables it searches.
    if (dialect.engine == Engine::Postgres &&
        (layout.name == table::JobDaten || layout.name == table::FileDaten) &&
        !q.exec(serverFoldFunctionSql())) {
        *error = q.lastError();
        return false;
    }
    if (!q.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                    .arg(declaredName(dialect, layout.name), cols.join(QStringLiteral(", "))))) {
        *error = q.lastError();
        return false;
    }
    for (const QString& col : layout.indexed) {
        if (!q.exec(QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                        .arg(declaredName(dialect, layout.name + QLatin1Char('_') + col),
                             declaredName(dialect, layout.name), declaredName(dialect, col)))) {
            *error = q.lastError();
            return false;
        }
    }
    return true;
}

bool completeServerTables(const Database& file, const QString& versionText, QString* error) {
    QSqlDatabase db = file.connection();
    const Dialect& dialect = dialectOf(db);
    QSqlQuery q(db);
    auto run = [&q, error](const QString& sql) {
        if (q.exec(sql))
            return true;
        *error = q.lastError().text();
        return false;
    };
    for (const TableLayout& layout : tableLayouts()) {
        if (!file.hasTable(layout.name)) {
            QSqlError buildError;
            if (!buildTable(db, layout, &buildError)) {
                *error = buildError.text();
                return false;
            }
            continue;
        }
        const QStringList present = file.columnsOf(layout.name);
        for (const ColumnSpec& c : layout.columns) {
            if (!present.contains(c.name, Qt::CaseInsensitive) &&
                !run(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                         .arg(quoted(layout.name), declaredName(dialect, c.name),
                              declaredType(dialect, c))))
                return false;
        }
    }
    if (!run(QStringLiteral("DELETE FROM ") + quoted(table::Version)))
        return false;
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?)")
                  .arg(quoted(table::Version), quoted(QStringLiteral("Version"))));
    q.addBindValue(versionText);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    return true;
}

bool copyRows(const QSqlDatabase& db, const TableLayout& layout, const QString& versionText,
              CopyCount* count, QString* error) {
    *count = {};
    const QStringList oldColumns = attachedColumns(db, QStringLiteral("old"), layout.name);
    if (oldColumns.isEmpty())
        return true; // the old file lacks the table: nothing to copy
    const QString source = QStringLiteral("old.") + quoted(layout.name);
    if (!scalar(db, QStringLiteral("SELECT count(*) FROM ") + source, &count->oldRows, error))
        return false;

    const bool isVersion = layout.name == table::Version;
    QStringList targets;
    QStringList sources;
    QStringList leftOutTests;
    for (const ColumnSpec& c : layout.columns) {
        targets << quoted(c.name);
        if (isVersion) {
            sources << QStringLiteral(":version");
        } else if (hasOldColumn(oldColumns, c.name)) {
            const QString col = quoted(c.name);
            const QString fit = fittingExpression(c, col);
            sources << fit;
            leftOutTests << QStringLiteral("(%1 IS NOT NULL AND CAST(%1 AS TEXT) <> '' AND "
                                           "(%2) IS NULL)")
                                .arg(col, fit);
        } else {
            sources << QStringLiteral("NULL");
        }
    }
    if (!leftOutTests.isEmpty() &&
        !scalar(db,
                QStringLiteral("SELECT coalesce(sum(%1), 0) FROM %2")
                    .arg(leftOutTests.join(QStringLiteral(" + ")), source),
                &count->valuesLeftOut, error))
        return false;
    if (count->valuesLeftOut > 0)
        qCWarning(lcJobDb) << count->valuesLeftOut << "values of" << layout.name
                           << "do not fit the current layout and are left out";

    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %3 FROM %4 ORDER BY rowid")
                  .arg(quoted(layout.name), targets.join(QLatin1Char(',')),
                       sources.join(QLatin1Char(',')), source));
    if (isVersion)
        q.bindValue(QStringLiteral(":version"), versionText);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    count->copiedRows = q.numRowsAffected();
    return true;
}

bool createTable(const QString& dbPath, const QString& tableName, Prompter& prompter,
                 const QString& versionText) {
    const TableLayout* layout = findLayout(tableName);
    if (!layout) {
        showEngineError(prompter, QStringLiteral("3265"),
                        QStringLiteral("Unbekannte Tabelle ") + tableName);
        return false;
    }
    Database file(dbPath, Database::Mode::CreateIfMissing);
    if (!file.isOpen()) {
        showEngineError(prompter, QStringLiteral("3044"),
                        file.errorText() + QStringLiteral(": ") + dbPath);
        return false;
    }
    if (file.hasTable(layout->name))
        return false;
    QSqlDatabase db = file.connection();
    WriteTransaction tx(db);
    QSqlError error;
    if (!tx.isActive() || !buildTable(db, *layout, &error)) {
        showEngineError(prompter, tx.isActive() ? error : db.lastError());
        return false;
    }
    if (layout->name == table::Version) {
        RowValues row(*layout);
        row.set(QStringLiteral("Version"), versionText);
        insertRow(db, row); // a failure here is logged; the table itself stands
    }
    if (!tx.commit()) {
        showEngineError(prompter, QStringLiteral("0"), tx.errorText());
        return false;
    }
    return true;
}

QString buildAndCopyTable(const QSqlDatabase& db, const TableLayout& layout,
                          const QString& versionText) {
    QSqlError buildError;
    if (!buildTable(db, layout, &buildError))
        return QStringLiteral("die Tabelle %1 kann nicht angelegt werden (%2)")
            .arg(layout.name, buildError.text());
    CopyCount count;
    QString error;
    if (!copyRows(db, layout, versionText, &count, &error))
        return QStringLiteral("die Tabelle %1 kann nicht kopiert werden (%2)")
            .arg(layout.name, error);
    if (count.copiedRows != count.oldRows)
        return QStringLiteral("von %1 Zeilen der Tabelle %2 wurden nur %3 kopiert")
            .arg(count.oldRows)
            .arg(layout.name)
            .arg(count.copiedRows);
    qCInfo(lcJobDb) << "copied" << count.copiedRows << "rows of" << layout.name;
    if (layout.name == table::Version && count.copiedRows == 0) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO main.Version (Version) VALUES (?)"));
        q.addBindValue(versionText);
        if (!q.exec())
            return QStringLiteral("die Version kann nicht eingetragen werden (%1)")
                .arg(q.lastError().text());
    }
    return {};
}

bool copyTable(const QString& newPath, const QString& oldPath, const QString& tableName,
               QString* error, const QString& versionText) {
    const auto fail = [&](const QString& why) {
        qCWarning(lcJobDb) << "table" << tableName << "not copied:" << why;
        if (error)
            *error = why;
        return false;
    };
    const TableLayout* layout = findLayout(tableName);
    if (!layout)
        return fail(QStringLiteral("Unbekannte Tabelle ") + tableName);
    Database file(newPath, Database::Mode::CreateIfMissing);
    if (!file.isOpen())
        return fail(QStringLiteral("die neue Datei %1 kann nicht geöffnet werden (%2)")
                        .arg(newPath, file.errorText()));
    if (file.hasTable(layout->name))
        return fail(
            QStringLiteral("die Tabelle %1 gibt es in %2 schon").arg(layout->name, newPath));
    QSqlDatabase db = file.connection();
    // The old file is attached only when it is a database; a missing or foreign old file
    // yields a new, empty table. One that looks like a database but cannot be attached
    // would lose its rows: that is a failure.
    if (Database::looksUsable(oldPath)) {
        QSqlQuery attach(db);
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS old"));
        attach.addBindValue(oldPath);
        if (!attach.exec())
            return fail(QStringLiteral("die Datei %1 ist nicht lesbar (%2)")
                            .arg(oldPath, attach.lastError().text()));
    } else {
        QSqlQuery empty(db);
        if (!empty.exec(QStringLiteral("ATTACH DATABASE ':memory:' AS old")))
            return fail(empty.lastError().text());
    }
    QString why;
    {
        WriteTransaction tx(db);
        if (!tx.isActive())
            why = QStringLiteral("die neue Datei ist gesperrt (%1)").arg(tx.errorText());
        else if (why = buildAndCopyTable(db, *layout, versionText); why.isEmpty() && !tx.commit())
            why = QStringLiteral("die neue Datei kann nicht gespeichert werden (%1)")
                      .arg(tx.errorText());
    }
    QSqlQuery detach(db);
    detach.exec(QStringLiteral("DETACH DATABASE old"));
    return why.isEmpty() || fail(why);
}

bool versionMatches(const QString& dbPath, const QString& versionText) {
    Database file(dbPath);
    if (!file.isOpen())
        return false;
    QSqlQuery q(file.connection());
    if (!q.exec(QStringLiteral("SELECT Version FROM Version ORDER BY rowid LIMIT 1")) ||
        !q.next()) {
        qCInfo(lcJobDb) << "no version recorded in" << shownDatabank(dbPath)
                        << q.lastError().text();
        return false;
    }
    return cleanText(q.value(0)) == versionText;
}

TableLayout storedLayout(const QSqlDatabase& db, const QString& tableName) {
    TableLayout out{tableName, {}, {}};
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    q.addBindValue(tableName);
    if (!q.exec())
        return out;
    static const QRegularExpression varchar(QStringLiteral("^VARCHAR\\((\\d+)\\)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    while (q.next()) {
        const QString type = q.value(1).toString();
        ColumnSpec c{q.value(0).toString(), ColumnType::Memo, 12};
        if (type.compare(QStringLiteral("INTEGER"), Qt::CaseInsensitive) == 0) {
            c.type = ColumnType::Long;
            c.size = 4;
        } else if (const auto m = varchar.match(type); m.hasMatch()) {
            c.type = ColumnType::Text;
            c.size = m.captured(1).toInt();
        }
        out.columns << c;
    }
    return out;
}

} // namespace kestro::jobdb
