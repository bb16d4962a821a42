#include "common/registrystore.h"

#include "common/logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestro {
namespace {

constexpr qint64 kMaxHiveBytes = 64 * 1024 * 1024;

QString normaliseKey(QString key) {
    key.replace(QLatin1Char('/'), QLatin1Char('\\'));
    while (key.startsWith(QLatin1Char('\\')))
        key.remove(0, 1);
    while (key.endsWith(QLatin1Char('\\')))
        key.chop(1);
    return key;
}

// The member of `object` whose name equals `name` without regard to case.
std::optional<QString> findMember(const QJsonObject& object, const QString& name) {
    if (object.contains(name))
        return name;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return std::nullopt;
}

enum class HiveState { Missing, Ok, Damaged };

HiveState readHive(const QString& path, QJsonObject* out) {
    *out = {};
    const QFileInfo info(path);
    if (!info.exists())
        return HiveState::Missing;
    if (!info.isFile() || info.size() > kMaxHiveBytes) {
        qCWarning(lcRegistry) << "registry file is not a usable file, read as empty:" << path;
        return HiveState::Damaged;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcRegistry) << "registry file unreadable, read as empty:" << path
                              << file.errorString();
        return HiveState::Damaged;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty()) {
        qCWarning(lcRegistry) << "registry file is empty, read as empty:" << path;
        return HiveState::Damaged;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qCWarning(lcRegistry) << "registry file damaged, read as empty:" << path
                              << err.errorString();
        return HiveState::Damaged;
    }
    *out = doc.object();
    return HiveState::Ok;
}

// An flock on a lock file beside the hive; released when the object dies.
class HiveLock {
public:
    explicit HiveLock(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~HiveLock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace

RegistryStore::RegistryStore(QString folder) : folder_(std::move(folder)) {}

QString RegistryStore::defaultFolder() {
    const QString env = qEnvironmentVariable("VARNHOLT_REGISTRY");
    return env.isEmpty() ? QStringLiteral("/var/lib/varnholt/registry") : env;
}

QString RegistryStore::hiveName(Hive hive) {
    return hive == Hive::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                      : QStringLiteral("HKEY_CLASSES_ROOT");
}

QString RegistryStore::hiveFile(Hive hive) const {
    return folder_ + QLatin1Char('/') + hiveName(hive) + QStringLiteral(".json");
}

std::optional<QString> RegistryStore::read(Hive hive, const QString& keyPath,
                                           const QString& valueName) const {
    QJsonObject root;
    if (readHive(hiveFile(hive), &root) != HiveState::Ok)
        return std::nullopt;
    const auto keyName = findMember(root, normaliseKey(keyPath));
    if (!keyName || !root.value(*keyName).isObject())
        return std::nullopt;
    const QJsonObject key = root.value(*keyName).toObject();
    const auto name = findMember(key, valueName);
    if (!name || !key.value(*name).isString())
        return std::nullopt;
    return key.value(*name).toString();
}

bool RegistryStore::write(Hive hive, const QString& keyPath, const QString& valueName,
                          const QString& value, QString* error) {
    auto fail = [&](const QString& why) {
        qCWarning(lcRegistry) << "registry write failed:" << why;
        if (error)
            *error = why;
        return false;
    };
    const QString key = normaliseKey(keyPath);
    if (key.isEmpty())
        return fail(QStringLiteral("empty key path"));
    if (value.contains(QChar(0)) || valueName.contains(QChar(0)) || key.contains(QChar(0)))
        return fail(QStringLiteral("text holds a NUL character"));
    if (!QDir().mkpath(folder_))
        return fail(QStringLiteral("cannot create folder %1").arg(folder_));

    const QString path = hiveFile(hive);
    HiveLock lock(path + QStringLiteral(".lock"));
    if (!lock.locked())
        return fail(QStringLiteral("cannot lock %1").arg(path));

    QJsonObject root;
    if (readHive(path, &root) == HiveState::Damaged) {
        // Keep what was there for the administrator instead of overwriting it.
        const QString keep =
            path + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
        if (QFile::rename(path, keep))
            qCWarning(lcRegistry) << "damaged registry file kept as" << keep;
        root = {};
    }
    const QString keyName = findMember(root, key).value_or(key);
    QJsonObject values = root.value(keyName).toObject();
    values.insert(findMember(values, valueName).value_or(valueName), value);
    root.insert(keyName, values);

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    out.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    return true;
}

} // namespace kestro
