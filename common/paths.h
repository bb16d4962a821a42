#pragma once

#include <QString>

// The folders the Windows client took from APPDATA, LOCALAPPDATA and SystemDrive. Each
// variable is used when set (tests and administrators set them); otherwise the XDG data
// home, the XDG cache home and the user's home folder stand in. Paths use "/" and carry
// no trailing slash.
namespace kestro::paths {

QString appData();
QString localAppData();
QString systemDrive();

// Joins a folder and a name with exactly one "/" between them (no doubled slash when the
// folder is the root "/").
QString join(const QString& folder, const QString& name);

} // namespace kestro::paths
