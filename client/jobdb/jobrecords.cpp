#include "client/jobdb/jobrecords.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rowvalues.h"
#include "common/germanformat.h"
#include "common/paths.h"
#include "common/prompter.h"

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
    return nextNumber(db_, table::JobDaten, QStringLiteral("JobNumber"));
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
                                   const QString& clientDataFolder, Prompter& prompter) const {
    const QString sheetPath = paths::join(clientDataFolder, QStringLiteral("JobDaten.txt"));
    // An old sheet must never travel with a new job, whatever happens below.
    if (QFile::exists(sheetPath) && !QFile::remove(sheetPath))
        return {std::nullopt,
                failure(QStringLiteral("Der alte Auftragszettel kann nicht gelöscht werden:"),
                        sheetPath)};
    const QString dbFailure = QStringLiteral("Die Datenbank kann nicht abgefragt werden:");
    if (!db_.isOpen())
        return {std::nullopt, failure(dbFailure, db_.path())};

    PreparedJob prepared;
    prepared.sheetPath = sheetPath;
    const auto number = nextJobNumber();
    if (!number)
        return {std::nullopt, failure(dbFailure, db_.path())};
    prepared.jobNumber = *number;
    const auto delivery = lookUpDelivery(job.delivery, prompter);
    if (!delivery)
        return {std::nullopt, failure(dbFailure, db_.path())};
    prepared.delivery = *delivery;
    const auto project = lookUpProject(job.project, prompter);
    if (!project)
        return {std::nullopt, failure(dbFailure, db_.path())};
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
        return {std::nullopt, failure(sheetFailure, sheetPath + QStringLiteral(" (") +
                                                        sheet.errorString() + QLatin1Char(')'))};
    sheet.write(jobSheetBytes(content));
    if (!sheet.commit())
        return {std::nullopt, failure(sheetFailure, sheetPath + QStringLiteral(" (") +
                                                        sheet.errorString() + QLatin1Char(')'))};
    return {prepared, {}};
}

RecordResult JobStore::recordJob(const compose::JobSnapshot& job, const MasterData& master,
                                 const PreparedJob& prepared, const QString& sendTime,
                                 const QDate& today, const QString& databasePath) const {
    RecordResult result;
    if (!db_.isOpen()) {
        result.error = QStringLiteral("database not open");
        return result;
    }
    QSqlDatabase db = db_.connection();
    WriteTransaction tx(db);
    if (!tx.isActive()) {
        result.error = tx.errorText();
        return result;
    }
    RowValues jobRow(*findLayout(table::JobDaten));
    const LookupResult& d = prepared.delivery;
    const std::pair<const char*, QVariant> jobValues[] = {
        {"JobNumber", prepared.jobNumber},
        {"Kostenstelle", master.costCentre},
        {"Projekt", job.project},
        {"Termin", compose::deadlineText(job)},
        {"User", systemUserName()},
        {"PCName", systemComputerName()},
        {"Name", master.name},
        {"Street", master.street},
        {"plz", master.plz},
        {"Anspr", master.contact},
        {"SteuerNr", master.taxNumber},
        {"UstNr", master.vatId},
        {"FunkTel", master.mobile},
        {"fax", master.fax},
        {"Telefon", master.phone},
        {"email", master.email},
        {"Web", master.web},
        {"PfadFile", databasePath},
        {"Datum", de::twoDigitYearDate(today)},
        {"Uhrzeit", sendTime},
        {"Memo", job.remarks},
        {"LieferNr", d.number},
        {"LieferName1", d.name1},
        {"LieferName2", d.name2},
        {"LieferName3", d.name3},
        {"LieferStreet", d.street},
        {"LieferOrt", d.plzOrt},
        {"LieferAnspr", d.contact},
    };
    for (const auto& [column, value] : jobValues)
        jobRow.set(QString::fromLatin1(column), value);
    if (!insertRow(db, jobRow, &result.error))
        return result;

    const auto laufNr = nextLaufNr();
    if (!laufNr) {
        result.error = QStringLiteral("highest LaufNR unreadable");
        return result;
    }
    result.firstLaufNr = *laufNr;
    const QString fileDate = de::shortDate(today);
    qint32 next = *laufNr;
    for (const compose::FileRow& f : job.files) {
        RowValues row(*findLayout(table::FileDaten));
        row.set(QStringLiteral("LaufNr"), next++);
        row.set(QStringLiteral("JobNumber"), prepared.jobNumber);
        row.set(QStringLiteral("FileNumber"), f.number);
        row.set(QStringLiteral("Filename"), f.fileName);
        row.set(QStringLiteral("FileTitel"), QString());
        row.set(QStringLiteral("Anzahl"), f.copies);
        row.set(QStringLiteral("Color"), f.color);
        row.set(QStringLiteral("Verarbeitung1"), f.step1);
        row.set(QStringLiteral("Verarbeitung2"), f.step2);
        row.set(QStringLiteral("Verarbeitung3"), f.step3);
        row.set(QStringLiteral("FilePath"), f.fullPath);
        row.set(QStringLiteral("Datum"), fileDate);
        if (!insertRow(db, row, &result.error))
            return result;
    }
    if (!tx.commit()) {
        result.error = tx.errorText();
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace kestro::jobdb
