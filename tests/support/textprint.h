#pragma once

#include <QString>
#include <ostream>

// GoogleTest prints a QString that fails a comparison as its text, not as UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
