// The job area of the main window, driven as a worker drives it (clicks, keys, choices), and
// the file and start-folder windows it opens, against real folders on disk.
#include "client/ui/compose_foldertree.h"
#include "client/ui/frmaddfile.h"
#include "client/ui/frmstartordner.h"
#include "client/ui/jobpanel.h"
#include "support/recordingwriter.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using kestro::compose::FileListModel;
using kestro::test::child;
using kestro::test::press;
using kestro::ui::FrmAddFile;
using kestro::ui::FrmStartOrdner;

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
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers,
                          view->visualRect(view->model()->index(row, 1)).center());
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
    QTest::keyClick(list(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(panel.selectedRows(), QList<int>({0, 1}));
    kestro::test::choose(panel, "cboAnzahl", "7");
    QTest::keyClick(list(), Qt::Key_A, Qt::AltModifier); // "&Anwenden", which clicks a moment later
    const QStringList expected{"7", "7", "2", "", ""};
    kestro::test::waitUntil([&] { return column(FileListModel::Copies) == expected; }, 5000);
    EXPECT_EQ(column(FileListModel::Copies), expected);
}

// The delete button and the Delete key remove the selected row (the numbering is the model's).
TEST_F(JobPanelTest, DeletingTheSecondOfThreeRows) {
    addFiles({"a.pdf", "b.pdf", "c.pdf"});
    press(panel, "Image1"); // nothing selected: nothing happens
    EXPECT_EQ(panel.model().rowCount(), 3);
    clickRow(1);
    press(panel, "Image1");
    EXPECT_EQ(column(FileListModel::FileName), QStringList({"a.pdf", "c.pdf"}));
    clickRow(1);
    QTest::keyClick(list(), Qt::Key_Delete);
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

// A shop with long processing texts: the file name stays readable, the columns stay within
// the list, and a cut value is whole in its tool tip.
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

namespace {

void writeBytes(const QString& path, qint64 size) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'x'));
}

bool waitFilled(FrmAddFile& window) {
    return kestro::test::waitUntil([&] { return !window.isFilling(); });
}

// The list's rows as "name size", in the order shown.
QStringList listed(const FrmAddFile& window) {
    QStringList names;
    const QAbstractItemModel* m = window.fileList()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        names << m->index(r, 0).data().toString() + " " + m->index(r, 1).data().toString();
    return names;
}

// Opens the file window from `panel` on `startFolder`; `work` runs in it, as the worker.
void inFileWindow(kestro::ui::JobPanel& panel, QString& startFolder,
                  const std::function<void(FrmAddFile&)>& work) {
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<FrmAddFile*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        work(*window);
    });
    panel.openAddFiles(startFolder);
}

class FileWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(dir.path()).mkpath("Druck/Pläne"));
        folder = dir.filePath("Druck");
        writeBytes(folder + "/klein.txt", 1023);
        writeBytes(folder + "/plan.plt", 1600);
        writeBytes(folder + "/scan.tif", 1572864);
        writeBytes(folder + "/Pläne/ansicht.pdf", 1024);
    }
    QTemporaryDir dir;
    QString folder;
};

} // namespace

