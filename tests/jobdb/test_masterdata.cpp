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
        db = machine.path(QStringLiteral("jobs.mdb"));
        ASSERT_TRUE(createAllTables(db, prompter));
    }
    QVariantList stammdaten() const {
        const auto rows = dbtest::queryRows(db, QStringLiteral("SELECT * FROM Stammdaten"));
        return rows.isEmpty() ? QVariantList{} : rows[0];
    }

    test::TestMachine machine;
    ScriptedPrompter prompter;
    kestro::test::RecordingWriter settings;
    QString db;
};

MasterData filled() {
    MasterData m;
    m.name = QStringLiteral("Müller & Söhne GmbH");
    m.street = QStringLiteral("Hauptstraße 5");
    m.costCentre = QStringLiteral("KST-4711");
    m.cashPayerNetAsGross = flagDigit(1);
    m.grossPrices = flagDigit(0);
    m.sortProjectsByName1 = flagDigit(2);
    m.vatRate = 19.0f;
    return m;
}

} // namespace

TEST_F(MasterDataFile, FirstSaveAddsTheRowLaterSavesEditIt) {
    MasterData m = filled();
    EXPECT_TRUE(saveMasterData(db, m, settings));
    EXPECT_EQ(settings.writes, QStringList{QStringLiteral("Databank=") + db});
    m.name = QStringLiteral("Neuer Name");
    EXPECT_TRUE(saveMasterData(db, m, settings));
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Stammdaten")), 1);

    MasterData loaded;
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded, m);
    EXPECT_EQ(flagState(loaded.cashPayerNetAsGross), 1);
    EXPECT_EQ(flagState(loaded.sortProjectsByName1), 2);
}

TEST_F(MasterDataFile, VatRateZeroSavesAsNineteenAndEmptyLoadsAsSixteen) {
    MasterData fresh;
    fresh.vatRate = 0.0f;
    ASSERT_TRUE(MasterDataStore(db).load(fresh)) << "no row yet";
    EXPECT_EQ(fresh.vatRate, 16.0f);

    dbtest::execSql(db, QStringLiteral("INSERT INTO Stammdaten (Name) VALUES ('x')"));
    MasterData loaded;
    loaded.vatRate = 0.0f;
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded.vatRate, 16.0f) << "an empty stored rate";
    dbtest::execSql(db, QStringLiteral("UPDATE Stammdaten SET Name = 'a', MwSt = 'xx'"));
    loaded.vatRate = 7.0f;
    ASSERT_TRUE(MasterDataStore(db).load(loaded));
    EXPECT_EQ(loaded.vatRate, 7.0f) << "a stored rate that is no number keeps the previous one";
    EXPECT_EQ(loaded.name, QStringLiteral("a"));

    MasterData m = filled();
    m.vatRate = 0.0f;
    ASSERT_TRUE(MasterDataStore(db).save(m));
    EXPECT_EQ(m.vatRate, 19.0f) << "the record changes too";
    EXPECT_EQ(stammdaten()[6].toString(), QStringLiteral("19"));
    MasterData again;
    MasterDataStore(db).load(again);
    EXPECT_EQ(vatRateText(again.vatRate), QStringLiteral("19"));
}

TEST_F(MasterDataFile, RateThatDoesNotFitKeepsTheStoredOneAndWritesTheRest) {
    MasterData m = filled();
    ASSERT_TRUE(MasterDataStore(db).save(m));
    m.vatRate = *parseVatRate(QStringLiteral("7,5"));
    m.street = QStringLiteral("Neue Straße 1");
    ASSERT_TRUE(MasterDataStore(db).save(m));
    EXPECT_EQ(stammdaten()[6].toString(), QStringLiteral("19"));
    EXPECT_EQ(stammdaten()[1].toString(), QStringLiteral("Neue Straße 1"));
}

