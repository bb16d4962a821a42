#pragma once

#include <QString>
#include <optional>

namespace kestro {

enum class Hive { LocalMachine, ClassesRoot };

// The machine-wide settings that Windows kept in the registry: one UTF-8 JSON file per
// hive in the registry folder, an object of key paths (backslash-separated, compared
// without regard to case, spelled as first written) to objects of value name to text.
//
// A missing, empty or damaged file reads as empty (and leaves a log line); the next
// write sets a damaged file aside as "<file>.damaged-<time>", keeping the newest few. Writes take
// an exclusive lock, re-read the file, and replace it through a temporary file and a
// rename, so a reader never sees half a write and two writers never lose each other's
// value. The client only reads; Vellmon writes.
class RegistryStore {
public:
    // A hive file larger than this is never written (the write is refused) and, if made
    // by hand, read as empty but never replaced.
    static constexpr qint64 kMaxHiveBytes = 64 * 1024 * 1024;

    explicit RegistryStore(QString folder = defaultFolder());

    // VARNHOLT_REGISTRY when set, otherwise /var/lib/varnholt/registry.
    static QString defaultFolder();
    static QString hiveName(Hive hive);

    QString folder() const { return folder_; }
    QString hiveFile(Hive hive) const;

    // The value's text, or nothing when the key or the value does not exist.
    std::optional<QString> read(Hive hive, const QString& keyPath, const QString& valueName) const;

    // Creates the key if needed and sets the value. On failure returns false and, when
    // `error` is given, says why.
    bool write(Hive hive, const QString& keyPath, const QString& valueName, const QString& value,
               QString* error = nullptr);

private:
    QString folder_;
};

} // namespace kestro
