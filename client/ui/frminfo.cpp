#include "client/ui/frminfo.h"

#include "client/startup/clientstate.h"
#include "client/ui/frmwelcom.h"
#include "client/ui/productlogo.h"
#include "client/ui/windowplacement.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro::ui {

FrmInfo::FrmInfo(const DeployConfig& config, QWidget* parent) : QDialog(parent) {
    using namespace kestro::startup;
    setObjectName(QStringLiteral("frmInfo"));
    setWindowTitle(QStringLiteral("INFO"));
    setModal(true);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);

    auto* layout = new QVBoxLayout(this);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(productLogo(56));
    layout->addWidget(image, 0, Qt::AlignHCenter);

    auto* name = new QLabel(kAppName, this);
    name->setObjectName(QStringLiteral("lblName"));
    QFont f = name->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    name->setFont(f);
    layout->addWidget(name, 0, Qt::AlignHCenter);

    auto* grid = new QGridLayout;
    auto* versionCaption = new QLabel(QStringLiteral("Version:"), this);
    versionCaption->setObjectName(QStringLiteral("Label6"));
    auto* version = new QLabel(QStringLiteral("Version ") + versionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* buildCaption = new QLabel(QStringLiteral("Build:"), this);
    buildCaption->setObjectName(QStringLiteral("Label3"));
    auto* build = new QLabel(QString::number(kVersionRevision), this);
    build->setObjectName(QStringLiteral("lblBuild"));
    grid->addWidget(versionCaption, 0, 0);
    grid->addWidget(version, 0, 1);
    grid->addWidget(buildCaption, 1, 0);
    grid->addWidget(build, 1, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    auto* link = makeLinkLabel(config.site, config.site, this);
    link->setObjectName(QStringLiteral("Label4"));
    layout->addWidget(link, 0, Qt::AlignHCenter);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    setMinimumWidth(320);
    centerOnScreen(this);
}

} // namespace kestro::ui
