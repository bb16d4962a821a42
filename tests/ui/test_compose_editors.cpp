// The project and delivery-address editors against a real database file.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/recordeditor.h"
#include "client/ui/recordeditorwindow.h"
#include "common/germanformat.h"
#include "support/uitest.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using kestro::jobdb::EditorConfig;
using kestro::jobdb::EditorRecord;
using kestro::ui::RecordEditorWindow;

namespace {

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.filePath("jobs.mdb");
        ASSERT_TRUE(kestro::jobdb::createAllTables(path, prompter));
        db = std::make_unique<kestro::jobdb::Database>(path);
        ASSERT_TRUE(db->isOpen());
        prompter.shown.clear();
    }

    std::unique_ptr<RecordEditorWindow> open(const EditorConfig& config) {
        auto window = std::make_unique<RecordEditorWindow>(*db, config, prompter);
        QObject::connect(window.get(), &RecordEditorWindow::listReloadRequested,
                         [this](EditorConfig::List list) { reloads.append(list); });
        return window;
    }

    // The rows of a table as "number|name1|name2|name3|street|plzort|contact".
    QStringList rows(const QString& table, const QString& numberColumn) {
        QSqlQuery q(db->connection());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT %2, name1, name2, name3, Street, plzort, "
                                          "Anspr FROM %1 ORDER BY rowid")
                               .arg(table, numberColumn)));
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < 7; ++i)
                cells << q.value(i).toString();
            out << cells.join('|');
        }
        return out;
    }

    static QLineEdit* box(QWidget& w, const char* name) {
        auto* edit = w.findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(edit, nullptr) << name;
        return edit;
    }
    static void press(QWidget& w, const char* name) {
        auto* button = w.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
    static QScrollBar* scroll(QWidget& w) { return w.findChild<QScrollBar*>("HScroll1"); }
    // The project editor on "Neubau", "Umbau", "Anbau", shown and active.
    std::unique_ptr<RecordEditorWindow> openOnThreeProjects() {
        kestro::jobdb::RecordEditor editor(*db, EditorConfig::projects());
        for (const char* name : {"Neubau", "Umbau", "Anbau"}) {
            auto record = editor.newRecord();
            EXPECT_TRUE(record);
            record->name1 = QString::fromLatin1(name);
            EXPECT_TRUE(editor.save(*record));
        }
        auto window = open(EditorConfig::projects());
        window->show();
        QApplication::setActiveWindow(window.get());
        return window;
    }

    QTemporaryDir dir;
    QString path;
    kestro::ScriptedPrompter prompter;
    std::unique_ptr<kestro::jobdb::Database> db;
    QList<EditorConfig::List> reloads;
};

} // namespace

TEST_F(EditorTest, NewOnAnEmptyTableStartsAtOneAndCounts) {
    auto window = open(EditorConfig::projects());
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "1");
    EXPECT_EQ(scroll(*window)->value(), 1);
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "2");
    EXPECT_EQ(scroll(*window)->maximum(), 2);
    EXPECT_EQ(rows("Projekte", "ProNumber"), QStringList({"1||||||", "2||||||"}));
}

TEST_F(EditorTest, SaveWritesTheBoxesAndScrollingShowsThemAgain) {
    auto window = open(EditorConfig::projects());
    press(*window, "cmdNew");
    box(*window, "txtName1")->setText("Neubau Rathaus");
    box(*window, "txtName2")->setText("Bauabschnitt 2");
    box(*window, "txtStra")->setText("Marktstraße 1");
    box(*window, "txtPLZOrt")->setText("12345 Großstadt");
    box(*window, "txtAnsp")->setText("Frau Łukasik");
    press(*window, "cmdSave");
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtName1")->text(), "");

    scroll(*window)->setValue(1);
    EXPECT_EQ(box(*window, "txtProNr")->text(), "1");
    EXPECT_EQ(box(*window, "txtName1")->text(), "Neubau Rathaus");
    EXPECT_EQ(box(*window, "txtAnsp")->text(), "Frau Łukasik");

    // Reopening shows the saved record too: the scroll bar reaches the highest number.
    auto again = open(EditorConfig::projects());
    EXPECT_EQ(scroll(*again)->maximum(), 2);
    again->seekX(1);
    EXPECT_EQ(box(*again, "txtStra")->text(), "Marktstraße 1");
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(EditorTest, NewTakesHighestPlusOneAndGapsStay) {
    auto window = open(EditorConfig::projects());
    for (const char* number : {"1", "2", "5"}) {
        box(*window, "txtProNr")->setText(number);
        box(*window, "txtName1")->setText(QStringLiteral("Projekt %1").arg(number));
        press(*window, "cmdSave"); // a number without a record gets a row of its own
    }
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "6");

    // Scrolling to a number without a record leaves the boxes as they are.
    scroll(*window)->setValue(4);
    EXPECT_EQ(box(*window, "txtProNr")->text(), "6");
    scroll(*window)->setValue(5);
    EXPECT_EQ(box(*window, "txtName1")->text(), "Projekt 5");
}

