// The job area of the main window, driven as a worker drives it: clicks, keys, choices.
#include "client/ui/jobpanel.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

// Qt's own entry for key presses typed by a program: it offers the key to the shortcuts
// (accelerators) first, as a real key press from the window system is offered.
Q_WIDGETS_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k,
                                                   Qt::KeyboardModifiers mods, const QString& text,
                                                   bool autorep, ushort count);

using kestro::compose::FileListModel;
using kestro::test::child;
using kestro::test::press;

namespace {

class JobPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel.resize(900, 500);
        panel.fillFixedLists();
        panel.setCatalogueLists({"SW", "Farbe"}, {"Falzen", "Schneiden"}, {"Heften"},
                                {"Binden", "keine"});
        panel.show();
        // Accelerators only fire in the active window, as for a worker at the keyboard.
        QApplication::setActiveWindow(&panel);
    }
    QTreeView* list() { return child<QTreeView>(panel, "ListView1"); }
    void addFiles(const QStringList& names) {
        QList<kestro::compose::NewFile> files;
        for (const QString& n : names)
            files.append({n, "/auftrag/" + n});
        panel.model().appendFiles(files);
    }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTreeView* view = list();
        const QPoint at = view->visualRect(view->model()->index(row, 1)).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, view->viewport()->mapToGlobal(at),
                          Qt::LeftButton, Qt::LeftButton, modifiers);
        QMouseEvent release(QEvent::MouseButtonRelease, at, view->viewport()->mapToGlobal(at),
                            Qt::LeftButton, Qt::NoButton, modifiers);
        QApplication::sendEvent(view->viewport(), &press);
        QApplication::sendEvent(view->viewport(), &release);
    }
    void key(QWidget* target, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        target->setFocus();
        if (qt_sendShortcutOverrideEvent(target, 0, k, modifiers, {}, false, 1))
            return;
        QKeyEvent press(QEvent::KeyPress, k, modifiers);
        QKeyEvent release(QEvent::KeyRelease, k, modifiers);
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
    }
    void chooseAll() {
        const char* const boxes[] = {"cboAnzahl", "cboColor", "cboArbeit1", "cboArbeit2",
                                     "cboArbeit3"};
        const char* const picks[] = {"2", "Farbe", "Falzen", "Heften", "Binden"};
        for (int i = 0; i < 5; ++i)
            kestro::test::choose(panel, boxes[i], picks[i]);
    }
    QStringList column(int c) {
        QStringList out;
        for (const auto& row : panel.snapshot().files) {
            const QString cells[] = {row.number, row.fileName, row.copies, row.color,
                                     row.step1,  row.step2,    row.step3};
            out << cells[c];
        }
        return out;
    }

    kestro::ScriptedPrompter prompter;
    kestro::ui::JobPanel panel{prompter};
};

} // namespace

// Anwenden without rows only warns; with rows it changes exactly those the worker picked
// with Ctrl+click, Shift+click or Shift+arrow; Alt+A presses it from the keyboard.
TEST_F(JobPanelTest, ApplyChangesTheRowsPickedWithMouseAndKeys) {
    chooseAll();
    press(panel, "cmdAnwenden");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "nicht zum anwenden vorhanden !");
    EXPECT_EQ(prompter.shown[0].icon, kestro::Prompter::Icon::Exclamation);
    EXPECT_EQ(panel.model().rowCount(), 0);

    prompter.shown.clear();
    addFiles({"a.pdf", "b.pdf", "c.pdf", "d.pdf", "e.pdf"});
    clickRow(0);
    clickRow(2, Qt::ControlModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({0, 2}));
    press(panel, "cmdAnwenden");
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(column(FileListModel::Color), QStringList({"Farbe", "", "Farbe", "", ""}));
    EXPECT_EQ(column(FileListModel::Step3), QStringList({"Binden", "", "Binden", "", ""}));
    EXPECT_EQ(list()->model()->index(2, FileListModel::Step1).data().toString(), "Falzen");

    clickRow(1);
    clickRow(3, Qt::ShiftModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({1, 2, 3}));
    clickRow(0);
    key(list(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({0, 1}));
    kestro::test::choose(panel, "cboAnzahl", "7");
    key(list(), Qt::Key_A, Qt::AltModifier); // "&Anwenden", which clicks a moment later
    const QStringList expected{"7", "7", "2", "", ""};
    kestro::test::waitUntil([&] { return column(FileListModel::Copies) == expected; }, 5000);
    EXPECT_EQ(column(FileListModel::Copies), expected);
}

