// The file window and the start-folder window against real folders on disk.
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
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using kestro::test::press;
using kestro::ui::FrmAddFile;
using kestro::ui::FrmStartOrdner;

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

// The window lists its start folder (a missing one as an empty list) as a file manager does:
// by name, without regard to case, numbers by their value; another folder chosen in the tree
// refills the list; OK takes the selected files with their paths.
TEST_F(FileWindowTest, ListsAFolderByNameRefillsFromTheTreeAndTakesTheSelection) {
    FrmAddFile missing(dir.filePath("weg"));
    ASSERT_TRUE(waitFilled(missing));
    EXPECT_EQ(missing.fileList()->model()->rowCount(), 0);

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
        auto* text = kestro::test::child<QLineEdit>(window, "txtStartOrdner");
        EXPECT_EQ(text->text(), folder);
        EXPECT_FALSE(kestro::test::child<QCheckBox>(window, "chkLastStartOrdner")->isChecked());
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        EXPECT_EQ(text->text(), folder + "/Pläne");
        kestro::test::child<QCheckBox>(window, "chkLastStartOrdner")->setChecked(true);
        press(window, "cmdOK");
    }
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=" + folder + "/Pläne", "valFolderDir=Yes"}));
    EXPECT_EQ(startFolder, folder + "/Pläne");
    EXPECT_EQ(remember, "Yes");

    writer.writes.clear();
    FrmStartOrdner window(writer, startFolder, remember);
    EXPECT_TRUE(kestro::test::child<QCheckBox>(window, "chkLastStartOrdner")->isChecked());
    window.folderTree()->setCurrentPath(dir.path());
    kestro::test::child<QCheckBox>(window, "chkLastStartOrdner")->setChecked(false);
    press(window, "cmdCancel");
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_EQ(startFolder, folder + "/Pläne");
    EXPECT_EQ(remember, "Yes");
}
