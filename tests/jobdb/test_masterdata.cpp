// Master data, FTP data, choosing another database file and the editors, on real files.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/recordeditor.h"
#include "common/prompter.h"
#include "common/settingwriter.h"
#include "jobdbtestutil.h"
#include "support/recordingwriter.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::jobdb;

namespace {

class MasterDataFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(createAllTables(db, prompter)); }
    test::TestMachine machine;
    ScriptedPrompter prompter;
    test::RecordingWriter settings;
    const QString db = machine.path("jobs.mdb");
};

MasterData filled() {
    MasterData m;
    m.name = "Müller & Söhne GmbH";
    m.street = "Hauptstraße 5";
    m.costCentre = "KST-4711";
    m.cashPayerNetAsGross = flagDigit(1);
    m.grossPrices = flagDigit(0);
    m.sortProjectsByName1 = flagDigit(2);
    m.vatRate = 19.0f;
    return m;
}

} // namespace

// Saved once and edited in place; the VAT rate 0 saves as 19, one the column cannot hold keeps
// the stored one, an empty or unreadable stored one loads as 16 or keeps the previous one.
TEST_F(MasterDataFile, SavesAddTheRowOnceAndKeepTheRateSound) {
    MasterData loaded;
    loaded.vatRate = 0.0f;
    ASSERT_TRUE(MasterDataStore(db).load(loaded)) << "no row yet";
    EXPECT_EQ(loaded.vatRate, 16.0f);
    MasterData m = filled();
    EXPECT_TRUE(saveMasterData(db, m, settings));
    EXPECT_EQ(settings.writes, QStringList{"Databank=" + db});
    m.name = "Neuer Name";
    m.vatRate = 0.0f;
    EXPECT_TRUE(saveMasterData(db, m, settings));
    EXPECT_EQ(m.vatRate, 19.0f) << "the record changes too";
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded, m);
    EXPECT_EQ(flagState(loaded.cashPayerNetAsGross), 1);
    EXPECT_EQ(flagState(loaded.sortProjectsByName1), 2);
    m.vatRate = *parseVatRate("7,5");
    m.street = "Neue Straße 1";
    ASSERT_TRUE(MasterDataStore(db).save(m));
    EXPECT_EQ(dbtest::rowTexts(db, "SELECT Name, Street, MwSt FROM Stammdaten"),
              QStringList{"Neuer Name|Neue Straße 1|19"});

    dbtest::execSql(db, "UPDATE Stammdaten SET MwSt = NULL");
    loaded.vatRate = 0.0f;
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded.vatRate, 16.0f) << "an empty stored rate";
    dbtest::execSql(db, "UPDATE Stammdaten SET Name = 'a', MwSt = 'xx'");
    loaded.vatRate = 7.0f;
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded.vatRate, 7.0f) << "a stored rate that is no number keeps the previous one";
    EXPECT_EQ(loaded.name, "a");
}

TEST(VatRateText, UsesTheGermanDecimalComma) {
    EXPECT_EQ(vatRateText(16.0f), "16");
    EXPECT_EQ(vatRateText(7.5f), "7,5");
    EXPECT_EQ(parseVatRate(" 7,5 "), 7.5f);
    EXPECT_EQ(parseVatRate("19"), 19.0f);
    EXPECT_FALSE(parseVatRate("neunzehn").has_value());
    EXPECT_FALSE(parseVatRate(QString()).has_value());
    EXPECT_EQ(flagState(QString()), 0);
    EXPECT_EQ(flagState("x"), 0);
}

