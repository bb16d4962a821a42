#include "client/jobdb/recordeditor.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/tablelayout.h"
#include "common/germanformat.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kestro::jobdb {
namespace {

void setTexts(RowValues& row, const EditorRecord& r) {
    row.set(QStringLiteral("name1"), r.name1);
    row.set(QStringLiteral("name2"), r.name2);
    row.set(QStringLiteral("name3"), r.name3);
    row.set(QStringLiteral("Street"), r.street);
    row.set(QStringLiteral("plzort"), r.plzOrt);
    row.set(QStringLiteral("Anspr"), r.contact);
}

} // namespace

EditorConfig EditorConfig::projects() {
    return {QStringLiteral("Projekte"), QStringLiteral("ProNumber"), QStringLiteral("Projekte"),
            QStringLiteral("&Projekt - Nr"), List::Projects};
}

EditorConfig EditorConfig::deliveryAddresses() {
    return {QStringLiteral("LieferAdr"), QStringLiteral("LiefNumber"),
            QStringLiteral("Lieferadressen"), QStringLiteral("&Liefer - Nr"),
            List::DeliveryAddresses};
}

qint32 RecordEditor::maximumNumber() const {
    return boundaryNumber(QStringLiteral("DESC"));
}

qint32 RecordEditor::firstNumber() const {
    return boundaryNumber(QStringLiteral("ASC"));
}

qint32 RecordEditor::boundaryNumber(const QString& order) const {
    QSqlQuery q(db_.connection());
    if (!q.exec(QStringLiteral("SELECT %2 FROM %1 WHERE %2 IS NOT NULL AND %2 > 0 "
                               "ORDER BY %2 %3 LIMIT 1")
                    .arg(quoted(config_.table), quoted(config_.numberColumn), order))) {
        qCWarning(lcJobDb) << config_.table << "unreadable:" << q.lastError().text();
        return 0;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

std::optional<EditorRecord> RecordEditor::seek(qint32 number) const {
    QSqlQuery q(db_.connection());
    q.prepare(QStringLiteral("SELECT %2, Name1, Name2, Name3, Street, plzOrt, Anspr FROM %1 "
                             "WHERE %2 = ? ORDER BY %2, rowid LIMIT 1")
                  .arg(quoted(config_.table), quoted(config_.numberColumn)));
    q.addBindValue(number);
    if (!q.exec()) {
        qCWarning(lcJobDb) << config_.table << "unreadable:" << q.lastError().text();
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return EditorRecord{q.value(0).toInt(),    cleanText(q.value(1)), cleanText(q.value(2)),
                        cleanText(q.value(3)), cleanText(q.value(4)), cleanText(q.value(5)),
                        cleanText(q.value(6))};
}

std::optional<EditorRecord> RecordEditor::newRecord() {
    QSqlDatabase db = db_.connection();
    WriteTransaction tx(db);
    if (!tx.isActive())
        return std::nullopt;
    const qint32 number = maximumNumber() + 1;
    if (number > kHighestNumber) {
        qCWarning(lcJobDb) << config_.table << "has no number left below" << kHighestNumber;
        return std::nullopt;
    }
    EditorRecord record;
    record.number = number;
    RowValues row(*findLayout(config_.table));
    row.set(config_.numberColumn, number);
    setTexts(row, record);
    if (!insertRow(db, row) || !tx.commit())
        return std::nullopt;
    return record;
}

bool RecordEditor::save(const EditorRecord& record) {
    // A record beyond the highest number could never be reached again and would block
    // every later newRecord().
    if (record.number < 1 || record.number > kHighestNumber) {
        qCWarning(lcJobDb) << config_.table << "number out of range:" << record.number;
        return false;
    }
    QSqlDatabase db = db_.connection();
    WriteTransaction tx(db);
    if (!tx.isActive())
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT rowid FROM %1 WHERE %2 = ? ORDER BY %2, rowid LIMIT 1")
                  .arg(quoted(config_.table), quoted(config_.numberColumn)));
    q.addBindValue(record.number);
    if (!q.exec()) {
        qCWarning(lcJobDb) << config_.table << "unreadable:" << q.lastError().text();
        return false;
    }
    RowValues row(*findLayout(config_.table));
    bool written = false;
    if (q.next()) {
        setTexts(row, record);
        written = updateRow(db, row, q.value(0).toLongLong());
    } else {
        row.set(config_.numberColumn, record.number);
        setTexts(row, record);
        written = insertRow(db, row);
    }
    return written && tx.commit();
}

EditorRecord RecordEditor::markedDeleted(EditorRecord record, const QDate& today) {
    const qint32 number = record.number;
    record = EditorRecord{};
    record.number = number;
    record.name1 = QStringLiteral("gelöscht am: ") + de::shortDate(today);
    return record;
}

} // namespace kestro::jobdb
