#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/ftpdefaults.h"
#include "client/ui/frmftpconfig.h"
#include "common/prompter.h"
#include "support/peerprocess.h"
#include "support/testenv.h"
#include "support/uitest.h"

#include "support/recordingwriter.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::ui;
using kestro::test::TestMachine;

namespace {

const char* const kProxyBoxes[] = {"txtProxyH",   "txtProHPort",  "txtProxyF",
                                   "txtProFPort", "txtUserProxy", "txtPassProxy"};

} // namespace

class FtpConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        state.databasePath = machine.path("jobs.mdb");
        state.clientDataFolder = machine.clientDataFolder();
        ASSERT_TRUE(jobdb::createAllTables(state.databasePath, prompter));
        startup::applyFtpDefaults(state.ftp, config);
    }
    QLineEdit* box(FrmFtpConfig& w, const char* name) {
        auto* b = w.findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    TestMachine machine;
    ScriptedPrompter prompter;
    DeployConfig config;
    startup::ClientState state;
    kestro::test::RecordingWriter writer;
};

// The maker's demo values stay hidden; the proxy boxes follow their check box; a new target
// is encrypted when its server offers it, a configured one keeps its choice.
TEST_F(FtpConfigWindow, OpensWithTheDemoValuesHiddenAndTheProxyBoxesOff) {
    FrmFtpConfig window({state, config, writer});
    test::saveScreenshot(&window, "frmFTPconfig");
    for (const char* name : {"txtFTPServer", "txtFTPUser", "txtFTPPW", "txtEMailAdr"})
        EXPECT_TRUE(box(window, name)->text().isEmpty()) << name;
    auto* useProxy = window.findChild<QCheckBox*>("chkProxy");
    ASSERT_NE(useProxy, nullptr);
    EXPECT_FALSE(useProxy->isChecked());
    for (const bool on : {false, true, false}) {
        if (on != useProxy->isChecked())
            useProxy->click();
        for (const char* name : kProxyBoxes)
            EXPECT_EQ(box(window, name)->isEnabled(), on) << name;
    }
    auto* encryption = window.findChild<QComboBox*>("cboEncryption");
    ASSERT_NE(encryption, nullptr);
    EXPECT_EQ(encryption->currentText(), "wenn der Server es anbietet");
    state.ftp.server = "ftp.shop.example";
    FrmFtpConfig configured({state, config, writer});
    EXPECT_EQ(configured.findChild<QComboBox*>("cboEncryption")->currentText(),
              "nur unverschlüsselt");
}

TEST_F(FtpConfigWindow, OkSavesTheTargetAndProxyThenReloadsTheCatalogue) {
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
    QTest::keyClicks(box(window, "txtFTPServer"), "ftp.shop.example");
    QTest::keyClicks(box(window, "txtFTPUser"), "getippt");
    window.findChild<QCheckBox*>("chkProxy")->click();
    box(window, "txtProxyH")->setText("hp.example");
    box(window, "txtProHPort")->setText("3128");
    box(window, "txtUserProxy")->setText("pu");
    // The proxy boxes hold a proxy nobody runs; the fetch then fails, so drop it again
    // before OK: the values typed stay in the boxes but only useProxy is written.
    window.findChild<QCheckBox*>("chkProxy")->click();
    window.findChild<QComboBox*>("cboEncryption")->setCurrentIndex(2);
    window.findChild<QPushButton*>("cmdOK")->click();

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
    EXPECT_TRUE(window.findChild<QCheckBox*>("chkProxy")->isChecked());
    EXPECT_EQ(box(window, "txtProxyF")->text(), "fp.example");
    EXPECT_TRUE(box(window, "txtPassProxy")->isEnabled());
    QSignalSpy reloaded(&window, &FrmFtpConfig::catalogueReloaded);
    window.findChild<QPushButton*>("cmdOK")->click();
    ASSERT_TRUE(reloaded.wait(30000));
    EXPECT_FALSE(reloaded.at(0).at(0).value<startup::CatalogueOutcome>().obtained);
    EXPECT_EQ(writer.writes,
              (QStringList{"useProxy=Wahr", "HProxy=127.0.0.1", "FProxy=fp.example", "HProxP=1",
                           "FProxP=2121", "ProxyU=pu", "ProxyP=pp", "FTPTLS=1"}));
    // Nothing typed: the maker's defaults are stored, and the failed fetch empties the login.
    EXPECT_TRUE(startup::isDefaultFtpHost(state.ftp.server, config));
    EXPECT_TRUE(state.ftp.user.isEmpty());
}
