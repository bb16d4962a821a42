#include "client/jobdb/jobrecords.h"

#include "client/jobdb/address.h"
#include "client/jobdb/database.h"
#include "client/jobdb/dialect.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/schema.h"
#include "common/germanformat.h"
#include "common/paths.h"
#include "common/prompter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <limits>
#include <pwd.h>
#include <unistd.h>

namespace kestro::jobdb {
namespace {

// PfadFile names the database a job was recorded in, in 25 characters: a server's address
// never fits, so a server is named by its host and database (no user, no password), cut to
// the column if need be. A file path stays as it is (one too long is left out, as always).
QString recordedDatabank(const QString& databasePath) {
    if (!isServerAddress(databasePath))
        return databasePath;
    const auto address = parseServerAddress(databasePath, nullptr);
    if (!address)
        return {};
    const ColumnSpec* column = findLayout(table::JobDaten)->column(QStringLiteral("PfadFile"));
    return (address->host + QLatin1Char('/') + address->databaseName).left(column->size);
}

const QString kSeparator = QStringLiteral(" | ");

// Highest non-zero value of a number column + 1, read from the end of its index.
std::optional<qint32> nextNumber(const Database& db, const QString& tableName,
                                 const QString& column) {
    QSqlQuery q(db.connection());
    if (!q.exec(QStringLiteral("SELECT %2 FROM %1 WHERE %2 IS NOT NULL AND %2 <> 0 "
                               "ORDER BY %2 DESC LIMIT 1")
                    .arg(quoted(tableName), quoted(column)))) {
        qCWarning(lcJobDb) << "highest" << column << "unreadable:" << q.lastError().text();
        return std::nullopt;
    }
    if (!q.next())
        return 1;
    const qint64 highest = q.value(0).toLongLong();
    if (highest >= std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(highest + 1);
}

// Whether a job or a reservation holds the highest number there is, so that none follows.
bool highestNumberTaken(const Database& db) {
    QStringList tables{table::JobDaten};
    if (db.hasTable(table::JobReserviert))
        tables << table::JobReserviert;
    for (const QString& name : tables) {
        QSqlQuery q(db.connection());
        q.prepare(
            QStringLiteral("SELECT 1 FROM %1 WHERE JobNumber >= ? LIMIT 1").arg(quoted(name)));
        q.addBindValue(std::numeric_limits<qint32>::max());
        if (q.exec() && q.next())
            return true;
    }
    return false;
}

// The seven values of the address-book row with that number, empty when there is none.
std::optional<LookupResult> lookUp(const Database& db, const QString& tableName,
                                   const QString& numberColumn, const QString& label,
                                   const QString& missingMessage, Prompter& prompter) {
    const std::optional<qint32> number = labelNumber(label);
    if (!number)
        return LookupResult{};
    QSqlQuery q(db.connection());
    q.prepare(QStringLiteral("SELECT %2, Name1, Name2, Name3, Street, plzOrt, Anspr FROM %1 "
                             "WHERE %2 = ? ORDER BY %2, rowid LIMIT 1")
                  .arg(quoted(tableName), quoted(numberColumn)));
    q.addBindValue(*number);
    if (!q.exec()) {
        qCWarning(lcJobDb) << tableName << "unreadable:" << q.lastError().text();
        return std::nullopt;
    }
    if (!q.next()) {
        prompter.message(missingMessage, Prompter::Icon::Critical);
        return LookupResult{};
    }
    return LookupResult{cleanText(q.value(0)), cleanText(q.value(1)), cleanText(q.value(2)),
                        cleanText(q.value(3)), cleanText(q.value(4)), cleanText(q.value(5)),
                        cleanText(q.value(6))};
}

QString failure(const QString& what, const QString& detail) {
    return what + QStringLiteral("\r") + detail;
}

} // namespace

std::optional<qint32> labelNumber(const QString& label) {
    const qsizetype at = label.indexOf(kSeparator);
    if (at < 0)
        return std::nullopt;
    const QString head = label.left(at).trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < head.size() && (head[i] == QLatin1Char('-') || head[i] == QLatin1Char('+')))
        negative = head[i++] == QLatin1Char('-');
    qint64 n = 0;
    for (; i < head.size() && head[i].isDigit() && head[i].unicode() < 128; ++i) {
        n = n * 10 + (head[i].unicode() - '0');
        if (n > std::numeric_limits<qint32>::max())
            return 0;
    }
    return static_cast<qint32>(negative ? -n : n);
}

QString systemNameText(const QByteArray& raw) {
    QByteArray b = raw.left(200);
    const qsizetype nul = b.indexOf('\0');
    if (nul >= 0)
        b.truncate(nul);
    return QString::fromLocal8Bit(b).trimmed();
}

QString systemUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return systemNameText(QByteArray(pw->pw_name));
    return systemNameText(qgetenv("USER"));
}

