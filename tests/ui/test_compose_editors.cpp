// The project and delivery-address editors against a real database file.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/recordeditor.h"
#include "client/ui/recordeditorwindow.h"
#include "common/germanformat.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTemporaryDir>

using kestro::jobdb::EditorConfig;
using kestro::test::press;
using kestro::ui::RecordEditorWindow;

namespace {

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString path = dir.filePath("jobs.mdb");
        ASSERT_TRUE(kestro::jobdb::createAllTables(path, prompter));
        db = std::make_unique<kestro::jobdb::Database>(path);
        ASSERT_TRUE(db->isOpen());
        prompter.shown.clear();
    }
    std::unique_ptr<RecordEditorWindow>
    open(const EditorConfig& config = EditorConfig::projects()) {
        auto window = std::make_unique<RecordEditorWindow>(*db, config, prompter);
        QObject::connect(window.get(), &RecordEditorWindow::listReloadRequested,
                         [this](EditorConfig::List list) { reloads.append(list); });
        return window;
    }
    // The rows of the editor's table as "number|name1|name2|name3|street|plzort|contact".
    QStringList rows(const EditorConfig& config = EditorConfig::projects()) {
        QSqlQuery q(db->connection());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT %2, name1, name2, name3, Street, plzort, "
                                          "Anspr FROM %1 ORDER BY rowid")
                               .arg(config.table, config.numberColumn)));
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
        return kestro::test::child<QLineEdit>(w, name);
    }
    static QScrollBar* scroll(QWidget& w) { return w.findChild<QScrollBar*>("HScroll1"); }
    // Saves a record of `name1` under `number` ("" for the next one).
    static void save(QWidget& w, const char* name1, const char* number = "") {
        if (*number)
            box(w, "txtProNr")->setText(QString::fromLatin1(number));
        else
            press(w, "cmdNew");
        box(w, "txtName1")->setText(QString::fromUtf8(name1));
        press(w, "cmdSave");
    }

    QTemporaryDir dir;
    kestro::ScriptedPrompter prompter;
    std::unique_ptr<kestro::jobdb::Database> db;
    QList<EditorConfig::List> reloads;
};

} // namespace

// Neu counts from the highest number (gaps stay), Save writes the boxes, the scroll bar
// shows a saved record again and passes over numbers without one; no box on the way.
TEST_F(EditorTest, NewSaveAndScrollingThroughTheProjects) {
    auto window = open();
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "1");
    EXPECT_EQ(scroll(*window)->value(), 1);
    box(*window, "txtName1")->setText("Neubau Rathaus");
    box(*window, "txtName2")->setText("Bauabschnitt 2");
    box(*window, "txtStra")->setText("Marktstraße 1");
    box(*window, "txtPLZOrt")->setText("12345 Großstadt");
    box(*window, "txtAnsp")->setText("Frau Łukasik");
    press(*window, "cmdSave");
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "2");
    EXPECT_EQ(box(*window, "txtName1")->text(), "");
    EXPECT_EQ(scroll(*window)->maximum(), 2);
    save(*window, "Projekt 5", "5"); // a number without a record gets a row of its own
    press(*window, "cmdNew");
    EXPECT_EQ(box(*window, "txtProNr")->text(), "6");
    scroll(*window)->setValue(4); // no record: the boxes stay as they are
    EXPECT_EQ(box(*window, "txtProNr")->text(), "6");
    scroll(*window)->setValue(1);
    EXPECT_EQ(box(*window, "txtName1")->text(), "Neubau Rathaus");
    EXPECT_EQ(box(*window, "txtAnsp")->text(), "Frau Łukasik");
    EXPECT_EQ(rows(), QStringList({"1|Neubau Rathaus|Bauabschnitt 2||Marktstraße 1|12345 "
                                   "Großstadt|Frau Łukasik",
                                   "2||||||", "5|Projekt 5|||||", "6||||||"}));

    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join('|').toStdString();
}

