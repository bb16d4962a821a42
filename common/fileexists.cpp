#include "common/fileexists.h"

#include <QDir>
#include <QFileInfo>

namespace kestro {

bool fileExists(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty())
        return false;
    // The exact name is by far the common case and needs no listing.
    if (info.isFile())
        return true;
    const QDir dir = info.absoluteDir();
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& f : files) {
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace kestro
