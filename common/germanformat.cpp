#include "common/germanformat.h"

#include <QLocale>
#include <cmath>

namespace kestro::de {
namespace {

const QLocale& german() {
    static const QLocale locale(QLocale::German, QLocale::Germany);
    return locale;
}

} // namespace

QString shortDate(const QDate& date) {
    return date.toString(QStringLiteral("dd.MM.yyyy"));
}

QString longTime(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString twoDigitYearDate(const QDate& d) {
    return d.toString(QStringLiteral("dd.MM.yy"));
}

QString compactTime(const QTime& time) {
    return time.toString(QStringLiteral("HHmmss"));
}

QString number(double value, int decimals, bool grouping) {
    // Round half away from zero, as the Windows format patterns do, before QLocale's
    // own (banker's-free but binary) rounding can differ on .5 cases.
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    QLocale locale = german();
    locale.setNumberOptions(grouping ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    return locale.toString(rounded, 'f', decimals);
}

QString boolText(bool value) {
    return value ? QStringLiteral("Wahr") : QStringLiteral("Falsch");
}

} // namespace kestro::de
