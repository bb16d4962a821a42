#pragma once

#include "client/startup/clientstate.h"
#include "client/startup/settings.h"
#include "common/deployconfig.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <functional>

namespace kestro::startup {

// What the start-up needs of the job database: find out whether a file is current,
// rebuild and swap an outdated one, and create a missing one (asking the user).
class DatabaseLifecycle {
public:
    enum class Creation { Created, ChoseExisting, Cancelled, Failed };
    struct CreationResult {
        Creation outcome = Creation::Cancelled;
        QString path;            // the database path after the creation
        bool pathChosen = false; // the user picked a file in the dialog
    };
    virtual ~DatabaseLifecycle() = default;
    // Finishes what an interrupted rebuild left (before the file is looked for).
    virtual void recoverInterrupted(const QString& path) = 0;
    virtual CreationResult create(const QString& path) = 0;
    virtual bool isCurrentVersion(const QString& path) = 0;
    // Rebuilds into path + "Tmp" and swaps it in (the old file stays as
    // path + ".Sicherung"). False when the live file was left as it was.
    virtual bool rebuildAndSwap(const QString& path) = 0;
    // Records the jobs that earlier sends delivered but could not record.
    // Records the jobs that wait to be recorded; the lines for the worker.
    virtual QStringList recordPendingJobs(const QString& /*path*/,
                                          const QString& /*clientDataFolder*/) {
        return {};
    }
};

// The start-up of the client up to the point where the main window is shown: identity,
// folders, version markers, the database (registered, created, rebuilt or chosen), and
// the settings. Each step that touches files carries on when it fails, as the client
// always did, but leaves a log line.
class ClientStartup {
public:
    struct Seams {
        Prompter& prompter;
        SettingWriter& settingWriter;
        DatabaseLifecycle& database;
        std::function<void()> showWelcome; // modal welcome window on the first start
    };

    ClientStartup(Seams seams, SettingsReader reader, DeployConfig config);

    // Runs the steps in order. False when the program must end (no database chosen);
    // the user has then been told why.
    bool run(ClientState& state);

    // Single steps, public for the tests that check them one by one.
    static void removeStaleCacheFile();
    static QString prepareClientDataFolder();
    // The folder prepareClientDataFolder makes, for tools that only read it.
    static QString clientDataFolderPath();
    bool settleDatabase(ClientState& state);
    void readSettings(ClientState& state) const;

    static QString noDatabaseMessage();
    static QString databaseFilter();

private:
    bool chooseOnFirstStart(ClientState& state);
    bool createMissing(ClientState& state);

    Seams seams_;
    SettingsReader reader_;
    DeployConfig config_;
};

} // namespace kestro::startup
