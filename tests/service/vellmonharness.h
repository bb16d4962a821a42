#pragma once

#include "common/registrystore.h"
#include "common/servicemessage.h"
#include "piperpc/piperpc.h"
#include "support/peerprocess.h"
#include "support/testenv.h"
#include "support/textprint.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::test {

inline QString builtProgram(const QString& relative) {
    return qEnvironmentVariable("KESTRO_BINARY_DIR") + QLatin1Char('/') + relative;
}

// True when `folder` and every folder above it belong to root or to us and nobody else
// may change them, as Vellmon demands of a client's folder.
inline bool nobodyElseMayChange(const QString& folder) {
    QString path = QFileInfo(folder).canonicalFilePath();
    while (!path.isEmpty()) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 ||
            (st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)))
            return false;
        if (path == QLatin1String("/"))
            return true;
        path = QFileInfo(path).path();
    }
    return false;
}

constexpr QFile::Permissions kOpenFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther;

// Waits (polling, no events handled) until `condition` holds; false when `ms` ran out.
inline bool eventually(const std::function<bool()>& condition, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

// One call to Vellmon as the client makes it; the reply as text, empty when the call failed.
inline QString callVellmon(const QByteArray& request, quint32* error = nullptr,
                           int timeoutMs = 2000) {
    PipeRpc pipe;
    pipe.setPipeName(QStringLiteral("Vellmon"));
    pipe.setTimeout(timeoutMs);
    QByteArray response(200, '\0');
    const quint32 rc = pipe.pipeCall(request, response);
    if (error)
        *error = rc;
    return rc == 0 ? fromUtf16Le(response) : QString();
}
inline QString callVellmon(const QString& text) {
    return callVellmon(toUtf16Le(text));
}

// A figure in kB from /proc/<pid>/status ("VmRSS:", "VmHWM:").
inline qint64 statusKb(qint64 pid, const QByteArray& field) {
    for (const QByteArray& line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
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
    QString clientsFolder() const { return machine.runtimeFolder() + QStringLiteral("/clients"); }
    std::optional<QString>
    settingValue(const QString& name,
                 const QString& key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                 Hive hive = Hive::LocalMachine) const {
        return RegistryStore(machine.registryFolder()).read(hive, key, name);
    }
    // True once the store holds `value` for `name` (Vellmon writes off its loop).
    bool settles(const QString& name, const QString& value,
                 const QString& key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client")) {
        return eventually([&] { return settingValue(name, key) == value; });
    }
    bool startVellmon(const QStringList& args = {}) {
        return vellmon.start(builtProgram(QStringLiteral("service/Vellmon")), args);
    }
    // A running client registered as `title`; it writes `unloadedMarker` when asked to close.
    static bool startClient(PeerProcess& client, const QString& title,
                            const QString& unloadedMarker) {
        return client.start(builtProgram(QStringLiteral("tests/service/pipe_send")),
                            {QStringLiteral("--present"), title, unloadedMarker});
    }

    // A folder only root (or the user running the tests) may change, as an installed
    // client's is: in the build tree when nobody else may change that, otherwise (a checkout
    // below the world-writable /tmp) in a folder of root's.
    QString trustedFolder() {
        if (!trusted_) {
            QString base = builtProgram(QStringLiteral("tests/service"));
            if (!nobodyElseMayChange(base)) {
                base = QStringLiteral("/var/lib/kestro-tests");
                QDir().mkpath(base);
                QFile::setPermissions(base, kOpenFolder);
            }
            trusted_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/installed-XXXXXX"));
            QFile::setPermissions(trusted_->path(), kOpenFolder);
        }
        return trusted_->path();
    }
    // The hostile local user "nobody": may enter the machine's folders and owns a home
    // folder below them.
    // Without root the attacks are left out, and the test output says so.
    static bool canPlayNobody() {
        const bool root = ::geteuid() == 0;
        if (!root)
            std::cout << "[ SKIPPED  ] the attacks of the local user nobody need root\n";
        return root;
    }
    static constexpr uid_t kNobody = 65534;
    QString nobodyHome() {
        const QString home = machine.path(QStringLiteral("home"));
        if (!QFileInfo::exists(home)) {
            for (const QString& folder : {machine.root(), machine.runtimeFolder()})
                QFile::setPermissions(folder, QFile::permissions(folder) | QFile::ExeOther);
            QDir().mkpath(home);
            if (::chown(QFile::encodeName(home).constData(), kNobody, kNobody) != 0)
                return {};
        }
        return home;
    }
    // Starts a program as the local user `uid` (nobody unless told), in nobody's home.
    void startAs(QProcess& p, const QString& program, const QStringList& args,
                 uid_t uid = kNobody) {
        p.setWorkingDirectory(nobodyHome());
        p.start(QStringLiteral("/usr/bin/setpriv"),
                QStringList{QStringLiteral("--reuid=%1").arg(uid),
                            QStringLiteral("--regid=%1").arg(uid), QStringLiteral("--clear-groups"),
                            program} +
                    args);
    }
    // Runs a program as `uid` and returns what it printed on its standard output.
    QByteArray runAs(const QString& program, const QStringList& args, uid_t uid = kNobody) {
        QProcess p;
        startAs(p, program, args, uid);
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    }
    QByteArray shellAsNobody(const QString& script) {
        return runAs(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    }
    // pipe_send (see there) as `uid`: "RESULT <error> <reply>".
    QByteArray sendAs(const QStringList& args, uid_t uid = kNobody) {
        return runAs(builtProgram(QStringLiteral("tests/service/pipe_send")), args, uid);
    }
    QByteArray sendAsNobody(const QString& message) { return sendAs({message}); }
    // Waits until `condition` holds, reading Vellmon's log (its standard error) meanwhile
    // as the journal would.
    bool readingLogUntil(const std::function<bool()>& condition, int ms = 5000) {
        return eventually(
            [&] {
                vellmon.process().waitForReadyRead(20);
                vellmon.output();
                return condition();
            },
            ms);
    }
    bool vellmonLogged(const QString& text, int times = 1) {
        return readingLogUntil([&] { return vellmon.output().count(text) >= times; });
    }

    TestMachine machine;
    PeerProcess vellmon;

private:
    std::unique_ptr<QTemporaryDir> trusted_;
};

} // namespace kestro::test
