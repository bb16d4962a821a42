#include "client/startup/clientstate.h"

namespace kestro::startup {

QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

QByteArray versionLine() {
    // Numbers printed the way the old run time wrote them to a text file: a leading sign
    // position (blank for positive) and a trailing blank.
    auto field = [](qint16 n) {
        return (n < 0 ? QByteArray() : QByteArray(" ")) + QByteArray::number(n) + ' ';
    };
    return field(kVersionMajor) + field(kVersionMinor) + field(kVersionRevision) + "\r\n";
}

} // namespace kestro::startup
