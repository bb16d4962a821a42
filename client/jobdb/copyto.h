#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace kestro::jobdb {

// One table as copied: its rows and the SHA-256 of their canonical text on each side.
struct TableCheck {
    QString table;
    qint64 sourceRows = 0;
    qint64 targetRows = 0;
    QByteArray sourceSum;
    QByteArray targetSum;
    bool matches() const { return sourceRows == targetRows && sourceSum == targetSum; }
};

struct CopyReport {
    bool ok = false;
    QString error; // German, naming the table or the reason
    QList<TableCheck> tables;
};

// Copies every row of every table of the job-database file `sourcePath` (opened read-only:
// the file is not changed) into the database at the server address `target`, which must be
// empty (no table of the job database holds a row; the tables are made when missing). All
// rows go in one transaction; then each table's row count and checksum are compared on both
// sides. The canonical text of a row is its values in layout order, each as text (Null
// marked apart from the empty text), rows in the order they were added. `progress` hears a
// line now and then.
CopyReport copyToServer(const QString& sourcePath, const QString& target,
                        const std::function<void(const QString&)>& progress = {});

} // namespace kestro::jobdb
