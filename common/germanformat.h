#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The regional settings of the customers' machines: German, whatever the Linux locale.
// Every date, time and number the user or a peer sees is formatted here.
namespace kestro::de {

QString shortDate(const QDate& date);     // 06.12.2026
QString longTime(const QTime& time);      // 14:05:09
QString twoDigitYearDate(const QDate& d); // 06.12.26
QString compactTime(const QTime& time);   // 140509

// A number rounded to `decimals` places with "." grouping and "," as decimal sign:
// 1234.5 with 2 decimals is "1.234,50". `grouping` off gives "1234,50".
QString number(double value, int decimals, bool grouping = true);

// The German words for the two truth values, as the system writes a boolean as text.
QString boolText(bool value); // "Wahr" / "Falsch"

} // namespace kestro::de
