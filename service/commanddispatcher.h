#pragma once

#include "common/registrystore.h"
#include "service/commandqueue.h"
#include "service/updatesearch.h"

#include <QObject>
#include <functional>
#include <optional>

namespace kestro::service {

// The narrowing rule: a message whose text holds a NUL was sent as double-width text;
// each character becomes one ANSI byte and the bytes are read again as UTF-16LE.
QString decodeServiceMessage(const QString& text);

// Reads "True"/"False" (any case) or a number (non-zero is true), as the Windows
// program converted a text to a Boolean; nothing for any other text.
std::optional<bool> toBoolean(const QString& text);

// Field 1 of "ShutDown": the decimal number at the start (blanks skipped), rounded to a
// 32-bit integer; text without a number gives 0.
qint64 shutdownDelay(const QString& field);

// Splits one message and carries out its command. What belongs to the host (the window,
// the beep, the shutdown timer, the update worker) is asked for through signals.
class CommandDispatcher : public QObject {
    Q_OBJECT
public:
    // Carries out one registry write of "KeySchreiben" or "KeySchreibenClasses".
    using RegistryWrite = std::function<void(Hive hive, const QString& keyPath,
                                             const QString& valueName, const QString& value)>;

    explicit CommandDispatcher(RegistryWrite registryWrite, QObject* parent = nullptr);
    void dispatch(const QueuedMessage& message);

Q_SIGNALS:
    void received(const QString& message);
    void showFormRequested(bool show);
    void beepRequested();
    // Delay in milliseconds (0 stops a pending shutdown).
    void shutdownArmed(int delayMs);
    void updateRequested(const kestro::service::UpdateRequest& request);

private:
    RegistryWrite registryWrite_;
};

} // namespace kestro::service
