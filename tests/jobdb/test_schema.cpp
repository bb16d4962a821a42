// The file's tables, creating them, the version check, the column rules of the store, files
// that are not databases at all, and the master data, FTP data and file choice kept in them.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/recordeditor.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/schema.h"
#include "common/prompter.h"
#include "jobdbtestutil.h"
#include "support/recordingwriter.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <deque>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::jobdb;

namespace {

// The seven layouts written out as "name:type:size", in creation order.
const QStringList kExpectedLayouts{
    "JobDaten|JobNumber:4:4|Kostenstelle:10:25|Projekt:10:100|Termin:10:100|Termin2:10:100|"
    "User:10:80|PCName:10:80|Name:10:80|Street:10:80|plz:10:100|Anspr:10:100|SteuerNr:10:30|"
    "UstNr:10:30|FunkTel:10:25|Fax:10:25|Telefon:10:25|EMail:10:55|Web:10:80|PfadFile:10:25|"
    "Datum:10:10|Uhrzeit:10:8|LieferNr:10:100|LieferName1:10:100|LieferName2:10:100|"
    "LieferName3:10:100|LieferStreet:10:100|LieferOrt:10:100|LieferAnspr:10:100|Memo:12:12",
    "FileDaten|LaufNR:4:4|JobNumber:4:4|FileNumber:4:4|Filename:10:255|FilePath:10:255|"
    "FileTitel:10:255|Anzahl:4:4|Color:10:20|Verarbeitung1:10:255|Verarbeitung2:10:255|"
    "Verarbeitung3:10:255|Datum:10:10",
    "Stammdaten|Name:10:80|Street:10:80|plz:10:80|Anspr:10:80|SteuerNr:10:30|UstNr:10:30|"
    "MwSt:10:2|FunkTel:10:25|Fax:10:25|Telefon:10:25|BankName:10:55|EMail:10:55|Web:10:80|"
    "BankBLZ:10:25|BankKTO:10:25|BarzahlerRabat:10:25|ArtikelBrutto:10:25|Kostenstelle:10:25|"
    "Projekt:10:100|ProjNam1Sort:10:25",
    "FTPDaten|FTPServer:10:100|FTPUser:10:50|FTPPw:10:50|EMail:10:100",
    "Version|Version:10:20",
    "LieferAdr|LiefNumber:4:4|Name1:10:80|Name2:10:80|Name3:10:80|Street:10:80|plzOrt:10:80|"
    "Anspr:10:80",
    "Projekte|ProNumber:4:4|Name1:10:80|Name2:10:80|Name3:10:80|Street:10:80|plzOrt:10:80|"
    "Anspr:10:80",
    "JobReserviert|JobNumber:4:4|Reserviert:10:19|PCName:10:80|User:10:80",
};

QString describe(const TableLayout& l) {
    QStringList parts{l.name};
    for (const ColumnSpec& c : l.columns)
        parts << QStringLiteral("%1:%2:%3").arg(c.name).arg(int(c.type)).arg(c.size);
    return parts.join(QLatin1Char('|'));
}

class Schema : public ::testing::Test {
protected:
    QString path(const char* name) const { return machine.path(name); }
    test::TestMachine machine;
    ScriptedPrompter prompter;
};

class MasterDataFile : public Schema {
protected:
    void SetUp() override { ASSERT_TRUE(createAllTables(db, prompter)); }
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

// A new file holds every layout, no keys or defaults (rows read back in the order written),
// one Version row; a second build of a table leaves the one there alone.
TEST_F(Schema, NewFileHoldsTheSevenLayoutsTheReservationsAndOneVersionRow) {
    const QString db = path("neu.mdb");
    ASSERT_TRUE(createAllTables(db, prompter));
    EXPECT_FALSE(createTable(db, "version", prompter));
    EXPECT_TRUE(prompter.shown.empty());
    Database file(db);
    QStringList stored;
    for (const TableLayout& l : tableLayouts())
        stored << describe(storedLayout(file.connection(), l.name));
    EXPECT_EQ(stored, kExpectedLayouts);
    EXPECT_EQ(dbtest::rowTexts(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY "
                                   "rowid"),
              (QStringList{"JobDaten", "FileDaten", "Stammdaten", "FTPDaten", "Version",
                           "LieferAdr", "Projekte", "JobReserviert"}));
    EXPECT_EQ(dbtest::rowTexts(db, "SELECT m.name, c.name FROM sqlite_master m, pragma_table_info("
                                   "m.name) c WHERE c.pk <> 0 OR c.dflt_value IS NOT NULL OR "
                                   "c.\"notnull\" <> 0"),
              QStringList{});
    EXPECT_EQ(dbtest::rowTexts(db, "SELECT Version FROM Version"), QStringList{"1.0.41"});
    EXPECT_EQ(dbtest::rowTexts(db, "PRAGMA journal_mode"), QStringList{"delete"});
}

TEST_F(Schema, BuildErrorIsShownAsAnEngineError) {
    EXPECT_FALSE(createTable(path("fehlt/neu.mdb"), "JobDaten", prompter));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith("Fehler !!!\r\n"));
    EXPECT_EQ(prompter.shown[0].title, "FEHLER...");
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
}

TEST_F(Schema, VersionCheckStripsTrailingSpacesOnly) {
    const QString db = path("v.mdb");
    dbtest::makeOldDatabase(db, {{"Version", {}}}, {"1.0.41   "});
    EXPECT_TRUE(versionMatches(db));
    dbtest::execSql(db, "UPDATE Version SET Version = ' 1.0.41'");
    EXPECT_FALSE(versionMatches(db));
    dbtest::execSql(db, "DELETE FROM Version");
    EXPECT_FALSE(versionMatches(db)) << "no row";
    dbtest::execSql(db, "INSERT INTO Version VALUES ('1.0.41'), ('1.0.40')");
    EXPECT_TRUE(versionMatches(db)) << "the first row counts";
    dbtest::execSql(db, "DROP TABLE Version");
    EXPECT_FALSE(versionMatches(db)) << "no table";
    EXPECT_FALSE(versionMatches(path("fehlt.mdb")));
}

// An empty file, a text, a damaged file and a folder read as no database, and none of them
// is turned into one.
TEST_F(Schema, FilesThatAreNoDatabaseReadAsAbsent) {
    const QString empty = machine.writeFile("leer.mdb", QByteArray());
    const QString folder = path("ordner.mdb");
    QDir().mkpath(folder);
    for (const QString& p : {empty, machine.writeFile("text.mdb", QByteArray(500, 'a')),
                             machine.writeFile("kaputt.mdb", QByteArray("SQLite format 3", 16) +
                                                                 QByteArray(4000, '\xff')),
                             folder}) {
        SCOPED_TRACE(p.toStdString());
        Database db(p);
        EXPECT_FALSE(db.isOpen());
        EXPECT_FALSE(db.errorText().isEmpty());
        EXPECT_FALSE(versionMatches(p));
        EXPECT_TRUE(loadDeliveryLabels(db).isEmpty());
        MasterData m;
        m.name = "bleibt";
        EXPECT_FALSE(MasterDataStore(p).load(m));
        EXPECT_EQ(m.name, "bleibt");
        EXPECT_FALSE(MasterDataStore(p).save(m));
    }
    EXPECT_EQ(QFile(empty).size(), 0);
}

// A value that does not fit its column is left out and the row is written; an empty text is
// stored as Null; names match without regard to case; read back, trailing blanks go.
TEST_F(Schema, ValuesThatDoNotFitAreLeftOutColumnByColumn) {
    const QString db = path("neu.mdb");
    ASSERT_TRUE(createAllTables(db, prompter));
    {
        Database file(db);
        RowValues row(*findLayout("FileDaten"));
        EXPECT_TRUE(row.set("laufnr", 7));
        EXPECT_FALSE(row.set("Anzahl", "drei"));
        EXPECT_FALSE(row.set("FileNumber", "3000000000"));
        EXPECT_FALSE(row.set("Color", QString(21, QLatin1Char('c'))));
        EXPECT_TRUE(row.set("Verarbeitung1", QString(255, QChar(0x00FC))));
        EXPECT_TRUE(row.set("filename", "plan.pdf   "));
        EXPECT_TRUE(row.set("Verarbeitung2", QString()));
        EXPECT_FALSE(row.set("Farbe", "rot"));
        ASSERT_TRUE(insertRow(file.connection(), row));
    }
    EXPECT_EQ(dbtest::rowTexts(db, "SELECT LaufNR, Anzahl, FileNumber, Color, Verarbeitung1, "
                                   "Filename, Verarbeitung2 FROM FileDaten"),
              QStringList{"7|∅|∅|∅|" + QString(255, QChar(0x00FC)) + "|plan.pdf   |∅"});
    EXPECT_EQ(cleanText(QStringLiteral("plan.pdf   ")), "plan.pdf");
    EXPECT_EQ(cleanText(QVariant(QMetaType::fromType<QString>())), QString());
}

// The creation question and its answers: Yes builds the file; No with an existing file uses
// it without asking; No with a new name asks again for that name; No and no file chosen
// creates nothing, and the start ends.
TEST_F(Schema, CreationFollowsTheAnswers) {
    const QString fresh = path("neu.mdb");
    const QString existing = path("alt.mdb");
    const QString other = path("anders.mdb");
    ASSERT_TRUE(createAllTables(existing, prompter));
    using Kind = CreationOutcome::Kind;
    const struct {
        std::deque<bool> answers;
        std::deque<QString> files;
        Kind kind;
        QString databasePath;
        size_t questions;
    } cases[] = {
        {{true}, {}, Kind::Created, fresh, 1},
        {{false}, {existing}, Kind::ChoseExisting, existing, 2},
        {{false, true}, {other}, Kind::Created, other, 3},
        {{false}, {}, Kind::Cancelled, fresh, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.databasePath.toStdString() + " " + std::to_string(c.questions));
        QFile::remove(fresh);
        prompter = ScriptedPrompter{};
        prompter.answers = c.answers;
        prompter.files = c.files;
        const CreationOutcome out = createDatabase(fresh, prompter);
        EXPECT_EQ(out.kind, c.kind);
        EXPECT_EQ(out.databasePath, c.databasePath);
        EXPECT_EQ(out.newDatabase, c.kind == Kind::Created);
        EXPECT_EQ(versionMatches(c.databasePath), c.kind != Kind::Cancelled);
        ASSERT_EQ(prompter.shown.size(), c.questions);
        EXPECT_EQ(prompter.shown[0].text,
                  "Die Datenbank kann nun erstellt werden !\rNeu erstellen ?");
        EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
        EXPECT_EQ(prompter.shown[0].title, "KestroClient");
        if (c.questions > 1) {
            EXPECT_EQ(prompter.shown[1].kind, ScriptedPrompter::Shown::Kind::FileDialog);
            EXPECT_EQ(prompter.shown[1].text, "Datenbank-Datei (*.mdb)|*.mdb;");
            EXPECT_EQ(prompter.shown[1].title, machine.systemDrive()) << "initial folder";
        }
        EXPECT_EQ(QFile::exists(fresh), c.databasePath == fresh && c.kind == Kind::Created);
    }
    prompter = ScriptedPrompter{};
    EXPECT_EQ(prepareDatabase(fresh, prompter).kind, StartupDatabase::Kind::Cancelled);
}

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
