#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/ftpdefaults.h"
#include "client/ui/frmftpconfig.h"
#include "common/prompter.h"
#include "support/peerprocess.h"
#include "support/testenv.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include "support/recordingwriter.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>

using namespace kestro;
using namespace kestro::ui;
using kestro::test::child;
using kestro::test::TestMachine;

class FtpConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        state.databasePath = machine.path("jobs.mdb");
        state.clientDataFolder = machine.clientDataFolder();
        ASSERT_TRUE(jobdb::createAllTables(state.databasePath, prompter));
        startup::applyFtpDefaults(state.ftp, config);
    }
    static QLineEdit* box(FrmFtpConfig& w, const char* name) { return child<QLineEdit>(w, name); }
    TestMachine machine;
    ScriptedPrompter prompter;
    DeployConfig config;
    startup::ClientState state;
    kestro::test::RecordingWriter writer;
};

// The maker's demo values stay hidden and the proxy boxes follow their check box; a new
// target is encrypted when its server offers it, a configured one keeps its choice. OK stores
// the target and the proxy choice, then the shop's catalogue is fetched again.
TEST_F(FtpConfigWindow, OkSavesTheTargetAndProxyThenReloadsTheCatalogue) {
    {
        startup::ClientState configured = state;
        configured.ftp.server = "ftp.shop.example";
        FrmFtpConfig window({configured, config, writer});
        EXPECT_EQ(child<QComboBox>(window, "cboEncryption")->currentText(), "nur unverschlüsselt");
    }
    machine.writeFile("web/kat/Katalog.INI",
                      "[ColorMenue]\r\nColor1=farbig\r\nColor2=s/w\r\n[FTP]\r\nUser=shopuser\r\n"
                      "PW=shoppw\r\nMail=auftrag@shop.example\r\n");
    test::PeerProcess server;
    ASSERT_TRUE(server.startFixture("httpserver.py", {"--root", machine.path("web")}));
    config.webServer = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    machine.writeFile("web/DevorOrava/FTP-Targets.txt",
                      ("ftp.shop.example  " + config.webServer + "/kat/Katalog.INI").toUtf8());

    FrmFtpConfig window({state, config, writer});
    QSignalSpy reloaded(&window, &FrmFtpConfig::catalogueReloaded);
    window.show();
    test::saveScreenshot(&window, "frmFTPconfig");
    for (const char* name : {"txtFTPServer", "txtFTPUser", "txtFTPPW", "txtEMailAdr"})
        EXPECT_TRUE(box(window, name)->text().isEmpty()) << name;
    auto* useProxy = child<QCheckBox>(window, "chkProxy");
    EXPECT_FALSE(useProxy->isChecked());
    for (const bool on : {true, false}) {
        useProxy->click();
        for (const char* name : {"txtProxyH", "txtProHPort", "txtProxyF", "txtProFPort",
                                 "txtUserProxy", "txtPassProxy"})
            EXPECT_EQ(box(window, name)->isEnabled(), on) << name;
    }
    EXPECT_EQ(child<QComboBox>(window, "cboEncryption")->currentText(),
              "wenn der Server es anbietet");
    QTest::keyClicks(box(window, "txtFTPServer"), "ftp.shop.example");
    QTest::keyClicks(box(window, "txtFTPUser"), "getippt");
    child<QCheckBox>(window, "chkProxy")->click();
    box(window, "txtProxyH")->setText("hp.example");
    box(window, "txtProHPort")->setText("3128");
    box(window, "txtUserProxy")->setText("pu");
    // The proxy boxes hold a proxy nobody runs; the fetch then fails, so drop it again
    // before OK: the values typed stay in the boxes but only useProxy is written.
    child<QCheckBox>(window, "chkProxy")->click();
    child<QComboBox>(window, "cboEncryption")->setCurrentIndex(2);
    test::press(window, "cmdOK");

    ASSERT_TRUE(reloaded.wait(30000));
    const auto outcome = reloaded.at(0).at(0).value<startup::CatalogueOutcome>();
    EXPECT_TRUE(outcome.obtained);
    EXPECT_EQ(outcome.lists.colors, (QStringList{"farbig", "s/w"}));
    EXPECT_EQ(writer.writes, (QStringList{"useProxy=Falsch", "FTPTLS=2"}));
    EXPECT_EQ(state.ftp.encryption, startup::FtpEncryption::Required);
    EXPECT_EQ(jobdb::MasterDataStore(state.databasePath).loadFtpServer(),
              std::optional<QString>("ftp.shop.example"));
    EXPECT_EQ(state.ftp.user, "shopuser") << "the catalogue overwrites what was typed";
    EXPECT_EQ(state.ftp.recipient, "auftrag@shop.example");
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(FtpConfigWindow, OkWithTheProxyOnWritesAllSixValues) {
    state.proxy.useProxy = true;
    state.proxy.httpProxy = "127.0.0.1";
    state.proxy.httpProxyPort = "1"; // nothing listens: the fetch fails fast
    state.proxy.ftpProxy = "fp.example";
    state.proxy.ftpProxyPort = "2121";
    state.proxy.user = "pu";
    state.proxy.password = "pp";
    config.webServer = "http://127.0.0.1:1";
    FrmFtpConfig window({state, config, writer});
    EXPECT_TRUE(child<QCheckBox>(window, "chkProxy")->isChecked());
    EXPECT_EQ(box(window, "txtProxyF")->text(), "fp.example");
    EXPECT_TRUE(box(window, "txtPassProxy")->isEnabled());
    QSignalSpy reloaded(&window, &FrmFtpConfig::catalogueReloaded);
    test::press(window, "cmdOK");
    ASSERT_TRUE(reloaded.wait(30000));
    EXPECT_FALSE(reloaded.at(0).at(0).value<startup::CatalogueOutcome>().obtained);
    EXPECT_EQ(writer.writes,
              (QStringList{"useProxy=Wahr", "HProxy=127.0.0.1", "FProxy=fp.example", "HProxP=1",
                           "FProxP=2121", "ProxyU=pu", "ProxyP=pp", "FTPTLS=1"}));
    // Nothing typed: the maker's defaults are stored, and the failed fetch empties the login.
    EXPECT_TRUE(startup::isDefaultFtpHost(state.ftp.server, config));
    EXPECT_TRUE(state.ftp.user.isEmpty());
}
