#include "service/registrywriter.h"

#include "common/ansi.h"
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
                               QStringList allowClassesRoot)
    : store_(std::move(store)), allowLocalMachine_(std::move(allowLocalMachine)),
      allowClassesRoot_(std::move(allowClassesRoot)) {}

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

bool RegistryWriter::write(Hive hive, const QString& keyPath, const QString& valueName,
                           const QString& value) {
    const QStringList& allowed =
        hive == Hive::LocalMachine ? allowLocalMachine_ : allowClassesRoot_;
    if (!isAllowed(keyPath, allowed)) {
        qCWarning(lcService).noquote()
            << "registry write refused (not allowed):"
            << RegistryStore::hiveName(hive) + QLatin1Char('\\') + keyPath << valueName;
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
        qCWarning(lcService).noquote() << "registry write failed:" << keyPath << valueName << error;
        return false;
    }
    return true;
}

} // namespace kestro::service
