#include "common/updateversion.h"

namespace kestro {

std::optional<QString> versionFirstLine(const QString& content, QString* rest) {
    const qsizetype lf = content.left(kVersionScanLimit).indexOf(QLatin1Char('\n'));
    if (lf < 0)
        return std::nullopt;
    if (rest)
        *rest = content.mid(lf + 1);
    return content.left(lf);
}

bool leadingNumber16(const QString& text, qint16* value) {
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 number = 0;
    for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i) {
        number = number * 10 + (text.at(i).unicode() - '0');
        if (number > 40000)
            return false;
    }
    if (negative)
        number = -number;
    if (number < -32768 || number > 32767)
        return false;
    *value = qint16(number);
    return true;
}

std::optional<VersionNumbers> parseVersion(const QString& text) {
    VersionNumbers v;
    QString part;
    bool seenDot = false;
    for (const QChar c : text) {
        if (c != QLatin1Char('.')) {
            part += c;
            continue;
        }
        if (!leadingNumber16(part, seenDot ? &v.minor : &v.major))
            return std::nullopt;
        seenDot = true;
        part.clear();
    }
    if (!leadingNumber16(part, &v.build))
        return std::nullopt;
    return v;
}

bool isNewer(const VersionNumbers& offered, const VersionNumbers& current) {
    if (offered.major != current.major)
        return offered.major > current.major;
    if (offered.minor != current.minor)
        return offered.minor > current.minor;
    return offered.build > current.build;
}

} // namespace kestro
