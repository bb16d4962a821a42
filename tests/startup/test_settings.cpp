#include "client/startup/clientstate.h"
#include "client/startup/ftpdefaults.h"
#include "client/startup/settings.h"
#include "client/startup/startup.h"
#include "common/servicemessage.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::startup;
using kestro::test::TestMachine;

namespace {

void store(const QString& name, const QString& value) {
    RegistryStore().write(Hive::LocalMachine, kSettingsKeyPath, name, value);
}

// Records what would go to the service; delivery succeeds or fails as told.
class RecordingSender : public ServiceMessageSender {
public:
    explicit RecordingSender(bool deliver) : deliver_(deliver) {}
    bool send(const QString& message) override {
        sent.append(message);
        return deliver_;
    }
    QStringList sent;

private:
    bool deliver_;
};

} // namespace

TEST(Settings, ValuesOf150CharactersOrMoreReadAsAbsent) {
    TestMachine m;
    store("FolderDir", QString(149, QLatin1Char('a')));
    store("Databank", QString(150, QLatin1Char('b')));
    SettingsReader reader;
    EXPECT_EQ(reader.read("FolderDir").size(), 149);
    EXPECT_EQ(reader.read("Databank"), QString());
    EXPECT_EQ(reader.read("Missing"), QString());
}

TEST(Settings, ProxyFlagAcceptsExactlyTrueAndWahr) {
    TestMachine m;
    store("HProxy", "proxy.local");
    store("ProxyP", "geheim");
    const std::pair<const char*, bool> flags[] = {{"True", true},    {"Wahr", true},
                                                  {"true", false},   {"WAHR", false},
                                                  {"Falsch", false}, {"1", false}};
    for (const auto& [text, on] : flags) {
        store("useProxy", QString::fromLatin1(text));
        const ProxySettings p = readProxySettings(SettingsReader());
        EXPECT_EQ(p.useProxy, on) << text;
        // Off: the six values are not read at all.
        EXPECT_EQ(p.httpProxy, on ? "proxy.local" : QString()) << text;
        EXPECT_EQ(p.password, on ? "geheim" : QString()) << text;
    }
}

TEST(Settings, MailAccountDefaultsAndBooleans) {
    TestMachine m;
    MailAccountSettings mail = readMailAccountSettings(SettingsReader());
    EXPECT_EQ(mail.account, "0");
    EXPECT_FALSE(mail.popLogin);
    EXPECT_FALSE(mail.smtpLogin);
    store("KontoEM", "1");
    store("PopLogin", "1");
    store("GLogin", "0");
    store("SMTPServer", "mail.example:587");
    mail = readMailAccountSettings(SettingsReader());
    EXPECT_EQ(mail.account, "1");
    EXPECT_TRUE(mail.popLogin);
    EXPECT_FALSE(mail.smtpLogin);
    EXPECT_EQ(mail.smtpServer, "mail.example:587");
    EXPECT_TRUE(settingToBool("Wahr"));
    EXPECT_TRUE(settingToBool("-1"));
    EXPECT_FALSE(settingToBool("Falsch"));
    EXPECT_FALSE(settingToBool("vielleicht"));
}

TEST(Settings, EveryWriteIsOneKeySchreibenMessageAndFailuresAreShownOncePerWrite) {
    ScriptedPrompter prompter;
    RecordingSender ok(true);
    ServiceSettingWriter good(ok, prompter);
    good.writeSetting("FolderDir", "/home/anna/Pläne");
    EXPECT_EQ(
        ok.sent,
        QStringList{QStringLiteral(
            "KeySchreiben|FolderDir|/home/anna/Pläne|Software\\Varnholt\\KestroFTP\\Client")});
    EXPECT_TRUE(prompter.shown.empty());

    UndeliverableSender down;
    ServiceSettingWriter bad(down, prompter);
    bad.writeSetting("FolderDir", "/a");
    bad.writeSetting("valFolderDir", "Yes");
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[0].text, "Es konnte nicht in den Mailslot geschrieben werden!");
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
}

// The version marker line, " 1  0  41 \r\n", goes to Version.txt once and to VERtoday.txt
// at every start.
TEST(Startup, FirstStartWritesVersionTxtLaterStartsRewriteVERtoday) {
    TestMachine m;
    const QString folder = ClientStartup::prepareClientDataFolder();
    EXPECT_EQ(folder, m.clientDataFolder());
    EXPECT_EQ(test::readFile(folder + "/Version.txt"), QByteArray(" 1  0  41 \r\n"));
    EXPECT_FALSE(QFile::exists(folder + "/VERtoday.txt"));

    // A second start leaves Version.txt as it was (here: an older version's line).
    m.writeFile("appdata/Varnholt/KestroFTP-Client/Version.txt", " 1  0  12 \r\n");
    m.writeFile("appdata/Varnholt/KestroFTP-Client/VERtoday.txt", "old and longer line\r\n");
    ClientStartup::prepareClientDataFolder();
    EXPECT_EQ(test::readFile(folder + "/Version.txt"), QByteArray(" 1  0  12 \r\n"));
    EXPECT_EQ(test::readFile(folder + "/VERtoday.txt"), QByteArray(" 1  0  41 \r\n"));
}

TEST(Startup, StaleCacheCopyOfTheVersionFileIsRemoved) {
    TestMachine m;
    const QString stale =
        m.writeFile("localappdata/Microsoft/Windows/INetCache/kestroftp-client.TXT", "1.0.1\n");
    const QString other = m.writeFile("localappdata/Microsoft/Windows/INetCache/other.txt", "x");
    ClientStartup::removeStaleCacheFile();
    EXPECT_FALSE(QFile::exists(stale));
    EXPECT_TRUE(QFile::exists(other));
}

TEST(Startup, SettingsTakeTheirDefaults) {
    TestMachine m;
    ScriptedPrompter prompter;
    UndeliverableSender down;
    ServiceSettingWriter writer(down, prompter);
    DeployConfig config;
    class NoDatabase : public DatabaseLifecycle {
        void recoverInterrupted(const QString&) override {}
        CreationResult create(const QString&) override { return {}; }
        bool isCurrentVersion(const QString&) override { return true; }
        bool rebuildAndSwap(const QString&) override { return true; }
    } none;
    ClientStartup s({prompter, writer, none, {}}, SettingsReader(), config);
    ClientState state;
    s.readSettings(state);
    EXPECT_EQ(state.startFolder, m.systemDrive());
    EXPECT_EQ(state.rememberLastFolder, "No");
    EXPECT_EQ(state.mail.account, "0");
    EXPECT_EQ(state.ftp.server, config.ftpHost);
    EXPECT_EQ(state.ftp.user, config.demoWord);
    EXPECT_EQ(state.ftp.recipient, config.mail);
    EXPECT_TRUE(isDefaultFtpHost("FTP.Varnholt.example", config));

    store("valFolderDir", "yes"); // only the exact "Yes" counts
    store("FolderDir", "/srv/plaene");
    s.readSettings(state);
    EXPECT_EQ(state.rememberLastFolder, "No");
    EXPECT_EQ(state.startFolder, "/srv/plaene");
    store("valFolderDir", "Yes");
    s.readSettings(state);
    EXPECT_EQ(state.rememberLastFolder, "Yes");
}
