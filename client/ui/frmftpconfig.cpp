#include "client/ui/frmftpconfig.h"

#include "client/ui/windowplacement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro::ui {

namespace {

QLabel* labelFor(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

FrmFtpConfig::FrmFtpConfig(Context context, QWidget* parent)
    : QDialog(parent), ctx_(context),
      confirmation_(context.state, context.config, context.settings) {
    setObjectName(QStringLiteral("frmFTPconfig"));
    setWindowTitle(QStringLiteral("FTP - konfiguration"));
    setModal(true);

    txtFTPServer_ = addBox(QStringLiteral("txtFTPServer"));
    txtFTPUser_ = addBox(QStringLiteral("txtFTPUser"));
    txtFTPPW_ = addBox(QStringLiteral("txtFTPPW"));
    txtFTPPW_->setEchoMode(QLineEdit::Password);
    txtEMailAdr_ = addBox(QStringLiteral("txtEMailAdr"));
    txtProxyH_ = addBox(QStringLiteral("txtProxyH"));
    txtProHPort_ = addBox(QStringLiteral("txtProHPort"));
    txtProxyF_ = addBox(QStringLiteral("txtProxyF"));
    txtProFPort_ = addBox(QStringLiteral("txtProFPort"));
    txtUserProxy_ = addBox(QStringLiteral("txtUserProxy"));
    txtPassProxy_ = addBox(QStringLiteral("txtPassProxy"));
    txtPassProxy_->setEchoMode(QLineEdit::Password);
    cboEncryption_ = new QComboBox(this);
    cboEncryption_->setObjectName(QStringLiteral("cboEncryption"));
    cboEncryption_->addItems(startup::ftpEncryptionChoices());

    auto* layout = new QVBoxLayout(this);

    auto* hint = new QLabel(QStringLiteral("Bitte tragen Sie hier die Zieladresse ein, die Sie "
                                           "von Ihrem Dienstleister erhalten haben"),
                            this);
    hint->setObjectName(QStringLiteral("lblHint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* target = new QGridLayout;
    target->addWidget(labelFor(QStringLiteral("FTP-&Server :"), txtFTPServer_, this), 0, 0);
    target->addWidget(txtFTPServer_, 0, 1);
    auto* example = new QLabel(QStringLiteral("z. B. ftp.ihre-druckerei.example"), this);
    example->setObjectName(QStringLiteral("lblExample"));
    target->addWidget(example, 1, 1);
    target->addWidget(labelFor(QStringLiteral("&Username :"), txtFTPUser_, this), 2, 0);
    target->addWidget(txtFTPUser_, 2, 1);
    target->addWidget(labelFor(QStringLiteral("&Kennwort :"), txtFTPPW_, this), 3, 0);
    target->addWidget(txtFTPPW_, 3, 1);
    target->addWidget(labelFor(QStringLiteral("E-Mail des Empfängers :"), txtEMailAdr_, this), 4,
                      0);
    target->addWidget(txtEMailAdr_, 4, 1);
    target->addWidget(labelFor(QStringLiteral("&Verschlüsselung :"), cboEncryption_, this), 5, 0);
    target->addWidget(cboEncryption_, 5, 1);
    layout->addLayout(target);

    chkProxy_ = new QCheckBox(QStringLiteral("Proxyserver verwenden"), this);
    chkProxy_->setObjectName(QStringLiteral("chkProxy"));
    layout->addWidget(chkProxy_);

    auto* proxyBox = new QGroupBox(QStringLiteral("Proxy :"), this);
    auto* proxy = new QGridLayout(proxyBox);
    proxy->addWidget(labelFor(QStringLiteral("HTTP :"), txtProxyH_, proxyBox), 0, 0);
    proxy->addWidget(txtProxyH_, 0, 1);
    proxy->addWidget(labelFor(QStringLiteral("Port :"), txtProHPort_, proxyBox), 0, 2);
    proxy->addWidget(txtProHPort_, 0, 3);
    proxy->addWidget(labelFor(QStringLiteral("FTP :"), txtProxyF_, proxyBox), 1, 0);
    proxy->addWidget(txtProxyF_, 1, 1);
    proxy->addWidget(labelFor(QStringLiteral("Port :"), txtProFPort_, proxyBox), 1, 2);
    proxy->addWidget(txtProFPort_, 1, 3);
    proxy->addWidget(labelFor(QStringLiteral("&Username :"), txtUserProxy_, proxyBox), 2, 0);
    proxy->addWidget(txtUserProxy_, 2, 1);
    proxy->addWidget(labelFor(QStringLiteral("&Kennwort :"), txtPassProxy_, proxyBox), 3, 0);
    proxy->addWidget(txtPassProxy_, 3, 1);
    layout->addWidget(proxyBox);

    cmdOK_ = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK_);
    layout->addLayout(buttons);

    connect(chkProxy_, &QCheckBox::toggled, this, &FrmFtpConfig::onProxyToggled);
    connect(cmdOK_, &QPushButton::clicked, this, &FrmFtpConfig::onOk);
    connect(&confirmation_, &startup::FtpConfigConfirmation::finished, this,
            &FrmFtpConfig::onConfirmed);

    fillWindow(startup::formFromSettings(ctx_.state.ftp, ctx_.state.proxy, ctx_.config));
    adjustSize();
    centerOnScreen(this);
}

QLineEdit* FrmFtpConfig::addBox(const QString& name) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    return box;
}

void FrmFtpConfig::fillWindow(const startup::FtpConfigForm& form) {
    txtFTPServer_->setText(form.server);
    txtFTPUser_->setText(form.user);
    txtFTPPW_->setText(form.password);
    txtEMailAdr_->setText(form.recipient);
    cboEncryption_->setCurrentIndex(int(form.encryption));
    txtProxyH_->setText(form.httpProxy);
    txtProHPort_->setText(form.httpProxyPort);
    txtProxyF_->setText(form.ftpProxy);
    txtProFPort_->setText(form.ftpProxyPort);
    txtUserProxy_->setText(form.proxyUser);
    txtPassProxy_->setText(form.proxyPassword);
    chkProxy_->setChecked(form.useProxy);
    onProxyToggled(form.useProxy);
}

startup::FtpConfigForm FrmFtpConfig::collect() const {
    startup::FtpConfigForm form;
    form.server = txtFTPServer_->text();
    form.user = txtFTPUser_->text();
    form.password = txtFTPPW_->text();
    form.recipient = txtEMailAdr_->text();
    form.encryption = startup::FtpEncryption(cboEncryption_->currentIndex());
    form.useProxy = chkProxy_->isChecked();
    form.httpProxy = txtProxyH_->text();
    form.httpProxyPort = txtProHPort_->text();
    form.ftpProxy = txtProxyF_->text();
    form.ftpProxyPort = txtProFPort_->text();
    form.proxyUser = txtUserProxy_->text();
    form.proxyPassword = txtPassProxy_->text();
    return form;
}

void FrmFtpConfig::onProxyToggled(bool checked) {
    for (QLineEdit* box :
         {txtProxyH_, txtProHPort_, txtProxyF_, txtProFPort_, txtUserProxy_, txtPassProxy_})
        box->setEnabled(checked);
}

void FrmFtpConfig::onOk() {
    if (!confirmation_.confirm(collect()))
        return;
    // The catalogue is fetched in the background; the window waits for it, as the user
    // expects the new shop's lists once it closes.
    setEnabled(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void FrmFtpConfig::onConfirmed(const startup::CatalogueOutcome& outcome) {
    QGuiApplication::restoreOverrideCursor();
    setEnabled(true);
    Q_EMIT catalogueReloaded(outcome);
    accept();
}

void FrmFtpConfig::reject() {
    // Closing while the catalogue is fetched would leave the lists half refreshed.
    if (confirmation_.isRunning())
        return;
    QDialog::reject();
}

} // namespace kestro::ui
