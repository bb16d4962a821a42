// The client's start up to its main window: folder, settings, target form, job database.
#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/pendingrecords.h"
#include "client/jobdb/schema.h"
#include "client/startup/ftpconfig.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/jobdatabaselifecycle.h"
#include "client/startup/settings.h"
#include "client/startup/startup.h"
#include "common/servicemessage.h"
#include "jobdb/jobdbtestutil.h"
#include "support/recordingwriter.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::startup;
using kestro::test::RecordingWriter;
using kestro::test::TestMachine;

namespace {

// One start of the client up to the main window, with the real job database.
struct Start {
    ScriptedPrompter prompter;
    RecordingWriter writer;
    int welcomes = 0;
    ClientState state;
    bool run() {
        auto database = makeJobDatabaseLifecycle(prompter);
        ClientStartup s({prompter, writer, *database, [this] { ++welcomes; }}, SettingsReader(),
                        DeployConfig());
        return s.run(state);
    }
};

void store(const QString& name, const QString& value) {
    RegistryStore().write(Hive::LocalMachine, kSettingsKeyPath, name, value);
}

// Records what would go to the service and delivers it.
class RecordingSender : public ServiceMessageSender {
public:
    bool send(const QString& message) override {
        sent.append(message);
        return true;
    }
    QStringList sent;
};

// A job database made by `version` and registered as the one to use.
QString registeredDatabase(TestMachine& m, const QString& version = jobdb::programVersionText()) {
    const QString path = m.path("jobs.mdb");
    ScriptedPrompter quiet;
    EXPECT_TRUE(jobdb::createAllTables(path, quiet, version));
    store("Databank", path);
    return path;
}

} // namespace

TEST(StartupFlow, FirstStartWelcomesAsksForAFileAndCreatesTheDatabase) {
    TestMachine m;
    Start start;
    const QString path = m.systemDrive() + "/jobs.mdb";
    start.prompter.files.push_back(path);
    start.prompter.answers.push_back(true); // "Neu erstellen ?"
    // Started from a shell in another folder: updates still go where the program lives.
    const QString before = QDir::currentPath();
    QDir::setCurrent(m.systemDrive());
    ASSERT_TRUE(start.run());
    QDir::setCurrent(before);
    EXPECT_EQ(start.state.startDirectory, QCoreApplication::applicationDirPath());

    EXPECT_EQ(start.welcomes, 1);
    ASSERT_GE(start.prompter.shown.size(), 2u);
    EXPECT_EQ(start.prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::FileDialog);
    EXPECT_EQ(start.prompter.shown[0].text, "Datenbank-Datei (*.mdb)|*.mdb;");
    EXPECT_EQ(start.prompter.shown[0].title, m.systemDrive()); // the initial folder
    EXPECT_EQ(start.prompter.shown[1].text,
              "Die Datenbank kann nun erstellt werden !\rNeu erstellen ?");
    EXPECT_TRUE(start.state.newDatabase);
    EXPECT_EQ(start.state.databasePath, path);
    EXPECT_TRUE(jobdb::versionMatches(path));
    EXPECT_EQ(start.writer.writes.last(), "Databank=" + path);
    EXPECT_EQ(start.state.clientDataFolder, m.clientDataFolder());
    // The settings take their defaults.
    EXPECT_EQ(start.state.startFolder, m.systemDrive());
    EXPECT_EQ(start.state.rememberLastFolder, "No");
    EXPECT_EQ(start.state.mail.account, "0");
    const DeployConfig config;
    EXPECT_EQ(
        QStringList({start.state.ftp.server, start.state.ftp.user, start.state.ftp.recipient}),
        QStringList({config.ftpHost, config.demoWord, config.mail}));
    EXPECT_TRUE(isDefaultFtpHost("FTP.Varnholt.example", config));
    // The version marker line goes to Version.txt at the first start.
    EXPECT_EQ(test::readFile(m.clientDataFolder() + "/Version.txt"), " 1  0  41 \r\n");
    EXPECT_FALSE(QFile::exists(m.clientDataFolder() + "/VERtoday.txt"));
}

