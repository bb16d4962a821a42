#include "service/servicepaths.h"

namespace kestro::service {

QString windowsFolder() {
    const QString root = qEnvironmentVariable("SystemRoot");
    return root.isEmpty() ? QStringLiteral("/var/lib/vellmon") : root;
}

QString unitFolder() {
    const QString dir = qEnvironmentVariable("VELLMON_UNIT_DIR");
    return dir.isEmpty() ? QStringLiteral("/etc/systemd/system") : dir;
}

bool isSystemUnitFolder() {
    return !qEnvironmentVariableIsSet("VELLMON_UNIT_DIR");
}

} // namespace kestro::service
