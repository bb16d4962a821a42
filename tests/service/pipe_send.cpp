// Sends one service message the way the client does and prints "RESULT <error> <reply>";
// with --mailslot it writes the message to Vellmon's mailslot instead.
// With --as-user UID (when started as root) it first becomes that user, to play a
// local user who is neither root nor the service's own user.
#include "common/servicemessage.h"
#include "piperpc/mailslot.h"
#include "piperpc/piperpc.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args.at(0) == QStringLiteral("--as-user")) {
        const uid_t uid = uid_t(args.at(1).toUInt());
        if (::setgid(uid) != 0 || ::setuid(uid) != 0) {
            std::puts("RESULT setuid-failed");
            return 2;
        }
        args = args.mid(2);
    }
    if (args.value(0) == QStringLiteral("--mailslot")) {
        const bool sent =
            kestro::mailSlotSend(args.value(1), QStringLiteral("//./mailslot/Vellmon/AllVersion"));
        std::printf("RESULT %d\n", sent ? 0 : 1);
        return sent ? 0 : 1;
    }
    kestro::PipeRpc pipe;
    pipe.setPipeName(QStringLiteral("Vellmon"));
    QByteArray response(200, '\0');
    const quint32 rc = pipe.pipeCall(kestro::toUtf16Le(args.value(0)), response);
    std::printf("RESULT %u %s\n", rc, qPrintable(kestro::fromUtf16Le(response)));
    return rc == 0 ? 0 : 1;
}
