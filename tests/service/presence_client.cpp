// A running client for the update tests: registers with the given window title, and when
// the service asks it to close, runs its "unload steps" (writes the marker file given as
// the second argument) and ends. Prints READY once it can be found.
#include "client/startup/clientpresence.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    kestro::startup::ClientPresence presence(args.at(1));
    if (!presence.isRegistered())
        return 1;
    QObject::connect(&presence, &kestro::startup::ClientPresence::closeRequested, &app, [&] {
        QFile marker(args.at(2));
        if (marker.open(QIODevice::WriteOnly))
            marker.write("unloaded\n");
        app.quit();
    });
    std::puts("READY");
    std::fflush(stdout);
    return app.exec();
}