TEST(VatRateText, UsesTheGermanDecimalComma) {
    EXPECT_EQ(vatRateText(16.0f), QStringLiteral("16"));
    EXPECT_EQ(vatRateText(7.5f), QStringLiteral("7,5"));
    EXPECT_EQ(parseVatRate(QStringLiteral(" 7,5 ")), 7.5f);
    EXPECT_EQ(parseVatRate(QStringLiteral("19")), 19.0f);
    EXPECT_FALSE(parseVatRate(QStringLiteral("neunzehn")).has_value());
    EXPECT_FALSE(parseVatRate(QString()).has_value());
    EXPECT_EQ(flagState(QString()), 0);
    EXPECT_EQ(flagState(QStringLiteral("x")), 0);
}

TEST_F(MasterDataFile, MissingFileLoadsNothingAndSavesNothing) {
    const QString missing = machine.path(QStringLiteral("fehlt.mdb"));
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
    ASSERT_TRUE(saveFtpSettings(db, QStringLiteral("ftp.shop.example:2121"), proxy, settings));
    EXPECT_EQ(settings.writes, QStringList{QStringLiteral("useProxy=Falsch")});
    EXPECT_EQ(MasterDataStore(db).loadFtpServer(), QStringLiteral("ftp.shop.example:2121"));

    settings.writes.clear();
    proxy = {true, "proxy.lan", "ftpproxy.lan", "8080", "2121", "anna", "geheim"};
    ASSERT_TRUE(saveFtpSettings(db, QStringLiteral("ftp2.shop.example"), proxy, settings));
    EXPECT_EQ(settings.writes,
              (QStringList{"useProxy=Wahr", "HProxy=proxy.lan", "FProxy=ftpproxy.lan",
                           "HProxP=8080", "FProxP=2121", "ProxyU=anna", "ProxyP=geheim"}));
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("FTPDaten")), 1);
    EXPECT_EQ(MasterDataStore(db).loadFtpServer(), QStringLiteral("ftp2.shop.example"));
}

TEST_F(MasterDataFile, ChoosingAnotherFileSetsTheFlagAndSavesIntoIt) {
    const QString other = machine.path(QStringLiteral("anders.mdb"));
    ASSERT_TRUE(createAllTables(other, prompter));
    prompter.files = {other};
    DatabaseFileChoice choice(db, prompter, settings);
    EXPECT_EQ(choice.choose(db), other);
    EXPECT_TRUE(choice.otherFileChosen());
    MasterData m = filled();
    ASSERT_TRUE(saveMasterData(choice.databasePath(), m, settings));
    EXPECT_EQ(dbtest::rowCount(other, QStringLiteral("Stammdaten")), 1);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Stammdaten")), 0);
    EXPECT_EQ(settings.writes.last(), QStringLiteral("Databank=") + other);
    EXPECT_TRUE(
        restartMessage().startsWith(QStringLiteral("Sie haben eine neue Datenbank gewählt !\r")));
}