QString systemComputerName() {
    return systemNameText(QSysInfo::machineHostName().toLocal8Bit());
}

std::optional<qint32> JobStore::nextJobNumber() const {
    const QString column = QStringLiteral("JobNumber");
    const auto recorded = nextNumber(db_, table::JobDaten, column);
    if (!recorded || !db_.hasTable(table::JobReserviert))
        return recorded;
    const auto reserved = nextNumber(db_, table::JobReserviert, column);
    if (!reserved)
        return std::nullopt;
    return std::max(*recorded, *reserved);
}

std::optional<qint32> JobStore::reserveJobNumber(QString* error) const {
    QSqlDatabase db = db_.connection();
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        *error = tx.errorText();
        return std::nullopt;
    }
    // A file made before reservations existed gets the table on its first send.
    const TableLayout& layout = *findLayout(table::JobReserviert);
    if (!db_.hasTable(layout.name)) {
        QSqlError buildError;
        if (!buildTable(db, layout, &buildError)) {
            *error = buildError.text();
            return std::nullopt;
        }
    }
    const auto number = nextJobNumber();
    if (!number) {
        *error = highestNumberTaken(db_)
                     ? QStringLiteral("die höchste mögliche Auftragsnummer %1 ist vergeben, eine "
                                      "weitere kann nicht vergeben werden")
                           .arg(std::numeric_limits<qint32>::max())
                     : QStringLiteral("die höchste Auftragsnummer ist nicht lesbar");
        return std::nullopt;
    }
    RowValues row(layout);
    row.set(QStringLiteral("JobNumber"), *number);
    row.set(QStringLiteral("Reserviert"),
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    row.set(QStringLiteral("PCName"), systemComputerName());
    row.set(QStringLiteral("User"), systemUserName());
    if (!insertRow(db, row, error))
        return std::nullopt;
    if (!tx.commit()) {
        *error = tx.errorText();
        return std::nullopt;
    }
    return number;
}

bool JobStore::releaseJobNumber(qint32 number, QString* error) const {
    QSqlQuery q(db_.connection());
    q.prepare(
        QStringLiteral("DELETE FROM %1 WHERE JobNumber = ?").arg(quoted(table::JobReserviert)));
    q.addBindValue(number);
    if (q.exec())
        return true;
    qCWarning(lcJobDb) << "reservation of job" << number << "not released:" << q.lastError().text();
    if (error)
        *error = q.lastError().text();
    return false;
}

std::optional<qint32> JobStore::nextLaufNr() const {
    return nextNumber(db_, table::FileDaten, QStringLiteral("LaufNR"));
}

std::optional<LookupResult> JobStore::lookUpDelivery(const QString& label,
                                                     Prompter& prompter) const {
    return lookUp(db_, table::LieferAdr, QStringLiteral("LiefNumber"), label,
                  QStringLiteral("Es konnte keine Lieferadresse zugewiesen werden!"), prompter);
}

std::optional<LookupResult> JobStore::lookUpProject(const QString& label,
                                                    Prompter& prompter) const {
    return lookUp(db_, table::Projekte, QStringLiteral("ProNumber"), label,
                  QStringLiteral("Es konnte kein Projekt zugewiesen werden!"), prompter);
}

