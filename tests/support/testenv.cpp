#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>

namespace kestro::test {

EnvGuard::~EnvGuard() {
    for (const auto& [name, value] : saved_)
        value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
}

const char* EnvGuard::remember(const char* name) {
    if (!saved_.count(name))
        saved_[name] =
            qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    return name;
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
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace kestro::test
