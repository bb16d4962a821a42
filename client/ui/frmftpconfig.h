#pragma once

#include "client/startup/ftpconfig.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace kestro::ui {

// "FTP - konfiguration": where jobs are sent, the login, the shop's address and the proxy.
// The window shows and collects; what OK saves and fetches is FtpConfigConfirmation's.
class FrmFtpConfig : public QDialog {
    Q_OBJECT
public:
    struct Context {
        startup::ClientState& state; // the program-wide settings
        const DeployConfig& config;
        SettingWriter& settings;
    };

    explicit FrmFtpConfig(Context context, QWidget* parent = nullptr);

    void reject() override;

Q_SIGNALS:
    // After OK: the settings are saved and the catalogue was fetched again; the main window
    // fills its colour and processing lists from outcome.lists and may show the new logo.
    void catalogueReloaded(const kestro::startup::CatalogueOutcome& outcome);

private:
    QLineEdit* addBox(const QString& name);
    void fillWindow(const startup::FtpConfigForm& form);
    startup::FtpConfigForm collect() const;
    void onProxyToggled(bool checked);
    void onOk();
    void onConfirmed(const startup::CatalogueOutcome& outcome);

    Context ctx_;
    startup::FtpConfigConfirmation confirmation_;
    QLineEdit* txtFTPServer_ = nullptr;
    QLineEdit* txtFTPUser_ = nullptr;
    QLineEdit* txtFTPPW_ = nullptr;
    QLineEdit* txtEMailAdr_ = nullptr;
    QComboBox* cboEncryption_ = nullptr;
    QCheckBox* chkProxy_ = nullptr;
    QLineEdit* txtProxyH_ = nullptr;
    QLineEdit* txtProHPort_ = nullptr;
    QLineEdit* txtProxyF_ = nullptr;
    QLineEdit* txtProFPort_ = nullptr;
    QLineEdit* txtUserProxy_ = nullptr;
    QLineEdit* txtPassProxy_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
};

} // namespace kestro::ui
