#include "service/commanddispatcher.h"

#include "common/ansi.h"
#include "common/logging.h"
#include "common/servicemessage.h"
#include "service/servicelog.h"

#include <QLocale>
#include <cmath>

namespace kestro::service {

QString decodeServiceMessage(const QString& text) {
    if (!text.contains(QChar(0)))
        return text;
    return fromUtf16Le(toAnsi(text));
}

std::optional<bool> toBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(t, &ok);
    if (ok)
        return number != 0.0;
    return std::nullopt;
}

qint64 shutdownDelay(const QString& field) {
    qsizetype i = 0;
    while (i < field.size() && field.at(i).isSpace())
        ++i;
    qsizetype end = i;
    if (end < field.size() &&
        (field.at(end) == QLatin1Char('-') || field.at(end) == QLatin1Char('+')))
        ++end;
    bool seenDot = false;
    while (end < field.size() && ((field.at(end).isDigit() && field.at(end).unicode() < 128) ||
                                  (!seenDot && field.at(end) == QLatin1Char('.')))) {
        seenDot = seenDot || field.at(end) == QLatin1Char('.');
        ++end;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(field.mid(i, end - i), &ok);
    if (!ok || !std::isfinite(value))
        return 0;
    return qint64(qBound(-1e15, std::nearbyint(value), 1e15));
}

CommandDispatcher::CommandDispatcher(RegistryWrite registryWrite, QObject* parent)
    : QObject(parent), registryWrite_(std::move(registryWrite)) {}

void CommandDispatcher::dispatch(const QueuedMessage& message) {
    qCDebug(lcService).noquote() << "dispatched:" << logSafe(message.text);
    Q_EMIT received(message.text);
    const ServiceMessage m = splitServiceMessage(message.text);
    if (m.command == QStringLiteral("KeySchreiben") ||
        m.command == QStringLiteral("KeySchreibenClasses")) {
        // A value may hold "|"; the key path never does.
        const ServiceMessage w = splitSettingMessage(message.text);
        registryWrite_(m.command == QStringLiteral("KeySchreiben") ? Hive::LocalMachine
                                                                   : Hive::ClassesRoot,
                       w.field3, w.field1, w.field2);
    } else if (m.command == QStringLiteral("searchingUpdate")) {
        const UpdateRequest request{m.field1, m.field2, m.field3, message.senderUid,
                                    message.senderProgram};
        QString why;
        if (isAcceptableUpdateRequest(request, &why))
            Q_EMIT updateRequested(request);
        else
            qCWarning(lcService).noquote() << "update request dropped:" << logSafe(why);
    } else if (m.command == QStringLiteral("ShutDown")) {
        if (!message.trusted) {
            qCWarning(lcService) << "ShutDown ignored: the sender is neither root nor the "
                                    "service's own user";
            return;
        }
        const qint64 delay = shutdownDelay(m.field1);
        // The timer takes 0 to 65535 milliseconds; other delays are ignored.
        if (delay < 0 || delay > 65535)
            return;
        Q_EMIT shutdownArmed(int(delay));
    } else if (m.command == QStringLiteral("ShowForm")) {
        if (const auto show = toBoolean(m.field1))
            Q_EMIT showFormRequested(*show);
    } else if (m.command == QStringLiteral("klong")) {
        Q_EMIT beepRequested();
    }
}

} // namespace kestro::service