// Delete marks the record and takes effect only with Save; with no record shown it leaves
// the number empty, and Save then asks instead of storing.
TEST_F(EditorTest, DeleteMarksTheRecordOnlyWhenSaved) {
    const QString note = "gelöscht am: " + kestro::de::shortDate(QDate::currentDate());
    auto empty = open();
    press(*empty, "cmdDelete");
    EXPECT_EQ(box(*empty, "txtProNr")->text(), "");
    EXPECT_EQ(box(*empty, "txtName1")->text(), note);
    box(*empty, "txtName1")->setText("ohne Nummer");
    press(*empty, "cmdSave");
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(rows().isEmpty());

    save(*empty, "Umbau Schule");
    box(*empty, "txtAnsp")->setText("Herr Krämer");
    press(*empty, "cmdSave");
    press(*empty, "cmdDelete");
    EXPECT_EQ(box(*empty, "txtName1")->text(), note);
    EXPECT_EQ(box(*empty, "txtAnsp")->text(), "");
    EXPECT_EQ(box(*empty, "txtProNr")->text(), "1");
    press(*empty, "cmdClose"); // without saving: the table keeps the record
    EXPECT_EQ(rows(), QStringList({"1|Umbau Schule|||||Herr Krämer"}));
    EXPECT_EQ(reloads, QList<EditorConfig::List>({EditorConfig::List::Projects}));

    auto second = open();
    second->seekX(1);
    press(*second, "cmdDelete");
    press(*second, "cmdSave");
    EXPECT_EQ(rows(), QStringList({"1|" + note + "|||||"}));
}

// Each editor works on its own table, opens on its first record, and one click on the bar's
// arrows reaches the neighbour; closing asks for its own list to be reloaded.
TEST_F(EditorTest, EachEditorOpensOnItsFirstRecordAndStepsWithOneClick) {
    for (const EditorConfig& config :
         {EditorConfig::projects(), EditorConfig::deliveryAddresses()}) {
        SCOPED_TRACE(config.table.toStdString());
        const char* number =
            config.listToReload == EditorConfig::List::Projects ? "txtProNr" : "txtLiefNr";
        reloads.clear();
        save(*open(config), "Erster");
        auto one = open(config);
        EXPECT_EQ(box(*one, number)->text(), "1");
        EXPECT_EQ(box(*one, "txtName1")->text(), "Erster");
        save(*one, "Zweiter");
        auto two = open(config);
        kestro::test::saveScreenshot(two.get(), two->objectName());
        EXPECT_EQ(box(*two, "txtName1")->text(), "Erster");
        scroll(*two)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        EXPECT_EQ(box(*two, "txtName1")->text(), "Zweiter");
        scroll(*two)->triggerAction(QAbstractSlider::SliderSingleStepSub);
        EXPECT_EQ(box(*two, number)->text(), "1");
        EXPECT_EQ(box(*two, "txtName1")->text(), "Erster");
        press(*two, "cmdClose");
        EXPECT_EQ(rows(config), QStringList({"1|Erster|||||", "2|Zweiter|||||"}));
        EXPECT_EQ(reloads, QList<EditorConfig::List>({config.listToReload}));
    }
}

// A worker without a mouse tabs to the scroll bar and steps with the arrow keys; one digit too
// many in the number box: Save refuses a record the bar could never reach (it ends at 32767),
// says why, and Neu goes on counting from the highest record.
TEST_F(EditorTest, KeyboardReachesTheScrollBarAndANumberBeyondItIsRefused) {
    for (const char* name : {"Neubau", "Umbau", "Anbau"})
        save(*open(), name);
    auto window = open();
    window->show();
    QApplication::setActiveWindow(window.get());
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

    QLineEdit* number = box(*window, "txtProNr");
    number->clear();
    QTest::keyClicks(number, "40000");
    box(*window, "txtName1")->setText("Tippfehler");
    press(*window, "cmdSave");
    EXPECT_EQ(rows().size(), 3) << rows().join(',').toStdString();
    ASSERT_EQ(prompter.texts().size(), 1);
    EXPECT_TRUE(prompter.texts().at(0).contains("32767")) << prompter.texts().at(0).toStdString();
    prompter.shown.clear();
    press(*window, "cmdNew");
    EXPECT_EQ(number->text(), "4");
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join('|').toStdString();
}
