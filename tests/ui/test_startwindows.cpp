#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/masterdata.h"
#include "client/startup/settings.h"
#include "client/ui/frminfo.h"
#include "client/ui/frmmain.h"
#include "client/ui/frmstammdat.h"
#include "client/ui/frmwelcom.h"
#include "common/gui/qtprompter.h"
#include "support/testenv.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include "support/pgserver.h"
#include "support/recordingwriter.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace kestro;
using namespace kestro::ui;
using kestro::test::press;
using kestro::test::RecordingWriter;
using kestro::test::TestMachine;

TEST(Prompter, FilterAndLineBreaks) {
    EXPECT_EQ(gui::QtPrompter::qtFilter("Datenbank-Datei (*.mdb)|*.mdb;"),
              "Datenbank-Datei (*.mdb)");
    EXPECT_EQ(gui::QtPrompter::displayText("a\rb\r\nc"), "a\nb\nc");
}

class MasterDataWindow : public ::testing::Test {
protected:
    void SetUp() override {
        dbPath = machine.path("jobs.mdb");
        ASSERT_TRUE(jobdb::createAllTables(dbPath, prompter));
    }
    FrmStammdat::Context context() {
        return {dbPath, master, prompter, writer, [this] { ++reloads; }, [this] { ++ends; }};
    }
    static QLineEdit* text(QWidget& w, const char* name) { return test::child<QLineEdit>(w, name); }
    TestMachine machine;
    ScriptedPrompter prompter;
    RecordingWriter writer;
    QString dbPath;
    jobdb::MasterData master;
    int reloads = 0;
    int ends = 0;
};

// OK saves the record, the VAT rule and the database's path, and the window shows them again;
// another file chosen there gets the record and the program ends to start on it.
TEST_F(MasterDataWindow, OkSavesTheRecordAndAnotherFileEndsTheProgram) {
    const QString first = dbPath;
    {
        FrmStammdat window(context());
        test::saveScreenshot(&window, "frmStammdat");
        EXPECT_EQ(text(window, "Text4")->text(), "16");
        EXPECT_EQ(text(window, "Text15")->text(), dbPath);
        text(window, "Text1")->setText("Müller & Söhne");
        text(window, "Text4")->setText("0");
        test::child<QCheckBox>(window, "Check3")->setChecked(true);
        press(window, "cmdOK");
        EXPECT_EQ(window.result(), QDialog::Accepted);
    }
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(writer.writes, QStringList({"Databank=" + dbPath}));
    jobdb::MasterData stored;
    ASSERT_TRUE(jobdb::MasterDataStore(dbPath).load(stored));
    EXPECT_EQ(stored.name, "Müller & Söhne");
    EXPECT_EQ(stored.vatRate, 19.0f);
    EXPECT_EQ(stored.sortProjectsByName1, "1");

    FrmStammdat again(context());
    EXPECT_EQ(text(again, "Text4")->text(), "19");
    EXPECT_TRUE(test::child<QCheckBox>(again, "Check3")->isChecked());
    const QString other = machine.path("other.mdb");
    ASSERT_TRUE(jobdb::createAllTables(other, prompter));
    prompter.files.push_back(other);
    press(again, "cmdDatabank");
    EXPECT_EQ(text(again, "Text15")->text(), other);
    text(again, "Text1")->setText("Neue Firma");
    press(again, "cmdOK");
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(prompter.texts().last().startsWith("Sie haben eine neue Datenbank gewählt !"));
    jobdb::MasterData inOther, inFirst;
    jobdb::MasterDataStore(other).load(inOther);
    jobdb::MasterDataStore(first).load(inFirst);
    EXPECT_EQ(dbPath, other); // the program-wide path now names the chosen file
    EXPECT_EQ(inOther.name, "Neue Firma");
    EXPECT_EQ(inFirst.name, "Müller & Söhne");
    EXPECT_EQ(writer.writes.last(), "Databank=" + other);
}

// A server address shows without its password, and OK keeps the address as it was set.
TEST_F(MasterDataWindow, AServerAddressIsShownWithoutItsPassword) {
    test::PgServer* server = test::PgServer::shared();
    ASSERT_TRUE(server);
    const QString plain = server->createDatabase("stammdaten");
    ASSERT_FALSE(plain.isEmpty());
    dbPath = QString(plain).replace("kestro@", "kestro:Ge%2Fheim@");
    ASSERT_TRUE(jobdb::createAllTables(dbPath, prompter));
    FrmStammdat window(context());
    EXPECT_EQ(text(window, "Text15")->text(), plain);
    press(window, "cmdOK");
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(writer.writes.last(), "Databank=" + dbPath);
}

// A database that cannot be written or read is named in a box; the window stays open
// with what was typed, so that the worker never believes the data stored.
TEST_F(MasterDataWindow, AFailedSaveOrLoadIsShownAndTheWindowStaysOpen) {
    FrmStammdat window(context());
    window.show();
    ASSERT_TRUE(QFile::remove(dbPath));
    machine.writeFile("jobs.mdb", QByteArray(4096, 'z'));
    text(window, "Text1")->setText("Neue Firma");
    press(window, "cmdOK");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(
        prompter.shown[0].text.startsWith("Die Stammdaten konnten nicht gespeichert werden:\r"));
    EXPECT_GT(prompter.shown[0].text.size(), 52) << "the engine's reason follows";
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(reloads, 0);
    EXPECT_EQ(text(window, "Text1")->text(), "Neue Firma");

    const QString broken = machine.writeFile("kaputt.mdb", QByteArray(4096, 'y'));
    prompter.files.push_back(broken);
    press(window, "cmdDatabank");
    EXPECT_TRUE(
        prompter.texts().last().startsWith("Die Stammdaten konnten nicht gelesen werden:\r"));
    // OK cannot save into the chosen file either: the next start keeps the database.
    press(window, "cmdOK");
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(writer.writes.last(), "Databank=" + machine.path("jobs.mdb"));
}

// "Update" asks the service for a newer version; closing then stores no start folder,
// an ordinary close stores it.
TEST(MainWindow, UpdateMenuAndUnloadSteps) {
    TestMachine m;
    startup::ClientState state;
    state.startFolder = "/srv/plaene";
    state.rememberLastFolder = "yes";
    DeployConfig config;
    ScriptedPrompter prompter;
    RecordingWriter writer;
    test::RecordingService service;
    // The welcome and info windows are drawn for the screenshots of every window.
    FrmWelcom welcome(config);
    test::saveScreenshot(&welcome, "frmWelcom");
    FrmInfo info(config);
    test::saveScreenshot(&info, "frmInfo");
    {
        FrmMain window({state, config, prompter, writer, service});
        test::child<QAction>(window, "mnuUpdSoft")->trigger();
        EXPECT_EQ(service.sent, QStringList{"searchingUpdate|KestroFTP-Client||1.0.41"});
        EXPECT_TRUE(state.updateRequested);
        window.close();
    }
    // An update was requested: the start folder is not stored.
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_TRUE(state.closing);

    state.updateRequested = false;
    {
        FrmMain window({state, config, prompter, writer, service});
        window.show();
        window.close();
    }
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=/srv/plaene"}));
}
