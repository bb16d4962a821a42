#pragma once

#include "client/zip/zipoptions.h"

#include <QList>
#include <QString>
#include <QStringList>

// Turns the specifications of one run (file paths, folders, and wildcard patterns unless
// the literal-names field is set) into the
// files and folders to pack, with the names they get in the archive before any renaming
// for duplicates.
namespace kestro::zip {

struct FoundItem {
    QString path;      // absolute path on disk
    QString entryName; // wanted name in the archive ("/"-separated, folders end in "/")
    QString spec;      // the file spec it came from
    bool directory = false;
};

struct SpecExpansion {
    QList<FoundItem> items;
    QStringList unmatched; // specifications that named nothing
};

SpecExpansion expandSpecs(const QStringList& specs, const ZpOptions& options);

// Name of `path` in the archive: the file name alone when folder names are junked,
// otherwise the path below the root folder, or the path without its leading "/".
QString archiveNameFor(const QString& path, const ZpOptions& options);

} // namespace kestro::zip
