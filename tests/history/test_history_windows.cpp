// "gesendete Aufträge" and "suchen..." driven as the worker drives them; the walk, the delete
// and the search themselves are checked on both engines in test_history.
#include "client/jobdb/database.h"
#include "client/ui/frmoldjobs.h"
#include "client/ui/frmsearching.h"
#include "client/ui/jobpanel.h"
#include "history/historytestdb.h"
#include "support/filecolumnchecks.h"
#include "support/uitest.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace kestro;
using test::HistoryDb;

namespace {

// Types text key by key, umlauts included, as the worker types it.
void typeInto(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

class HistoryWindows : public ::testing::Test {
protected:
    void SetUp() override {
        db.add({3,
                "3 | Altbau",
                "bitte falten",
                {"grundriss.pdf", "ansicht [Süd].pdf"},
                "12",
                "Baustelle Nord"});
        db.add({5, "5 | Neubau", {}, {"fünf.pdf"}});
        db.add({7, "7 | Umbau", "eilig", {"sieben.pdf"}});
        connection = std::make_unique<jobdb::Database>(db.path);
        panel.setDeliveries({"1 | Lager Süd"});
    }
    std::unique_ptr<ui::FrmOldJobs> openBrowser() {
        auto w = std::make_unique<ui::FrmOldJobs>(ui::OldJobsContext{
            *connection, prompter, [this](const compose::JobSnapshot& j) { panel.loadJob(j); }});
        w->show();
        return w;
    }
    static QString box(QWidget* w, const char* name) {
        return w->findChild<QLineEdit*>(QString::fromLatin1(name))->text();
    }
    template <typename T = QPushButton> static void press(QWidget* w, const char* name) {
        QTest::mouseClick(w->findChild<T*>(QString::fromLatin1(name)), Qt::LeftButton);
    }

    HistoryDb db;
    std::unique_ptr<jobdb::Database> connection;
    ScriptedPrompter prompter;
    ui::JobPanel panel{prompter};
};

// Stepping back over the gaps shows job 3 in the boxes; "Laden" puts it into the main window's
// job area, where a job without a delivery number leaves the address as it was. With no job
// shown (an empty history, or the walk stopped at -1) "Laden" has nothing to load and must
// not throw away the job the worker is composing.
TEST_F(HistoryWindows, StepsBackLoadsAndKeepsTheComposedJobWhereNoneIsShown) {
    compose::JobSnapshot composed;
    composed.delivery = "1 | Lager Süd";
    composed.deadlineDate = QDate(2027, 1, 15);
    composed.remarks = "bitte bis Freitag";
    composed.files = {
        {"1", "plan.pdf", "2", "farbig", "heften", "keine", "falzen", "/home/anna/plan.pdf"},
        {"2", "karte.pdf", "1", "sw", "keine", "keine", "keine", "/home/anna/karte.pdf"}};
    panel.loadJob(composed);
    const compose::JobSnapshot before = panel.snapshot();
    HistoryDb emptyDb;
    const jobdb::Database empty(emptyDb.path);
    ui::FrmOldJobs emptyBrowser(ui::OldJobsContext{
        empty, prompter, [this](const compose::JobSnapshot& j) { panel.loadJob(j); }});
    emptyBrowser.show();
    press(&emptyBrowser, "cmdLoad");
    EXPECT_EQ(panel.snapshot().files, composed.files) << "empty history";
    EXPECT_EQ(panel.snapshot().remarks, "bitte bis Freitag") << "empty history";

    dbtest::execSql(db.path, "UPDATE FileDaten SET Color = 'schwarz/weiß', Verarbeitung3 = "
                             "'laminieren' WHERE JobNumber = 7");
    auto browser = openBrowser();
    EXPECT_EQ(box(browser.get(), "txtJobNumber"), "7"); // the newest job first
    EXPECT_EQ(browser->files().rowCount(), 1);
    // The file list shows the values whole and gives the file name the spare width; the header
    // reaches the list's right edge, however wide the window is.
    for (const int width : {browser->width(), browser->width() + 300}) {
        browser->resize(width, browser->height());
        QTest::qWait(20);
        test::expectFileColumnsFit(browser->findChild<QTreeView*>("ListView1"));
    }
    press<QToolButton>(browser.get(), "cmdHScroll1M");
    press<QToolButton>(browser.get(), "cmdHScroll1M");
    EXPECT_EQ(box(browser.get(), "txtJobNumber"), "3");
    EXPECT_EQ(box(browser.get(), "txtLiefNr"), "12");
    EXPECT_EQ(box(browser.get(), "txtLiefNam1"), "Baustelle Nord");
    EXPECT_EQ(browser->findChild<QPlainTextEdit*>("txtBemerk")->toPlainText(), "bitte falten");
    EXPECT_EQ(browser->files().rowCount(), 2);
    test::saveScreenshot(browser.get(), "frmOldJobs");
    press<QToolButton>(browser.get(), "cmdHScroll1M"); // down to -1: the boxes keep job 3
    EXPECT_EQ(box(browser.get(), "txtJobNumber"), "3");
    EXPECT_EQ(browser->files().rowCount(), 0);
    press(browser.get(), "cmdLoad");
    EXPECT_EQ(panel.snapshot().files, composed.files) << "walk stopped at -1";
    EXPECT_EQ(panel.snapshot().remarks, "bitte bis Freitag") << "walk stopped at -1";

    browser = openBrowser();
    press<QToolButton>(browser.get(), "cmdHScroll1M");
    press<QToolButton>(browser.get(), "cmdHScroll1M");
    press(browser.get(), "cmdLoad");
    EXPECT_FALSE(browser->isVisible());
    const compose::JobSnapshot job = panel.snapshot();
    EXPECT_EQ(job.project, "3 | Altbau");
    EXPECT_EQ(job.delivery, "12 | Baustelle Nord");
    EXPECT_EQ(job.remarks, "bitte falten");
    EXPECT_EQ(job.deadlineDate, before.deadlineDate) << "the deadline is never carried";
    EXPECT_EQ(job.deadlineTime, before.deadlineTime) << "the deadline is never carried";
    ASSERT_EQ(job.files.size(), 2);
    EXPECT_EQ(job.files[1], (compose::FileRow{"2", "ansicht [Süd].pdf", "2", "farbig", "heften",
                                              "keine", "falzen", "/auftrag/3/ansicht [Süd].pdf"}));
    browser = openBrowser();
    press(browser.get(), "cmdLoad");
    EXPECT_EQ(panel.snapshot().delivery, "12 | Baustelle Nord");
    EXPECT_EQ(panel.snapshot().project, "7 | Umbau");
    EXPECT_EQ(panel.snapshot().files.size(), 1);
}

// A delete happens only after Yes; one the database refuses (was: not shown, half done) is
// told to the worker, and job and files stay.
TEST_F(HistoryWindows, DeletesOnlyAfterYes) {
    auto browser = openBrowser();
    prompter.answers = {false, true};
    press(browser.get(), "cmdDel");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Soll der Datensatz wirklich gelöscht werden ? !");
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 7"), 1);
    press(browser.get(), "cmdDel");
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 7"), 0);
    EXPECT_TRUE(browser->isVisible()) << "the highest: nothing moves, its fields stay";
    EXPECT_EQ(box(browser.get(), "txtJobNumber"), "7");
    dbtest::execSql(db.path, "CREATE TRIGGER keep BEFORE DELETE ON FileDaten "
                             "BEGIN SELECT RAISE(ABORT, 'Datei gesperrt'); END");
    press<QToolButton>(browser.get(), "cmdHScroll1M");
    prompter.answers = {true};
    press(browser.get(), "cmdDel");
    ASSERT_EQ(prompter.shown.size(), 4u);
    EXPECT_TRUE(prompter.shown[3].text.startsWith("Die Datenbank meldet einen Fehler:"));
    EXPECT_TRUE(prompter.shown[3].text.contains("Datei gesperrt"));
    EXPECT_EQ(db.count("SELECT count(*) FROM JobDaten WHERE JobNumber = 5"), 1);
    EXPECT_EQ(db.count("SELECT count(*) FROM FileDaten WHERE JobNumber = 5"), 1);
    EXPECT_TRUE(browser->isVisible());
}

// The search window opens beside the browser, searches from the fifth letter or at Enter, and
// a double-clicked hit shows its job in the browser, from which stepping goes on.
TEST_F(HistoryWindows, TypingSearchesFromTheFifthCharacterAndAHitShowsTheJob) {
    auto browser = openBrowser();
    bool checked = false;
    // The search window is modal: it is driven from inside its own event loop.
    QTimer::singleShot(0, [&] {
        auto* search = browser->findChild<ui::FrmSearching*>();
        ASSERT_TRUE(search);
        // Beside the browser (60 twips to the right), or against the screen's edge.
        const int beside = browser->frameGeometry().right() + 1 + 4;
        const QRect screen = browser->screen()->availableGeometry();
        if (beside + search->width() <= screen.right() + 1)
            EXPECT_EQ(search->frameGeometry().left(), beside);
        else
            EXPECT_EQ(search->frameGeometry().right(), screen.right());
        EXPECT_EQ(search->frameGeometry().top(), browser->frameGeometry().top());
        auto* text = search->findChild<QLineEdit*>("txtSuchen");
        QSignalSpy finished(search, &ui::FrmSearching::searchFinished);
        typeInto(text, "NORD"); // four letters: no search
        EXPECT_FALSE(search->isSearching());
        typeInto(text, "'"); // the fifth: a quote is an ordinary character
        ASSERT_TRUE(finished.wait(10000));
        EXPECT_EQ(search->hits().rowCount(), 0);
        text->clear();
        typeInto(text, "süd]");
        QTest::keyClick(text, Qt::Key_Return); // Enter searches at any length
        ASSERT_TRUE(finished.wait(10000));
        while (search->isSearching())
            ASSERT_TRUE(finished.wait(10000));
        ASSERT_EQ(search->hits().rowCount(), 1);
        EXPECT_EQ(search->hits().hits()[0].text, "ansicht [Süd].pdf");
        test::saveScreenshot(search, "frmSearching");
        auto* list = search->findChild<QTreeView*>("ListView1");
        const QRect row = list->visualRect(search->hits().index(0, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
        EXPECT_EQ(box(browser.get(), "txtJobNumber"), "3");
        EXPECT_EQ(browser->files().rowCount(), 2);
        checked = true;
        search->reject();
    });
    press(browser.get(), "cmdSearching");
    EXPECT_TRUE(checked);
    press<QToolButton>(browser.get(), "cmdHScroll1P");
    EXPECT_EQ(box(browser.get(), "txtJobNumber"), "5");
}

} // namespace
