#include "client/startup/startup.h"

#include "client/jobdb/address.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/startuplog.h"
#include "common/fileexists.h"
#include "common/logging.h"
#include "common/paths.h"
#include "common/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace kestro::startup {

ClientStartup::ClientStartup(Seams seams, SettingsReader reader, DeployConfig config)
    : seams_(std::move(seams)), reader_(std::move(reader)), config_(std::move(config)) {}

QString ClientStartup::noDatabaseMessage() {
    return QStringLiteral("Ohne eine Datenbank kann KestroFTP - Client nicht ausgeführt werden\r"
                          "Bitte starten Sie das Programm von neuen.");
}

QString ClientStartup::databaseFilter() {
    return QStringLiteral("Datenbank-Datei (*.mdb)|*.mdb;");
}

void ClientStartup::removeStaleCacheFile() {
    // A copy of the version file that an earlier download left behind would hide a
    // newer one.
    const QString stale = paths::localAppData() + QStringLiteral("/Microsoft/Windows/INetCache/") +
                          kAppName + QStringLiteral(".txt");
    const QString found = existingFilePath(stale);
    if (!found.isEmpty() && !QFile::remove(found))
        qCWarning(lcStartup) << "cannot remove stale cache file" << found;
}

QString ClientStartup::clientDataFolderPath() {
    return paths::appData() + QStringLiteral("/Varnholt/") + kAppName;
}

QString ClientStartup::prepareClientDataFolder() {
    const QString varnholt = paths::appData() + QStringLiteral("/Varnholt");
    const QString folder = clientDataFolderPath();
    if (!QDir().mkpath(varnholt))
        qCWarning(lcStartup) << "cannot create" << varnholt;
    // Version.txt records the version that first set the folder up; VERtoday.txt the
    // version of the latest start.
    if (fileExists(folder + QStringLiteral("/Version.txt"))) {
        const QString today = folder + QStringLiteral("/VERtoday.txt");
        const QString old = existingFilePath(today);
        if (!old.isEmpty())
            QFile::remove(old);
        writeWholeFile(today, versionLine());
    } else {
        if (!QDir().mkpath(folder))
            qCWarning(lcStartup) << "cannot create" << folder;
        writeWholeFile(folder + QStringLiteral("/Version.txt"), versionLine());
    }
    return folder;
}

bool ClientStartup::createMissing(ClientState& state) {
    const auto result = seams_.database.create(state.databasePath);
    if (result.outcome == DatabaseLifecycle::Creation::Cancelled) {
        seams_.prompter.message(noDatabaseMessage(), Prompter::Icon::Critical);
        return false;
    }
    state.databasePath = result.path;
    if (result.outcome == DatabaseLifecycle::Creation::Created)
        state.newDatabase = true;
    if (result.outcome == DatabaseLifecycle::Creation::Failed)
        state.databaseUsable = false;
    if (result.pathChosen)
        seams_.settingWriter.writeSetting(QStringLiteral("Databank"), state.databasePath);
    return true;
}

bool ClientStartup::chooseOnFirstStart(ClientState& state) {
    if (seams_.showWelcome)
        seams_.showWelcome();
    const QString chosen = seams_.prompter.chooseOpenFile(databaseFilter(), paths::systemDrive());
    if (chosen.isEmpty()) {
        seams_.prompter.message(noDatabaseMessage(), Prompter::Icon::Critical);
        return false;
    }
    state.databasePath = chosen;
    if (!fileExists(state.databasePath) && !createMissing(state))
        return false;
    seams_.settingWriter.writeSetting(QStringLiteral("Databank"), state.databasePath);
    return true;
}

bool ClientStartup::settleDatabase(ClientState& state) {
    state.databasePath = reader_.read(QStringLiteral("Databank"));
    if (state.databasePath.isEmpty())
        return chooseOnFirstStart(state);
    seams_.database.recoverInterrupted(state.databasePath);
    // A server's tables are made by the version rebuild below; only a file can be missing.
    if (!jobdb::isServerAddress(state.databasePath) && !fileExists(state.databasePath))
        return createMissing(state);
    if (!seams_.database.isCurrentVersion(state.databasePath) &&
        !seams_.database.rebuildAndSwap(state.databasePath)) {
        // The old file is kept untouched; this run goes on as if it could not be opened.
        qCWarning(lcStartup) << "database left as it was after a failed rebuild:"
                             << jobdb::shownDatabank(state.databasePath);
        state.databaseUsable = false;
    }
    return true;
}

void ClientStartup::readSettings(ClientState& state) const {
    state.proxy = readProxySettings(reader_);
    state.ftp.encryption = readFtpEncryption(reader_, &state.ftp.unknownEncryption);
    applyFtpDefaults(state.ftp, config_);
    state.startFolder = reader_.read(QStringLiteral("FolderDir"));
    if (state.startFolder.isEmpty())
        state.startFolder = paths::systemDrive();
    state.rememberLastFolder = reader_.read(QStringLiteral("valFolderDir")) == QLatin1String("Yes")
                                   ? QStringLiteral("Yes")
                                   : QStringLiteral("No");
    state.mail = readMailAccountSettings(reader_);
}

bool ClientStartup::run(ClientState& state) {
    removeStaleCacheFile();
    state.clientDataFolder = prepareClientDataFolder();
    // The folder the program is installed in, as a shortcut's start folder named it:
    // Vellmon puts updates there, and only into a folder that only root can change, so
    // a current directory elsewhere would cost an installed client its updates.
    state.startDirectory = QCoreApplication::applicationDirPath();
    if (!settleDatabase(state))
        return false;
    if (state.databaseUsable)
        state.startNotices +=
            seams_.database.recordPendingJobs(state.databasePath, state.clientDataFolder);
    readSettings(state);
    return true;
}

} // namespace kestro::startup
