#include "client/jobdb/rebuild.h"

#include "client/jobdb/address.h"
#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/schema.h"
#include "client/jobdb/searchindex.h"
#include "common/prompter.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace kestro::jobdb {
namespace {

// Flushes a file or folder to disk, so that a rename that follows never overtakes the data
// it names.
bool syncPath(const QString& path, bool folder) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool syncFolderOf(const QString& path) {
    return syncPath(QFileInfo(path).absolutePath(), true);
}

bool removeWithJournal(const QString& path) {
    bool ok = true;
    for (const QString& p : {path, path + QStringLiteral("-journal")}) {
        if (QFileInfo::exists(p) || QFileInfo(p).isSymLink()) {
            if (!QFile::remove(p)) {
                qCWarning(lcJobDb) << "cannot remove" << p;
                ok = false;
            } else {
                qCInfo(lcJobDb) << "removed leftover" << p;
            }
        }
    }
    return ok;
}

// Builds every table (reservations included) in `tmpPath` and copies the old file's rows, in one
// transaction. Empty `error` on success.
QString buildRebuiltFile(const QString& dbPath, const QString& tmpPath,
                         const QString& versionText) {
    QString why;
    if (!Database::looksUsable(dbPath, &why))
        return QStringLiteral("die Datei ist nicht lesbar (%1)").arg(why);
    Database file(tmpPath, Database::Mode::CreateIfMissing);
    if (!file.isOpen())
        return QStringLiteral("die neue Datei kann nicht angelegt werden (%1)")
            .arg(file.errorText());
    QSqlDatabase db = file.connection();
    {
        QSqlQuery attach(db);
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS old"));
        attach.addBindValue(dbPath);
        if (!attach.exec() ||
            !attach.exec(QStringLiteral("SELECT count(*) FROM old.sqlite_master")))
            return QStringLiteral("die Datei ist nicht lesbar (%1)").arg(attach.lastError().text());
    }
    {
        // The new file is this process's alone, and the live file is held by the caller
        // for writing: a deferred transaction only reads it.
        WriteTransaction tx(db, WriteTransaction::Start::Deferred);
        if (!tx.isActive())
            return QStringLiteral("die neue Datei ist gesperrt (%1)").arg(tx.errorText());
        for (const TableLayout& layout : tableLayouts())
            if (const QString why = buildAndCopyTable(db, layout, versionText); !why.isEmpty())
                return why;
        if (!tx.commit())
            return QStringLiteral("die neue Datei kann nicht gespeichert werden (%1)")
                .arg(tx.errorText());
    }
    QSqlQuery detach(db);
    detach.exec(QStringLiteral("DETACH DATABASE old"));
    return {};
}

QString failureMessage(const QString& dbPath, const QString& reason) {
    return QStringLiteral("Die Datenbank \"%1\" konnte nicht auf die neue Programmversion "
                          "umgestellt werden:\r%2.\rDie bisherige Datei bleibt unverändert "
                          "erhalten.")
        .arg(shownDatabank(dbPath), reason);
}

// The rebuild on a server: one transaction under the write lock, so that the other
// workstations' writes wait for it and never see half the tables.
QString rebuildServer(const QString& address, const QString& versionText) {
    const Database db(address);
    if (!db.isOpen())
        return QStringLiteral("der Server ist nicht erreichbar (%1)").arg(db.errorText());
    QString error;
    {
        WriteTransaction tx(db.connection());
        if (!tx.isActive())
            return QStringLiteral("die Datenbank ist gesperrt (%1)").arg(tx.errorText());
        if (!completeServerTables(db, versionText, &error))
            return QStringLiteral("die Tabellen können nicht angelegt werden (%1)").arg(error);
        if (!tx.commit())
            return QStringLiteral("die Tabellen können nicht gespeichert werden (%1)")
                .arg(tx.errorText());
    }
    if (!ensureSearchIndex(db.connection(), &error))
        qCWarning(lcJobDb) << "search on the server without its index:" << error;
    return {};
}

} // namespace

