#pragma once

#include "client/compose/jobsnapshot.h"
#include "client/jobdb/masterdata.h"

#include <QByteArray>
#include <QDate>
#include <QString>

namespace kestro::jobdb {

// A project or delivery address as prepare job looked it up: the seven values of its row
// (number, three names, street, postal code and town, contact person), trailing blanks
// removed. All empty when the job has none.
struct LookupResult {
    QString number;
    QString name1;
    QString name2;
    QString name3;
    QString street;
    QString plzOrt;
    QString contact;

    bool isEmpty() const { return number.isEmpty() && name1.isEmpty(); }
    bool operator==(const LookupResult&) const = default;
};

// Everything the job sheet prints.
struct JobSheetContent {
    qint32 jobNumber = 0;
    MasterData master;
    LookupResult project;
    LookupResult delivery;
    QString deadline; // "6.12.2026 - 10 : 00"
    QString remarks;
    QDate today;
    QString sendTime; // "hhmmss"
    QList<compose::FileRow> files;
};

// Line 3's project text: " " when the project has no name 1, else "4 | Neubau", followed by
// " / " and name 2, name 3 and the contact person for each that is not empty.
QString projectText(const LookupResult& project);

// One file line: "1 plan.pdf 3xfarbig        1:heften        2:        3:  ".
QString fileLine(const compose::FileRow& file);

// The job sheet JobDaten.txt as bytes: Windows-1252 (a character it cannot hold becomes "?"),
// every line ending CR CR LF; the remarks and delivery-address lines only when they have a
// value; the file lines last. A control character in any value (CR, LF, tab, ...) becomes
// a blank, so that every value stays on its own line.
QByteArray jobSheetBytes(const JobSheetContent& content);

} // namespace kestro::jobdb
