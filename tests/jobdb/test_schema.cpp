// The file's tables, creating them, the version check, the column rules of the store, and
// files that are not databases at all.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/schema.h"
#include "common/prompter.h"
#include "jobdbtestutil.h"
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
    QString path(const QString& name) const { return machine.path(name); }
    test::TestMachine machine;
    ScriptedPrompter prompter;
};

} // namespace

TEST_F(Schema, NewFileHoldsTheSevenLayoutsTheReservationsAndOneVersionRow) {
    const QString db = path(QStringLiteral("neu.mdb"));
    ASSERT_TRUE(createAllTables(db, prompter));
    EXPECT_TRUE(prompter.shown.empty());
    Database file(db);
    QStringList stored;
    for (const TableLayout& l : tableLayouts())
        stored << describe(storedLayout(file.connection(), l.name));
    EXPECT_EQ(stored, kExpectedLayouts);
    const auto tables = dbtest::queryRows(
        db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"));
    QStringList names;
    for (const auto& r : tables)
        names << r[0].toString();
    EXPECT_EQ(names, (QStringList{"JobDaten", "FileDaten", "Stammdaten", "FTPDaten", "Version",
                                  "LieferAdr", "Projekte", "JobReserviert"}));
    EXPECT_TRUE(dbtest::queryRows(db, QStringLiteral("SELECT 1 FROM pragma_table_info('JobDaten') "
                                                     "WHERE pk <> 0 OR dflt_value IS NOT NULL OR "
                                                     "\"notnull\" <> 0"))
                    .isEmpty());
    const auto version = dbtest::queryRows(db, QStringLiteral("SELECT Version FROM Version"));
    ASSERT_EQ(version.size(), 1);
    EXPECT_EQ(version[0][0].toString(), QStringLiteral("1.0.41"));
    EXPECT_EQ(dbtest::queryRows(db, QStringLiteral("PRAGMA journal_mode"))[0][0].toString(),
              QStringLiteral("delete"));
}

TEST_F(Schema, CreateTableLeavesAnExistingTableAlone) {
    const QString db = path(QStringLiteral("neu.mdb"));
    EXPECT_TRUE(createTable(db, QStringLiteral("Version"), prompter));
    EXPECT_FALSE(createTable(db, QStringLiteral("version"), prompter));
    EXPECT_EQ(dbtest::rowCount(db, QStringLiteral("Version")), 1);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Schema, BuildErrorIsShownAsAnEngineError) {
    EXPECT_FALSE(
        createTable(path(QStringLiteral("fehlt/neu.mdb")), QStringLiteral("JobDaten"), prompter));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith(QStringLiteral("Fehler !!!\r\n")));
    EXPECT_EQ(prompter.shown[0].title, QStringLiteral("FEHLER..."));
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
}

TEST_F(Schema, VersionCheckStripsTrailingSpacesOnly) {
    const QString db = path(QStringLiteral("v.mdb"));
    dbtest::makeOldDatabase(db, {{QStringLiteral("Version"), {}}}, {QStringLiteral("1.0.41   ")});
    EXPECT_TRUE(versionMatches(db));
    dbtest::execSql(db, QStringLiteral("UPDATE Version SET Version = ' 1.0.41'"));
    EXPECT_FALSE(versionMatches(db));
    dbtest::execSql(db, QStringLiteral("DELETE FROM Version"));
    EXPECT_FALSE(versionMatches(db)) << "no row";
    dbtest::execSql(db, QStringLiteral("INSERT INTO Version VALUES ('1.0.41'), ('1.0.40')"));
    EXPECT_TRUE(versionMatches(db)) << "the first row counts";
    dbtest::execSql(db, QStringLiteral("DROP TABLE Version"));
    EXPECT_FALSE(versionMatches(db)) << "no table";
    EXPECT_FALSE(versionMatches(path(QStringLiteral("fehlt.mdb"))));
}

TEST_F(Schema, FilesThatAreNoDatabaseReadAsAbsent) {
    const QString empty = machine.writeFile(QStringLiteral("leer.mdb"), QByteArray());
    const QString text = machine.writeFile(QStringLiteral("text.mdb"), QByteArray(500, 'a'));
    QByteArray fake("SQLite format 3", 16);
    fake += QByteArray(4000, '\xff');
    const QString damaged = machine.writeFile(QStringLiteral("kaputt.mdb"), fake);
    const QString folder = path(QStringLiteral("ordner.mdb"));
    QDir().mkpath(folder);
    for (const QString& p : {empty, text, damaged, folder}) {
        SCOPED_TRACE(p.toStdString());
        Database db(p);
        EXPECT_FALSE(db.isOpen());
        EXPECT_FALSE(db.errorText().isEmpty());
        EXPECT_FALSE(versionMatches(p));
        EXPECT_TRUE(loadDeliveryLabels(db).isEmpty());
        MasterData m;
        m.name = QStringLiteral("bleibt");
        EXPECT_FALSE(MasterDataStore(p).load(m));
        EXPECT_EQ(m.name, QStringLiteral("bleibt"));
        EXPECT_FALSE(MasterDataStore(p).save(m));
    }
    EXPECT_EQ(QFile(empty).size(), 0) << "an empty file is not turned into a database";
}

