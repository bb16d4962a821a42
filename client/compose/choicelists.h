#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The fixed choices of the job window and the texts it shows for files.
namespace kestro::compose {

// What the deadline-time box shows until a time is chosen.
inline QString noTimeChosenText() {
    return QStringLiteral("Uhrzeit");
}

// "Sofort", then every quarter hour of the day: "00 : 00", "00 : 15", ... "23 : 45" (97).
QStringList deadlineTimes();

// The copies a file can be printed in: "1" to "100".
QStringList copiesChoices();

// A file size as the file window shows it: below 1 KB in bytes ("1023 Byte"), below 1 MB
// in whole KB ("2 KB" for 1600 bytes, rounded), otherwise in MB with two decimals and the
// German number format ("1,50 MB", "1.234,00 MB").
QString sizeText(qint64 bytes);

} // namespace kestro::compose
