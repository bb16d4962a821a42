// kestro-jobs list [--last N] | show N | search TEXT | delete N [--yes]   [--json]
// kestro-jobs copy-to postgresql://user@host[:port]/dbname [--yes]
// kestro-jobs --help
//
// The job history for scripts and the shop's IT people, on the same settings and job
// database as the window: the jobs the browser steps through, one job with its files, the
// search window's hits in its order, and the browser's delete (the job row and all its file
// rows in one transaction). Text output is aligned columns; --json prints one object per
// job with its files (search: one object per hit). copy-to copies the job-database file
// into an empty PostgreSQL database, checks every table, and then offers to point Databank
// at the server (through Vellmon, as every setting). Exit codes:
//   0   done (list: also with no jobs; --help: the usage printed)
//   1   not found (no such job, no hit), refused (delete not confirmed), no database,
//       copy refused or failed (nothing is left on the server then), the switch of
//       Databank not read back within 5 s (the copy stays on the server)
//   64  bad usage
#include "client/history/historystore.h"
#include "client/history/jobsearch.h"
#include "client/jobdb/address.h"
#include "client/jobdb/copyto.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/pendingrecords.h"
#include "client/jobdb/schema.h"
#include "client/jobdb/searchindex.h"
#include "client/startup/pipeupdater.h"
#include "client/startup/settings.h"
#include "client/startup/startup.h"
#include "common/servicemessage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <unistd.h>

using namespace kestro;
using history::SearchHit;
using history::StoredJob;

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 64;

const char* const kUsageText = "usage: kestro-jobs list [--last N] [--json]\n"
                               "       kestro-jobs show N [--json]\n"
                               "       kestro-jobs search TEXT [--json]\n"
                               "       kestro-jobs delete N [--yes]\n"
                               "       kestro-jobs copy-to postgresql://user@host[:port]/dbname "
                               "[--yes]";

// Writes every byte, a NUL included: a value of the file must never cut the output short.
void printOut(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void printErr(const QString& text) {
    std::fprintf(stderr, "%s\n",
                 qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
}

// Why a read failed, in German: a file of another program version (not yet rebuilt by the
// client) has columns of another layout, which the engine only names in English.
QString readFailure(const QString& databasePath, const QString& engineError) {
    if (!jobdb::versionMatches(databasePath))
        return QStringLiteral("Die Datenbank %1 stammt von einer anderen Programmversion. Bitte "
                              "starten Sie zuerst den KestroFTP-Client, der sie umbaut.")
            .arg(jobdb::shownDatabank(databasePath));
    return QStringLiteral("Die Datenbank kann nicht gelesen werden: ") + engineError;
}

struct Options {
    QString command;
    QString argument; // N or TEXT
    int last = 0;
    bool json = false;
    bool yes = false;
    bool help = false;
};

std::optional<qint32> jobNumberArgument(const QString& text) {
    bool ok = false;
    const qint32 n = text.toInt(&ok);
    return ok ? std::optional<qint32>(n) : std::nullopt;
}

std::optional<Options> parseArguments(const QStringList& args) {
    Options o;
    QStringList positional;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
            return o;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--yes")) {
            o.yes = true;
        } else if (a == QLatin1String("--last")) {
            bool ok = false;
            o.last = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || o.last <= 0)
                return std::nullopt;
        } else if (a == QLatin1String("--")) {
            positional += args.mid(i + 1);
            break;
        } else if (a.startsWith(QLatin1String("--"))) {
            return std::nullopt;
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty())
        return std::nullopt;
    o.command = positional.takeFirst();
    const bool takesArgument = o.command != QLatin1String("list");
    if (positional.size() != (takesArgument ? 1 : 0))
        return std::nullopt;
    if (takesArgument)
        o.argument = positional.first();
    if ((o.last > 0 && o.command != QLatin1String("list")) ||
        (o.yes && o.command != QLatin1String("delete") && o.command != QLatin1String("copy-to")) ||
        (o.json && (o.command == QLatin1String("delete") || o.command == QLatin1String("copy-to"))))
        return std::nullopt;
    if (o.command == QLatin1String("show") || o.command == QLatin1String("delete"))
        return jobNumberArgument(o.argument) ? std::optional<Options>(o) : std::nullopt;
    if (o.command == QLatin1String("list") || o.command == QLatin1String("search") ||
        o.command == QLatin1String("copy-to"))
        return o;
    return std::nullopt;
}

