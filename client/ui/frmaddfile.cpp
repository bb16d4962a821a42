#include "client/ui/frmaddfile.h"

#include "client/ui/compose_foldertree.h"
#include "client/ui/filelistcolumns.h"
#include "client/ui/windowplacement.h"
#include "common/paths.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

namespace kestro::ui {

FrmAddFile::FrmAddFile(const QString& startFolder, QWidget* parent)
    : QDialog(parent), lister_(this), files_(this), currentFolder_(startFolder) {
    setObjectName(QStringLiteral("frmAddFile"));
    setWindowTitle(QStringLiteral("Dateien hinzufügen ..."));
    setModal(true);

    folderTree_ = new FolderTree(this);
    folderTree_->setObjectName(QStringLiteral("FolderTreeview1"));

    fileList_ = newFileListView(&files_, this);
    fileList_->header()->setSectionResizeMode(compose::FolderListingModel::Name,
                                              QHeaderView::Stretch);
    fileList_->header()->resizeSection(compose::FolderListingModel::Size, 110);

    okButton_ = new QPushButton(QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("cmdOK"));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancelButton_->setObjectName(QStringLiteral("cmdCancel"));

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(folderTree_);
    splitter->addWidget(fileList_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    setMinimumSize(760, 480); // the centring fits the window to its contents

    connect(&lister_, &compose::FolderLister::batchReady, &files_,
            &compose::FolderListingModel::append);
    connect(&lister_, &compose::FolderLister::finished, this, [this] {
        filling_ = false;
        Q_EMIT fillingFinished();
    });
    connect(okButton_, &QPushButton::clicked, this, &FrmAddFile::takeSelectedFiles);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(fileList_, &QTreeView::doubleClicked, this, &FrmAddFile::takeSelectedFiles);

    folderTree_->setCurrentPath(startFolder);
    connect(folderTree_, &FolderTree::currentPathChanged, this, [this](const QString& folder) {
        if (folder != currentFolder_)
            showFolder(folder);
    });
    showFolder(startFolder);
    centerOnScreen(this);
}

void FrmAddFile::showFolder(const QString& folder) {
    currentFolder_ = folder;
    files_.clear();
    filling_ = true;
    lister_.list(folder);
}

void FrmAddFile::takeSelectedFiles() {
    QList<int> rows;
    for (const QModelIndex& index : fileList_->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    chosen_.clear();
    for (int row : rows) {
        const QString& name = files_.file(row).name;
        chosen_.append({name, paths::join(currentFolder_, name)});
    }
    lister_.cancel();
    accept();
}

} // namespace kestro::ui
