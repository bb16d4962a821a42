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
    QCheckBox* chkbEMail_ = nullptr;
    QGroupBox* fraOptional_ = nullptr;
    QLineEdit* txtServer_ = nullptr;
    QLineEdit* txtPopServer_ = nullptr;
    QLineEdit* txtFrom_ = nullptr;
    QLineEdit* txtUsername_ = nullptr;
    QLineEdit* txtPassword_ = nullptr;
    QCheckBox* ckLogin_ = nullptr;
    QCheckBox* ckPopLogin_ = nullptr;
    QCheckBox* ckTlsOnConnect_ = nullptr;
    bool tlsShown_ = false;   // the box as the window opened
    bool tlsClicked_ = false; // the worker decided; typing no longer moves the box
    QPushButton* cmdOK_ = nullptr;
};

} // namespace kestro::ui
