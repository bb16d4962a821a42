#include "service/serviceinstall.h"

#include "common/registrystore.h"
#include "common/textfile.h"
#include "service/servicelog.h"
#include "service/servicepaths.h"
#include "service/unittemplate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace kestro::service {

SwitchAction parseSwitches(const QString& s) {
    if (s == QStringLiteral("-install"))
        return SwitchAction::Install;
    if (s == QStringLiteral("-uninstall"))
        return SwitchAction::Uninstall;
    if (s == QStringLiteral("-debug"))
        return SwitchAction::Debug;
    if (s == QStringLiteral("-view"))
        return SwitchAction::View;
    if (s == QStringLiteral("-noview"))
        return SwitchAction::NoView;
    if (s.isEmpty())
        return SwitchAction::None;
    return SwitchAction::Unknown;
}

QString argumentString(const QStringList& argumentsWithoutProgram) {
    return argumentsWithoutProgram.join(QLatin1Char(' '));
}

QString unitFile() {
    return QDir(unitFolder()).filePath(kServiceName.toLower() + QStringLiteral(".service"));
}

QString packageUnitFile() {
    return QStringLiteral("/lib/systemd/system/") + kServiceName.toLower() +
           QStringLiteral(".service");
}

QString unitText(const QString& executable) {
    return QString::fromUtf8(kUnitTemplate)
        .replace(QLatin1String(kUnitExecutablePlaceholder), executable);
}

namespace {

bool runSystemctl(const QStringList& args, QString* error) {
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (systemctl.isEmpty())
        return true; // no systemd here: the unit file is all there is to do
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(systemctl, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error =
            QStringLiteral("systemctl %1: %2")
                .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAll()).trimmed());
        return false;
    }
    return true;
}

} // namespace

bool installService(const QString& executable, QString* error) {
    // A unit in /etc would hide the package's and keep this program running after the
    // package upgrades the one in /usr/bin.
    if (isSystemUnitFolder() && QFile::exists(packageUnitFile())) {
        *error = QStringLiteral("%1 is installed by the package kestroftp; its unit in %2 "
                                "would be hidden by one in %3. Use: systemctl enable --now %1")
                     .arg(kServiceName.toLower() + QStringLiteral(".service"), packageUnitFile(),
                          unitFolder());
        return false;
    }
    if (!QDir().mkpath(unitFolder())) {
        *error = QStringLiteral("cannot create ") + unitFolder();
        return false;
    }
    if (!writeWholeFile(unitFile(), unitText(executable).toUtf8(), error))
        return false;
    if (isSystemUnitFolder() &&
        !(runSystemctl({QStringLiteral("daemon-reload")}, error) &&
          runSystemctl(
              {QStringLiteral("enable"), kServiceName.toLower() + QStringLiteral(".service")},
              error)))
        return false;
    RegistryStore store;
    return store.write(Hive::LocalMachine, kParametersKey, QStringLiteral("TimerInterval"),
                       QStringLiteral("1000"), error);
}

bool uninstallService(QString* error) {
    if (!QFile::exists(unitFile())) {
        *error = unitFile() + QStringLiteral(" does not exist");
        return false;
    }
    if (isSystemUnitFolder() && !runSystemctl({QStringLiteral("disable"),
                                               kServiceName.toLower() + QStringLiteral(".service")},
                                              error))
        return false;
    if (!QFile::remove(unitFile())) {
        *error = QStringLiteral("cannot remove ") + unitFile();
        return false;
    }
    if (isSystemUnitFolder())
        runSystemctl({QStringLiteral("daemon-reload")}, error);
    return true;
}

int readTimerInterval() {
    const QString text =
        RegistryStore()
            .read(Hive::LocalMachine, kParametersKey, QStringLiteral("TimerInterval"))
            .value_or(QStringLiteral("1000"));
    bool ok = false;
    const int ms = text.trimmed().toInt(&ok);
    return ok && ms > 0 ? ms : 1000;
}

} // namespace kestro::service