PrepareResult JobStore::prepareJob(const compose::JobSnapshot& job, const MasterData& master,
                                   const QString& sendTime, const QDate& today,
                                   const QString& clientDataFolder, Prompter& prompter,
                                   qint32 reservedNumber) const {
    const QString sheetPath = paths::join(clientDataFolder, QStringLiteral("JobDaten.txt"));
    // An old sheet must never travel with a new job, whatever happens below.
    if (QFile::exists(sheetPath) && !QFile::remove(sheetPath))
        return {std::nullopt,
                failure(QStringLiteral("Der alte Auftragszettel kann nicht gelöscht werden:"),
                        sheetPath)};
    const QString dbFailure = QStringLiteral("Die Datenbank kann nicht abgefragt werden:");
    if (!db_.isOpen())
        return {std::nullopt, failure(dbFailure, shownDatabank(db_.path()))};

    PreparedJob prepared;
    prepared.sheetPath = sheetPath;
    QString reserveError;
    const auto number = reservedNumber != 0 ? std::optional<qint32>(reservedNumber)
                                            : reserveJobNumber(&reserveError);
    if (!number)
        return {std::nullopt, notWritableText(db_.path(), reserveError), true};
    prepared.jobNumber = *number;
    // From here on a failure gives the number back.
    auto fail = [this, &prepared](const QString& message) {
        releaseJobNumber(prepared.jobNumber);
        return PrepareResult{std::nullopt, message};
    };
    const auto delivery = lookUpDelivery(job.delivery, prompter);
    if (!delivery)
        return fail(failure(dbFailure, shownDatabank(db_.path())));
    prepared.delivery = *delivery;
    const auto project = lookUpProject(job.project, prompter);
    if (!project)
        return fail(failure(dbFailure, shownDatabank(db_.path())));
    prepared.project = *project;

    JobSheetContent content;
    content.jobNumber = prepared.jobNumber;
    content.master = master;
    content.project = prepared.project;
    content.delivery = prepared.delivery;
    content.deadline = compose::deadlineText(job);
    content.remarks = job.remarks;
    content.today = today;
    content.sendTime = sendTime;
    content.files = job.files;

    const QString sheetFailure =
        QStringLiteral("Der Auftragszettel kann nicht geschrieben werden:");
    QDir().mkpath(clientDataFolder);
    QSaveFile sheet(sheetPath);
    if (!sheet.open(QIODevice::WriteOnly))
        return fail(failure(sheetFailure, sheetPath + QStringLiteral(" (") + sheet.errorString() +
                                              QLatin1Char(')')));
    sheet.write(jobSheetBytes(content));
    if (!sheet.commit())
        return fail(failure(sheetFailure, sheetPath + QStringLiteral(" (") + sheet.errorString() +
                                              QLatin1Char(')')));
    return {prepared, {}};
}

QString notWritableText(const QString& databasePath, const QString& error) {
    return failure(
        QStringLiteral("Die Datenbank nimmt keinen Auftrag an, der Auftrag wird nicht gesendet:"),
        shownDatabank(databasePath) + QStringLiteral(" (") + error + QLatin1Char(')'));
}

JobRows jobRows(const compose::JobSnapshot& job, const MasterData& master,
                const PreparedJob& prepared, const QString& sendTime, const QDate& today,
                const QString& databasePath) {
    JobRows rows;
    rows.jobNumber = prepared.jobNumber;
    const LookupResult& d = prepared.delivery;
    rows.job = {
        {QStringLiteral("JobNumber"), prepared.jobNumber},
        {QStringLiteral("Kostenstelle"), master.costCentre},
        {QStringLiteral("Projekt"), job.project},
        {QStringLiteral("Termin"), compose::deadlineText(job)},
        {QStringLiteral("User"), systemUserName()},
        {QStringLiteral("PCName"), systemComputerName()},
        {QStringLiteral("Name"), master.name},
        {QStringLiteral("Street"), master.street},
        {QStringLiteral("plz"), master.plz},
        {QStringLiteral("Anspr"), master.contact},
        {QStringLiteral("SteuerNr"), master.taxNumber},
        {QStringLiteral("UstNr"), master.vatId},
        {QStringLiteral("FunkTel"), master.mobile},
        {QStringLiteral("fax"), master.fax},
        {QStringLiteral("Telefon"), master.phone},
        {QStringLiteral("email"), master.email},
        {QStringLiteral("Web"), master.web},
        {QStringLiteral("PfadFile"), recordedDatabank(databasePath)},
        {QStringLiteral("Datum"), de::twoDigitYearDate(today)},
        {QStringLiteral("Uhrzeit"), sendTime},
        {QStringLiteral("Memo"), job.remarks},
        {QStringLiteral("LieferNr"), d.number},
        {QStringLiteral("LieferName1"), d.name1},
        {QStringLiteral("LieferName2"), d.name2},
        {QStringLiteral("LieferName3"), d.name3},
        {QStringLiteral("LieferStreet"), d.street},
        {QStringLiteral("LieferOrt"), d.plzOrt},
        {QStringLiteral("LieferAnspr"), d.contact},
    };
    const QString fileDate = de::shortDate(today);
    for (const compose::FileRow& f : job.files) {
        rows.files << JobRows::Values{
            {QStringLiteral("JobNumber"), prepared.jobNumber},
            {QStringLiteral("FileNumber"), f.number},
            {QStringLiteral("Filename"), f.fileName},
            {QStringLiteral("FileTitel"), QString()},
            {QStringLiteral("Anzahl"), f.copies},
            {QStringLiteral("Color"), f.color},
            {QStringLiteral("Verarbeitung1"), f.step1},
            {QStringLiteral("Verarbeitung2"), f.step2},
            {QStringLiteral("Verarbeitung3"), f.step3},
            {QStringLiteral("FilePath"), f.fullPath},
            {QStringLiteral("Datum"), fileDate},
        };
    }
    return rows;
}

