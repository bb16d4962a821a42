#pragma once

#include "client/startup/clientstate.h"
#include "common/prompter.h"
#include "common/registrystore.h"
#include "common/settingwriter.h"

#include <QString>

namespace kestro::startup {

// Reads the client's settings below HKEY_LOCAL_MACHINE\Software\Varnholt\KestroFTP\Client.
// A value must be shorter than 150 characters: a longer one, like a missing one, reads as
// the empty text, and each caller then takes its default.
class SettingsReader {
public:
    explicit SettingsReader(RegistryStore store = RegistryStore());
    QString read(const QString& name) const;

private:
    RegistryStore store_;
};

// "0" is false, any other number true; "True"/"Wahr" true, "False"/"Falsch" false; empty
// and anything else false.
bool settingToBool(const QString& text);

// TPProxy: on only for exactly "True" or "Wahr"; then the six values follow.
ProxySettings readProxySettings(const SettingsReader& reader);
MailAccountSettings readMailAccountSettings(const SettingsReader& reader);
// FTPTLS: how uploads to the shop are encrypted. A value that is none of the choices is
// taken as unencrypted and handed to `unknown`.
FtpEncryption readFtpEncryption(const SettingsReader& reader, QString* unknown = nullptr);

// Hands every write to Vellmon as a "KeySchreiben" message. When it cannot be delivered,
// the user is told once per write; the caller's in-memory value stays changed.
class ServiceSettingWriter : public SettingWriter {
public:
    ServiceSettingWriter(ServiceMessageSender& sender, Prompter& prompter);
    void writeSetting(const QString& name, const QString& value) override;

private:
    ServiceMessageSender& sender_;
    Prompter& prompter_;
};

// Shows "Es konnte nicht in den Mailslot geschrieben werden!" when `delivered` is false.
void reportServiceDelivery(bool delivered, Prompter& prompter);

// A sender for when no channel to the service exists: every delivery fails.
class UndeliverableSender : public ServiceMessageSender {
public:
    bool send(const QString&) override { return false; }
};

} // namespace kestro::startup
