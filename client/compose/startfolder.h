#pragma once

#include <QString>

namespace kestro {
class SettingWriter;
}

namespace kestro::compose {

// Where the file window opens, and whether the folder last used becomes the next start.
struct StartFolder {
    QString folder;
    bool rememberLast = false;
};

// The stored form of the remember flag: "Yes" or "No".
QString rememberFlagText(bool rememberLast);
bool rememberFlagFromText(const QString& text);

// Stores the start folder: `FolderDir` first, then `valFolderDir`, as the start-up reads
// them back.
void storeStartFolder(SettingWriter& writer, const StartFolder& start);

} // namespace kestro::compose
