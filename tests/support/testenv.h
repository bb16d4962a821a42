#pragma once

#include <QTemporaryDir>
#include <map>
#include <optional>

namespace kestro::test {

// Sets environment variables for the life of the object and restores the old values.
class EnvGuard {
public:
    EnvGuard() = default;
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    void set(const char* name, const QString& value) { qputenv(remember(name), value.toUtf8()); }
    void unset(const char* name) { qunsetenv(remember(name)); }

private:
    std::map<QByteArray, std::optional<QByteArray>> saved_;
    const char* remember(const char* name);
};

// A private machine for one test: its own APPDATA, LOCALAPPDATA, SystemDrive, registry
// folder, deployment configuration and runtime folder, all below one temporary folder.
class TestMachine {
public:
    TestMachine();
    QString root() const { return dir_.path(); }
    QString path(const QString& relative) const { return dir_.filePath(relative); }
    QString appData() const { return path(QStringLiteral("appdata")); }
    QString localAppData() const { return path(QStringLiteral("localappdata")); }
    QString systemDrive() const { return path(QStringLiteral("drive")); }
    QString registryFolder() const { return path(QStringLiteral("registry")); }
    QString runtimeFolder() const { return path(QStringLiteral("run")); }
    QString configFile() const { return path(QStringLiteral("kestro.conf")); }
    QString clientDataFolder() const {
        return appData() + QStringLiteral("/Varnholt/KestroFTP-Client");
    }
    EnvGuard& env() { return env_; }
    // Writes the bytes to a file below the root, creating folders; answers its full path.
    QString writeFile(const QString& relative, const QByteArray& bytes) const;

private:
    QTemporaryDir dir_;
    EnvGuard env_;
};

QByteArray readFile(const QString& path);

} // namespace kestro::test
