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

    chkbEMail_ = new QCheckBox(
        QStringLiteral("Optional - bitte nur verwenden falls EMail einstellungen abweichen"), this);
    chkbEMail_->setObjectName(QStringLiteral("chkbEMail"));
    fraOptional_ = new QGroupBox(QStringLiteral("Optional"), this);
    fraOptional_->setObjectName(QStringLiteral("fraOptional"));
    auto* form = new QFormLayout(fraOptional_);
    txtServer_ = addBox(QStringLiteral("txtServer"), QStringLiteral("SMTP Server:"),
                        QStringLiteral("lblServer"));
    txtPopServer_ = addBox(QStringLiteral("txtPopServer"), QStringLiteral("POP3 Server:"),
                           QStringLiteral("lblPopServer"));
    txtFrom_ = addBox(QStringLiteral("txtFrom"), QStringLiteral("Absender Email:"),
                      QStringLiteral("lblFrom"));
    txtUsername_ = addBox(QStringLiteral("txtUsername"), QStringLiteral("Benutzername:"),
                          QStringLiteral("lblUsername"));
    txtPassword_ = addBox(QStringLiteral("txtPassword"), QStringLiteral("Kennwort:"),
                          QStringLiteral("lblPassword"));
    txtPassword_->setEchoMode(QLineEdit::Password);
    for (QLineEdit* box : {txtServer_, txtPopServer_, txtFrom_, txtUsername_, txtPassword_})
        form->addRow(labelOf(this, box), box);
    ckTlsOnConnect_ =
        new QCheckBox(QStringLiteral("SSL/TLS ab Verbindungsbeginn (Port 465)"), fraOptional_);
    ckTlsOnConnect_->setObjectName(QStringLiteral("ckTlsOnConnect"));
    ckTlsOnConnect_->setToolTip(
        QStringLiteral("Verbindung zum SMTP-Server von Anfang an verschlüsseln (SMTPS); "
                       "sonst wird STARTTLS verwendet"));
    form->insertRow(1, QString(), ckTlsOnConnect_); // under the server it belongs to
    ckLogin_ = new QCheckBox(QStringLiteral("Login"), fraOptional_);
    ckLogin_->setObjectName(QStringLiteral("ckLogin"));
    ckPopLogin_ = new QCheckBox(QStringLiteral("POP Login"), fraOptional_);
    ckPopLogin_->setObjectName(QStringLiteral("ckPopLogin"));
    auto* flags = new QHBoxLayout;
    for (QCheckBox* box : {ckLogin_, ckPopLogin_}) {
        box->setToolTip(kLoginTip);
        flags->addWidget(box);
    }
    flags->addStretch(1);
    form->addRow(flags);

    cmdOK_ = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chkbEMail_);
    layout->addWidget(fraOptional_);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    const startup::MailAccountSettings shown = transfer::mailAccountForWindow(mail, config);
    txtServer_->setText(shown.smtpServer);
    txtPopServer_->setText(shown.popServer);
    txtFrom_->setText(shown.from);
    txtUsername_->setText(shown.username);
    txtPassword_->setText(shown.password);
    ckLogin_->setChecked(shown.smtpLogin);
    ckPopLogin_->setChecked(shown.popLogin);
    ckTlsOnConnect_->setChecked(shown.tlsOnConnect.value_or(tlsByPort(shown.smtpServer)));
    tlsShown_ = ckTlsOnConnect_->isChecked();
    chkbEMail_->setChecked(shown.account == QStringLiteral("1"));
    setOwnAccount(chkbEMail_->isChecked());

    // Clicks only: setting the state in code above must not re-run the rules.
    connect(chkbEMail_, &QCheckBox::clicked, this, &FrmEMail::setOwnAccount);
    connect(ckLogin_, &QCheckBox::clicked, this, &FrmEMail::setLoginEnabled);
    connect(ckPopLogin_, &QCheckBox::clicked, this, &FrmEMail::setPopLoginEnabled);
    connect(txtServer_, &QLineEdit::textEdited, this, &FrmEMail::serverEdited);
    connect(ckTlsOnConnect_, &QCheckBox::clicked, this, [this] { tlsClicked_ = true; });
    connect(cmdOK_, &QPushButton::clicked, this, &FrmEMail::store);
    centerOnScreen(this);
}

QLineEdit* FrmEMail::addBox(const QString& name, const QString& label, const QString& labelName) {
    auto* box = new QLineEdit(fraOptional_);
    box->setObjectName(name);
    auto* caption = new QLabel(label, fraOptional_);
    caption->setObjectName(labelName);
    caption->setBuddy(box);
    return box;
}

void FrmEMail::setOwnAccount(bool on) {
    fraOptional_->setEnabled(on);
    for (QWidget* child : fraOptional_->findChildren<QWidget*>())
        child->setEnabled(on);
}

void FrmEMail::setLoginEnabled(bool on) {
    setEnabledWithLabel(this, txtUsername_, on);
    setEnabledWithLabel(this, txtPassword_, on);
}

void FrmEMail::setPopLoginEnabled(bool on) {
    setEnabledWithLabel(this, txtPopServer_, on);
}

bool FrmEMail::tlsByPort(const QString& server) {
    return transfer::smtpServerUrl(server).value_or(QByteArray()).startsWith("smtps:");
}

void FrmEMail::serverEdited(const QString& text) {
    // Port 465 is TLS on connect everywhere; the worker need not know it. The box follows
    // the port both ways, so a 465 typed and corrected leaves nothing ticked, until the
    // worker decides by clicking it.
    if (!tlsClicked_)
        ckTlsOnConnect_->setChecked(tlsByPort(text));
}

void FrmEMail::store() {
    startup::MailAccountSettings entered;
    entered.account = chkbEMail_->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    entered.smtpServer = txtServer_->text();
    entered.popServer = txtPopServer_->text();
    entered.from = txtFrom_->text();
    entered.username = txtUsername_->text();
    entered.password = txtPassword_->text();
    entered.smtpLogin = ckLogin_->isChecked();
    entered.popLogin = ckPopLogin_->isChecked();
    // Stored only as the worker's choice: a box that still shows what the port implies
    // leaves an older configuration without the setting, which then follows the port.
    const bool tls = ckTlsOnConnect_->isChecked();
    if (tlsClicked_ || tls != tlsShown_ || mail_.tlsOnConnect)
        entered.tlsOnConnect = tls;
    transfer::storeMailAccount(settings_, mail_, entered, config_);
    accept();
}

} // namespace kestro::ui
