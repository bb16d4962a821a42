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

    treeview1_ = new FolderTree(this);
    treeview1_->setObjectName(QStringLiteral("Treeview1"));
    txtStartOrdner_ = new QLineEdit(startFolder, this);
    txtStartOrdner_->setObjectName(QStringLiteral("txtStartOrdner"));
    auto* label = new QLabel(QStringLiteral("Startordner:"), this);
    label->setBuddy(txtStartOrdner_);
    chkLastStartOrdner_ =
        new QCheckBox(QStringLiteral("Startordner ist der zuletzt verwendete !"), this);
    chkLastStartOrdner_->setObjectName(QStringLiteral("chkLastStartOrdner"));
    chkLastStartOrdner_->setChecked(compose::rememberFlagFromText(rememberFlag));
    cmdOK_ = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(label);
    folderRow->addWidget(txtStartOrdner_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chkLastStartOrdner_);
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(treeview1_, 1);
    layout->addLayout(folderRow);
    layout->addLayout(buttons);
    setMinimumSize(520, 460); // the centring fits the window to its contents

    treeview1_->setCurrentPath(startFolder);
    connect(treeview1_, &FolderTree::currentPathChanged, txtStartOrdner_, &QLineEdit::setText);
    connect(cmdOK_, &QPushButton::clicked, this, &FrmStartOrdner::store);
    connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
    centerOnScreen(this);
}

void FrmStartOrdner::store() {
    const compose::StartFolder chosen{txtStartOrdner_->text(), chkLastStartOrdner_->isChecked()};
    startFolder_ = chosen.folder;
    rememberFlag_ = compose::rememberFlagText(chosen.rememberLast);
    compose::storeStartFolder(settings_, chosen);
    accept();
}

} // namespace kestro::ui