RebuildResult rebuildDatabase(const QString& dbPath, Prompter& prompter,
                              const QString& versionText) {
    if (isServerAddress(dbPath)) {
        if (const QString error = rebuildServer(dbPath, versionText); !error.isEmpty()) {
            RebuildResult r;
            r.message = failureMessage(shownDatabank(dbPath), error);
            qCWarning(lcJobDb) << "rebuild of" << shownDatabank(dbPath) << "failed:" << error;
            prompter.message(r.message, Prompter::Icon::Critical, programTitle());
            return r;
        }
        qCInfo(lcJobDb) << "tables on" << shownDatabank(dbPath) << "made current";
        return {true, {}};
    }
    const QString tmp = rebuildPath(dbPath);
    const QString backup = backupPath(dbPath);
    auto fail = [&](const QString& reason) {
        removeWithJournal(tmp);
        RebuildResult r;
        r.message = failureMessage(dbPath, reason);
        qCWarning(lcJobDb) << "rebuild of" << dbPath << "failed:" << reason;
        prompter.message(r.message, Prompter::Icon::Critical, programTitle());
        return r;
    };

    if (!removeWithJournal(tmp))
        return fail(QStringLiteral("die alte Datei %1 lässt sich nicht entfernen").arg(tmp));
    // The live file is held for writing from the copy to the swap: another workstation's
    // write waits, and then finds the file swapped and is refused, instead of landing in
    // the file kept aside after the copy was taken.
    const Database live(dbPath);
    std::optional<WriteTransaction> hold;
    if (live.isOpen()) {
        hold.emplace(live.connection());
        if (!hold->isActive())
            return fail(QStringLiteral("die Datenbank wird gerade von einem anderen Arbeitsplatz "
                                       "beschrieben. Bitte warten Sie einen Moment und starten "
                                       "Sie das Programm dann erneut"));
    }
    if (const QString error = buildRebuiltFile(dbPath, tmp, versionText); !error.isEmpty())
        return fail(error);
    if (!syncPath(tmp, false))
        return fail(QStringLiteral("die neue Datei kann nicht auf die Platte geschrieben werden"));

    if (QFileInfo::exists(backup) && !QFile::remove(backup))
        return fail(QStringLiteral("die Sicherung %1 lässt sich nicht entfernen").arg(backup));
    if (!QFile::rename(dbPath, backup))
        return fail(QStringLiteral("die Datei lässt sich nicht in %1 umbenennen").arg(backup));
    syncFolderOf(dbPath);
    if (!QFile::rename(tmp, dbPath)) {
        // Put the old file back where the client looks for it.
        QFile::rename(backup, dbPath);
        syncFolderOf(dbPath);
        return fail(QStringLiteral("die neue Datei lässt sich nicht umbenennen"));
    }
    syncFolderOf(dbPath);
    qCInfo(lcJobDb) << "database" << dbPath << "rebuilt; previous file kept as" << backup;
    return {true, {}};
}

bool finishInterruptedSwap(const QString& dbPath, const QString& versionText) {
    if (isServerAddress(dbPath))
        return false;
    const QString tmp = rebuildPath(dbPath);
    if (QFileInfo::exists(dbPath) || !QFileInfo::exists(backupPath(dbPath)) ||
        !QFileInfo::exists(tmp))
        return false;
    // A rebuilt file is written in one transaction that ends with its Version row, so a file
    // that records the current version is complete.
    if (QFileInfo::exists(tmp + QStringLiteral("-journal")) || !versionMatches(tmp, versionText)) {
        qCWarning(lcJobDb) << "incomplete rebuilt file" << tmp << "left alone";
        return false;
    }
    if (!QFile::rename(tmp, dbPath)) {
        qCWarning(lcJobDb) << "cannot finish the interrupted swap of" << dbPath;
        return false;
    }
    syncFolderOf(dbPath);
    qCInfo(lcJobDb) << "finished the interrupted rebuild of" << dbPath;
    return true;
}

} // namespace kestro::jobdb
