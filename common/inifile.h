#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace kestro {

// A Windows-style INI file read once into memory. Lookups follow the profile API the
// catalogue was written for: section and key names compare without regard to case, the
// first occurrence of a key wins, blanks around names and values are dropped, a value in
// matching double quotes loses them, and anything absent reads as the empty text.
class IniFile {
public:
    enum class Comments { LineOnly, AlsoTrailing };

    IniFile() = default;
    // Reads `path`; a missing, unreadable or binary file gives an empty IniFile and a
    // log line (a missing one only when `logMissing`).
    static IniFile load(const QString& path, Comments comments = Comments::LineOnly,
                        bool logMissing = false);
    // Text that is valid UTF-8 is read as such, anything else as Windows-1252.
    static IniFile parse(const QByteArray& bytes, Comments comments = Comments::LineOnly);

    QString value(const QString& section, const QString& key) const;
    bool contains(const QString& section, const QString& key) const;
    bool isEmpty() const { return values_.isEmpty(); }

private:
    static QString slot(const QString& section, const QString& key);
    QHash<QString, QString> values_;
};

// GetPrivateProfileStringA with no default and a 132-character buffer: at most 131
// characters of the value.
QString readProfileString(const QString& file, const QString& section, const QString& key);
QString profileValue(const IniFile& ini, const QString& section, const QString& key);

} // namespace kestro
