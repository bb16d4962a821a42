#pragma once

#include "common/registrystore.h"

#include <QStringList>

namespace kestro::service {

// Carries out "KeySchreiben" and "KeySchreibenClasses". The pipe accepts every local
// user and Vellmon may write machine-wide settings, so it writes only below the key
// paths the deployment configuration allows (the key itself and its subkeys); any other
// write is refused and logged, and nothing is written.
class RegistryWriter {
public:
    RegistryWriter(RegistryStore store, QStringList allowLocalMachine,
                   QStringList allowClassesRoot);

    // Sets the string value as Windows stored it: the text in the ANSI code page, ending
    // at its first NUL. False when refused or when the store could not be written.
    bool write(Hive hive, const QString& keyPath, const QString& valueName, const QString& value);

    // True when `keyPath` is one of `allowed` or lies below one of them, compared without
    // regard to case; paths with empty, "." or ".." parts are never allowed.
    static bool isAllowed(const QString& keyPath, const QStringList& allowed);

private:
    RegistryStore store_;
    QStringList allowLocalMachine_;
    QStringList allowClassesRoot_;
};

} // namespace kestro::service