// No database registered (or a path read as absent): cancelling the dialog ends the program.
TEST(StartupFlow, CancellingTheFirstStartDialogEndsWithTheMessage) {
    for (const bool longPath : {false, true}) {
        SCOPED_TRACE(longPath ? "150 characters" : "none registered");
        TestMachine m;
        if (longPath)
            store("Databank", m.path(QString(150, QLatin1Char('x'))));
        Start start;
        EXPECT_FALSE(start.run());
        EXPECT_EQ(start.welcomes, 1);
        ASSERT_EQ(start.prompter.shown.size(), 2u);
        EXPECT_EQ(start.prompter.shown[1].text,
                  "Ohne eine Datenbank kann KestroFTP - Client nicht ausgeführt werden\r"
                  "Bitte starten Sie das Programm von neuen.");
        EXPECT_EQ(start.prompter.shown[1].icon, Prompter::Icon::Critical);
        EXPECT_TRUE(start.writer.writes.isEmpty());
    }
}

// A later start asks nothing, writes only VERtoday.txt, reads the folder settings ("Yes"
// exactly) and removes a stale cache copy of the version file.
TEST(StartupFlow, ASecondStartUsesTheRegisteredFileWithoutAsking) {
    TestMachine m;
    registeredDatabase(m);
    m.writeFile("appdata/Varnholt/KestroFTP-Client/Version.txt", " 1  0  12 \r\n");
    m.writeFile("appdata/Varnholt/KestroFTP-Client/VERtoday.txt", "old and longer line\r\n");
    const QString cache = "localappdata/Microsoft/Windows/INetCache/";
    const QString stale = m.writeFile(cache + "kestroftp-client.TXT", "1.0.1\n");
    const QString other = m.writeFile(cache + "other.txt", "x");
    store("valFolderDir", "yes");
    store("FolderDir", "/srv/plaene");
    Start start;
    ASSERT_TRUE(start.run());
    EXPECT_EQ(start.welcomes, 0);
    EXPECT_TRUE(start.prompter.shown.empty());
    EXPECT_FALSE(start.state.newDatabase);
    EXPECT_TRUE(start.state.databaseUsable);
    EXPECT_TRUE(start.writer.writes.isEmpty());
    EXPECT_EQ(test::readFile(m.clientDataFolder() + "/Version.txt"), " 1  0  12 \r\n");
    EXPECT_EQ(test::readFile(m.clientDataFolder() + "/VERtoday.txt"), " 1  0  41 \r\n");
    EXPECT_FALSE(QFile::exists(stale)) << "the stale cache copy of the version file";
    EXPECT_TRUE(QFile::exists(other));
    EXPECT_EQ(start.state.rememberLastFolder, "No");
    EXPECT_EQ(start.state.startFolder, "/srv/plaene");
    store("valFolderDir", "Yes");
    Start again;
    ASSERT_TRUE(again.run());
    EXPECT_EQ(again.state.rememberLastFolder, "Yes");
}

TEST(StartupFlow, AMissingRegisteredFileIsOfferedForCreationOrReplacedByAChosenOne) {
    TestMachine m;
    const QString missing = m.path("gone.mdb");
    const QString existing = m.path("other.mdb");
    ScriptedPrompter quiet;
    ASSERT_TRUE(jobdb::createAllTables(existing, quiet));
    store("Databank", missing);
    Start start;
    start.prompter.answers.push_back(false); // do not create; choose a file instead
    start.prompter.files.push_back(existing);
    ASSERT_TRUE(start.run());
    EXPECT_EQ(start.state.databasePath, existing);
    EXPECT_FALSE(start.state.newDatabase);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(start.writer.writes, (QStringList{"Databank=" + existing}));
}

