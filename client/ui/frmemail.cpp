#include "client/ui/frmemail.h"

#include "client/mail/mailaccount.h"
#include "client/mail/mailconnection.h"
#include "client/ui/windowplacement.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestro::ui {

namespace {

const QString kLoginTip = QStringLiteral("benutz Userlogin zum Host");

// The label that names a box (set as its buddy).
QLabel* labelOf(QWidget* dialog, QWidget* box) {
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() == box)
            return label;
    return nullptr;
}

void setEnabledWithLabel(QWidget* dialog, QWidget* box, bool on) {
    box->setEnabled(on);
    if (QLabel* label = labelOf(dialog, box))
        label->setEnabled(on);
}

} // namespace

FrmEMail::FrmEMail(const DeployConfig& config, SettingWriter& settings,
                   startup::MailAccountSettings& mail, QWidget* parent)
    : QDialog(parent), config_(config), settings_(settings), mail_(mail) {
    setObjectName(QStringLiteral("frmEMail"));
    setWindowTitle(QStringLiteral("EMail - Kontoeinstellungen"));
    setModal(true);

    ownAccountCheck_ = new QCheckBox(
        QStringLiteral("Optional - bitte nur verwenden falls EMail einstellungen abweichen"), this);
    ownAccountCheck_->setObjectName(QStringLiteral("chkbEMail"));
    ownAccountGroup_ = new QGroupBox(QStringLiteral("Optional"), this);
    ownAccountGroup_->setObjectName(QStringLiteral("fraOptional"));
    auto* form = new QFormLayout(ownAccountGroup_);
    smtpServerBox_ = addBox(QStringLiteral("txtServer"), QStringLiteral("SMTP Server:"),
                            QStringLiteral("lblServer"));
    popServerBox_ = addBox(QStringLiteral("txtPopServer"), QStringLiteral("POP3 Server:"),
                           QStringLiteral("lblPopServer"));
    senderBox_ = addBox(QStringLiteral("txtFrom"), QStringLiteral("Absender Email:"),
                        QStringLiteral("lblFrom"));
    userBox_ = addBox(QStringLiteral("txtUsername"), QStringLiteral("Benutzername:"),
                      QStringLiteral("lblUsername"));
    passwordBox_ = addBox(QStringLiteral("txtPassword"), QStringLiteral("Kennwort:"),
                          QStringLiteral("lblPassword"));
    passwordBox_->setEchoMode(QLineEdit::Password);
    for (QLineEdit* box : {smtpServerBox_, popServerBox_, senderBox_, userBox_, passwordBox_})
        form->addRow(labelOf(this, box), box);
    tlsOnConnectCheck_ =
        new QCheckBox(QStringLiteral("SSL/TLS ab Verbindungsbeginn (Port 465)"), ownAccountGroup_);
    tlsOnConnectCheck_->setObjectName(QStringLiteral("ckTlsOnConnect"));
    tlsOnConnectCheck_->setToolTip(
        QStringLiteral("Verbindung zum SMTP-Server von Anfang an verschlüsseln (SMTPS); "
                       "sonst wird STARTTLS verwendet"));
    form->insertRow(1, QString(), tlsOnConnectCheck_); // under the server it belongs to
    smtpLoginCheck_ = new QCheckBox(QStringLiteral("Login"), ownAccountGroup_);
    smtpLoginCheck_->setObjectName(QStringLiteral("ckLogin"));
    popLoginCheck_ = new QCheckBox(QStringLiteral("POP Login"), ownAccountGroup_);
    popLoginCheck_->setObjectName(QStringLiteral("ckPopLogin"));
    auto* flags = new QHBoxLayout;
    for (QCheckBox* box : {smtpLoginCheck_, popLoginCheck_}) {
        box->setToolTip(kLoginTip);
        flags->addWidget(box);
    }
    flags->addStretch(1);
    form->addRow(flags);

    okButton_ = new QPushButton(QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("cmdOK"));
    okButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ownAccountCheck_);
    layout->addWidget(ownAccountGroup_);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    const startup::MailAccountSettings shown = transfer::mailAccountForWindow(mail, config);
    smtpServerBox_->setText(shown.smtpServer);
    popServerBox_->setText(shown.popServer);
    senderBox_->setText(shown.from);
    userBox_->setText(shown.username);
    passwordBox_->setText(shown.password);
    smtpLoginCheck_->setChecked(shown.smtpLogin);
    popLoginCheck_->setChecked(shown.popLogin);
    tlsOnConnectCheck_->setChecked(shown.tlsOnConnect.value_or(tlsByPort(shown.smtpServer)));
    tlsShown_ = tlsOnConnectCheck_->isChecked();
    ownAccountCheck_->setChecked(shown.account == QStringLiteral("1"));
    setOwnAccount(ownAccountCheck_->isChecked());

    // Clicks only: setting the state in code above must not re-run the rules.
    connect(ownAccountCheck_, &QCheckBox::clicked, this, &FrmEMail::setOwnAccount);
    connect(smtpLoginCheck_, &QCheckBox::clicked, this, &FrmEMail::setLoginEnabled);
    connect(popLoginCheck_, &QCheckBox::clicked, this, &FrmEMail::setPopLoginEnabled);
    connect(smtpServerBox_, &QLineEdit::textEdited, this, &FrmEMail::serverEdited);
    connect(tlsOnConnectCheck_, &QCheckBox::clicked, this, [this] { tlsClicked_ = true; });
    connect(okButton_, &QPushButton::clicked, this, &FrmEMail::store);
    centerOnScreen(this);
}

