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

    serverBox_ = addBox(QStringLiteral("txtFTPServer"));
    userBox_ = addBox(QStringLiteral("txtFTPUser"));
    passwordBox_ = addBox(QStringLiteral("txtFTPPW"));
    passwordBox_->setEchoMode(QLineEdit::Password);
    mailAddressBox_ = addBox(QStringLiteral("txtEMailAdr"));
    httpProxyBox_ = addBox(QStringLiteral("txtProxyH"));
    httpProxyPortBox_ = addBox(QStringLiteral("txtProHPort"));
    ftpProxyBox_ = addBox(QStringLiteral("txtProxyF"));
    ftpProxyPortBox_ = addBox(QStringLiteral("txtProFPort"));
    proxyUserBox_ = addBox(QStringLiteral("txtUserProxy"));
    proxyPasswordBox_ = addBox(QStringLiteral("txtPassProxy"));
    proxyPasswordBox_->setEchoMode(QLineEdit::Password);
    encryptionBox_ = new QComboBox(this);
    encryptionBox_->setObjectName(QStringLiteral("cboEncryption"));
    encryptionBox_->addItems(startup::ftpEncryptionChoices());

    auto* layout = new QVBoxLayout(this);

    auto* hint = new QLabel(QStringLiteral("Bitte tragen Sie hier die Zieladresse ein, die Sie "
                                           "von Ihrem Dienstleister erhalten haben"),
                            this);
    hint->setObjectName(QStringLiteral("lblHint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* target = new QGridLayout;
    target->addWidget(labelFor(QStringLiteral("FTP-&Server :"), serverBox_, this), 0, 0);
    target->addWidget(serverBox_, 0, 1);
    auto* example = new QLabel(QStringLiteral("z. B. ftp.ihre-druckerei.example"), this);
    example->setObjectName(QStringLiteral("lblExample"));
    target->addWidget(example, 1, 1);
    target->addWidget(labelFor(QStringLiteral("&Username :"), userBox_, this), 2, 0);
    target->addWidget(userBox_, 2, 1);
    target->addWidget(labelFor(QStringLiteral("&Kennwort :"), passwordBox_, this), 3, 0);
    target->addWidget(passwordBox_, 3, 1);
    target->addWidget(labelFor(QStringLiteral("E-Mail des Empfängers :"), mailAddressBox_, this), 4,
                      0);
    target->addWidget(mailAddressBox_, 4, 1);
    target->addWidget(labelFor(QStringLiteral("&Verschlüsselung :"), encryptionBox_, this), 5, 0);
    target->addWidget(encryptionBox_, 5, 1);
    layout->addLayout(target);

    useProxyCheck_ = new QCheckBox(QStringLiteral("Proxyserver verwenden"), this);
    useProxyCheck_->setObjectName(QStringLiteral("chkProxy"));
    layout->addWidget(useProxyCheck_);

    auto* proxyBox = new QGroupBox(QStringLiteral("Proxy :"), this);
    auto* proxy = new QGridLayout(proxyBox);
    // One row per proxy setting: its box, and for the two proxies their port beside it.
    auto addProxyRow = [&](int row, const QString& caption, QLineEdit* box, QLineEdit* port) {
        proxy->addWidget(labelFor(caption, box, proxyBox), row, 0);
        proxy->addWidget(box, row, 1);
        if (!port)
            return;
        proxy->addWidget(labelFor(QStringLiteral("Port :"), port, proxyBox), row, 2);
        proxy->addWidget(port, row, 3);
    };
    addProxyRow(0, QStringLiteral("HTTP :"), httpProxyBox_, httpProxyPortBox_);
    addProxyRow(1, QStringLiteral("FTP :"), ftpProxyBox_, ftpProxyPortBox_);
    addProxyRow(2, QStringLiteral("&Username :"), proxyUserBox_, nullptr);
    addProxyRow(3, QStringLiteral("&Kennwort :"), proxyPasswordBox_, nullptr);
    layout->addWidget(proxyBox);

    okButton_ = new QPushButton(QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("cmdOK"));
    okButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    layout->addLayout(buttons);

    connect(useProxyCheck_, &QCheckBox::toggled, this, &FrmFtpConfig::onProxyToggled);
    connect(okButton_, &QPushButton::clicked, this, &FrmFtpConfig::onOk);
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
    serverBox_->setText(form.server);
    userBox_->setText(form.user);
    passwordBox_->setText(form.password);
    mailAddressBox_->setText(form.recipient);
    encryptionBox_->setCurrentIndex(int(form.encryption));
    httpProxyBox_->setText(form.httpProxy);
    httpProxyPortBox_->setText(form.httpProxyPort);
    ftpProxyBox_->setText(form.ftpProxy);
    ftpProxyPortBox_->setText(form.ftpProxyPort);
    proxyUserBox_->setText(form.proxyUser);
    proxyPasswordBox_->setText(form.proxyPassword);
    useProxyCheck_->setChecked(form.useProxy);
    onProxyToggled(form.useProxy);
}

startup::FtpConfigForm FrmFtpConfig::collect() const {
    startup::FtpConfigForm form;
    form.server = serverBox_->text();
    form.user = userBox_->text();
    form.password = passwordBox_->text();
    form.recipient = mailAddressBox_->text();
    form.encryption = startup::FtpEncryption(encryptionBox_->currentIndex());
    form.useProxy = useProxyCheck_->isChecked();
    form.httpProxy = httpProxyBox_->text();
    form.httpProxyPort = httpProxyPortBox_->text();
    form.ftpProxy = ftpProxyBox_->text();
    form.ftpProxyPort = ftpProxyPortBox_->text();
    form.proxyUser = proxyUserBox_->text();
    form.proxyPassword = proxyPasswordBox_->text();
    return form;
}

void FrmFtpConfig::onProxyToggled(bool checked) {
    for (QLineEdit* box : {httpProxyBox_, httpProxyPortBox_, ftpProxyBox_, ftpProxyPortBox_,
                           proxyUserBox_, proxyPasswordBox_})
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
