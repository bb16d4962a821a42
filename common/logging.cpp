#include "common/logging.h"

Q_LOGGING_CATEGORY(lcCommon, "kestro.common")

namespace kestro {

QString logSafe(const QString& text) {
    QString out;
    out.reserve(qMin(text.size(), kLogSafeLength) + 16);
    for (const QChar c : text.left(kLogSafeLength)) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) ||
                 (u >= 0x2066 && u <= 0x2069))
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (text.size() > kLogSafeLength)
        out += QStringLiteral("... (%1 more)").arg(text.size() - kLogSafeLength);
    return out;
}

} // namespace kestro
