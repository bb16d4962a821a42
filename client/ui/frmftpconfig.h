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
    QLineEdit* serverBox_ = nullptr;
    QLineEdit* userBox_ = nullptr;
    QLineEdit* passwordBox_ = nullptr;
    QLineEdit* mailAddressBox_ = nullptr;
    QComboBox* encryptionBox_ = nullptr;
    QCheckBox* useProxyCheck_ = nullptr;
    QLineEdit* httpProxyBox_ = nullptr;
    QLineEdit* httpProxyPortBox_ = nullptr;
    QLineEdit* ftpProxyBox_ = nullptr;
    QLineEdit* ftpProxyPortBox_ = nullptr;
    QLineEdit* proxyUserBox_ = nullptr;
    QLineEdit* proxyPasswordBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

} // namespace kestro::ui
