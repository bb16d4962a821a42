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

constexpr qint64 kMaxHiveBytes = RegistryStore::kMaxHiveBytes;
// Damaged hive files set aside for the administrator; older ones are removed.
constexpr int kKeptDamagedCopies = 3;

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

// TooLarge is only met when a file was made by hand: writes never let it grow that far.
enum class HiveState { Missing, Ok, Damaged, TooLarge };

HiveState readHive(const QString& path, QJsonObject* out) {
    *out = {};
    const QFileInfo info(path);
    if (!info.exists())
        return HiveState::Missing;
    if (!info.isFile()) {
        qCWarning(lcCommon) << "registry file is not a usable file, read as empty:" << path;
        return HiveState::Damaged;
    }
    if (info.size() > kMaxHiveBytes) {
        qCWarning(lcCommon) << "registry file larger than" << kMaxHiveBytes
                            << "bytes, left alone and read as empty:" << path;
        return HiveState::TooLarge;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcCommon) << "registry file unreadable, read as empty:" << path
                            << file.errorString();
        return HiveState::Damaged;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty()) {
        qCWarning(lcCommon) << "registry file is empty, read as empty:" << path;
        return HiveState::Damaged;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        qCWarning(lcCommon) << "registry file damaged, read as empty:" << path << err.errorString();
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

// Keeps the newest few set-aside copies of a damaged hive, so repeated damage cannot
// fill the disk.
void removeOldDamagedCopies(const QString& hivePath) {
    const QFileInfo hive(hivePath);
    QDir dir = hive.dir();
    QStringList copies = dir.entryList({hive.fileName() + QStringLiteral(".damaged-*")},
                                       QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    // The time stamp in the name sorts by age.
    while (copies.size() > kKeptDamagedCopies) {
        const QString oldest = dir.filePath(copies.takeFirst());
        if (!QFile::remove(oldest))
            qCWarning(lcCommon) << "cannot remove old damaged registry file" << oldest;
    }
}

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
        qCWarning(lcCommon) << "registry write failed:" << why;
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
    const HiveState state = readHive(path, &root);
    if (state == HiveState::TooLarge)
        return fail(QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxHiveBytes));
    if (state == HiveState::Damaged) {
        // Keep what was there for the administrator instead of overwriting it.
        const QString keep =
            path + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
        if (QFile::rename(path, keep))
            qCWarning(lcCommon) << "damaged registry file kept as" << keep;
        removeOldDamagedCopies(path);
        root = {};
    }
    const QString keyName = findMember(root, key).value_or(key);
    QJsonObject values = root.value(keyName).toObject();
    values.insert(findMember(values, valueName).value_or(valueName), value);
    root.insert(keyName, values);

    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    // A store past its limit could not be read back: every setting would be lost.
    if (bytes.size() > kMaxHiveBytes)
        return fail(QStringLiteral("%1 would grow past %2 bytes").arg(path).arg(kMaxHiveBytes));

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    out.write(bytes);
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    return true;
}

} // namespace kestro
