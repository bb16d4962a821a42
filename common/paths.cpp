#include "common/paths.h"

#include <QDir>
#include <QStandardPaths>

namespace kestro::paths {
namespace {

QString clean(QString path) {
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString fromEnv(const char* name) {
    return clean(qEnvironmentVariable(name));
}

QString xdg(const char* var, const QString& fallbackBelowHome) {
    QString v = fromEnv(var);
    if (!v.isEmpty())
        return v;
    return clean(QDir::homePath() + QLatin1Char('/') + fallbackBelowHome);
}

} // namespace

QString appData() {
    QString v = fromEnv("APPDATA");
    return v.isEmpty() ? xdg("XDG_DATA_HOME", QStringLiteral(".local/share")) : v;
}

QString localAppData() {
    QString v = fromEnv("LOCALAPPDATA");
    return v.isEmpty() ? xdg("XDG_CACHE_HOME", QStringLiteral(".cache")) : v;
}

QString systemDrive() {
    QString v = fromEnv("SystemDrive");
    return v.isEmpty() ? clean(QDir::homePath()) : v;
}

QString join(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace kestro::paths
