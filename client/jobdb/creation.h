#pragma once

#include "client/jobdb/schema.h"

#include <QString>

namespace kestro {
class Prompter;
}

namespace kestro::jobdb {

// What the database creation came to. The caller (the start-up) writes the setting Databank
// with `databasePath` and, for Cancelled, shows noDatabaseMessage() and ends the program;
// creation itself neither writes settings nor ends anything.
struct CreationOutcome {
    enum class Kind {
        Created,       // the seven tables were built in a new file at databasePath
        ChoseExisting, // the user picked a file that exists; it is used as it is
        Cancelled,     // the user declined and cancelled the file dialog
        Failed,        // building the file failed; the engine error was shown
    };
    Kind kind = Kind::Cancelled;
    QString databasePath;
    bool newDatabase = false; // the start-up opens the master-data window when set
};

// The open-file dialog's filter for database files.
inline QString databaseFileFilter() {
    return QStringLiteral("Datenbank-Datei (*.mdb)|*.mdb;");
}

// "Ohne eine Datenbank kann KestroFTP - Client nicht ausgeführt werden" CR "Bitte starten
// Sie das Programm von neuen." — shown with the critical icon before the program ends.
QString noDatabaseMessage();

// Database creation for `dbPath`: asks "Die Datenbank kann nun erstellt werden !" CR "Neu
// erstellen ?" (Yes/No, no icon, title KestroClient). Yes builds the seven tables. No shows the
// open-file dialog (filter above, initial folder SystemDrive): a chosen file that exists is
// taken as it is; a chosen name with no file asks the creation question again for that name.
CreationOutcome createDatabase(const QString& dbPath, Prompter& prompter,
                               const QString& versionText = programVersionText());

// Builds all tables (the seven and the reservations) at `dbPath` without asking; true when every
// table is there afterwards. Engine errors are shown through `prompter`.
bool createAllTables(const QString& dbPath, Prompter& prompter,
                     const QString& versionText = programVersionText());

// What the start-up's database step came to.
struct StartupDatabase {
    enum class Kind {
        Ready,         // the file is current (possibly after a rebuild or a finished swap)
        Created,       // a new file was created (newDatabase set)
        ChoseExisting, // the user chose another existing file during creation
        Cancelled,     // no database: show noDatabaseMessage() and end
        Unusable,      // creation or rebuild failed; go on as when the file cannot be opened
    };
    Kind kind = Kind::Unusable;
    QString databasePath;
    bool newDatabase = false;
    bool rebuilt = false;
};

// The start-up's database step for a registered path: finishes an interrupted swap; a
// missing file leads to database creation; a file of another version is rebuilt and swapped.
StartupDatabase prepareDatabase(const QString& dbPath, Prompter& prompter,
                                const QString& versionText = programVersionText());

} // namespace kestro::jobdb
