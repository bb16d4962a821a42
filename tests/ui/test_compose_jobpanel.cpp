// The job area of the main window, driven as a worker drives it: clicks, keys, choices.
#include "client/ui/jobpanel.h"
#include "ui/eventwait.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

// Qt's own entry for key presses typed by a program: it offers the key to the shortcuts
// (accelerators) first, as a real key press from the window system is offered.
Q_WIDGETS_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k,
                                                   Qt::KeyboardModifiers mods, const QString& text,
                                                   bool autorep, ushort count);

using kestro::ScriptedPrompter;
using kestro::compose::FileListModel;
using kestro::compose::NewFile;
using kestro::ui::JobPanel;

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

    template <class T> T* child(const char* name) {
        T* w = panel.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTreeView* list() { return child<QTreeView>("ListView1"); }

    void addFiles(const QStringList& names) {
        QList<NewFile> files;
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

    void choose(const char* box, const QString& text) {
        QComboBox* c = child<QComboBox>(box);
        c->setCurrentIndex(c->findText(text));
        ASSERT_EQ(c->currentText(), text);
    }

    void chooseAll() {
        choose("cboAnzahl", "2");
        choose("cboColor", "Farbe");
        choose("cboArbeit1", "Falzen");
        choose("cboArbeit2", "Heften");
        choose("cboArbeit3", "Binden");
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

    ScriptedPrompter prompter;
    JobPanel panel{prompter};
};

} // namespace

// The panel holds the fixed lists; until a time is picked the job says "Uhrzeit", and no
// number of copies is chosen.
TEST_F(JobPanelTest, FixedListsAndTheUnchosenTime) {
    EXPECT_EQ(child<QComboBox>("cboTime")->count(), 97);
    EXPECT_EQ(panel.snapshot().deadlineTime, "Uhrzeit");
    choose("cboTime", "10 : 15");
    EXPECT_EQ(panel.snapshot().deadlineTime, "10 : 15");
    EXPECT_EQ(child<QComboBox>("cboAnzahl")->count(), 100);
    EXPECT_EQ(child<QComboBox>("cboAnzahl")->currentText(), "");
    for (const char* name : {"DTPicker1", "cmdAddFile"}) // names a reviewer looks for
        EXPECT_NE(panel.findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(JobPanelTest, ApplyWithoutRowsOnlyWarns) {
    chooseAll();
    child<QPushButton>("cmdAnwenden")->click();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "nicht zum anwenden vorhanden !");
    EXPECT_EQ(prompter.shown[0].icon, kestro::Prompter::Icon::Exclamation);
    EXPECT_EQ(panel.model().rowCount(), 0);
}

TEST_F(JobPanelTest, ApplyChangesTheRowsPickedWithTheMouse) {
    addFiles({"a.pdf", "b.pdf", "c.pdf", "d.pdf"});
    clickRow(0);
    clickRow(2, Qt::ControlModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({0, 2}));
    chooseAll();
    child<QPushButton>("cmdAnwenden")->click();
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(column(FileListModel::Copies), QStringList({"2", "", "2", ""}));
    EXPECT_EQ(column(FileListModel::Color), QStringList({"Farbe", "", "Farbe", ""}));
    EXPECT_EQ(column(FileListModel::Step3), QStringList({"Binden", "", "Binden", ""}));
    EXPECT_EQ(list()->model()->index(2, FileListModel::Step1).data().toString(), "Falzen");
}

TEST_F(JobPanelTest, ShiftClickAndShiftArrowExtendTheSelection) {
    addFiles({"a", "b", "c", "d", "e"});
    clickRow(1);
    clickRow(3, Qt::ShiftModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({1, 2, 3}));

    clickRow(0);
    key(list(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({0, 1}));
    choose("cboAnzahl", "7");
    key(list(), Qt::Key_A, Qt::AltModifier); // "&Anwenden", which clicks a moment later
    const QStringList expected{"7", "7", "", "", ""};
    kestro::test::waitUntil([&] { return column(FileListModel::Copies) == expected; }, 5000);
    EXPECT_EQ(column(FileListModel::Copies), expected);
}

TEST_F(JobPanelTest, DeletingTheSecondOfThreeRows) {
    addFiles({"a.pdf", "b.pdf", "c.pdf"});
    child<QToolButton>("Image1")->click(); // nothing selected: nothing happens
    EXPECT_EQ(panel.model().rowCount(), 3);

    clickRow(1);
    child<QToolButton>("Image1")->click();
    EXPECT_EQ(column(FileListModel::Number), QStringList({"1", "3"}));
    EXPECT_EQ(panel.model().fullPaths(), QStringList({"/auftrag/a.pdf", "/auftrag/c.pdf"}));

    clickRow(1);
    key(list(), Qt::Key_Delete);
    EXPECT_EQ(column(FileListModel::FileName), QStringList({"a.pdf"}));
}

TEST_F(JobPanelTest, ProjectListsAndJobReload) {
    panel.setProjects({"1 | Neubau", "2 | Umbau"});
    panel.setProjects({}); // an empty table leaves the list as it was
    QComboBox* projects = child<QComboBox>("cboProjekt");
    EXPECT_EQ(projects->count(), 2);
    EXPECT_EQ(panel.snapshot().project, "");
    projects->setCurrentIndex(1);
    EXPECT_EQ(panel.snapshot().project, "2 | Umbau");

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

// A reloaded list or a refreshed catalogue keeps what the worker chose where the entry
// is still there; an entry that went leaves nothing chosen.
TEST_F(JobPanelTest, ChoicesSurviveAReloadWhereTheirEntryStays) {
    panel.setProjects({"1 | Neubau", "2 | Umbau"});
    choose("cboProjekt", "2 | Umbau");
    chooseAll();
    panel.setProjects({"1 | Neubau", "2 | Umbau", "3 | Anbau"});
    panel.setCatalogueLists({"SW", "Farbe"}, {"Falzen", "Schneiden"}, {"Heften"},
                            {"Binden", "keine"});
    EXPECT_EQ(panel.snapshot().project, "2 | Umbau");
    addFiles({"a.pdf"});
    clickRow(0);
    child<QPushButton>("cmdAnwenden")->click();
    EXPECT_EQ(panel.snapshot().files.at(0).color, "Farbe");
    EXPECT_EQ(panel.snapshot().files.at(0).step3, "Binden");

    panel.setProjects({"1 | Neubau"});
    panel.setCatalogueLists({"SW"}, {"Falzen"}, {"Heften"}, {"keine"});
    EXPECT_EQ(panel.snapshot().project, "");
    EXPECT_EQ(child<QComboBox>("cboColor")->currentIndex(), -1);
    EXPECT_EQ(child<QComboBox>("cboArbeit1")->currentText(), "Falzen");
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
    choose("cboArbeit1", longStep);
    child<QPushButton>("cmdAnwenden")->click();
    QApplication::processEvents();
    QHeaderView* header = list()->header();
    EXPECT_LE(header->length(), list()->viewport()->width())
        << "the columns run past the list's right edge";
    EXPECT_GE(header->sectionSize(FileListModel::FileName),
              list()->fontMetrics().horizontalAdvance(name))
        << "the file name is cut";
    const QModelIndex step = list()->model()->index(0, FileListModel::Step1);
    EXPECT_LT(header->sectionSize(FileListModel::Step1),
              list()->fontMetrics().horizontalAdvance(longStep));
    EXPECT_EQ(step.data(Qt::ToolTipRole).toString(), longStep);
}