RecordResult JobStore::recordJob(const compose::JobSnapshot& job, const MasterData& master,
                                 const PreparedJob& prepared, const QString& sendTime,
                                 const QDate& today, const QString& databasePath) const {
    return storeJobRows(jobRows(job, master, prepared, sendTime, today, databasePath));
}

namespace {

QVariant valueOf(const JobRows::Values& values, const QString& column) {
    for (const auto& [name, value] : values) {
        if (name.compare(column, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

// Whether the job's row, by number, date and time, is in the table already.
std::optional<bool> isStored(const QSqlDatabase& db, const JobRows& rows) {
    QSqlQuery q(db);
    const QString sameAs = dialectOf(db).sameAs;
    q.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE JobNumber = ? AND Datum %2 ? AND "
                             "Uhrzeit %2 ? LIMIT 1")
                  .arg(quoted(table::JobDaten), sameAs));
    q.addBindValue(rows.jobNumber);
    for (const char* column : {"Datum", "Uhrzeit"}) {
        QVariant stored;
        const ColumnSpec* spec = findLayout(table::JobDaten)->column(QString::fromLatin1(column));
        if (!fitValue(*spec, valueOf(rows.job, QString::fromLatin1(column)), &stored))
            stored = QVariant(QMetaType::fromType<QString>());
        q.addBindValue(stored);
    }
    if (!q.exec()) {
        qCWarning(lcJobDb) << "recorded jobs unreadable:" << q.lastError().text();
        return std::nullopt;
    }
    return q.next();
}

} // namespace

RecordResult JobStore::storeJobRows(const JobRows& rows, bool unlessStored) const {
    RecordResult result;
    if (!db_.isOpen()) {
        result.error = QStringLiteral("database not open");
        return result;
    }
    QSqlDatabase db = db_.connection();
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        result.error = tx.errorText();
        result.writeRefused = true;
        return result;
    }
    if (unlessStored) {
        const auto stored = isStored(db, rows);
        if (!stored) {
            result.error = QStringLiteral("recorded jobs unreadable");
            return result;
        }
        if (*stored) {
            result.ok = result.alreadyRecorded = true;
            return result;
        }
    }
    RowValues jobRow(*findLayout(table::JobDaten));
    for (const auto& [column, value] : rows.job)
        jobRow.set(column, value);
    if (!insertRow(db, jobRow, &result.error))
        return result;

    const auto laufNr = nextLaufNr();
    if (!laufNr) {
        result.error = QStringLiteral("highest LaufNR unreadable");
        return result;
    }
    result.firstLaufNr = *laufNr;
    qint32 next = *laufNr;
    for (const JobRows::Values& values : rows.files) {
        RowValues row(*findLayout(table::FileDaten));
        row.set(QStringLiteral("LaufNr"), next++);
        for (const auto& [column, value] : values)
            row.set(column, value);
        if (!insertRow(db, row, &result.error))
            return result;
    }
    // The number is the job's now; its reservation ends with the same commit.
    if (db_.hasTable(table::JobReserviert) && !releaseJobNumber(rows.jobNumber, &result.error))
        return result;
    if (!tx.commit()) {
        result.error = tx.errorText();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace kestro::jobdb
