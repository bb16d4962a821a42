#pragma once

#include "common/registrystore.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <functional>

namespace kestro::test {

inline QString builtProgram(const QString& relative) {
    return qEnvironmentVariable("KESTRO_BINARY_DIR") + QLatin1Char('/') + relative;
}

// Waits (polling) until `condition` holds; false when `ms` ran out.
inline bool eventually(const std::function<bool()>& condition, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

// A private machine for Vellmon: temporary runtime, registry, unit and Windows folders, a
// deployment configuration, and a power-off command that only records its calls.
class VellmonMachine {
public:
    VellmonMachine() {
        QDir().mkpath(windowsFolder());
        machine.env().set("SystemRoot", windowsFolder());
        machine.env().set("VELLMON_UNIT_DIR", machine.path(QStringLiteral("units")));
        machine.env().set("VELLMON_READY_LINE", QStringLiteral("1"));
        const QString recorder =
            machine.writeFile(QStringLiteral("poweroff.sh"),
                              "#!/bin/sh\necho \"$@\" >> \"" + poweroffLog().toUtf8() + "\"\n");
        QFile::setPermissions(recorder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        machine.env().set("VELLMON_POWEROFF_COMMAND", recorder);
        writeConfig(QStringLiteral("http://127.0.0.1:9"));
    }
    void writeConfig(const QString& webServer, const QByteArray& serviceSection = {}) {
        machine.writeFile(QStringLiteral("kestro.conf"),
                          "[Maker]\nWebServer=" + webServer.toUtf8() + "\n" + serviceSection);
    }
    QString windowsFolder() const { return machine.path(QStringLiteral("windows")); }
    QString poweroffLog() const { return machine.path(QStringLiteral("poweroff.log")); }
    QString errorLog() const { return windowsFolder() + QStringLiteral("/ErrUpDm.log"); }
    std::optional<QString>
    settingValue(const QString& name,
                 const QString& key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                 Hive hive = Hive::LocalMachine) const {
        return RegistryStore(machine.registryFolder()).read(hive, key, name);
    }
    bool startVellmon(const QStringList& args = {}) {
        return vellmon.start(builtProgram(QStringLiteral("service/Vellmon")), args);
    }

    TestMachine machine;
    PeerProcess vellmon;
};

} // namespace kestro::test