TEST_F(JobPanelTest, DeletingTheSecondOfThreeRows) {
    addFiles({"a.pdf", "b.pdf", "c.pdf"});
    press(panel, "Image1"); // nothing selected: nothing happens
    EXPECT_EQ(panel.model().rowCount(), 3);
    clickRow(1);
    press(panel, "Image1");
    EXPECT_EQ(column(FileListModel::Number), QStringList({"1", "3"}));
    EXPECT_EQ(panel.model().fullPaths(), QStringList({"/auftrag/a.pdf", "/auftrag/c.pdf"}));
    clickRow(1);
    key(list(), Qt::Key_Delete);
    EXPECT_EQ(column(FileListModel::FileName), QStringList({"a.pdf"}));
}

// Nothing is chosen until the worker chooses (the deadline says "Uhrzeit"); a reloaded list
// or a refreshed catalogue keeps a choice whose entry stays and drops one whose entry went;
// a loaded job shows whole and clearing empties it.
TEST_F(JobPanelTest, ChoicesSurviveReloadsAndAJobLoadsAndClears) {
    EXPECT_EQ(panel.snapshot().deadlineTime, "Uhrzeit");
    EXPECT_EQ(child<QComboBox>(panel, "cboAnzahl")->currentText(), "");
    kestro::test::choose(panel, "cboTime", "10 : 15");
    EXPECT_EQ(panel.snapshot().deadlineTime, "10 : 15");
    panel.setProjects({"1 | Neubau", "2 | Umbau"});
    panel.setProjects({}); // an empty table leaves the list as it was
    EXPECT_EQ(panel.snapshot().project, "");
    kestro::test::choose(panel, "cboProjekt", "2 | Umbau");
    chooseAll();
    panel.setProjects({"1 | Neubau", "2 | Umbau", "3 | Anbau"});
    panel.setCatalogueLists({"SW", "Farbe"}, {"Falzen", "Schneiden"}, {"Heften"},
                            {"Binden", "keine"});
    EXPECT_EQ(panel.snapshot().project, "2 | Umbau");
    addFiles({"a.pdf"});
    clickRow(0);
    press(panel, "cmdAnwenden");
    EXPECT_EQ(panel.snapshot().files.at(0).color, "Farbe");
    EXPECT_EQ(panel.snapshot().files.at(0).step3, "Binden");
    panel.setProjects({"1 | Neubau"});
    panel.setCatalogueLists({"SW"}, {"Falzen"}, {"Heften"}, {"keine"});
    EXPECT_EQ(panel.snapshot().project, "");
    EXPECT_EQ(child<QComboBox>(panel, "cboColor")->currentIndex(), -1);
    EXPECT_EQ(child<QComboBox>(panel, "cboArbeit1")->currentText(), "Falzen");

    kestro::compose::JobSnapshot job;
    job.project = "1 | Neubau";
    job.delivery = "4 | Baustelle Nord";
    job.deadlineDate = QDate(2026, 12, 24);
    job.deadlineTime = "Sofort";
    job.remarks = "bitte falten";
    job.files = {{"1", "a.pdf", "2", "SW", "Falzen", "Heften", "keine", "/x/a.pdf"},
                 {"3", "c.pdf", "1", "Farbe", "", "", "", "/x/c.pdf"}};
    panel.loadJob(job);
    EXPECT_EQ(panel.snapshot(), job);
    panel.clearJob();
    EXPECT_TRUE(panel.snapshot().files.isEmpty());
    EXPECT_EQ(panel.snapshot().remarks, "");
}

// A shop with long processing texts: the file name stays readable, the columns stay
// within the list instead of running off its right edge, and a cut value is whole in its
// tool tip.
TEST_F(JobPanelTest, LongCatalogueTextsLeaveTheFileNameReadable) {
    const QString longStep = "Rückendrahtheftung mit zwei Klammern und Sonderfalz";
    panel.setCatalogueLists({"SW", "Farbe"}, {"keine", longStep}, {"keine", longStep + " B"},
                            {"keine", longStep + " C"});
    const QString name = "Bauplan Erdgeschoss Nord Achse A-F.pdf";
    panel.model().appendFiles({{name, "/auftrag/plan.pdf"}});
    clickRow(0);
    kestro::test::choose(panel, "cboArbeit1", longStep);
    press(panel, "cmdAnwenden");
    QApplication::processEvents();
    QHeaderView* header = list()->header();
    EXPECT_LE(header->length(), list()->viewport()->width())
        << "the columns run past the list's right edge";
    EXPECT_GE(header->sectionSize(FileListModel::FileName),
              list()->fontMetrics().horizontalAdvance(name))
        << "the file name is cut";
    EXPECT_LT(header->sectionSize(FileListModel::Step1),
              list()->fontMetrics().horizontalAdvance(longStep));
    EXPECT_EQ(list()->model()->index(0, FileListModel::Step1).data(Qt::ToolTipRole).toString(),
              longStep);
}