// Columns padded to their widest cell; the last column is not padded. A NUL in a value
// (pasted in by some other program) is shown as a blank, which a terminal or a script
// reading lines takes as it is.
QString alignedTable(QList<QStringList> rows) {
    for (QStringList& row : rows)
        for (QString& cell : row)
            cell.replace(QChar(0), QLatin1Char(' '));
    QList<qsizetype> widths;
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths << 0;
            widths[c] = qMax(widths[c], row[c].size());
        }
    QString out;
    for (const QStringList& row : rows) {
        QStringList cells;
        for (qsizetype c = 0; c < row.size(); ++c)
            cells << (c + 1 < row.size() ? row[c].leftJustified(widths[c]) : row[c]);
        out += cells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    }
    return out;
}

QJsonValue numberOrText(const QString& text) {
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok ? QJsonValue(n) : QJsonValue(text);
}

QString deliveryLabel(const StoredJob& job) {
    return job.deliveryNumber.isEmpty() ? QString()
                                        : jobdb::listLabel(job.deliveryNumber, job.deliveryName1);
}

QJsonObject jobJson(const history::StoredJobWithFiles& j) {
    const StoredJob& s = j.job;
    QJsonArray files;
    for (const compose::FileRow& f : j.files)
        files.append(QJsonObject{{QStringLiteral("FileNumber"), numberOrText(f.number)},
                                 {QStringLiteral("Filename"), f.fileName},
                                 {QStringLiteral("Anzahl"), numberOrText(f.copies)},
                                 {QStringLiteral("Color"), f.color},
                                 {QStringLiteral("Verarbeitung1"), f.step1},
                                 {QStringLiteral("Verarbeitung2"), f.step2},
                                 {QStringLiteral("Verarbeitung3"), f.step3},
                                 {QStringLiteral("FilePath"), f.fullPath}});
    return {{QStringLiteral("JobNumber"), numberOrText(s.jobNumber)},
            {QStringLiteral("Kostenstelle"), s.costCentre},
            {QStringLiteral("Projekt"), s.project},
            {QStringLiteral("Termin"), s.deadline},
            {QStringLiteral("Name"), s.name},
            {QStringLiteral("Street"), s.street},
            {QStringLiteral("plz"), s.plzTown},
            {QStringLiteral("LieferNr"), s.deliveryNumber},
            {QStringLiteral("LieferName1"), s.deliveryName1},
            {QStringLiteral("LieferName2"), s.deliveryName2},
            {QStringLiteral("LieferName3"), s.deliveryName3},
            {QStringLiteral("LieferStreet"), s.deliveryStreet},
            {QStringLiteral("LieferOrt"), s.deliveryTown},
            {QStringLiteral("LieferAnspr"), s.deliveryContact},
            {QStringLiteral("Datum"), s.date},
            {QStringLiteral("Uhrzeit"), s.time},
            {QStringLiteral("Memo"), s.remarks},
            {QStringLiteral("files"), files}};
}

void printJson(const QJsonValue& value) {
    const QJsonDocument doc =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    printOut(QString::fromUtf8(doc.toJson(QJsonDocument::Indented)));
}

QString fileTable(const QList<compose::FileRow>& files) {
    QList<QStringList> rows{{QStringLiteral("Nr."), QStringLiteral("Datei"),
                             QStringLiteral("Anzahl"), QStringLiteral("Color"),
                             QStringLiteral("Verarbeitung 1"), QStringLiteral("Verarbeitung 2"),
                             QStringLiteral("Verarbeitung 3"), QStringLiteral("Pfad")}};
    for (const compose::FileRow& f : files)
        rows << QStringList{f.number, f.fileName, f.copies, f.color,
                            f.step1,  f.step2,    f.step3,  f.fullPath};
    return alignedTable(rows);
}

