#include "client/jobdb/rowvalues.h"

#include "client/jobdb/jobdblog.h"

#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <limits>

namespace kestro::jobdb {
namespace {

// True the first time in this run that a value did not fit `column`: a value that never
// fits (a long database path in every job row) is worth one log line, not one per job.
bool firstMisfitOf(const QString& column) {
    static QMutex mutex;
    static QSet<QString> reported;
    const QMutexLocker lock(&mutex);
    if (reported.contains(column))
        return false;
    reported.insert(column);
    return true;
}

bool toLong(const QVariant& value, qint32* out) {
    bool ok = false;
    qlonglong n = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        n = value.toLongLong(&ok);
        break;
    default:
        n = value.toString().trimmed().toLongLong(&ok);
        break;
    }
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        return false;
    *out = static_cast<qint32>(n);
    return true;
}

bool isEmptyValue(const QVariant& value) {
    return value.isNull() || (value.typeId() == QMetaType::QString && value.toString().isEmpty());
}

} // namespace

QString cleanText(const QVariant& value) {
    if (value.isNull())
        return {};
    QString s = value.toString();
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1) == QLatin1Char(' '))
        --end;
    s.truncate(end);
    return s;
}

QString quoted(const QString& identifier) {
    return quotedAsIs(identifier.toLower());
}

QString quotedAsIs(const QString& identifier) {
    QString s = identifier;
    s.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

bool fitValue(const ColumnSpec& spec, const QVariant& value, QVariant* stored) {
    if (isEmptyValue(value)) {
        *stored = spec.type == ColumnType::Long ? QVariant(QMetaType::fromType<qint32>())
                                                : QVariant(QMetaType::fromType<QString>());
        return true;
    }
    switch (spec.type) {
    case ColumnType::Long: {
        qint32 n = 0;
        if (!toLong(value, &n))
            return false;
        *stored = n;
        return true;
    }
    case ColumnType::Text: {
        const QString s = value.toString();
        if (s.size() > spec.size)
            return false;
        *stored = s;
        return true;
    }
    case ColumnType::Memo:
        *stored = value.toString();
        return true;
    }
    return false;
}

bool RowValues::set(const QString& column, const QVariant& value) {
    const ColumnSpec* spec = layout_->column(column);
    if (!spec) {
        qCWarning(lcJobDb) << "table" << layout_->name << "has no column" << column;
        return false;
    }
    QVariant stored;
    if (!fitValue(*spec, value, &stored)) {
        if (firstMisfitOf(layout_->name + QLatin1Char('.') + spec->name))
            qCInfo(lcJobDb).nospace()
                << "value for " << layout_->name << "." << spec->name
                << " does not fit its column (" << value.toString().size()
                << " characters); column left out, here and in later rows of this run";
        return false;
    }
    for (auto& entry : values_) {
        if (entry.first == spec->name) {
            entry.second = stored;
            return true;
        }
    }
    values_.append({spec->name, stored});
    return true;
}

bool insertRow(const QSqlDatabase& db, const RowValues& row, QString* error) {
    QStringList names;
    QStringList marks;
    for (const auto& entry : row.values()) {
        names << quoted(entry.first);
        marks << QStringLiteral("?");
    }
    const QString sql =
        names.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(row.layout().name))
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoted(row.layout().name), names.join(QLatin1Char(',')),
                       marks.join(QLatin1Char(',')));
    QSqlQuery q(db);
    q.prepare(sql);
    for (const auto& entry : row.values())
        q.addBindValue(entry.second);
    if (!q.exec()) {
        if (error)
            *error = q.lastError().text();
        qCWarning(lcJobDb) << "row not added to" << row.layout().name << q.lastError().text();
        return false;
    }
    return true;
}

bool updateRow(const QSqlDatabase& db, const RowValues& row, qint64 rowid, QString* error) {
    if (row.values().isEmpty())
        return true;
    QStringList sets;
    for (const auto& entry : row.values())
        sets << quoted(entry.first) + QStringLiteral(" = ?");
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                  .arg(quoted(row.layout().name), sets.join(QLatin1Char(','))));
    for (const auto& entry : row.values())
        q.addBindValue(entry.second);
    q.addBindValue(rowid);
    if (!q.exec()) {
        if (error)
            *error = q.lastError().text();
        qCWarning(lcJobDb) << "row of" << row.layout().name << "not changed"
                           << q.lastError().text();
        return false;
    }
    return true;
}

} // namespace kestro::jobdb
