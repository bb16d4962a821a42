#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/ftpconfig.h"
#include "client/startup/ftpdefaults.h"
#include "common/prompter.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::startup;
using kestro::test::TestMachine;

namespace {

class RecordingWriter : public SettingWriter {
public:
    void writeSetting(const QString& name, const QString& value) override {
        writes << name + QLatin1Char('=') + value;
    }
    QStringList writes;
};

ProxySettings someProxy() {
    ProxySettings proxy;
    proxy.useProxy = true;
    proxy.httpProxy = QStringLiteral("hp.example");
    proxy.ftpProxy = QStringLiteral("fp.example");
    proxy.httpProxyPort = QStringLiteral("3128");
    proxy.ftpProxyPort = QStringLiteral("2121");
    proxy.user = QStringLiteral("pu");
    proxy.password = QStringLiteral("pp");
    return proxy;
}

} // namespace

TEST(FtpConfigForm, HidesTheMakersDefaultsWithoutRegardToCase) {
    DeployConfig config;
    FtpSettings ftp;
    applyFtpDefaults(ftp, config);
    EXPECT_EQ(formFromSettings(ftp, {}, config), FtpConfigForm());

    ftp.server = config.ftpHost.toUpper();
    ftp.user = config.demoWord.toUpper();
    ftp.recipient = config.mail.toUpper();
    ftp.password = QStringLiteral("shoppw");
    const FtpConfigForm form = formFromSettings(ftp, {}, config);
    EXPECT_TRUE(form.server.isEmpty());
    EXPECT_TRUE(form.user.isEmpty());
    EXPECT_TRUE(form.recipient.isEmpty());
    EXPECT_EQ(form.password, QStringLiteral("shoppw"));

    ftp = {QStringLiteral("ftp.shop.example"), QStringLiteral("kunde7"), QStringLiteral("pw"),
           QStringLiteral("auftrag@shop.example")};
    const FtpConfigForm shown = formFromSettings(ftp, {}, config);
    EXPECT_EQ(shown.server, ftp.server);
    EXPECT_EQ(shown.user, ftp.user);
    EXPECT_EQ(shown.recipient, ftp.recipient);
}

TEST(FtpConfigForm, ProxyBoxesAreFilledOnlyWhileTheProxyIsOn) {
    DeployConfig config;
    ProxySettings proxy = someProxy();
    const FtpConfigForm on = formFromSettings({}, proxy, config);
    EXPECT_TRUE(on.useProxy);
    EXPECT_EQ(on.httpProxy, QStringLiteral("hp.example"));
    EXPECT_EQ(on.ftpProxyPort, QStringLiteral("2121"));
    EXPECT_EQ(on.proxyPassword, QStringLiteral("pp"));

    proxy.useProxy = false;
    const FtpConfigForm off = formFromSettings({}, proxy, config);
    EXPECT_FALSE(off.useProxy);
    EXPECT_TRUE(off.httpProxy.isEmpty());
    EXPECT_TRUE(off.proxyUser.isEmpty());
}

class FtpConfigSave : public ::testing::Test {
protected:
    void SetUp() override {
        state.databasePath = machine.path(QStringLiteral("jobs.mdb"));
        state.clientDataFolder = machine.clientDataFolder();
        ASSERT_TRUE(jobdb::createAllTables(state.databasePath, prompter));
    }
    QString storedServer() const {
        return jobdb::MasterDataStore(state.databasePath)
            .loadFtpServer()
            .value_or(QStringLiteral("<none>"));
    }

    TestMachine machine;
    ScriptedPrompter prompter;
    DeployConfig config;
    ClientState state;
    RecordingWriter writer;
};

TEST_F(FtpConfigSave, EmptyBoxesStoreTheMakersDefaultsAgain) {
    EXPECT_TRUE(saveFtpConfig(FtpConfigForm(), state, config, writer));
    EXPECT_EQ(storedServer(), config.ftpHost);
    EXPECT_TRUE(isDefaultFtpHost(state.ftp.server, config)) << "the next send warns";
    EXPECT_EQ(state.ftp.user, config.demoWord);
    EXPECT_EQ(state.ftp.password, config.demoWord);
    EXPECT_EQ(state.ftp.recipient, config.mail);
    EXPECT_EQ(writer.writes, QStringList{QStringLiteral("useProxy=Falsch")});
}

