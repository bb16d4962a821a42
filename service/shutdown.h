#pragma once

#include "common/prompter.h"

#include <QString>
#include <functional>

namespace kestro::service {

// Shutting the machine down. The Windows exit call and its shutdown privilege become one
// seam, the power-off action, so that tests never power anything off: by default it runs
// "systemctl poweroff" (logind), or "systemctl reboot" for a restart, and the program
// named by VELLMON_POWEROFF_COMMAND instead when that is set (tests record the call).
class SystemShutdown {
public:
    enum Mode : quint32 { ShutDown = 1, Restart = 2, PowerOff = 8, Force = 16 };
    static constexpr quint32 kServiceMode = ShutDown | Force; // 17
    using PowerOffAction = std::function<bool(quint32 mode)>;

    explicit SystemShutdown(Prompter& prompter, PowerOffAction action = defaultAction());

    // The service's entry point. Linux needs no privilege step: logind decides.
    bool shutDownNTbasedWindows(quint32 mode);
    // The bare exit call; on failure "Das System kann aufgrund eines Fehlers nicht
    // heruntergefahren werden." is shown and false returned.
    bool shutDownDOSbasedWindows(quint32 mode);

    static PowerOffAction defaultAction();

private:
    Prompter& prompter_;
    PowerOffAction action_;
};

// The Windows version code that Part of the service compares with 10; Linux answers 0.
qint16 osVersionCode();

} // namespace kestro::service
