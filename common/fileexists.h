#pragma once

#include <QString>

namespace kestro {

// True when the folder of `path` lists a plain file whose name equals the path's file
// name, compared without regard to case (the way the Windows client tested for files).
// Folders, missing folders and empty names answer false.
bool fileExists(const QString& path);

// The path of that file as it is spelled on disk, or the empty text when there is none.
// Used to delete or open a file whose name may differ in case.
QString existingFilePath(const QString& path);

} // namespace kestro
