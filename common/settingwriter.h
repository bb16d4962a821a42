#pragma once

#include <QString>

namespace kestro {

// The client reads each setting into a buffer of this many characters and takes a value that
// fills it as not there; a longer value must be refused before it is written, or the client
// would silently fall back to its default at the next start.
inline constexpr qsizetype kSettingBufferChars = 150;

inline bool settingFits(const QString& value) {
    return value.size() < kSettingBufferChars;
}

// "Der Wert ist zu lang ..." for a value that does not fit, naming the setting.
inline QString settingTooLongText(const QString& name, const QString& value) {
    return QStringLiteral("Der Wert für %1 ist %2 Zeichen lang; eine Einstellung darf höchstens "
                          "%3 Zeichen lang sein. %1 bleibt, wie es ist.")
        .arg(name)
        .arg(value.size())
        .arg(kSettingBufferChars - 1);
}

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
