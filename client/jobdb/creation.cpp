#include "client/jobdb/creation.h"
#include "client/jobdb/address.h"

#include "client/jobdb/database.h"
#include "client/jobdb/jobdblog.h"
#include "client/jobdb/rebuild.h"
#include "client/jobdb/searchindex.h"
#include "common/fileexists.h"
#include "common/paths.h"
#include "common/prompter.h"

namespace kestro::jobdb {
namespace {

// A file of this version gets the job search's index when it is first opened; one that
// cannot take it (read-only, locked) is still used, and searches read every row.
void addSearchIndex(const QString& dbPath) {
    const Database file(dbPath);
    QString error;
    if (file.isOpen() && !ensureSearchIndex(file.connection(), &error))
        qCWarning(lcJobDb) << "search index not added to" << shownDatabank(dbPath) << error;
}

} // namespace

QString noDatabaseMessage() {
    return QStringLiteral("Ohne eine Datenbank kann KestroFTP - Client nicht ausgeführt werden\r"
                          "Bitte starten Sie das Programm von neuen.");
}

bool createAllTables(const QString& dbPath, Prompter& prompter, const QString& versionText) {
    for (const TableLayout& layout : tableLayouts())
        createTable(dbPath, layout.name, prompter, versionText);
    Database file(dbPath);
    if (!file.isOpen())
        return false;
    for (const TableLayout& layout : tableLayouts()) {
        if (!file.hasTable(layout.name))
            return false;
    }
    return true;
}

CreationOutcome createDatabase(const QString& dbPath, Prompter& prompter,
                               const QString& versionText) {
    const bool yes = prompter.askYesNo(
        QStringLiteral("Die Datenbank kann nun erstellt werden !\rNeu erstellen ?"),
        Prompter::Icon::None, programTitle());
    if (yes) {
        CreationOutcome out;
        out.databasePath = dbPath;
        out.newDatabase = true;
        out.kind = createAllTables(dbPath, prompter, versionText) ? CreationOutcome::Kind::Created
                                                                  : CreationOutcome::Kind::Failed;
        return out;
    }
    const QString chosen = prompter.chooseOpenFile(databaseFileFilter(), paths::systemDrive());
    if (chosen.isEmpty()) {
        qCInfo(lcJobDb) << "no database chosen";
        return {CreationOutcome::Kind::Cancelled, dbPath, false};
    }
    if (!fileExists(chosen)) {
        CreationOutcome again = createDatabase(chosen, prompter, versionText);
        again.newDatabase = again.kind != CreationOutcome::Kind::Cancelled;
        return again;
    }
    return {CreationOutcome::Kind::ChoseExisting, chosen, false};
}

StartupDatabase prepareDatabase(const QString& dbPath, Prompter& prompter,
                                const QString& versionText) {
    finishInterruptedSwap(dbPath, versionText);
    StartupDatabase out;
    out.databasePath = dbPath;
    if (!fileExists(dbPath)) {
        const CreationOutcome created = createDatabase(dbPath, prompter, versionText);
        out.databasePath = created.databasePath;
        out.newDatabase = created.newDatabase;
        switch (created.kind) {
        case CreationOutcome::Kind::Created:
            out.kind = StartupDatabase::Kind::Created;
            addSearchIndex(out.databasePath);
            break;
        case CreationOutcome::Kind::ChoseExisting:
            out.kind = StartupDatabase::Kind::ChoseExisting;
            break;
        case CreationOutcome::Kind::Cancelled:
            out.kind = StartupDatabase::Kind::Cancelled;
            break;
        case CreationOutcome::Kind::Failed:
            out.kind = StartupDatabase::Kind::Unusable;
            break;
        }
        return out;
    }
    if (versionMatches(dbPath, versionText)) {
        out.kind = StartupDatabase::Kind::Ready;
        addSearchIndex(dbPath);
        return out;
    }
    const RebuildResult rebuilt = rebuildDatabase(dbPath, prompter, versionText);
    out.rebuilt = rebuilt.swapped;
    out.kind = rebuilt.swapped ? StartupDatabase::Kind::Ready : StartupDatabase::Kind::Unusable;
    if (rebuilt.swapped)
        addSearchIndex(dbPath);
    return out;
}

} // namespace kestro::jobdb