QLineEdit* FrmEMail::addBox(const QString& name, const QString& label, const QString& labelName) {
    auto* box = new QLineEdit(ownAccountGroup_);
    box->setObjectName(name);
    auto* caption = new QLabel(label, ownAccountGroup_);
    caption->setObjectName(labelName);
    caption->setBuddy(box);
    return box;
}

void FrmEMail::setOwnAccount(bool on) {
    ownAccountGroup_->setEnabled(on);
    for (QWidget* child : ownAccountGroup_->findChildren<QWidget*>())
        child->setEnabled(on);
}

void FrmEMail::setLoginEnabled(bool on) {
    setEnabledWithLabel(this, userBox_, on);
    setEnabledWithLabel(this, passwordBox_, on);
}

void FrmEMail::setPopLoginEnabled(bool on) {
    setEnabledWithLabel(this, popServerBox_, on);
}

bool FrmEMail::tlsByPort(const QString& server) {
    return transfer::smtpServerUrl(server).value_or(QByteArray()).startsWith("smtps:");
}

void FrmEMail::serverEdited(const QString& text) {
    // Port 465 is TLS on connect everywhere; the worker need not know it. The box follows
    // the port both ways, so a 465 typed and corrected leaves nothing ticked, until the
    // worker decides by clicking it.
    if (!tlsClicked_)
        tlsOnConnectCheck_->setChecked(tlsByPort(text));
}

void FrmEMail::store() {
    startup::MailAccountSettings entered;
    entered.account = ownAccountCheck_->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    entered.smtpServer = smtpServerBox_->text();
    entered.popServer = popServerBox_->text();
    entered.from = senderBox_->text();
    entered.username = userBox_->text();
    entered.password = passwordBox_->text();
    entered.smtpLogin = smtpLoginCheck_->isChecked();
    entered.popLogin = popLoginCheck_->isChecked();
    // Stored only as the worker's choice: a box that still shows what the port implies
    // leaves an older configuration without the setting, which then follows the port.
    const bool tls = tlsOnConnectCheck_->isChecked();
    if (tlsClicked_ || tls != tlsShown_ || mail_.tlsOnConnect)
        entered.tlsOnConnect = tls;
    transfer::storeMailAccount(settings_, mail_, entered, config_);
    accept();
}

} // namespace kestro::ui
