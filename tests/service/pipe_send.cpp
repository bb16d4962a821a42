// Sends one service message the way the client does and prints "RESULT <error> <reply>";
// with --mailslot it writes the message to Vellmon's mailslot instead. The tests start it
// through setpriv to play another local user.
//   --present TITLE MARKER    a running client registered as TITLE: prints READY, and when
//                             the service asks it to close writes MARKER and ends
// Two more modes play a hostile user:
//   --flood COUNT CHARS KEY   COUNT single calls "KeySchreiben|F<pid>-<i>|<CHARS x's>|KEY";
//                             prints "RESULT <answered True> <other>"
//   --hold SECONDS EVERY_MS   keeps one connection open and sends "klong|" on it every
//                             EVERY_MS; prints "RESULT <answered> <failed>"
#include "client/startup/clientpresence.h"
#include "common/servicemessage.h"
#include "piperpc/mailslot.h"
#include "piperpc/piperpc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cstdio>

namespace {

quint32 callOnce(kestro::PipeRpc& pipe, const QString& text, QString* reply) {
    QByteArray response(200, '\0');
    const quint32 rc = pipe.pipeCall(kestro::toUtf16Le(text), response);
    *reply = rc == 0 ? kestro::fromUtf16Le(response) : QString();
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("--present")) {
        kestro::startup::ClientPresence presence(args.value(1));
        if (!presence.isRegistered())
            return 1;
        QObject::connect(&presence, &kestro::startup::ClientPresence::closeRequested, &app, [&] {
            QFile marker(args.value(2));
            if (marker.open(QIODevice::WriteOnly))
                marker.write("unloaded\n");
            app.quit();
        });
        std::puts("READY");
        std::fflush(stdout);
        return app.exec();
    }
    if (args.value(0) == QStringLiteral("--mailslot")) {
        const bool sent =
            kestro::mailSlotSend(args.value(1), QStringLiteral("//./mailslot/Vellmon/AllVersion"));
        std::printf("RESULT %d\n", sent ? 0 : 1);
        return sent ? 0 : 1;
    }
    kestro::PipeRpc pipe;
    pipe.setPipeName(QStringLiteral("Vellmon"));
    QString reply;
    if (args.value(0) == QStringLiteral("--flood")) {
        const int count = args.value(1).toInt();
        const QString value(args.value(2).toInt(), QLatin1Char('x'));
        int yes = 0;
        for (int i = 0; i < count; ++i) {
            callOnce(pipe,
                     QStringLiteral("KeySchreiben|F%1-%2|")
                             .arg(QCoreApplication::applicationPid())
                             .arg(i) +
                         value + QLatin1Char('|') + args.value(3),
                     &reply);
            yes += reply == QStringLiteral("True") ? 1 : 0;
        }
        std::printf("RESULT %d %d\n", yes, count - yes);
        return 0;
    }
    if (args.value(0) == QStringLiteral("--hold")) {
        pipe.setTimeout(2000);
        if (pipe.openPipe() != 0) {
            std::puts("RESULT 0 0 not-connected");
            return 1;
        }
        int answered = 0, failed = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < args.value(1).toInt() * 1000) {
            (callOnce(pipe, QStringLiteral("klong|"), &reply) == 0 ? answered : failed)++;
            QThread::msleep(args.value(2).toULong());
        }
        std::printf("RESULT %d %d\n", answered, failed);
        return 0;
    }
    const quint32 rc = callOnce(pipe, args.value(0), &reply);
    std::printf("RESULT %u %s\n", rc, qPrintable(reply));
    return rc == 0 ? 0 : 1;
}
