// The file window and the start-folder window against real folders on disk.
#include "client/ui/compose_foldertree.h"
#include "client/ui/frmaddfile.h"
#include "client/ui/frmstartordner.h"
#include "client/ui/jobpanel.h"
#include "common/settingwriter.h"

#include "support/recordingwriter.h"
#include "support/uitest.h"
#include "ui/eventwait.h"
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <functional>

#include <gtest/gtest.h>

using kestro::ui::FolderTree;
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

QStringList listedNames(const FrmAddFile& window) {
    QStringList names;
    const QAbstractItemModel* m = window.fileList()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        names << m->index(r, 0).data().toString() + " " + m->index(r, 1).data().toString();
    names.sort();
    return names;
}

void selectByName(FrmAddFile& window, const QStringList& names) {
    QTreeView* view = window.fileList();
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        if (names.contains(view->model()->index(r, 0).data().toString()))
            view->selectionModel()->select(view->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QPushButton* button(QWidget& window, const char* name) {
    return window.findChild<QPushButton*>(QString::fromLatin1(name));
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

TEST_F(FileWindowTest, ListsTheStartFolderAndTakesTheSelectedFiles) {
    FrmAddFile window(folder);
    ASSERT_TRUE(waitFilled(window));
    EXPECT_EQ(listedNames(window),
              QStringList({"klein.txt 1023 Byte", "plan.plt 2 KB", "scan.tif 1,50 MB"}));
    EXPECT_EQ(window.folderTree()->currentPath(), folder);

    selectByName(window, {"scan.tif", "klein.txt"});
    button(window, "cmdOK")->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
    QStringList taken;
    for (const auto& f : window.chosenFiles())
        taken << f.fileName + "=" + f.fullPath;
    taken.sort();
    EXPECT_EQ(taken, QStringList({"klein.txt=" + folder + "/klein.txt",
                                  "scan.tif=" + folder + "/scan.tif"}));
}

TEST_F(FileWindowTest, ChoosingAnotherFolderInTheTreeRefillsTheList) {
    FrmAddFile window(folder);
    ASSERT_TRUE(waitFilled(window));
    ASSERT_TRUE(window.folderTree()->setCurrentPath(folder + "/Pläne"));
    ASSERT_TRUE(waitFilled(window));
    EXPECT_EQ(listedNames(window), QStringList({"ansicht.pdf 1 KB"}));
    EXPECT_EQ(window.currentFolder(), folder + "/Pläne");
}

TEST_F(FileWindowTest, MissingStartFolderShowsAnEmptyList) {
    FrmAddFile window(dir.filePath("weg"));
    ASSERT_TRUE(waitFilled(window));
    EXPECT_EQ(window.fileList()->model()->rowCount(), 0);
}

TEST_F(FileWindowTest, AddingIntoAListWithRowsAndTheStartFolderRules) {
    kestro::ScriptedPrompter prompter;
    kestro::ui::JobPanel panel(prompter);
    panel.model().appendFiles({{"a", "/x/a"}, {"b", "/x/b"}, {"c", "/x/c"}});

    // OK with two files in the subfolder: rows 4 and 5, start folder follows the tree.
    QString startFolder = folder;
    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        writeBytes(folder + "/Pläne/zweite.pdf", 10);
        window.folderTree()->setCurrentPath(folder);
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        window.fileList()->selectAll();
        button(window, "cmdOK")->click();
    });
    EXPECT_EQ(startFolder, folder + "/Pläne");
    const auto rows = panel.snapshot().files;
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[3].number, "4");
    EXPECT_EQ(rows[4].number, "5");
    EXPECT_EQ(rows[3].fullPath, folder + "/Pläne/" + rows[3].fileName);

    // OK without a selection still moves the start folder; Cancel never does.
    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder);
        button(window, "cmdOK")->click();
    });
    EXPECT_EQ(startFolder, folder);
    EXPECT_EQ(panel.model().rowCount(), 5);

    inFileWindow(panel, startFolder, [&](FrmAddFile& window) {
        window.folderTree()->setCurrentPath(folder + "/Pläne");
        waitFilled(window);
        window.fileList()->selectAll();
        button(window, "cmdCancel")->click();
    });
    EXPECT_EQ(startFolder, folder);
    EXPECT_EQ(panel.model().rowCount(), 5);
}

TEST_F(FileWindowTest, StartFolderWindowStoresFolderThenFlag) {
    kestro::test::RecordingWriter writer;
    QString startFolder = folder;
    QString remember = "No";
    FrmStartOrdner window(writer, startFolder, remember);
    kestro::test::saveScreenshot(&window, "frmStartOrdner");
    auto* text = window.findChild<QLineEdit*>("txtStartOrdner");
    auto* check = window.findChild<QCheckBox*>("chkLastStartOrdner");
    ASSERT_TRUE(text && check);
    EXPECT_EQ(text->text(), folder);
    EXPECT_FALSE(check->isChecked());

    window.folderTree()->setCurrentPath(folder + "/Pläne");
    EXPECT_EQ(text->text(), folder + "/Pläne");
    check->setChecked(true);
    button(window, "cmdOK")->click();
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=" + folder + "/Pläne", "valFolderDir=Yes"}));
    EXPECT_EQ(startFolder, folder + "/Pläne");
    EXPECT_EQ(remember, "Yes");
}

TEST_F(FileWindowTest, StartFolderWindowCancelChangesNothing) {
    kestro::test::RecordingWriter writer;
    QString startFolder = folder;
    QString remember = "Yes";
    FrmStartOrdner window(writer, startFolder, remember);
    EXPECT_TRUE(window.findChild<QCheckBox*>("chkLastStartOrdner")->isChecked());
    window.folderTree()->setCurrentPath(dir.path());
    window.findChild<QCheckBox*>("chkLastStartOrdner")->setChecked(false);
    button(window, "cmdCancel")->click();
    EXPECT_TRUE(writer.writes.isEmpty());
    EXPECT_EQ(startFolder, folder);
    EXPECT_EQ(remember, "Yes");
}

// The file window lists a folder as a file manager does: by name, without regard to case,
// numbers by their value.
TEST_F(FileWindowTest, ListsTheFilesSortedByName) {
    const QString mixed = dir.filePath("Gemischt");
    ASSERT_TRUE(QDir().mkpath(mixed));
    for (const char* name : {"b.pdf", "Plan 10.pdf", "A.pdf", "zeta.pdf", "Plan 2.pdf", "c.pdf",
                             "Änderung.pdf", "_alt.pdf"})
        writeBytes(mixed + "/" + QString::fromUtf8(name), 10);
    FrmAddFile window(mixed);
    ASSERT_TRUE(waitFilled(window));
    kestro::test::saveScreenshot(&window, "frmAddFile");
    QStringList shown;
    const QAbstractItemModel* m = window.fileList()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        shown << m->index(r, 0).data().toString();
    EXPECT_EQ(shown, QStringList({"_alt.pdf", "A.pdf", "Änderung.pdf", "b.pdf", "c.pdf",
                                  "Plan 2.pdf", "Plan 10.pdf", "zeta.pdf"}));
}
