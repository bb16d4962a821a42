#pragma once

#include <QString>
#include <QStringList>

namespace kestro::service {

// The service's command line: the whole argument string is compared exactly and
// case-sensitively with each switch; the first match wins.
enum class SwitchAction { Install, Uninstall, Debug, View, NoView, None, Unknown };
SwitchAction parseSwitches(const QString& argumentString);
// The argument string as Windows handed it over: the arguments joined by blanks.
QString argumentString(const QStringList& argumentsWithoutProgram);

// The systemd unit that registers Vellmon: described as "UpdateManager Varnholt", with a
// runtime folder for its sockets and a state folder for its error log. Made from the same
// template as the unit the package installs, so both carry the same hardening.
QString unitText(const QString& executable);
QString unitFile();
// Where the package installs the unit.
QString packageUnitFile();

// Writes the unit into the unit folder and, for the system's own folder, enables it with
// systemctl; then stores "TimerInterval" = "1000" under the service's "Parameters".
// Into the system's own folder it refuses while the package's unit is installed, which
// a unit there would hide.
bool installService(const QString& executable, QString* error);
// Disables (system folder only) and removes the unit.
bool uninstallService(QString* error);

// The heartbeat interval from "Parameters"/"TimerInterval" (default "1000").
int readTimerInterval();

} // namespace kestro::service
