// Master data, FTP data, choosing another database file, and the record editors, on real
// database files.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/recordeditor.h"
#include "common/prompter.h"
#include "common/settingwriter.h"
#include "jobdbtestutil.h"
#include "support/testenv.h"

#include "support/recordingwriter.h"

#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::jobdb;

namespace {

class MasterDataFile : public ::testing::Test {
protected:
    void SetUp() override {
        db = machine.path("jobs.mdb");
        ASSERT_TRUE(createAllTables(db, prompter));
    }
    test::TestMachine machine;
    ScriptedPrompter prompter;
    kestro::test::RecordingWriter settings;
    QString db;
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

// The master data over their life: loaded before any row with the default rate, saved (the
// setting then names the file), edited in place; a rate of 0 saves as 19, a rate the column
// cannot hold keeps the stored one while the rest is written, and a stored rate that is empty
// or no number loads as 16 or keeps the previous one.
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

// Choosing another file sets the flag, and the master data are then saved into it. Choosing
// the shown file again, cancelling the dialog, or choosing a file in a folder so deep that its
// path fills the client's setting buffer (it would be taken as no database at the next start:
// refused with the reason) keeps the old file and sets no flag.
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

// The record editors of projects and delivery addresses: a new number follows the highest
// (gaps stay), up to the scroll bar's 32767; a record is saved with its number, seeks show it,
// texts too long are left out; a deleted record keeps only its note.
TEST_F(MasterDataFile, RecordEditorsNumberSaveAndDelete) {
    Database file(db);
    RecordEditor projects(file, EditorConfig::projects());
    EXPECT_EQ(projects.maximumNumber(), 0);
    EXPECT_EQ(projects.newRecord()->number, 1);
    EXPECT_EQ(projects.newRecord()->number, 2);
    dbtest::execSql(db, "INSERT INTO Projekte (ProNumber) VALUES (5)");
    const auto six = projects.newRecord();
    ASSERT_TRUE(six.has_value());
    EXPECT_EQ(*six, (EditorRecord{6, {}, {}, {}, {}, {}, {}}));
    EXPECT_EQ(projects.maximumNumber(), 6);
    EXPECT_EQ(projects.seek(6), six);
    EXPECT_EQ(dbtest::rowCount(db, "Projekte"), 4);
    ASSERT_TRUE(projects.save({17, "Neu", {}, {}, {}, {}, {}}));
    EXPECT_EQ(projects.seek(17)->name1, "Neu");
    EXPECT_EQ(projects.maximumNumber(), 17);

    const EditorRecord r{1, "Neubau", "Halle 3", {}, {}, {}, "Meier"};
    ASSERT_TRUE(projects.save(r));
    const EditorRecord marked = RecordEditor::markedDeleted(r, QDate(2026, 12, 6));
    EXPECT_EQ(projects.seek(1), r) << "marking alone changes nothing in the table";
    ASSERT_TRUE(projects.save(marked));
    EXPECT_EQ(projects.seek(1), (EditorRecord{1, "gelöscht am: 06.12.2026", {}, {}, {}, {}, {}}));
    EXPECT_EQ(loadProjectLabels(file, QString()).first(), "1 | gelöscht am: 06.12.2026");

    RecordEditor addresses(file, EditorConfig::deliveryAddresses());
    EditorRecord address = *addresses.newRecord();
    address.name1 = "Baustelle Nord";
    address.street = "Am Ring 1";
    address.plzOrt = QString(81, 'o'); // too long: left out
    ASSERT_TRUE(addresses.save(address));
    EXPECT_EQ(addresses.seek(1), (EditorRecord{1, "Baustelle Nord", {}, {}, "Am Ring 1", {}, {}}));
    EXPECT_FALSE(addresses.seek(2).has_value()) << "no record: the window keeps what it shows";
    EXPECT_EQ(loadDeliveryLabels(file), QStringList{"1 | Baustelle Nord"});

    dbtest::execSql(db, "INSERT INTO Projekte (ProNumber) VALUES (32767)");
    EXPECT_FALSE(projects.newRecord().has_value());
    EXPECT_EQ(dbtest::rowCount(db, "Projekte"), 6) << "the address went into its own table";
}