// The window lists its start folder as a file manager does:
// by name, without regard to case, numbers by their value; another folder chosen in the tree
// refills the list; OK takes the selected files with their paths.
TEST_F(FileWindowTest, ListsAFolderByNameRefillsFromTheTreeAndTakesTheSelection) {
    const QString mixed = dir.filePath("Gemischt");
    ASSERT_TRUE(QDir().mkpath(mixed));
    for (const char* name : {"b.pdf", "Plan 10.pdf", "A.pdf", "zeta.pdf", "Plan 2.pdf", "c.pdf",
                             "Änderung.pdf", "_alt.pdf"})
        writeBytes(mixed + "/" + QString::fromUtf8(name), 10);
    FrmAddFile window(mixed);
    ASSERT_TRUE(waitFilled(window));
    kestro::test::saveScreenshot(&window, "frmAddFile");
    EXPECT_EQ(listed(window).join(',').remove(" 10 Byte"),
              "_alt.pdf,A.pdf,Änderung.pdf,b.pdf,c.pdf,Plan 2.pdf,Plan 10.pdf,zeta.pdf");

    ASSERT_TRUE(window.folderTree()->setCurrentPath(folder + "/Pläne"));
    ASSERT_TRUE(waitFilled(window));
    EXPECT_EQ(listed(window), QStringList({"ansicht.pdf 1 KB"}));
    EXPECT_EQ(window.currentFolder(), folder + "/Pläne");
    ASSERT_TRUE(window.folderTree()->setCurrentPath(folder));
    ASSERT_TRUE(waitFilled(window));
    EXPECT_EQ(listed(window),
              QStringList({"klein.txt 1023 Byte", "plan.plt 2 KB", "scan.tif 1,50 MB"}));
    QItemSelectionModel* selection = window.fileList()->selectionModel();
    for (int r : {0, 2})
        selection->select(window.fileList()->model()->index(r, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    press(window, "cmdOK");
    EXPECT_EQ(window.result(), QDialog::Accepted);
    QStringList taken;
    for (const auto& f : window.chosenFiles())
        taken << f.fileName + "=" + f.fullPath;
    taken.sort();
    EXPECT_EQ(taken, QStringList({"klein.txt=" + folder + "/klein.txt",
                                  "scan.tif=" + folder + "/scan.tif"}));
}

// Files taken into a list with rows get the next numbers; OK moves the start folder to the
// tree's folder, with or without a selection, Cancel never does.
TEST_F(FileWindowTest, AddingIntoAListWithRowsAndTheStartFolderRules) {
    kestro::ScriptedPrompter prompter;
    kestro::ui::JobPanel panel(prompter);
    panel.model().appendFiles({{"a", "/x/a"}, {"b", "/x/b"}, {"c", "/x/c"}});
    QString startFolder = folder;
    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        // A file that came after the listing shows once the folder is chosen again.
        writeBytes(folder + "/Pläne/zweite.pdf", 10);
        window.folderTree()->setCurrentPath(folder);
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        window.fileList()->selectAll();
        press(window, "cmdOK");
    });
    EXPECT_EQ(startFolder, folder + "/Pläne");
    const auto rows = panel.snapshot().files;
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[3].number, "4");
    EXPECT_EQ(rows[4].number, "5");
    EXPECT_EQ(rows[3].fullPath, folder + "/Pläne/" + rows[3].fileName);

    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder);
        press(window, "cmdOK");
    });
    EXPECT_EQ(startFolder, folder);
    EXPECT_EQ(panel.model().rowCount(), 5);
    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        window.fileList()->selectAll();
        press(window, "cmdCancel");
    });
    EXPECT_EQ(startFolder, folder);
    EXPECT_EQ(panel.model().rowCount(), 5);
}

// The start-folder window follows the tree; OK stores the folder, then the flag; Cancel
// stores and changes nothing.
TEST_F(FileWindowTest, StartFolderWindowStoresFolderThenFlagOnlyOnOk) {
    kestro::test::RecordingWriter writer;
    QString startFolder = folder;
    QString remember = "No";
    {
        FrmStartOrdner window(writer, startFolder, remember);
        kestro::test::saveScreenshot(&window, "frmStartOrdner");
        auto* text = child<QLineEdit>(window, "txtStartOrdner");
        EXPECT_EQ(text->text(), folder);
        EXPECT_FALSE(child<QCheckBox>(window, "chkLastStartOrdner")->isChecked());
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        EXPECT_EQ(text->text(), folder + "/Pläne");
        child<QCheckBox>(window, "chkLastStartOrdner")->setChecked(true);
        press(window, "cmdOK");
    }
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=" + folder + "/Pläne", "valFolderDir=Yes"}));
    EXPECT_EQ(startFolder, folder + "/Pläne");
    EXPECT_EQ(remember, "Yes");

    writer.writes.clear();
    FrmStartOrdner window(writer, startFolder, remember);
    EXPECT_TRUE(child<QCheckBox>(window, "chkLastStartOrdner")->isChecked());
    window.folderTree()->setCurrentPath(dir.path());
    child<QCheckBox>(window, "chkLastStartOrdner")->setChecked(false);
    press(window, "cmdCancel");
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_EQ(startFolder, folder + "/Pläne");
    EXPECT_EQ(remember, "Yes");
}
