#include "client/jobdb/searchindex.h"

#include "client/jobdb/database.h"
#include "client/jobdb/dialect.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/serverconnection.h"
#include "client/jobdb/tablelayout.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace kestro::jobdb {
namespace {

// The indexed text of a row: the columns joined by line feeds, Null as the empty text. The
// line feed keeps a piece of one column from running on into the next for the trigrams
// that matter; what still runs across is sorted out by the search's own test.
QString joinedText(const QString& row, const QStringList& columns) {
    QStringList parts;
    for (const QString& c : columns)
        parts << QStringLiteral("coalesce(%1.%2, '')").arg(row, quotedAsIs(c));
    return parts.join(QStringLiteral(" || char(10) || "));
}

struct IndexSpec {
    QString indexTable;
    QString sourceTable;
    QStringList columns;
};

QList<IndexSpec> specs() {
    return {{searchindex::JobTable, table::JobDaten, searchedJobColumns()},
            {searchindex::FileTable, table::FileDaten, {QStringLiteral("Filename")}}};
}

QString triggerName(const IndexSpec& s, const char* suffix) {
    return s.indexTable + QLatin1Char('_') + QLatin1String(suffix);
}

QStringList objectNames(const IndexSpec& s) {
    return {s.indexTable, triggerName(s, "ai"), triggerName(s, "ad"), triggerName(s, "au")};
}

// The stamp's change for a row going in (sign 1) or out (sign -1) of the indexed table.
QString stampChange(const IndexSpec& s, const char* row, int sign) {
    const QString op = sign > 0 ? QStringLiteral("+") : QStringLiteral("-");
    return QStringLiteral("UPDATE %1 SET Zeilen = Zeilen %2 1, Summe = Summe %2 %3.rowid "
                          "WHERE Tabelle = '%4';")
        .arg(quotedAsIs(searchindex::StampTable), op, QLatin1String(row), s.sourceTable);
}

QStringList createStatements(const IndexSpec& s) {
    const QString index = quotedAsIs(s.indexTable);
    const QString source = quotedAsIs(s.sourceTable);
    const QString stamp = quotedAsIs(searchindex::StampTable);
    const QString insertNew = QStringLiteral("INSERT INTO %1 (rowid, txt) VALUES (new.rowid, %2);")
                                  .arg(index, joinedText(QStringLiteral("new"), s.columns));
    // The index keeps no copy of the texts; a row leaves it by naming the text it went in with.
    const QString deleteOld =
        QStringLiteral("INSERT INTO %1 (%1, rowid, txt) VALUES ('delete', old.rowid, %2);")
            .arg(index, joinedText(QStringLiteral("old"), s.columns));
    const QString stampIn = stampChange(s, "new", 1);
    const QString stampOut = stampChange(s, "old", -1);
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Tabelle TEXT PRIMARY KEY, "
                       "Zeilen INTEGER NOT NULL, Summe INTEGER NOT NULL)")
            .arg(stamp),
        QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(txt, content = '', "
                       "tokenize = 'trigram')")
            .arg(index),
        QStringLiteral("INSERT INTO %1 (rowid, txt) SELECT rowid, %2 FROM %3")
            .arg(index, joinedText(source, s.columns), source),
        QStringLiteral("INSERT OR REPLACE INTO %1 (Tabelle, Zeilen, Summe) SELECT '%2', "
                       "count(*), coalesce(sum(rowid), 0) FROM %3")
            .arg(stamp, s.sourceTable, source),
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 %4 END")
            .arg(quotedAsIs(triggerName(s, "ai")), source, insertNew, stampIn),
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN %3 %4 END")
            .arg(quotedAsIs(triggerName(s, "ad")), source, deleteOld, stampOut),
        QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE ON %2 BEGIN %3 %4 %5 %6 END")
            .arg(quotedAsIs(triggerName(s, "au")), source, deleteOld, stampOut, insertNew, stampIn),
    };
}

// How many of the index's table and triggers the file holds, a trigger counting only when
// it sits on the indexed table: one renamed aside with its table no longer keeps the
// index current.
int presentObjects(const QSqlDatabase& db, const IndexSpec& s, bool* queried) {
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name = ?) OR "
                       "(type = 'trigger' AND name IN (?, ?, ?) AND lower(tbl_name) = lower(?))"));
    for (const QString& name : objectNames(s))
        q.addBindValue(name);
    q.addBindValue(s.sourceTable);
    *queried = q.exec() && q.next();
    return *queried ? q.value(0).toInt() : 0;
}

// True when the stamp the triggers keep (row count and sum of rowids) matches the indexed
// table. A file written back from a dump numbers its rows afresh while the index keeps
// the old numbers; rows written while the triggers were missing are not in the index.
// Either leaves the stamp behind the table.
bool stampMatches(const QSqlDatabase& db, const IndexSpec& s) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT t.n = st.Zeilen AND t.s = st.Summe FROM (SELECT "
                             "count(*) AS n, coalesce(sum(rowid), 0) AS s FROM %1) t, %2 st "
                             "WHERE st.Tabelle = ?")
                  .arg(quotedAsIs(s.sourceTable), quotedAsIs(searchindex::StampTable)));
    q.addBindValue(s.sourceTable);
    return q.exec() && q.next() && q.value(0).toBool();
}

bool isCurrent(const QSqlDatabase& db, const IndexSpec& s, bool* queried) {
    return presentObjects(db, s, queried) == objectNames(s).size() && stampMatches(db, s);
}