TEST_F(Schema, ValuesThatDoNotFitAreLeftOutColumnByColumn) {
    const QString db = path(QStringLiteral("neu.mdb"));
    ASSERT_TRUE(createAllTables(db, prompter));
    {
        Database file(db);
        RowValues row(*findLayout(QStringLiteral("FileDaten")));
        EXPECT_TRUE(row.set(QStringLiteral("laufnr"), 7));
        EXPECT_FALSE(row.set(QStringLiteral("Anzahl"), QStringLiteral("drei")));
        EXPECT_FALSE(row.set(QStringLiteral("FileNumber"), QStringLiteral("3000000000")));
        EXPECT_FALSE(row.set(QStringLiteral("Color"), QString(21, QLatin1Char('c'))));
        EXPECT_TRUE(row.set(QStringLiteral("Verarbeitung1"), QString(255, QChar(0x00FC))));
        EXPECT_TRUE(row.set(QStringLiteral("filename"), QStringLiteral("plan.pdf   ")));
        EXPECT_TRUE(row.set(QStringLiteral("Verarbeitung2"), QString()));
        EXPECT_FALSE(row.set(QStringLiteral("Farbe"), QStringLiteral("rot")));
        ASSERT_TRUE(insertRow(file.connection(), row));
    }
    const auto rows = dbtest::queryRows(
        db, QStringLiteral("SELECT LaufNR, Anzahl, FileNumber, Color, Verarbeitung1, Filename, "
                           "Verarbeitung2 FROM FileDaten"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toInt(), 7);
    EXPECT_TRUE(rows[0][1].isNull());
    EXPECT_TRUE(rows[0][2].isNull());
    EXPECT_TRUE(rows[0][3].isNull());
    EXPECT_EQ(rows[0][4].toString().size(), 255);
    EXPECT_EQ(cleanText(rows[0][5]), QStringLiteral("plan.pdf"));
    EXPECT_TRUE(rows[0][6].isNull()) << "empty text is stored as Null";
    EXPECT_EQ(cleanText(rows[0][6]), QString());
}

TEST_F(Schema, RowsReadBackInInsertionOrder) {
    const QString db = path(QStringLiteral("neu.mdb"));
    ASSERT_TRUE(createAllTables(db, prompter));
    for (int n : {5, 1, 3})
        dbtest::execSql(db, QStringLiteral("INSERT INTO Version (Version) VALUES (?)"), {n});
    const auto rows =
        dbtest::queryRows(db, QStringLiteral("SELECT Version FROM Version ORDER BY rowid"));
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[1][0].toString() + rows[2][0].toString() + rows[3][0].toString(),
              QStringLiteral("513"));
}

// The creation question and its answers: Yes builds the file; No with an existing file uses
// it without asking; No with a new name asks again for that name.
TEST_F(Schema, CreationFollowsTheAnswers) {
    const QString fresh = path(QStringLiteral("neu.mdb"));
    const QString existing = path(QStringLiteral("alt.mdb"));
    const QString other = path(QStringLiteral("anders.mdb"));
    ASSERT_TRUE(createAllTables(existing, prompter));
    const struct {
        std::deque<bool> answers;
        std::deque<QString> files;
        CreationOutcome::Kind kind;
        QString databasePath;
        size_t questions;
    } cases[] = {
        {{true}, {}, CreationOutcome::Kind::Created, fresh, 1},
        {{false}, {existing}, CreationOutcome::Kind::ChoseExisting, existing, 2},
        {{false, true}, {other}, CreationOutcome::Kind::Created, other, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.databasePath.toStdString());
        QFile::remove(fresh);
        prompter = ScriptedPrompter{};
        prompter.answers = c.answers;
        prompter.files = c.files;
        const CreationOutcome out = createDatabase(fresh, prompter);
        EXPECT_EQ(out.kind, c.kind);
        EXPECT_EQ(out.databasePath, c.databasePath);
        EXPECT_EQ(out.newDatabase, c.kind == CreationOutcome::Kind::Created);
        EXPECT_TRUE(versionMatches(c.databasePath));
        ASSERT_EQ(prompter.shown.size(), c.questions);
        EXPECT_EQ(prompter.shown[0].text,
                  QStringLiteral("Die Datenbank kann nun erstellt werden !\rNeu erstellen ?"));
        EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
        EXPECT_EQ(prompter.shown[0].title, QStringLiteral("KestroClient"));
        if (c.questions > 1) {
            EXPECT_EQ(prompter.shown[1].kind, ScriptedPrompter::Shown::Kind::FileDialog);
            EXPECT_EQ(prompter.shown[1].text, QStringLiteral("Datenbank-Datei (*.mdb)|*.mdb;"));
            EXPECT_EQ(prompter.shown[1].title, machine.systemDrive()) << "initial folder";
        }
        EXPECT_EQ(QFile::exists(fresh), c.databasePath == fresh);
    }
}

TEST_F(Schema, CreationCancelledCreatesNothing) {
    prompter.answers = {false};
    const QString db = path(QStringLiteral("neu.mdb"));
    const CreationOutcome out = createDatabase(db, prompter);
    EXPECT_EQ(out.kind, CreationOutcome::Kind::Cancelled);
    EXPECT_FALSE(QFile::exists(db));
    EXPECT_EQ(noDatabaseMessage(),
              QStringLiteral("Ohne eine Datenbank kann KestroFTP - Client nicht ausgeführt "
                             "werden\rBitte starten Sie das Programm von neuen."));
    EXPECT_EQ(prepareDatabase(db, prompter).kind, StartupDatabase::Kind::Cancelled);
}
