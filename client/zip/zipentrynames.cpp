#include "client/zip/zipentrynames.h"

#include "common/textfile.h"

#include <QFileInfo>

namespace kestro::zip {

namespace {
// Two names collide when they look the same: letters of either case, and the composed
// and decomposed forms of an umlaut ("Mu\u0308ller" from a Mac, "M\u00fcller" from Linux),
// which the shop's unpacker or the job sheet's reader cannot tell apart.
QString folded(const QString& name) {
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}
} // namespace

void EntryNameAllocator::reserve(const QString& name) {
    taken_.insert(folded(name));
}

bool EntryNameAllocator::isTaken(const QString& name) const {
    return taken_.contains(folded(name));
}

QString EntryNameAllocator::allocate(const QString& raw) {
    // The job sheet names each file with its control characters as blanks; the entry
    // must carry the same name, or the shop cannot match the sheet's line to its file.
    const QString wanted = withoutControlCharacters(raw);
    QString name = wanted;
    for (int n = 2; isTaken(name); ++n)
        name = numberedName(wanted, n);
    reserve(name);
    return name;
}

QString numberedName(const QString& name, int n) {
    // The number goes before the last extension, in the last path segment only, so
    // "a.b/plan" becomes "a.b/plan (2)" and a leading dot (".profile") is no extension.
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    if (dot <= slash + 1)
        return name + number;
    return name.left(dot) + number + name.mid(dot);
}

QStringList plannedEntryNames(const QStringList& filePaths, const QStringList& existing) {
    EntryNameAllocator names;
    for (const QString& e : existing)
        names.reserve(e);
    QStringList out;
    out.reserve(filePaths.size());
    for (const QString& path : filePaths)
        out << names.allocate(QFileInfo(path).fileName());
    return out;
}

} // namespace kestro::zip
