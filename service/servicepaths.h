#pragma once

#include <QString>

// Folders Vellmon uses where the Windows service used the Windows folder and the
// service control manager's registration.
namespace kestro::service {

inline const QString kServiceName = QStringLiteral("Vellmon");
inline const QString kDisplayName = QStringLiteral("UpdateManager Varnholt");
inline const QString kParametersKey =
    QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\Vellmon\\Parameters");

// The Windows folder: SystemRoot when set, otherwise /var/lib/vellmon (the unit's state
// folder). It holds the error log "ErrUpDm.log" and the fallback copy "u-update.txt".
QString windowsFolder();

// Where -install writes the unit: VELLMON_UNIT_DIR when set, otherwise
// /etc/systemd/system. systemctl is only called for the system's own folder.
QString unitFolder();
bool isSystemUnitFolder();

} // namespace kestro::service
