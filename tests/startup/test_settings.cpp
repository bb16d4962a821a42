// The client's settings as read from the store and written through Vellmon, and the FTP
// target form that shows and saves them.
#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/ftpconfig.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/settings.h"
#include "common/servicemessage.h"
#include "support/recordingwriter.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::startup;
using kestro::test::TestMachine;

namespace {

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

} // namespace

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
