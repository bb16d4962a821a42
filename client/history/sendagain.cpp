#include "client/history/sendagain.h"

#include "client/compose/choicelists.h"
#include "client/history/historystore.h"

#include <QFileInfo>

namespace kestro::history {

JobToSendAgain jobToSendAgain(const jobdb::Database& db, qint32 jobNumber, const QDate& today) {
    const HistoryStore store(db);
    const auto stored = store.job(jobNumber);
    if (!stored.ok())
        return {std::nullopt,
                QStringLiteral("Die Datenbank kann nicht gelesen werden: ") + stored.error};
    if (!stored.value)
        return {std::nullopt,
                QStringLiteral("Der Auftrag %1 ist nicht in der Datenbank.").arg(jobNumber)};
    const auto files = store.files(jobNumber);
    if (!files.ok())
        return {std::nullopt,
                QStringLiteral("Die Datenbank kann nicht gelesen werden: ") + files.error};
    // Every file must still be there: a job sent again with a file short is not the job.
    for (const compose::FileRow& f : files.value) {
        const QFileInfo info(f.fullPath);
        if (f.fullPath.isEmpty() || !info.isFile() || !info.isReadable())
            return {std::nullopt, QStringLiteral("Die Datei %1 des Auftrags %2 ist nicht mehr "
                                                 "vorhanden: %3")
                                      .arg(f.fileName, QString::number(jobNumber), f.fullPath)};
    }
    compose::JobSnapshot job = reloadedJob(*stored.value, files.value);
    job.deadlineDate = today;
    job.deadlineTime = compose::noTimeChosenText();
    return {job, {}};
}

} // namespace kestro::history