int list(const jobdb::Database& db, const history::HistoryStore& store, const Options& o) {
    const auto jobs = store.latestJobs(o.last);
    if (!jobs.ok()) {
        printErr(readFailure(db.path(), jobs.error));
        return kNotFound;
    }
    if (o.json) {
        QJsonArray out;
        for (const auto& j : jobs.value)
            out.append(jobJson(j));
        printJson(out);
        return kDone;
    }
    QList<QStringList> rows{{QStringLiteral("Nr."), QStringLiteral("Datum"),
                             QStringLiteral("Uhrzeit"), QStringLiteral("Kostenst."),
                             QStringLiteral("Dateien"), QStringLiteral("Lieferanschrift"),
                             QStringLiteral("Projekt")}};
    for (const auto& j : jobs.value)
        rows << QStringList{j.job.jobNumber,
                            j.job.date,
                            j.job.time,
                            j.job.costCentre,
                            QString::number(j.files.size()),
                            deliveryLabel(j.job),
                            j.job.project};
    printOut(alignedTable(rows));
    return kDone;
}

int show(const jobdb::Database& db, const history::HistoryStore& store, const Options& o) {
    const qint32 number = *jobNumberArgument(o.argument);
    const auto job = store.job(number);
    const auto files = store.files(number);
    if (!job.ok() || !files.ok()) {
        printErr(readFailure(db.path(), job.ok() ? files.error : job.error));
        return kNotFound;
    }
    if (!job.value) {
        printErr(QStringLiteral("Der Auftrag %1 ist nicht in der Datenbank.").arg(number));
        return kNotFound;
    }
    if (o.json) {
        printJson(jobJson({*job.value, files.value}));
        return kDone;
    }
    const StoredJob& s = *job.value;
    const QList<QStringList> fields{{QStringLiteral("Jobnummer :"), s.jobNumber},
                                    {QStringLiteral("Kostenstelle :"), s.costCentre},
                                    {QStringLiteral("Projekt :"), s.project},
                                    {QStringLiteral("Termin :"), s.deadline},
                                    {QStringLiteral("Name :"), s.name},
                                    {QStringLiteral("Straße :"), s.street},
                                    {QStringLiteral("PLZ + Ort :"), s.plzTown},
                                    {QStringLiteral("Liefernummer :"), s.deliveryNumber},
                                    {QStringLiteral("LieferName 1 :"), s.deliveryName1},
                                    {QStringLiteral("LieferName 2 :"), s.deliveryName2},
                                    {QStringLiteral("LieferName 3 :"), s.deliveryName3},
                                    {QStringLiteral("Lieferstraße :"), s.deliveryStreet},
                                    {QStringLiteral("Lieferort + Plz :"), s.deliveryTown},
                                    {QStringLiteral("Liefer Anspr. :"), s.deliveryContact},
                                    {QStringLiteral("ges. Date :"), s.date},
                                    {QStringLiteral("ges. Time :"), s.time},
                                    {QStringLiteral("Bemerkungen:"), s.remarks}};
    printOut(alignedTable(fields) + QLatin1Char('\n') + fileTable(files.value));
    return kDone;
}

