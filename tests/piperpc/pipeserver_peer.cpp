// A pipe server in its own process for the pipe tests: listens with the properties given
// on the command line, prints every event on its own line, and answers each request.
//   --name N --max-clients N --max-request N --idle MS --multipoll
//   --reply TEXT   answer with the UTF-16LE bytes of TEXT; "echo" echoes the request,
//                  "empty" answers with no bytes
#include "common/servicemessage.h"
#include "piperpc/piperpc.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

using kestro::PipeRpc;

namespace {

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
    };
    PipeRpc server;
    const QString reply = option(QStringLiteral("--reply"), QStringLiteral("True"));
    try {
        server.setPipeName(option(QStringLiteral("--name"), QStringLiteral("testpipe")));
        server.setMaxClients(
            qint16(option(QStringLiteral("--max-clients"), QStringLiteral("1")).toInt()));
        server.setMaxRequest(
            option(QStringLiteral("--max-request"), QStringLiteral("1024")).toInt());
        server.setIdleTimeout(option(QStringLiteral("--idle"), QStringLiteral("0")).toInt());
        server.setMultiPoll(args.contains(QStringLiteral("--multipoll")));
        QObject::connect(&server, &PipeRpc::connected,
                         [](qint32 pipe) { say(QStringLiteral("CONNECTED %1").arg(pipe)); });
        QObject::connect(
            &server, &PipeRpc::disconnected, [](qint32 pipe, qint32 reason, quint32 error) {
                say(QStringLiteral("DISCONNECTED %1 %2 %3").arg(pipe).arg(reason).arg(error));
            });
        QObject::connect(&server, &PipeRpc::called,
                         [&](qint32 pipe, const QByteArray& request, QByteArray* response) {
                             say(QStringLiteral("CALLED %1 %2")
                                     .arg(pipe)
                                     .arg(QString::fromLatin1(request.toHex())));
                             if (reply == QStringLiteral("echo"))
                                 *response = request;
                             else if (reply != QStringLiteral("empty"))
                                 *response = kestro::toUtf16Le(reply);
                         });
        server.listen();
    } catch (const kestro::PipeRpcError& e) {
        say(QStringLiteral("ERROR %1 %2").arg(e.number()).arg(e.description()));
        return 1;
    }
    say(QStringLiteral("READY"));
    return app.exec();
}