TEST(StartupFlow, AnOutdatedDatabaseIsRebuiltAndTheOldOneKept) {
    TestMachine m;
    const QString path = registeredDatabase(m, "1.0.40");
    dbtest::execSql(path, "INSERT INTO JobDaten (JobNumber, Projekt) VALUES (7, 'Altbau')");
    Start start;
    ASSERT_TRUE(start.run());
    EXPECT_TRUE(start.state.databaseUsable);
    EXPECT_TRUE(jobdb::versionMatches(path));
    EXPECT_TRUE(QFile::exists(path + ".Sicherung"));
    EXPECT_FALSE(QFile::exists(path + "Tmp"));
    EXPECT_EQ(dbtest::queryRows(path, "SELECT Projekt FROM JobDaten WHERE JobNumber = 7"),
              QList<QVariantList>{{"Altbau"}});
}

TEST(StartupFlow, ADamagedOutdatedFileIsLeftAloneAndTheWindowOpensWithoutIt) {
    TestMachine m;
    const QString path = m.writeFile("jobs.mdb", QByteArray("not a database at all"));
    store("Databank", path);
    Start start;
    ASSERT_TRUE(start.run());
    EXPECT_FALSE(start.state.databaseUsable);
    EXPECT_EQ(test::readFile(path), QByteArray("not a database at all"));
    EXPECT_FALSE(start.prompter.shown.empty()); // the user is told which file
    EXPECT_TRUE(start.prompter.texts().join(QString()).contains(path));
}

// A delivered job whose record failed is recorded at the next start under its number, once.
TEST(StartupFlow, AStartRecordsTheJobsThatWaitToBeRecorded) {
    TestMachine m;
    const QString path = registeredDatabase(m);
    jobdb::JobRows rows;
    rows.jobNumber = 7;
    rows.job = {{"JobNumber", 7}, {"Uhrzeit", "101530"}};
    rows.files = {{{"JobNumber", 7}, {"Filename", "plan.pdf"}}};
    QString error;
    ASSERT_FALSE(jobdb::keepPendingRecord(m.clientDataFolder(), path, rows, &error).isEmpty());
    ASSERT_FALSE(jobdb::keepPendingRecord(m.clientDataFolder(), m.path("other.mdb"), rows, &error)
                     .isEmpty());

    Start start;
    ASSERT_TRUE(start.run());
    EXPECT_EQ(start.state.startNotices, QStringList{jobdb::pendingRecordedText(7)});
    EXPECT_EQ(dbtest::queryRows(path, "SELECT j.JobNumber, j.Uhrzeit, f.Filename, f.LaufNR "
                                      "FROM JobDaten j JOIN FileDaten f USING (JobNumber)"),
              (QList<QVariantList>{{7, "101530", "plan.pdf", 1}}));
    EXPECT_EQ(QDir(jobdb::pendingRecordsFolder(m.clientDataFolder())).entryList(QDir::Files).size(),
              1);
    // The next start finds nothing left for this database and records nothing twice.
    Start again;
    ASSERT_TRUE(again.run());
    EXPECT_EQ(dbtest::rowCount(path, "JobDaten"), 1);
    EXPECT_TRUE(again.state.startNotices.isEmpty());
}

TEST(Settings, ReadFromTheStoreWithTheirDefaultsAndSpellings) {
    TestMachine m;
    MailAccountSettings mail = readMailAccountSettings(SettingsReader());
    EXPECT_EQ(mail.account, "0");
    EXPECT_FALSE(mail.popLogin || mail.smtpLogin);

    // A value of 150 characters or more reads as absent.
    store("FolderDir", QString(149, 'a'));
    store("Databank", QString(150, 'b'));
    EXPECT_EQ(SettingsReader().read("FolderDir").size(), 149);
    EXPECT_EQ(SettingsReader().read("Databank"), QString());
    EXPECT_EQ(SettingsReader().read("Missing"), QString());

    store("KontoEM", "1");
    store("PopLogin", "1");
    store("GLogin", "0");
    store("SMTPServer", "mail.example:587");
    mail = readMailAccountSettings(SettingsReader());
    EXPECT_EQ(mail.account, "1");
    EXPECT_TRUE(mail.popLogin);
    EXPECT_FALSE(mail.smtpLogin);
    EXPECT_EQ(mail.smtpServer, "mail.example:587");
    for (const char* yes : {"Wahr", "-1"})
        EXPECT_TRUE(settingToBool(yes)) << yes;
    for (const char* no : {"Falsch", "vielleicht"})
        EXPECT_FALSE(settingToBool(no)) << no;

    // The proxy flag takes exactly "True" and "Wahr"; off, the proxy values are not read.
    store("HProxy", "proxy.local");
    store("ProxyP", "geheim");
    const std::pair<const char*, bool> flags[] = {{"True", true},    {"Wahr", true},
                                                  {"true", false},   {"WAHR", false},
                                                  {"Falsch", false}, {"1", false}};
    for (const auto& [text, on] : flags) {
        store("useProxy", text);
        const ProxySettings p = readProxySettings(SettingsReader());
        EXPECT_EQ(p.useProxy, on) << text;
        EXPECT_EQ(p.httpProxy, on ? "proxy.local" : QString()) << text;
        EXPECT_EQ(p.password, on ? "geheim" : QString()) << text;
    }
}

