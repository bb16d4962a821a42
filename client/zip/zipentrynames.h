#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// Entry names inside the job archive. Two files of one job may share a name (plan.pdf from
// two folders); the shop must receive both, so the later one is renamed "plan (2).pdf",
// "plan (3).pdf", ... Names compare without regard to case, because the shop unpacks on
// Windows, where Plan.pdf and plan.pdf would overwrite each other, nor of Unicode form.
namespace kestro::zip {

// Keeps track of the names taken so far in one archive and hands out free ones.
class EntryNameAllocator {
public:
    // Marks a name as taken (an entry that is already in the archive).
    void reserve(const QString& name);
    bool isTaken(const QString& name) const;
    // `wanted` (control characters as blanks) if it is free, otherwise the first free
    // "base (n).ext" with n >= 2. The returned name is taken from then on.
    QString allocate(const QString& wanted);

private:
    QSet<QString> taken_; // folded to lower case and composed form
};

// The entry names the packer will use for these files when each is stored by its file
// name only, in this order, in an archive that already holds `existing`. The job sheet
// writer calls this before packing to name the entries as they will be in the archive.
QStringList plannedEntryNames(const QStringList& filePaths, const QStringList& existing = {});

// "plan.pdf", 2 -> "plan (2).pdf"; "README", 3 -> "README (3)".
QString numberedName(const QString& name, int n);

} // namespace kestro::zip
