// A job sent from the main window as a worker sends it: the window loads the shop's
// catalogue, the rows get their settings, FTP-Senden is pressed, and the archive arrives
// at the print shop while the window stays responsive; afterwards the file list is empty.
#include "cli/sendworkstation.h"
#include "client/compose/filelistmodel.h"
#include "client/jobdb/database.h"
#include "client/startup/settings.h"
#include "client/ui/frmmain.h"
#include "client/ui/jobpanel.h"
#include "support/recordingwriter.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

using namespace kestro;
using kestro::test::SendWorkstation;

namespace {

class AlwaysDelivered : public ServiceMessageSender {
public:
    bool send(const QString&) override { return true; }
};

// Waits until `done` holds, running the event loop; records the longest gap between two
// turns of the loop, which is how long the window could not react.
bool waitFor(const std::function<bool()>& done, int timeoutMs, qint64* longestGapMs) {
    QElapsedTimer total, gap;
    total.start();
    gap.start();
    while (!done()) {
        if (total.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
        *longestGapMs = std::max(*longestGapMs, gap.restart() - 5);
    }
    return true;
}

// A workstation with a print shop on loopback and the main window loaded on it, the
// shop's catalogue already in its lists.
class MainWindowSend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
        config = DeployConfig::load(ws.machine.configFile());
        state.clientDataFolder = ws.machine.clientDataFolder();
        state.databasePath = ws.databasePath;
        window = std::make_unique<ui::FrmMain>(
            ui::MainWindowContext{state, config, prompter, writer, service});
        QSignalSpy catalogue(window.get(), &ui::FrmMain::catalogueLoaded);
        window->show();
        window->formLoad();
        ASSERT_TRUE(catalogue.wait(20000));
        ASSERT_TRUE(catalogue.at(0).at(0).toBool());
    }
    QPushButton* button(const char* name) {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    SendWorkstation ws;
    DeployConfig config;
    startup::ClientState state;
    ScriptedPrompter prompter;
    test::RecordingWriter writer;
    AlwaysDelivered service;
    std::unique_ptr<ui::FrmMain> window;
};

} // namespace

TEST_F(MainWindowSend, AJobSentFromTheWindowArrivesAndTheListIsCleared) {
    EXPECT_EQ(state.ftp.server, ws.value("ftpServer"));
    EXPECT_GT(window->findChild<QComboBox*>(QStringLiteral("cboColor"))->count(), 0);

    const QString a = ws.machine.writeFile(QStringLiteral("eg/plan.pdf"), "%PDF erdgeschoss");
    const QString b = ws.machine.writeFile(QStringLiteral("og/plan.pdf"), "%PDF obergeschoss");
    compose::FileListModel& model = window->jobPanel()->model();
    model.appendFiles({{QStringLiteral("plan.pdf"), a}, {QStringLiteral("plan.pdf"), b}});
    model.apply({0, 1}, {QStringLiteral("2"), QStringLiteral("farbig"), QStringLiteral("heften"),
                         QStringLiteral("keine"), QStringLiteral("keine")});

    QPushButton* send = button("cmdFTPSend");
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_FALSE(send->isEnabled());
    qint64 longestGap = 0;
    // The list is cleared once the upload is confirmed; the send ends after the mail.
    ASSERT_TRUE(
        waitFor([&] { return model.rowCount() == 0 && send->isEnabled(); }, 60000, &longestGap))
        << prompter.texts().join(QLatin1Char('|')).toStdString();

    const QStringList uploaded = ws.uploadedFiles();
    ASSERT_EQ(uploaded.size(), 1);
    EXPECT_TRUE(uploaded[0].endsWith(QStringLiteral(".zip")));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_EQ(ws.mails().size(), 1);
    EXPECT_FALSE(button("cmdFTPAbort")->isEnabled());
    EXPECT_GT(window->findChild<QListWidget*>(QStringLiteral("lstStatus"))->count(), 0);
    // No message box interrupted the worker on the way.
    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    // Not a timing test: a gap of seconds would mean the send ran on the window's thread.
    EXPECT_LT(longestGap, 2000);
}

TEST_F(MainWindowSend, AnEmptyJobIsRefusedWithTheMessage) {
    QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
    qint64 gap = 0;
    ASSERT_TRUE(waitFor([&] { return !prompter.shown.empty(); }, 30000, &gap));
    EXPECT_EQ(prompter.shown.back().text, QStringLiteral("keine Daten zum versenden vorhanden !"));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
}

// The database refuses the record after the upload: the worker is told in a message box
// that the job arrived but waits to be recorded, and the next send records it.
TEST_F(MainWindowSend, AJobTheDatabaseRefusesIsAnnouncedAndRecordedByTheNextSend) {
    auto sql = [&](const QString& statement) {
        jobdb::Database db(ws.databasePath);
        QSqlQuery q(db.connection());
        return q.exec(statement);
    };
    ASSERT_TRUE(sql(QStringLiteral("CREATE TRIGGER voll BEFORE INSERT ON JobDaten BEGIN "
                                   "SELECT RAISE(ABORT, 'database or disk is full'); END")));
    const QString plan = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF plan");
    compose::FileListModel& model = window->jobPanel()->model();
    auto sendPlan = [&] {
        model.appendFiles({{QStringLiteral("plan.pdf"), plan}});
        model.apply({0}, {QStringLiteral("1"), QStringLiteral("farbig"), QStringLiteral("heften"),
                          QStringLiteral("keine"), QStringLiteral("keine")});
        QPushButton* send = button("cmdFTPSend");
        QTest::mouseClick(send, Qt::LeftButton);
        qint64 gap = 0;
        return waitFor([&] { return model.rowCount() == 0 && send->isEnabled(); }, 60000, &gap);
    };
    ASSERT_TRUE(sendPlan()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith(
        QStringLiteral("Der Auftrag 1 (%1) ist bei der Druckerei angekommen, konnte aber nicht "
                       "in der Datenbank gespeichert werden")
            .arg(ws.uploadedFiles().value(0))))
        << prompter.shown[0].text.toStdString();
    EXPECT_EQ(ws.mails().size(), 1);

    ASSERT_TRUE(sql(QStringLiteral("DROP TRIGGER voll")));
    ASSERT_TRUE(sendPlan());
    const QListWidget* status = window->findChild<QListWidget*>(QStringLiteral("lstStatus"));
    EXPECT_FALSE(status
                     ->findItems(QStringLiteral("Auftrag 1 wurde in der Datenbank nachgetragen."),
                                 Qt::MatchExactly)
                     .isEmpty());
    jobdb::Database db(ws.databasePath);
    QSqlQuery q(db.connection());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT group_concat(JobNumber) FROM JobDaten")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("1,2"));
}
