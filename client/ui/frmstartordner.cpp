#include "client/ui/frmstartordner.h"

#include "client/compose/startfolder.h"
#include "client/ui/compose_foldertree.h"
#include "client/ui/windowplacement.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro::ui {

FrmStartOrdner::FrmStartOrdner(SettingWriter& settings, QString& startFolder, QString& rememberFlag,
                               QWidget* parent)
    : QDialog(parent), settings_(settings), startFolder_(startFolder), rememberFlag_(rememberFlag) {
    setObjectName(QStringLiteral("frmStartOrdner"));
    setWindowTitle(QStringLiteral("Startordner"));
    setModal(true);

    folderTree_ = new FolderTree(this);
    folderTree_->setObjectName(QStringLiteral("Treeview1"));
    startFolderBox_ = new QLineEdit(startFolder, this);
    startFolderBox_->setObjectName(QStringLiteral("txtStartOrdner"));
    auto* label = new QLabel(QStringLiteral("Startordner:"), this);
    label->setBuddy(startFolderBox_);
    rememberFolderCheck_ =
        new QCheckBox(QStringLiteral("Startordner ist der zuletzt verwendete !"), this);
    rememberFolderCheck_->setObjectName(QStringLiteral("chkLastStartOrdner"));
    rememberFolderCheck_->setChecked(compose::rememberFlagFromText(rememberFlag));
    okButton_ = new QPushButton(QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("cmdOK"));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancelButton_->setObjectName(QStringLiteral("cmdCancel"));

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(label);
    folderRow->addWidget(startFolderBox_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rememberFolderCheck_);
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(folderTree_, 1);
    layout->addLayout(folderRow);
    layout->addLayout(buttons);
    setMinimumSize(520, 460); // the centring fits the window to its contents

    folderTree_->setCurrentPath(startFolder);
    connect(folderTree_, &FolderTree::currentPathChanged, startFolderBox_, &QLineEdit::setText);
    connect(okButton_, &QPushButton::clicked, this, &FrmStartOrdner::store);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    centerOnScreen(this);
}

void FrmStartOrdner::store() {
    const compose::StartFolder chosen{startFolderBox_->text(), rememberFolderCheck_->isChecked()};
    startFolder_ = chosen.folder;
    rememberFlag_ = compose::rememberFlagText(chosen.rememberLast);
    compose::storeStartFolder(settings_, chosen);
    accept();
}

} // namespace kestro::ui