TEST_F(MasterDataFile, MissingFileLoadsNothingAndSavesNothing) {
    const QString missing = machine.path("fehlt.mdb");
    MasterData m = filled();
    EXPECT_FALSE(MasterDataStore(missing).load(m));
    EXPECT_EQ(m, filled());
    EXPECT_FALSE(saveMasterData(missing, m, settings));
    EXPECT_TRUE(settings.writes.isEmpty()) << "the next start would use a database that failed";
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(MasterDataFile, FtpServerRoundTripsAndProxySettingsFollowTheFlag) {
    EXPECT_FALSE(MasterDataStore(db).loadFtpServer().has_value());
    ProxySettings proxy;
    ASSERT_TRUE(saveFtpSettings(db, "ftp.shop.example:2121", proxy, settings));
    EXPECT_EQ(settings.writes, QStringList{"useProxy=Falsch"});
    EXPECT_EQ(MasterDataStore(db).loadFtpServer(), "ftp.shop.example:2121");
    settings.writes.clear();
    proxy = {true, "proxy.lan", "ftpproxy.lan", "8080", "2121", "anna", "geheim"};
    ASSERT_TRUE(saveFtpSettings(db, "ftp2.shop.example", proxy, settings));
    EXPECT_EQ(settings.writes,
              (QStringList{"useProxy=Wahr", "HProxy=proxy.lan", "FProxy=ftpproxy.lan",
                           "HProxP=8080", "FProxP=2121", "ProxyU=anna", "ProxyP=geheim"}));
    EXPECT_EQ(dbtest::rowCount(db, "FTPDaten"), 1);
    EXPECT_EQ(MasterDataStore(db).loadFtpServer(), "ftp2.shop.example");
}

// Another file is chosen and saved into; the shown file, a cancelled dialog or a path too long
// for the client's setting (was: taken, then read as no database) keep the old file.
TEST_F(MasterDataFile, OnlyAnotherUsableFileIsChosen) {
    const QString other = machine.path("anders.mdb");
    ASSERT_TRUE(createAllTables(other, prompter));
    const QString deep = machine.path(QString(60, 'o') + '/' + QString(60, 'p') + "/jobs.mdb");
    ASSERT_GE(deep.size(), 150);
    const struct {
        const char* name;
        QStringList files;
        QString chosen;
        QString reason;
    } cases[] = {{"the shown file", {db}, db, {}},
                 {"cancelled", {}, db, {}},
                 {"path too long", {deep}, db, "höchstens 149 Zeichen"},
                 {"another file", {other}, other, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompter = ScriptedPrompter{};
        prompter.files.assign(c.files.begin(), c.files.end());
        settings.writes.clear();
        DatabaseFileChoice choice(db, prompter, settings);
        EXPECT_EQ(choice.choose(db), c.chosen);
        EXPECT_EQ(choice.otherFileChosen(), c.chosen != db);
        EXPECT_EQ(settings.writes, QStringList{"Databank=" + c.chosen});
        ASSERT_EQ(prompter.shown.size(), c.reason.isEmpty() ? 1 : 2);
        EXPECT_EQ(prompter.shown[0].text, "Datenbank-Datei (*.mdb)|*.mdb;");
        EXPECT_EQ(prompter.shown[0].title, machine.systemDrive()) << "initial folder";
        if (!c.reason.isEmpty()) {
            EXPECT_TRUE(prompter.shown[1].text.contains(c.reason))
                << prompter.shown[1].text.toStdString();
        }
        MasterData m = filled();
        if (choice.otherFileChosen()) {
            ASSERT_TRUE(saveMasterData(choice.databasePath(), m, settings));
        }
    }
    EXPECT_EQ(dbtest::rowCount(other, "Stammdaten"), 1);
    EXPECT_EQ(dbtest::rowCount(db, "Stammdaten"), 0);
    EXPECT_EQ(settings.writes.last(), "Databank=" + other);
    EXPECT_TRUE(restartMessage().startsWith("Sie haben eine neue Datenbank gewählt !\r"));
}

// No new record beyond the number the editor's scroll bar reaches. (Numbering, saving, seeking
// and deleting are checked with the editor windows, on the rows they leave in the table.)
TEST_F(MasterDataFile, NoNewRecordBeyondTheScrollBarsRange) {
    Database file(db);
    RecordEditor projects(file, EditorConfig::projects());
    dbtest::execSql(db, "INSERT INTO Projekte (ProNumber) VALUES (32767)");
    EXPECT_FALSE(projects.newRecord().has_value());
    EXPECT_EQ(dbtest::rowCount(db, "Projekte"), 1);
}
