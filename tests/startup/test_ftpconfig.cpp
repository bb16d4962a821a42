#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/ftpconfig.h"
#include "client/startup/ftpdefaults.h"
#include "common/prompter.h"
#include "support/testenv.h"

#include "support/recordingwriter.h"

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::startup;
using kestro::test::TestMachine;

TEST(FtpConfigForm, HidesTheMakersDefaultsWithoutRegardToCase) {
    DeployConfig config;
    FtpSettings ftp;
    applyFtpDefaults(ftp, config);
    EXPECT_EQ(formFromSettings(ftp, {}, config), FtpConfigForm());

    ftp.server = config.ftpHost.toUpper();
    ftp.user = config.demoWord.toUpper();
    ftp.recipient = config.mail.toUpper();
    ftp.password = "shoppw";
    const FtpConfigForm form = formFromSettings(ftp, {}, config);
    EXPECT_TRUE(form.server.isEmpty());
    EXPECT_TRUE(form.user.isEmpty());
    EXPECT_TRUE(form.recipient.isEmpty());
    EXPECT_EQ(form.password, "shoppw");

    ftp = {"ftp.shop.example", "kunde7", "pw", "auftrag@shop.example"};
    const FtpConfigForm shown = formFromSettings(ftp, {}, config);
    EXPECT_EQ(shown.server, ftp.server);
    EXPECT_EQ(shown.user, ftp.user);
    EXPECT_EQ(shown.recipient, ftp.recipient);
}

class FtpConfigSave : public ::testing::Test {
protected:
    void SetUp() override {
        state.databasePath = machine.path("jobs.mdb");
        state.clientDataFolder = machine.clientDataFolder();
        ASSERT_TRUE(jobdb::createAllTables(state.databasePath, prompter));
    }
    QString storedServer() const {
        return jobdb::MasterDataStore(state.databasePath).loadFtpServer().value_or("<none>");
    }

    TestMachine machine;
    ScriptedPrompter prompter;
    DeployConfig config;
    ClientState state;
    kestro::test::RecordingWriter writer;
};

TEST_F(FtpConfigSave, EmptyBoxesStoreTheMakersDefaultsAgain) {
    EXPECT_TRUE(saveFtpConfig(FtpConfigForm(), state, config, writer));
    EXPECT_EQ(storedServer(), config.ftpHost);
    EXPECT_TRUE(isDefaultFtpHost(state.ftp.server, config)) << "the next send warns";
    EXPECT_EQ(state.ftp.user, config.demoWord);
    EXPECT_EQ(state.ftp.password, config.demoWord);
    EXPECT_EQ(state.ftp.recipient, config.mail);
    EXPECT_EQ(writer.writes, (QStringList{"useProxy=Falsch", "FTPTLS=1"}));
    EXPECT_EQ(state.ftp.encryption, FtpEncryption::WhenOffered);
}
