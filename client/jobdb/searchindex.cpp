#include "client/jobdb/searchindex.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/tablelayout.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kestro::jobdb {
namespace {

// The indexed text of a row: the columns joined by line feeds, Null as the empty text. The
// line feed keeps a piece of one column from running on into the next for the trigrams
// that matter; what still runs across is sorted out by the search's own test.
QString joinedText(const QString& row, const QStringList& columns) {
    QStringList parts;
    for (const QString& c : columns)
        parts << QStringLiteral("coalesce(%1.%2, '')").arg(row, quoted(c));
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

QStringList createStatements(const IndexSpec& s) {
    const QString index = quoted(s.indexTable);
    const QString source = quoted(s.sourceTable);
    const QString insertNew = QStringLiteral("INSERT INTO %1 (rowid, txt) VALUES (new.rowid, %2);")
                                  .arg(index, joinedText(QStringLiteral("new"), s.columns));
    // The index keeps no copy of the texts; a row leaves it by naming the text it went in with.
    const QString deleteOld =
        QStringLiteral("INSERT INTO %1 (%1, rowid, txt) VALUES ('delete', old.rowid, %2);")
            .arg(index, joinedText(QStringLiteral("old"), s.columns));
    return {
        QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(txt, content = '', "
                       "tokenize = 'trigram')")
            .arg(index),
        QStringLiteral("INSERT INTO %1 (rowid, txt) SELECT rowid, %2 FROM %3")
            .arg(index, joinedText(source, s.columns), source),
        QStringLiteral("CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 END")
            .arg(quoted(triggerName(s, "ai")), source, insertNew),
        QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN %3 END")
            .arg(quoted(triggerName(s, "ad")), source, deleteOld),
        QStringLiteral("CREATE TRIGGER %1 AFTER UPDATE ON %2 BEGIN %3 %4 END")
            .arg(quoted(triggerName(s, "au")), source, deleteOld, insertNew),
    };
}

// How many of the index's table and triggers the file holds.
int presentObjects(const QSqlDatabase& db, const IndexSpec& s, bool* queried) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (?, ?, ?, ?)"));
    for (const QString& name : objectNames(s))
        q.addBindValue(name);
    *queried = q.exec() && q.next();
    return *queried ? q.value(0).toInt() : 0;
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
    for (const IndexSpec& s : specs()) {
        bool queried = false;
        if (presentObjects(db, s, &queried) != objectNames(s).size())
            return false;
    }
    return true;
}

bool ensureSearchIndex(const QSqlDatabase& db, QString* error) {
    if (hasSearchIndex(db))
        return true;
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        if (error)
            *error = tx.errorText();
        return false;
    }
    QSqlQuery q(db);
    for (const IndexSpec& s : specs()) {
        bool queried = false;
        const int present = presentObjects(db, s, &queried);
        if (!queried) {
            if (error)
                *error = QStringLiteral("schema unreadable");
            return false;
        }
        if (present == objectNames(s).size())
            continue;
        // A partly built index (another program dropped a piece) is built afresh.
        for (const QString& name : objectNames(s).mid(1))
            if (!run(q, QStringLiteral("DROP TRIGGER IF EXISTS ") + quoted(name), error))
                return false;
        if (!run(q, QStringLiteral("DROP TABLE IF EXISTS ") + quoted(s.indexTable), error))
            return false;
        for (const QString& sql : createStatements(s))
            if (!run(q, sql, error))
                return false;
    }
    if (!tx.commit()) {
        if (error)
            *error = tx.errorText();
        return false;
    }
    qCInfo(lcJobDb) << "search index built";
    return true;
}

} // namespace kestro::jobdb
