#include "service/registrywriter.h"

#include "common/ansi.h"
#include "common/logging.h"
#include "common/servicemessage.h"
#include "service/servicelog.h"

namespace kestro::service {

namespace {

QStringList keyParts(const QString& path) {
    return path.split(QLatin1Char('\\'));
}

bool partsAreSound(const QStringList& parts) {
    for (const QString& p : parts)
        if (p.isEmpty() || p == QStringLiteral(".") || p == QStringLiteral("..") ||
            p.contains(QChar(0)))
            return false;
    return true;
}

} // namespace

RegistryWriter::RegistryWriter(RegistryStore store, QStringList allowLocalMachine,
                               QStringList allowClassesRoot, QStringList settingNames)
    : store_(std::move(store)), allowLocalMachine_(std::move(allowLocalMachine)),
      allowClassesRoot_(std::move(allowClassesRoot)), settingNames_(std::move(settingNames)) {}

bool RegistryWriter::isAllowed(const QString& keyPath, const QStringList& allowed) {
    const QStringList parts = keyParts(keyPath);
    if (!partsAreSound(parts))
        return false;
    for (const QString& entry : allowed) {
        const QStringList prefix = keyParts(entry.trimmed());
        if (entry.trimmed().isEmpty() || !partsAreSound(prefix) || prefix.size() > parts.size())
            continue;
        bool match = true;
        for (qsizetype i = 0; i < prefix.size() && match; ++i)
            match = parts.at(i).compare(prefix.at(i), Qt::CaseInsensitive) == 0;
        if (match)
            return true;
    }
    return false;
}

std::optional<QString> RegistryWriter::refusal(Hive hive, const QString& keyPath,
                                               const QString& valueName,
                                               const QString& value) const {
    const QStringList& allowed =
        hive == Hive::LocalMachine ? allowLocalMachine_ : allowClassesRoot_;
    if (!isAllowed(keyPath, allowed))
        return QStringLiteral("not allowed");
    if (valueName.size() > kMaxNameLength)
        return QStringLiteral("value name longer than %1 characters").arg(kMaxNameLength);
    if (value.size() > kMaxValueLength)
        return QStringLiteral("value longer than %1 characters").arg(kMaxValueLength);
    if (hive == Hive::LocalMachine && isAllowed(keyPath, {kSettingsKeyPath})) {
        if (keyPath.compare(kSettingsKeyPath, Qt::CaseInsensitive) != 0)
            return QStringLiteral("no subkeys below the client's settings key");
        if (!settingNames_.contains(valueName, Qt::CaseInsensitive))
            return QStringLiteral("not a setting of the client");
    }
    return std::nullopt;
}

bool RegistryWriter::write(Hive hive, const QString& keyPath, const QString& valueName,
                           const QString& value) {
    if (const auto why = refusal(hive, keyPath, valueName, value)) {
        qCWarning(lcService).noquote()
            << "registry write refused (" + *why + "):"
            << logSafe(RegistryStore::hiveName(hive) + QLatin1Char('\\') + keyPath)
            << logSafe(valueName.left(kMaxNameLength));
        return false;
    }
    // REG_SZ from ANSI bytes: what the code page cannot hold became "?", and the value
    // ends at its first NUL.
    QString stored = fromAnsi(toAnsi(value));
    const qsizetype nul = stored.indexOf(QChar(0));
    if (nul >= 0)
        stored.truncate(nul);
    QString error;
    if (!store_.write(hive, keyPath, valueName, stored, &error)) {
        qCWarning(lcService).noquote()
            << "registry write failed:" << logSafe(keyPath) << logSafe(valueName) << error;
        return false;
    }
    return true;
}

} // namespace kestro::service