TEST_F(FtpConfigSave, ProxyValuesAreWrittenOnlyWhileTheProxyIsOn) {
    FtpConfigForm form = formFromSettings({}, someProxy(), config);
    form.server = QStringLiteral("ftp.shop.example:2121");
    EXPECT_TRUE(saveFtpConfig(form, state, config, writer));
    EXPECT_EQ(storedServer(), QStringLiteral("ftp.shop.example:2121"));
    EXPECT_EQ(writer.writes,
              (QStringList{QStringLiteral("useProxy=Wahr"), QStringLiteral("HProxy=hp.example"),
                           QStringLiteral("FProxy=fp.example"), QStringLiteral("HProxP=3128"),
                           QStringLiteral("FProxP=2121"), QStringLiteral("ProxyU=pu"),
                           QStringLiteral("ProxyP=pp")}));
    EXPECT_TRUE(state.proxy.useProxy);

    writer.writes.clear();
    form.useProxy = false;
    EXPECT_TRUE(saveFtpConfig(form, state, config, writer));
    EXPECT_EQ(writer.writes, QStringList{QStringLiteral("useProxy=Falsch")});
    EXPECT_FALSE(state.proxy.useProxy);
}

TEST_F(FtpConfigSave, ConfirmationTakesTheLoginFromTheNewTargetsCatalogue) {
    machine.writeFile(QStringLiteral("web/kat/Katalog.INI"),
                      "[ColorMenue]\r\nColor1=farbig\r\n[FTP]\r\nUser=shopuser\r\nPW=shoppw\r\n"
                      "Mail=auftrag@shop.example\r\n");
    test::PeerProcess server;
    ASSERT_TRUE(
        server.startFixture(QStringLiteral("httpserver.py"),
                            {QStringLiteral("--root"), machine.path(QStringLiteral("web"))}));
    config.webServer = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    machine.writeFile(QStringLiteral("web/DevorOrava/FTP-Targets.txt"),
                      ("ftp.shop.example  " + config.webServer + "/kat/Katalog.INI\r\n").toUtf8());

    FtpConfigConfirmation confirmation(state, config, writer);
    auto confirm = [&](const QString& server) {
        FtpConfigForm form;
        form.server = server;
        form.user = QStringLiteral("typed");
        std::optional<CatalogueOutcome> outcome;
        QEventLoop loop;
        auto c = QObject::connect(&confirmation, &FtpConfigConfirmation::finished, &loop,
                                  [&](const CatalogueOutcome& o) {
                                      outcome = o;
                                      loop.quit();
                                  });
        if (confirmation.confirm(form)) {
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        QObject::disconnect(c);
        return outcome;
    };

    const auto obtained = confirm(QStringLiteral("ftp.shop.example"));
    ASSERT_TRUE(obtained && obtained->obtained);
    EXPECT_EQ(obtained->lists.colors, QStringList{QStringLiteral("farbig")});
    EXPECT_EQ(state.ftp.user, QStringLiteral("shopuser"));
    EXPECT_EQ(state.ftp.password, QStringLiteral("shoppw"));
    EXPECT_EQ(state.ftp.recipient, QStringLiteral("auftrag@shop.example"));
    EXPECT_EQ(storedServer(), QStringLiteral("ftp.shop.example"));

    // A server the targets list does not know: saved all the same, and the login is gone.
    const auto missing = confirm(QStringLiteral("ftp.nowhere.example"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->obtained);
    EXPECT_TRUE(missing->lists.colors.isEmpty());
    EXPECT_TRUE(state.ftp.user.isEmpty());
    EXPECT_TRUE(state.ftp.recipient.isEmpty());
    EXPECT_EQ(storedServer(), QStringLiteral("ftp.nowhere.example"));
}