int search(const jobdb::Database& db, const Options& o) {
    // A file of another version gets no index here: the client rebuilds it first.
    QString indexError;
    if (jobdb::versionMatches(db.path()) && !jobdb::ensureSearchIndex(db.connection(), &indexError))
        printErr(QStringLiteral("Hinweis: ohne Suchindex (%1), die Suche liest jede Zeile.")
                     .arg(indexError));
    const history::SearchOutcome outcome = history::searchJobs(db.connection(), o.argument);
    if (!outcome.error.isEmpty()) {
        printErr(QStringLiteral("Die Suche ist fehlgeschlagen. ") +
                 readFailure(db.path(), outcome.error));
        return kNotFound;
    }
    if (o.json) {
        QJsonArray out;
        for (const SearchHit& h : outcome.hits) {
            if (h.kind == SearchHit::Kind::Job)
                out.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("job")},
                                       {QStringLiteral("JobNumber"), numberOrText(h.jobNumber)},
                                       {QStringLiteral("Projekt"), h.text},
                                       {QStringLiteral("Datum"), h.date},
                                       {QStringLiteral("Kostenstelle"), h.costCentre}});
            else
                out.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("file")},
                                       {QStringLiteral("JobNumber"), numberOrText(h.jobNumber)},
                                       {QStringLiteral("Filename"), h.text}});
        }
        printJson(out);
    } else if (!outcome.hits.isEmpty()) {
        QList<QStringList> rows{{QStringLiteral("Nr."), QStringLiteral("Projekt o. Dateiname"),
                                 QStringLiteral("Datum"), QStringLiteral("Kostenst.")}};
        for (const SearchHit& h : outcome.hits)
            rows << QStringList{h.jobNumber, h.text, h.date, h.costCentre};
        printOut(alignedTable(rows));
    }
    if (outcome.hits.isEmpty()) {
        printErr(QStringLiteral("keine Treffer"));
        return kNotFound;
    }
    return kDone;
}

bool confirmedOnTerminal(const QString& question) {
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fprintf(stderr, "%s [j/N] ", qPrintable(question));
    std::fflush(stderr);
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("j") || answer == QLatin1String("ja") ||
           answer == QLatin1String("y") || answer == QLatin1String("yes");
}

int remove(const history::HistoryStore& store, const Options& o) {
    const qint32 number = *jobNumberArgument(o.argument);
    if (!o.yes &&
        !confirmedOnTerminal(QStringLiteral("Soll der Datensatz wirklich gelöscht werden ? !"))) {
        printErr(QStringLiteral("Der Auftrag %1 wurde nicht gelöscht (bestätigen mit --yes).")
                     .arg(number));
        return kNotFound;
    }
    const history::DeleteOutcome deleted = store.deleteJob(number);
    if (!deleted.ok()) {
        printErr(QStringLiteral("Der Auftrag %1 konnte nicht gelöscht werden: %2")
                     .arg(QString::number(number), deleted.error));
        return kNotFound;
    }
    if (!deleted.jobFound) {
        printErr(QStringLiteral("Der Auftrag %1 ist nicht in der Datenbank.").arg(number));
        return kNotFound;
    }
    printOut(QStringLiteral("Auftrag %1 gelöscht, %2 Dateizeilen.\n")
                 .arg(QString::number(number), QString::number(deleted.filesDeleted)));
    return kDone;
}

constexpr int kReadBackMs = 5000;

// Whether the setting `name` reads as `value` within kReadBackMs.
bool settingReadBack(const QString& name, const QString& value) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (startup::SettingsReader().read(name) == value)
            return true;
        if (waited.elapsed() >= kReadBackMs)
            return false;
        QThread::msleep(50);
    }
}

