#pragma once

#include <QString>
#include <QStringList>

namespace kestro::jobdb {

class Database;

// A list label: number, " | ", name 1 (trailing blanks removed), e.g. "12 | Müller".
QString listLabel(const QString& number, const QString& name1);

// The labels of every delivery address with a non-zero number, by number. An empty list means
// "leave the window's list as it was" (no rows, or the table could not be read).
QStringList loadDeliveryLabels(const Database& db);

// The labels of every project with a non-zero number: sorted by name 1 (German order, case
// ignored, empty names first) when `sortFlag` (Stammdaten.ProjNam1Sort) reads as a non-zero
// number, otherwise by number. Empty means "leave the list as it was".
QStringList loadProjectLabels(const Database& db, const QString& sortFlag);

} // namespace kestro::jobdb
