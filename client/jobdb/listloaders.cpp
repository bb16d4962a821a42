#include "client/jobdb/listloaders.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/rowvalues.h"

#include <QCollator>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <vector>

namespace kestro::jobdb {
namespace {

struct Entry {
    QString number;
    QString name1;
};

std::vector<Entry> readEntries(const Database& db, const QString& tableName,
                               const QString& numberColumn) {
    std::vector<Entry> out;
    if (!db.isOpen())
        return out;
    QSqlQuery q(db.connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %2, Name1 FROM %1 WHERE %2 IS NOT NULL AND %2 <> 0 "
                               "ORDER BY %2, rowid")
                    .arg(quoted(tableName), quoted(numberColumn)))) {
        qCWarning(lcJobDb) << tableName << "list unreadable:" << q.lastError().text();
        return out;
    }
    while (q.next())
        out.push_back({cleanText(q.value(0)), cleanText(q.value(1))});
    return out;
}

QStringList labels(const std::vector<Entry>& entries) {
    QStringList out;
    out.reserve(qsizetype(entries.size()));
    for (const Entry& e : entries)
        out << listLabel(e.number, e.name1);
    return out;
}

} // namespace

QString listLabel(const QString& number, const QString& name1) {
    return number + QStringLiteral(" | ") + name1;
}

QStringList loadDeliveryLabels(const Database& db) {
    return labels(readEntries(db, QStringLiteral("LieferAdr"), QStringLiteral("LiefNumber")));
}

QStringList loadProjectLabels(const Database& db, const QString& sortFlag) {
    std::vector<Entry> entries =
        readEntries(db, QStringLiteral("Projekte"), QStringLiteral("ProNumber"));
    if (flagState(sortFlag) != 0) {
        // Sort keys once per entry: comparing 30,000 names through the collator directly
        // would cost far more.
        QCollator collator{QLocale(QLocale::German, QLocale::Germany)};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::vector<std::pair<QCollatorSortKey, std::size_t>> keys;
        keys.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            keys.emplace_back(collator.sortKey(entries[i].name1), i);
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
        std::vector<Entry> sorted;
        sorted.reserve(entries.size());
        for (const auto& k : keys)
            sorted.push_back(std::move(entries[k.second]));
        entries = std::move(sorted);
    }
    return labels(entries);
}

} // namespace kestro::jobdb
