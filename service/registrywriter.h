#pragma once

#include "common/deployconfig.h"
#include "common/registrystore.h"

#include <QStringList>

namespace kestro::service {

// Carries out "KeySchreiben" and "KeySchreibenClasses". The pipe accepts every local
// user and Vellmon may write machine-wide settings, so it writes only below the key
// paths the deployment configuration allows (the key itself and its subkeys); any other
// write is refused and logged, and nothing is written. In the client's own settings key
// only the value names the client writes are accepted, and no subkeys, so a caller
// cannot fill the store there; no value may be longer than kMaxValueLength.
class RegistryWriter {
public:
    static constexpr qsizetype kMaxValueLength = 4096;
    static constexpr qsizetype kMaxNameLength = 255;

    RegistryWriter(RegistryStore store, QStringList allowLocalMachine, QStringList allowClassesRoot,
                   QStringList settingNames = DeployConfig().settingNames);

    // Sets the string value as Windows stored it: the text in the ANSI code page, ending
    // at its first NUL. False when refused or when the store could not be written.
    bool write(Hive hive, const QString& keyPath, const QString& valueName, const QString& value);

    // True when `keyPath` is one of `allowed` or lies below one of them, compared without
    // regard to case; paths with empty, "." or ".." parts are never allowed.
    static bool isAllowed(const QString& keyPath, const QStringList& allowed);

private:
    // Why a write is refused by the rules above, or nothing.
    std::optional<QString> refusal(Hive hive, const QString& keyPath, const QString& valueName,
                                   const QString& value) const;

    RegistryStore store_;
    QStringList allowLocalMachine_;
    QStringList allowClassesRoot_;
    QStringList settingNames_;
};

} // namespace kestro::service
