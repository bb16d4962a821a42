#pragma once

#include "client/compose/filelistmodel.h"
#include "client/compose/folderlister.h"
#include "client/compose/folderlistingmodel.h"

#include <QDialog>

class QPushButton;
class QTreeView;

namespace kestro::ui {

class FolderTree;

// "Dateien hinzufügen ...": a folder tree and the files of the chosen folder with their
// sizes. The files are listed in the background and appear in batches, so the window
// stays usable while a large folder fills. "OK" (or a double click on a file) takes the
// selected files; the caller reads them with chosenFiles() and the folder with
// currentFolder().
class FrmAddFile : public QDialog {
    Q_OBJECT
public:
    explicit FrmAddFile(const QString& startFolder, QWidget* parent = nullptr);

    // The files selected when "OK" was pressed, top to bottom, with their full paths.
    QList<compose::NewFile> chosenFiles() const { return chosen_; }
    // The folder whose files are shown (the tree's folder).
    QString currentFolder() const { return currentFolder_; }
    bool isFilling() const { return filling_; }
    QTreeView* fileList() const { return fileList_; }
    FolderTree* folderTree() const { return folderTree_; }

Q_SIGNALS:
    // The list of the current folder is complete (or stopped at an unreadable file).
    void fillingFinished();

private:
    void showFolder(const QString& folder);
    void takeSelectedFiles();

    compose::FolderLister lister_;
    compose::FolderListingModel files_;
    FolderTree* folderTree_ = nullptr;
    QTreeView* fileList_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QString currentFolder_;
    QList<compose::NewFile> chosen_;
    bool filling_ = false;
};

} // namespace kestro::ui
