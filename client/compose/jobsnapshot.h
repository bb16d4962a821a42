#pragma once

#include <QDate>
#include <QList>
#include <QString>

namespace kestro::compose {

// One row of the job's file list, as the worker set it up. All cells are the texts shown
// in the list; `number` is the running number fixed when the row was added.
struct FileRow {
    QString number;
    QString fileName;
    QString copies;
    QString color;
    QString step1;
    QString step2;
    QString step3;
    QString fullPath;

    bool operator==(const FileRow&) const = default;
};

// The job as composed in the main window, copied out for the send and the job store.
struct JobSnapshot {
    QString project;  // label "4 | Neubau", or free text / empty for none
    QString delivery; // label "1 | Baustelle Nord", or free text / empty for none
    QDate deadlineDate;
    QString deadlineTime; // "Sofort", "10 : 00", or "Uhrzeit" when none was chosen
    QString remarks;
    QList<FileRow> files;

    bool operator==(const JobSnapshot&) const = default;
};

// "6.12.2026 - 10 : 00": day, month and year without leading zeros, then the time text.
inline QString deadlineText(const JobSnapshot& job) {
    const QDate& d = job.deadlineDate;
    return QStringLiteral("%1.%2.%3 - %4")
        .arg(d.day())
        .arg(d.month())
        .arg(d.year())
        .arg(job.deadlineTime);
}

} // namespace kestro::compose