bool run(QSqlQuery& q, const QString& sql, QString* error) {
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    qCWarning(lcJobDb) << "search index:" << q.lastError().text();
    return false;
}

} // namespace

QString serverFoldFunctionSql() {
    QString from;
    for (char16_t u = 1; u < 0x2000; ++u) {
        const QString c(QChar{u});
        if (foldForSearch(c) != c)
            from += c;
    }
    return QStringLiteral("CREATE OR REPLACE FUNCTION kestro_fold(text) RETURNS text LANGUAGE sql "
                          "IMMUTABLE STRICT PARALLEL SAFE AS $f$SELECT translate($1, '%1', "
                          "'%2')$f$")
        .arg(from, foldForSearch(from));
}

namespace {

QString serverIndexName(const IndexSpec& s) {
    return s.indexTable.toLower();
}

bool hasServerIndex(const QSqlDatabase& db) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*) FROM pg_indexes WHERE schemaname = current_schema() "
                             "AND indexname IN (?, ?)"));
    for (const IndexSpec& s : specs())
        q.addBindValue(serverIndexName(s));
    return q.exec() && q.next() && q.value(0).toInt() == 2;
}

bool ensureServerSearch(const QSqlDatabase& db, QString* error) {
    QSqlQuery q(db);
    {
        // Two workstations replacing the function at once would collide.
        WriteTransaction tx(db);
        if (!tx.isActive() || !run(q, serverFoldFunctionSql(), error) || !tx.commit()) {
            if (error && error->isEmpty())
                *error = tx.errorText();
            return false;
        }
    }
    if (hasServerIndex(db))
        return true;
    // Without the right to install the extension the search still works, reading every row.
    if (!q.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"))) {
        qCWarning(lcJobDb) << "no trigram index, the search reads every row:"
                           << q.lastError().text();
        return true;
    }
    // Over a long history the index takes longer than any single statement may.
    const UnboundedStatements longBuild(db);
    for (const IndexSpec& s : specs()) {
        const bool files = s.sourceTable == table::FileDaten;
        if (!run(q,
                 QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 USING gin (kestro_fold(%3) "
                                "gin_trgm_ops)")
                     .arg(quoted(serverIndexName(s)), quoted(s.sourceTable),
                          serverSearchText({}, files)),
                 error))
            return false;
    }
    qCInfo(lcJobDb) << "trigram search index built on the server";
    return true;
}

} // namespace

QString serverSearchText(const QString& row, bool files) {
    const QStringList columns =
        files ? QStringList{QStringLiteral("Filename")} : searchedJobColumns();
    const QString prefix = row.isEmpty() ? QString() : row + QLatin1Char('.');
    QStringList parts;
    for (const QString& c : columns)
        parts << QStringLiteral("coalesce(%1%2, '')").arg(prefix, quoted(c));
    return QLatin1Char('(') + parts.join(QStringLiteral(" || chr(10) || ")) + QLatin1Char(')');
}

QString foldForSearch(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if ((u >= u'A' && u <= u'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
            c = QChar(char16_t(u + 0x20));
        else if (u == 0x1E9E)
            c = QChar(char16_t(0xDF));
    }
    return out;
}

const QStringList& searchedJobColumns() {
    static const QStringList columns{QStringLiteral("Kostenstelle"), QStringLiteral("Projekt"),
                                     QStringLiteral("User"),         QStringLiteral("PCName"),
                                     QStringLiteral("PfadFile"),     QStringLiteral("LieferName1"),
                                     QStringLiteral("LieferName2"),  QStringLiteral("LieferName3"),
                                     QStringLiteral("LieferStreet"), QStringLiteral("LieferOrt"),
                                     QStringLiteral("LieferAnspr"),  QStringLiteral("Memo"),
                                     QStringLiteral("Termin"),       QStringLiteral("Datum")};
    return columns;
}

bool hasSearchIndex(const QSqlDatabase& db) {
    if (engineOf(db) == Engine::Postgres)
        return hasServerIndex(db);
    for (const IndexSpec& s : specs()) {
        bool queried = false;
        if (presentObjects(db, s, &queried) != objectNames(s).size())
            return false;
    }
    return true;
}

bool ensureSearchIndex(const QSqlDatabase& db, QString* error) {
    if (engineOf(db) == Engine::Postgres)
        return ensureServerSearch(db, error);
    const QList<IndexSpec> all = specs();
    if (std::all_of(all.begin(), all.end(), [&db](const IndexSpec& s) {
            bool queried = false;
            return isCurrent(db, s, &queried);
        }))
        return true;
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        if (error)
            *error = tx.errorText();
        return false;
    }
    QSqlQuery q(db);
    for (const IndexSpec& s : all) {
        bool queried = false;
        if (isCurrent(db, s, &queried))
            continue;
        if (!queried) {
            if (error)
                *error = QStringLiteral("schema unreadable");
            return false;
        }
        // A partly built or stale index is built afresh.
        for (const QString& name : objectNames(s).mid(1))
            if (!run(q, QStringLiteral("DROP TRIGGER IF EXISTS ") + quotedAsIs(name), error))
                return false;
        if (!run(q, QStringLiteral("DROP TABLE IF EXISTS ") + quotedAsIs(s.indexTable), error))
            return false;
        for (const QString& sql : createStatements(s))
            if (!run(q, sql, error))
                return false;
        qCInfo(lcJobDb) << "search index built for" << s.sourceTable;
    }
    if (!tx.commit()) {
        if (error)
            *error = tx.errorText();
        return false;
    }
    return true;
}

} // namespace kestro::jobdb
