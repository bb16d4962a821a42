#pragma once

#include <QString>

namespace kestro {

// Writes one of the client's machine-wide settings. The client may not write them itself:
// the implementation hands a "KeySchreiben" service message to Vellmon and tells the user
// when it could not be delivered. Logic that stores a setting takes this interface, so
// tests can watch the writes and the client can route them through the service.
class SettingWriter {
public:
    virtual ~SettingWriter() = default;
    virtual void writeSetting(const QString& name, const QString& value) = 0;
};

// Delivers one service message to Vellmon; true when it was delivered (the service
// answered), false when it could not be (for example the service is not running).
class ServiceMessageSender {
public:
    virtual ~ServiceMessageSender() = default;
    virtual bool send(const QString& message) = 0;
    // What the receiver answered to the last message delivered (empty when not known).
    virtual QString lastAnswer() const { return {}; }
};

} // namespace kestro