TEST(Settings, EveryWriteIsOneKeySchreibenMessageAndFailuresAreShownOncePerWrite) {
    ScriptedPrompter prompter;
    RecordingSender ok;
    ServiceSettingWriter(ok, prompter).writeSetting("FolderDir", "/home/anna/Pläne");
    EXPECT_EQ(ok.sent,
              QStringList{
                  "KeySchreiben|FolderDir|/home/anna/Pläne|Software\\Varnholt\\KestroFTP\\Client"});
    EXPECT_TRUE(prompter.shown.empty());

    UndeliverableSender down;
    ServiceSettingWriter bad(down, prompter);
    bad.writeSetting("FolderDir", "/a");
    bad.writeSetting("valFolderDir", "Yes");
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[0].text, "Es konnte nicht in den Mailslot geschrieben werden!");
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
}

// The form hides the maker's defaults, whatever their case, and shows the shop's own values.
TEST(FtpConfigForm, HidesTheMakersDefaultsWithoutRegardToCase) {
    DeployConfig config;
    FtpSettings ftp;
    applyFtpDefaults(ftp, config);
    EXPECT_EQ(formFromSettings(ftp, {}, config), FtpConfigForm());

    ftp.server = config.ftpHost.toUpper();
    ftp.user = config.demoWord.toUpper();
    ftp.recipient = config.mail.toUpper();
    ftp.password = "shoppw";
    FtpConfigForm form = formFromSettings(ftp, {}, config);
    EXPECT_EQ(QStringList({form.server, form.user, form.recipient, form.password}),
              (QStringList{"", "", "", "shoppw"}));

    ftp = {"ftp.shop.example", "kunde7", "pw", "auftrag@shop.example"};
    form = formFromSettings(ftp, {}, config);
    EXPECT_EQ(QStringList({form.server, form.user, form.recipient}),
              QStringList({ftp.server, ftp.user, ftp.recipient}));
}

// Saving the form with empty boxes stores the maker's defaults again, so the next send warns.
TEST(FtpConfigSave, EmptyBoxesStoreTheMakersDefaultsAgain) {
    TestMachine machine;
    ScriptedPrompter prompter;
    DeployConfig config;
    ClientState state;
    kestro::test::RecordingWriter writer;
    state.databasePath = machine.path("jobs.mdb");
    state.clientDataFolder = machine.clientDataFolder();
    ASSERT_TRUE(jobdb::createAllTables(state.databasePath, prompter));

    EXPECT_TRUE(saveFtpConfig(FtpConfigForm(), state, config, writer));
    EXPECT_EQ(jobdb::MasterDataStore(state.databasePath).loadFtpServer(), config.ftpHost);
    EXPECT_TRUE(isDefaultFtpHost(state.ftp.server, config));
    EXPECT_EQ(QStringList({state.ftp.user, state.ftp.password, state.ftp.recipient}),
              QStringList({config.demoWord, config.demoWord, config.mail}));
    EXPECT_EQ(writer.writes, (QStringList{"useProxy=Falsch", "FTPTLS=1"}));
    EXPECT_EQ(state.ftp.encryption, FtpEncryption::WhenOffered);
}