// Choosing the shown file again, cancelling the dialog, or choosing a file in a folder so
// deep that its path fills the client's setting buffer (it would be taken as no database at
// the next start: refused with the reason) keeps the old file and sets no flag.
TEST_F(MasterDataFile, AChoiceThatIsNoOtherUsableFileKeepsTheOldOne) {
    const QString deep = machine.path(QString(60, QLatin1Char('o')) + QLatin1Char('/') +
                                      QString(60, QLatin1Char('p')) + QStringLiteral("/jobs.mdb"));
    ASSERT_GE(deep.size(), 150);
    const struct {
        const char* name;
        QStringList files;
        QString reason;
    } cases[] = {{"the shown file", {db}, {}},
                 {"cancelled", {}, {}},
                 {"path too long", {deep}, QStringLiteral("höchstens 149 Zeichen")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompter = ScriptedPrompter{};
        prompter.files.assign(c.files.begin(), c.files.end());
        settings.writes.clear();
        DatabaseFileChoice choice(db, prompter, settings);
        EXPECT_EQ(choice.choose(db), db);
        EXPECT_FALSE(choice.otherFileChosen());
        EXPECT_EQ(settings.writes, QStringList{QStringLiteral("Databank=") + db});
        ASSERT_EQ(prompter.shown.size(), c.reason.isEmpty() ? 1 : 2);
        EXPECT_EQ(prompter.shown[0].text, QStringLiteral("Datenbank-Datei (*.mdb)|*.mdb;"));
        EXPECT_EQ(prompter.shown[0].title, machine.systemDrive()) << "initial folder";
        if (!c.reason.isEmpty()) {
            EXPECT_TRUE(prompter.shown[1].text.contains(c.reason))
                << prompter.shown[1].text.toStdString();
        }
    }
}

class Editor : public MasterDataFile {};

TEST_F(Editor, NewNumbersFollowTheHighestAndDoNotFillGaps) {
    Database file(db);
    RecordEditor editor(file, EditorConfig::projects());
    EXPECT_EQ(editor.maximumNumber(), 0);
    EXPECT_EQ(editor.newRecord()->number, 1);
    EXPECT_EQ(editor.newRecord()->number, 2);
    dbtest::execSql(db, QStringLiteral("INSERT INTO Projekte (ProNumber) VALUES (5)"));
    const auto six = editor.newRecord();
    ASSERT_TRUE(six.has_value());
    EXPECT_EQ(*six, (EditorRecord{6, {}, {}, {}, {}, {}, {}}));
    EXPECT_EQ(editor.maximumNumber(), 6);
    EXPECT_EQ(editor.seek(6), six);
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Projekte")), 4);
}

TEST_F(Editor, SaveWritesTheTextsAndSeekShowsThem) {
    Database file(db);
    RecordEditor editor(file, EditorConfig::deliveryAddresses());
    EditorRecord r = *editor.newRecord();
    r.name1 = QStringLiteral("Baustelle Nord");
    r.street = QStringLiteral("Am Ring 1");
    r.plzOrt = QString(81, QLatin1Char('o')); // too long: left out
    ASSERT_TRUE(editor.save(r));
    const auto shown = editor.seek(1);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->name1, QStringLiteral("Baustelle Nord"));
    EXPECT_EQ(shown->street, QStringLiteral("Am Ring 1"));
    EXPECT_EQ(shown->plzOrt, QString());
    EXPECT_FALSE(editor.seek(2).has_value()) << "no record: the window keeps what it shows";
    EXPECT_EQ(loadDeliveryLabels(file), QStringList{QStringLiteral("1 | Baustelle Nord")});
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Projekte")), 0);
}

TEST_F(Editor, DeleteThenSaveLeavesTheNoteAndClearsTheRest) {
    Database file(db);
    RecordEditor editor(file, EditorConfig::projects());
    EditorRecord r = *editor.newRecord();
    r.name1 = QStringLiteral("Neubau");
    r.name2 = QStringLiteral("Halle 3");
    r.contact = QStringLiteral("Meier");
    ASSERT_TRUE(editor.save(r));
    const EditorRecord marked = RecordEditor::markedDeleted(r, QDate(2026, 12, 6));
    EXPECT_EQ(editor.seek(1), r) << "marking alone changes nothing in the table";
    ASSERT_TRUE(editor.save(marked));
    EXPECT_EQ(editor.seek(1),
              (EditorRecord{1, QStringLiteral("gelöscht am: 06.12.2026"), {}, {}, {}, {}, {}}));
    EXPECT_EQ(loadProjectLabels(file, QString()),
              QStringList{QStringLiteral("1 | gelöscht am: 06.12.2026")});
}

TEST_F(Editor, SavingANumberWithoutRecordStoresTheNumberToo) {
    Database file(db);
    RecordEditor editor(file, EditorConfig::projects());
    ASSERT_TRUE(editor.save({17, QStringLiteral("Neu"), {}, {}, {}, {}, {}}));
    EXPECT_EQ(editor.seek(17)->name1, QStringLiteral("Neu"));
    EXPECT_EQ(editor.maximumNumber(), 17);
}

TEST_F(Editor, NoNumberBeyondTheScrollBarsRange) {
    Database file(db);
    RecordEditor editor(file, EditorConfig::projects());
    dbtest::execSql(db, QStringLiteral("INSERT INTO Projekte (ProNumber) VALUES (32767)"));
    EXPECT_FALSE(editor.newRecord().has_value());
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Projekte")), 1);
}
