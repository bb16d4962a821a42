#include "common/servicemessage.h"

#include <QtEndian>

namespace kestro {

QString buildServiceMessage(const QString& command, const QString& field1, const QString& field2,
                            const QString& field3) {
    const QChar bar(QLatin1Char('|'));
    return command + bar + field1 + bar + field2 + bar + field3;
}

ServiceMessage splitServiceMessage(const QString& text) {
    ServiceMessage m;
    QString rest = text;
    QString* parts[] = {&m.command, &m.field1, &m.field2};
    for (QString* part : parts) {
        const qsizetype bar = rest.indexOf(QLatin1Char('|'));
        if (bar < 0)
            continue;
        *part = rest.left(bar);
        rest = rest.mid(bar + 1);
    }
    m.field3 = rest;
    return m;
}

ServiceMessage splitSettingMessage(const QString& text) {
    ServiceMessage m = splitServiceMessage(text);
    const qsizetype lastBar = m.field3.lastIndexOf(QLatin1Char('|'));
    if (lastBar >= 0) {
        m.field2 += QLatin1Char('|') + m.field3.left(lastBar);
        m.field3 = m.field3.mid(lastBar + 1);
    }
    return m;
}

QString keySchreibenMessage(const QString& valueName, const QString& value) {
    return buildServiceMessage(QStringLiteral("KeySchreiben"), valueName, value, kSettingsKeyPath);
}

QString searchingUpdateMessage(const QString& productName, const QString& clientFolder,
                               const QString& version) {
    return buildServiceMessage(QStringLiteral("searchingUpdate"), productName, clientFolder,
                               version);
}

QByteArray toUtf16Le(const QString& text) {
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    auto* dst = reinterpret_cast<uchar*>(out.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), dst + 2 * i);
    return out;
}

QString fromUtf16Le(const QByteArray& bytes) {
    const qsizetype n = bytes.size() / 2;
    QString out(n, Qt::Uninitialized);
    const auto* src = reinterpret_cast<const uchar*>(bytes.constData());
    for (qsizetype i = 0; i < n; ++i)
        out[i] = QChar(qFromLittleEndian<quint16>(src + 2 * i));
    return out;
}

} // namespace kestro
