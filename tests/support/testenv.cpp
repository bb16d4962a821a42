#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>

namespace kestro::test {

EnvGuard::~EnvGuard() {
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void EnvGuard::remember(const char* name) {
    const QByteArray key(name);
    if (saved_.count(key))
        return;
    if (qEnvironmentVariableIsSet(name))
        saved_[key] = qgetenv(name);
    else
        saved_[key] = std::nullopt;
}

void EnvGuard::set(const char* name, const QString& value) {
    remember(name);
    qputenv(name, value.toUtf8());
}

void EnvGuard::unset(const char* name) {
    remember(name);
    qunsetenv(name);
}

TestMachine::TestMachine() {
    for (const char* sub : {"appdata", "localappdata", "drive", "registry", "run"})
        QDir().mkpath(path(QString::fromLatin1(sub)));
    env_.set("APPDATA", appData());
    env_.set("LOCALAPPDATA", localAppData());
    env_.set("SystemDrive", systemDrive());
    env_.set("VARNHOLT_REGISTRY", registryFolder());
    env_.set("VELLMON_RUNTIME_DIR", runtimeFolder());
    env_.set("KESTRO_CONFIG", configFile());
}

QString TestMachine::clientDataFolder() const {
    return appData() + QStringLiteral("/Varnholt/KestroFTP-Client");
}

QString TestMachine::writeFile(const QString& relative, const QByteArray& bytes) const {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(bytes);
    return full;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace kestro::test
