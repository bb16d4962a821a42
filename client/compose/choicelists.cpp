#include "client/compose/choicelists.h"

#include "common/germanformat.h"

namespace kestro::compose {

QStringList deadlineTimes() {
    QStringList times;
    times.reserve(97);
    times << QStringLiteral("Sofort");
    for (int hour = 0; hour < 24; ++hour) {
        for (int minute = 0; minute < 60; minute += 15)
            times << QStringLiteral("%1 : %2")
                         .arg(hour, 2, 10, QLatin1Char('0'))
                         .arg(minute, 2, 10, QLatin1Char('0'));
    }
    return times;
}

QStringList copiesChoices() {
    QStringList copies;
    copies.reserve(100);
    for (int n = 1; n <= 100; ++n)
        copies << QString::number(n);
    return copies;
}

QString sizeText(qint64 bytes) {
    const double kb = static_cast<double>(bytes) / 1024.0;
    const double mb = kb / 1024.0;
    if (mb < 1.0 && kb < 1.0)
        return de::number(static_cast<double>(bytes), 0, false) + QStringLiteral(" Byte");
    if (mb < 1.0)
        return de::number(kb, 0, false) + QStringLiteral(" KB");
    return de::number(mb, 2, true) + QStringLiteral(" MB");
}

} // namespace kestro::compose