TEST_F(EditorTest, DeleteMarksTheRecordOnlyWhenSaved) {
    auto window = open(EditorConfig::projects());
    press(*window, "cmdNew");
    box(*window, "txtName1")->setText("Umbau Schule");
    box(*window, "txtName2")->setText("Turnhalle");
    box(*window, "txtAnsp")->setText("Herr Krämer");
    press(*window, "cmdSave");

    const QString note = "gelöscht am: " + kestro::de::shortDate(QDate::currentDate());
    press(*window, "cmdDelete");
    EXPECT_EQ(box(*window, "txtName1")->text(), note);
    EXPECT_EQ(box(*window, "txtName2")->text(), "");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "1");
    press(*window, "cmdClose"); // without saving: the table keeps the record
    EXPECT_EQ(rows("Projekte", "ProNumber"),
              QStringList({"1|Umbau Schule|Turnhalle||||Herr Krämer"}));
    EXPECT_EQ(reloads, QList<EditorConfig::List>({EditorConfig::List::Projects}));

    auto second = open(EditorConfig::projects());
    second->seekX(1);
    press(*second, "cmdDelete");
    press(*second, "cmdSave");
    EXPECT_EQ(rows("Projekte", "ProNumber"), QStringList({"1|" + note + "|||||"}));
}

TEST_F(EditorTest, DeliveryAddressEditorWorksOnItsOwnTable) {
    auto window = open(EditorConfig::deliveryAddresses());
    EXPECT_EQ(window->findChild<QLineEdit*>("txtProNr"), nullptr);
    press(*window, "cmdNew");
    box(*window, "txtLiefNr");
    box(*window, "txtName1")->setText("Baustelle Nord");
    press(*window, "cmdSave");
    press(*window, "cmdClose");
    EXPECT_EQ(rows("LieferAdr", "LiefNumber"), QStringList({"1|Baustelle Nord|||||"}));
    EXPECT_TRUE(rows("Projekte", "ProNumber").isEmpty());
    EXPECT_EQ(reloads, QList<EditorConfig::List>({EditorConfig::List::DeliveryAddresses}));
}

// The editor opens on its first record, and one click on the bar's arrows reaches the
// neighbour, in both editors; a table of one record shows that record.
TEST_F(EditorTest, OpensOnTheFirstRecordAndOneClickReachesTheNext) {
    for (const EditorConfig& config :
         {EditorConfig::projects(), EditorConfig::deliveryAddresses()}) {
        const char* number =
            config.listToReload == EditorConfig::List::Projects ? "txtProNr" : "txtLiefNr";
        {
            auto maker = open(config);
            press(*maker, "cmdNew");
            box(*maker, "txtName1")->setText("Erster");
            press(*maker, "cmdSave");
        }
        auto one = open(config);
        EXPECT_EQ(box(*one, number)->text(), "1") << config.caption.toStdString();
        EXPECT_EQ(box(*one, "txtName1")->text(), "Erster");

        press(*one, "cmdNew");
        box(*one, "txtName1")->setText("Zweiter");
        press(*one, "cmdSave");
        auto two = open(config);
        kestro::test::saveScreenshot(two.get(), two->objectName());
        EXPECT_EQ(box(*two, "txtName1")->text(), "Erster");
        scroll(*two)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        EXPECT_EQ(box(*two, "txtName1")->text(), "Zweiter");
        scroll(*two)->triggerAction(QAbstractSlider::SliderSingleStepSub);
        EXPECT_EQ(box(*two, number)->text(), "1");
        EXPECT_EQ(box(*two, "txtName1")->text(), "Erster");
    }
}

// A worker without a mouse tabs to the scroll bar and steps through the records with the
// arrow keys.
TEST_F(EditorTest, TheScrollBarIsReachedWithTabAndStepsWithTheArrowKeys) {
    auto window = openOnThreeProjects();
    box(*window, "txtName1")->setFocus();
    bool reached = false;
    for (int i = 0; i < 20 && !reached; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached = QApplication::focusWidget() == scroll(*window);
    }
    ASSERT_TRUE(reached) << "the scroll bar is not in the tab order";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(box(*window, "txtName1")->text(), "Umbau");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    EXPECT_EQ(box(*window, "txtName1")->text(), "Anbau");
}

// One digit too many in the number box: Save refuses a record the scroll bar could never
// reach (it ends at 32767), says why, and "Neu" goes on counting from the highest record.
TEST_F(EditorTest, ANumberBeyondTheScrollBarIsRefusedAndNewStillWorks) {
    auto window = openOnThreeProjects();
    prompter.shown.clear();
    QLineEdit* number = box(*window, "txtProNr");
    number->clear();
    QTest::keyClicks(number, "40000");
    box(*window, "txtName1")->setText("Tippfehler");
    press(*window, "cmdSave");
    EXPECT_EQ(rows("Projekte", "ProNumber").size(), 3)
        << rows("Projekte", "ProNumber").join(',').toStdString();
    ASSERT_EQ(prompter.texts().size(), 1);
    EXPECT_TRUE(prompter.texts().at(0).contains("32767")) << prompter.texts().at(0).toStdString();

    prompter.shown.clear();
    press(*window, "cmdNew");
    EXPECT_EQ(number->text(), "4");
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('|').toStdString();
}

// With no record shown, Delete leaves the number empty and Save asks instead of storing.
TEST_F(EditorTest, WithNoRecordShownDeleteLeavesTheNumberEmptyAndSaveAsks) {
    auto window = open(EditorConfig::projects());
    press(*window, "cmdDelete");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "");
    EXPECT_TRUE(box(*window, "txtName1")->text().startsWith("gelöscht am: "));
    box(*window, "txtName1")->setText("ohne Nummer");
    press(*window, "cmdSave");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(rows("Projekte", "ProNumber").isEmpty());
}
