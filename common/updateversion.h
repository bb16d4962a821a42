#pragma once

#include <QString>
#include <optional>

// The version rules shared by the client's update check and Vellmon's update search:
// the first line of a published version file, and "major.minor.build" as three signed
// 16-bit numbers compared in order of significance.
namespace kestro {

struct VersionNumbers {
    qint16 major = 0;
    qint16 minor = 0;
    qint16 build = 0;
};

inline constexpr int kVersionScanLimit = 100000;

// The text before the first line feed, found within the first 100,000 characters
// (a carriage return in front of it stays); nothing when there is no line feed that
// early. `rest`, when given, receives everything after that line feed.
std::optional<QString> versionFirstLine(const QString& content, QString* rest = nullptr);

// The number at the start of a text, as the Windows programs read it: blanks skipped,
// an optional sign, then digits; no digits give 0. False when it does not fit a signed
// 16-bit integer.
bool leadingNumber16(const QString& text, qint16* value);

// Splits "major.minor.build": the part before the first "." is the major number, the
// part before the last "." (after the one before it) the minor number, the part after
// the last "." the build number; "1.2.3.4" reads as 1, 3, 4. Nothing when a part does
// not fit a signed 16-bit integer.
std::optional<VersionNumbers> parseVersion(const QString& text);

// True when `offered` is newer than `current`.
bool isNewer(const VersionNumbers& offered, const VersionNumbers& current);

} // namespace kestro
