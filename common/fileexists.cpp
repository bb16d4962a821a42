#include "common/fileexists.h"

#include <QDir>
#include <QFileInfo>

namespace kestro {

QString existingFilePath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty())
        return {};
    // The exact name is by far the common case and needs no listing.
    if (info.isFile())
        return path;
    const QDir dir = info.absoluteDir();
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& f : files) {
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(f);
    }
    return {};
}

bool fileExists(const QString& path) {
    return !existingFilePath(path).isEmpty();
}

} // namespace kestro