// Copies, checks, and only then offers the switch; the file is opened read-only.
int copyTo(const QString& databasePath, const Options& o) {
    const QString shown = jobdb::shownDatabank(o.argument);
    // Switched to, an address the client cannot read back would leave every later start
    // without the history: refused before anything is copied.
    if (!settingFits(o.argument)) {
        printErr(settingTooLongText(QStringLiteral("Databank"), o.argument) +
                 QStringLiteral(" Ein Kennwort gehört dann nach ~/.pgpass statt in die Adresse."));
        return kNotFound;
    }
    // A delivered job waiting to be recorded waits for the file: copied before it is recorded,
    // it would be missing on the server, and recorded afterwards, missing from the copy.
    const int waiting =
        jobdb::pendingJobCount(startup::ClientStartup::clientDataFolderPath(), databasePath);
    if (waiting > 0) {
        printErr(QStringLiteral("Es %1 noch darauf, in %2 gespeichert zu werden; das nächste "
                                "Senden oder der nächste Start des Clients trägt %3 nach. Bitte "
                                "kopieren Sie danach.")
                     .arg(waiting == 1 ? QStringLiteral("wartet 1 Auftrag")
                                       : QStringLiteral("warten %1 Aufträge").arg(waiting),
                          jobdb::shownDatabank(databasePath),
                          waiting == 1 ? QStringLiteral("ihn") : QStringLiteral("sie")));
        return kNotFound;
    }
    printErr(
        QStringLiteral("Kopiere %1 nach %2 ...").arg(jobdb::shownDatabank(databasePath), shown));
    const jobdb::CopyReport report = jobdb::copyToServer(databasePath, o.argument, &printErr);
    if (!report.ok) {
        printErr(report.error);
        return kNotFound;
    }
    QList<QStringList> rows{{QStringLiteral("Tabelle"), QStringLiteral("Zeilen"),
                             QStringLiteral("Prüfsumme (SHA-256)")}};
    for (const jobdb::TableCheck& t : report.tables)
        rows << QStringList{t.table, QString::number(t.targetRows),
                            QString::fromLatin1(t.targetSum)};
    printOut(alignedTable(rows));
    printOut(QStringLiteral("Alle Tabellen stimmen überein.\n"));
    if (!o.yes &&
        !confirmedOnTerminal(QStringLiteral("Soll Databank jetzt auf %1 zeigen?").arg(shown))) {
        printErr(QStringLiteral("Databank bleibt %1 (umstellen mit --yes).")
                     .arg(jobdb::shownDatabank(databasePath)));
        return kDone;
    }
    startup::PipeUpdater service;
    if (!service.send(keySchreibenMessage(QStringLiteral("Databank"), o.argument))) {
        printErr(startup::undeliveredMessageText());
        return kNotFound;
    }
    // Vellmon takes the message and writes a moment later: only a setting read back is
    // reported as switched.
    if (!settingReadBack(QStringLiteral("Databank"), o.argument)) {
        printErr(QStringLiteral("Vellmon hat die Einstellung Databank nicht innerhalb von %1 s "
                                "geschrieben; sie zeigt weiter auf %2. Bitte prüfen Sie das "
                                "Protokoll von Vellmon und stellen Sie erneut um.")
                     .arg(kReadBackMs / 1000)
                     .arg(jobdb::shownDatabank(databasePath)));
        return kNotFound;
    }
    printErr(QStringLiteral("Databank zeigt jetzt auf %1.").arg(shown));
    return kDone;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto options = parseArguments(app.arguments());
    if (!options) {
        printErr(QString::fromLatin1(kUsageText));
        return kUsage;
    }
    if (options->help) {
        printOut(QString::fromLatin1(kUsageText) + QLatin1Char('\n'));
        return kDone;
    }
    const QString databasePath = startup::SettingsReader().read(QStringLiteral("Databank"));
    if (databasePath.isEmpty()) {
        printErr(QStringLiteral("Es ist keine Datenbank eingestellt. Bitte starten Sie zuerst "
                                "den KestroFTP-Client."));
        return kNotFound;
    }
    if (options->command == QLatin1String("copy-to"))
        return copyTo(databasePath, *options);
    const jobdb::Database db(databasePath);
    if (!db.isOpen()) {
        printErr(QStringLiteral("Die Datenbank %1 kann nicht geöffnet werden: %2")
                     .arg(jobdb::shownDatabank(databasePath), db.errorText()));
        return kNotFound;
    }
    const history::HistoryStore store(db);
    if (options->command == QLatin1String("list"))
        return list(db, store, *options);
    if (options->command == QLatin1String("show"))
        return show(db, store, *options);
    if (options->command == QLatin1String("search"))
        return search(db, *options);
    return remove(store, *options);
}
