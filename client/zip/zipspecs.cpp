#include "client/zip/zipspecs.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

namespace kestro::zip {

namespace {

bool hasWildcard(const QString& name) {
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?')) ||
           name.contains(QLatin1Char('['));
}

QString rootFolder(const ZpOptions& options) {
    return QDir::cleanPath(QFile::decodeName(options.rootDir));
}

QString resolve(const QString& spec, const ZpOptions& options) {
    const QString root = rootFolder(options);
    if (QDir::isRelativePath(spec) && !root.isEmpty() && root != QLatin1String("."))
        return QDir::cleanPath(root + QLatin1Char('/') + spec);
    return QDir::cleanPath(QFileInfo(spec).absoluteFilePath());
}

// The date filters of the option record: dateText is mmddyyyy.
bool passesDateFilters(const QFileInfo& info, const ZpOptions& options) {
    if (!options.includeByDate && !options.excludeByDate)
        return true;
    const QDate date =
        QDate::fromString(QString::fromLatin1(options.dateText), QStringLiteral("MMddyyyy"));
    if (!date.isValid())
        return true;
    const QDate modified = info.lastModified().date();
    if (options.includeByDate && modified < date)
        return false;
    if (options.excludeByDate && modified >= date)
        return false;
    return true;
}

QDir::Filters fileFilters(const ZpOptions& options) {
    QDir::Filters f = QDir::Files | QDir::NoDotAndDotDot;
    if (options.includeSystemAndHidden)
        f |= QDir::Hidden | QDir::System;
    return f;
}

// Every file below `folder` matching `patterns` (all subfolders when `recurse`), sorted
// so that a run is repeatable.
QList<QFileInfo> filesIn(const QString& folder, const QStringList& patterns, bool recurse,
                         const ZpOptions& options) {
    QList<QFileInfo> found;
    QDirIterator it(folder, patterns, fileFilters(options),
                    recurse ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        it.next();
        if (passesDateFilters(it.fileInfo(), options))
            found << it.fileInfo();
    }
    std::sort(found.begin(), found.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.filePath() < b.filePath(); });
    return found;
}

bool wantsDirectoryEntries(const ZpOptions& options) {
    return !options.noDirectoryEntries && !options.junkDirectoryNames;
}

} // namespace

QString archiveNameFor(const QString& path, const ZpOptions& options) {
    if (options.junkDirectoryNames)
        return QFileInfo(path).fileName();
    QString name = QDir::cleanPath(path);
    const QString root = rootFolder(options);
    if (!root.isEmpty() && root != QLatin1String(".") && name.startsWith(root + QLatin1Char('/')))
        name = name.mid(root.size() + 1);
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    while (name.startsWith(QLatin1String("../")))
        name.remove(0, 3);
    return name;
}

SpecExpansion expandSpecs(const QStringList& specs, const ZpOptions& options) {
    SpecExpansion out;
    const bool recurse = options.recurse != 0;
    for (const QString& spec : specs) {
        const QString path = resolve(spec, options);
        const QFileInfo info(path);
        const qsizetype before = out.items.size();
        if (!options.literalNames && hasWildcard(info.fileName())) {
            for (const QFileInfo& f : filesIn(info.path(), {info.fileName()}, recurse, options))
                out.items.push_back(
                    {f.absoluteFilePath(), archiveNameFor(f.absoluteFilePath(), options), spec});
        } else if (info.isDir()) {
            if (wantsDirectoryEntries(options))
                out.items.push_back(
                    {path, archiveNameFor(path, options) + QLatin1Char('/'), spec, true});
            if (recurse) {
                for (const QFileInfo& f : filesIn(path, {}, true, options)) {
                    if (wantsDirectoryEntries(options) && f.absolutePath() != path) {
                        const QString folder =
                            archiveNameFor(f.absolutePath(), options) + QLatin1Char('/');
                        const bool known =
                            std::any_of(out.items.begin() + before, out.items.end(),
                                        [&](const FoundItem& i) { return i.entryName == folder; });
                        if (!known)
                            out.items.push_back({f.absolutePath(), folder, spec, true});
                    }
                    out.items.push_back({f.absoluteFilePath(),
                                         archiveNameFor(f.absoluteFilePath(), options), spec});
                }
            }
        } else if (info.exists() || info.isSymLink()) {
            if (passesDateFilters(info, options))
                out.items.push_back({path, archiveNameFor(path, options), spec});
        }
        if (out.items.size() == before)
            out.unmatched << spec;
    }
    return out;
}

} // namespace kestro::zip
