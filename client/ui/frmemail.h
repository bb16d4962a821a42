#pragma once

#include "client/startup/clientstate.h"
#include "common/deployconfig.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestro {
class SettingWriter;
}

namespace kestro::ui {

// "EMail - Kontoeinstellungen": the user's own mail account for the notification, or the
// built-in one. "OK" stores the settings and updates the caller's values; closing the
// window otherwise changes nothing.
class FrmEMail : public QDialog {
    Q_OBJECT
public:
    FrmEMail(const DeployConfig& config, SettingWriter& settings,
             startup::MailAccountSettings& mail, QWidget* parent = nullptr);

private:
    QLineEdit* addBox(const QString& name, const QString& label, const QString& labelName);
    void setOwnAccount(bool on);
    void setLoginEnabled(bool on);
    void setPopLoginEnabled(bool on);
    static bool tlsByPort(const QString& server);
    void serverEdited(const QString& text);
    void store();

    const DeployConfig& config_;
    SettingWriter& settings_;
    startup::MailAccountSettings& mail_;
    // Each widget keeps its old control name (chkbEMail, txtServer, ...) as objectName.
    // Ticked: the account in the group below is used, not the built-in one.
    QCheckBox* ownAccountCheck_ = nullptr;
    QGroupBox* ownAccountGroup_ = nullptr;
    QLineEdit* smtpServerBox_ = nullptr;
    QLineEdit* popServerBox_ = nullptr;
    QLineEdit* senderBox_ = nullptr;
    QLineEdit* userBox_ = nullptr;
    QLineEdit* passwordBox_ = nullptr;
    QCheckBox* smtpLoginCheck_ = nullptr;
    QCheckBox* popLoginCheck_ = nullptr;
    QCheckBox* tlsOnConnectCheck_ = nullptr;
    bool tlsShown_ = false;   // the box as the window opened
    bool tlsClicked_ = false; // the worker decided; typing no longer moves the box
    QPushButton* okButton_ = nullptr;
};

} // namespace kestro::ui
