#include "client/ui/clientapp.h"

#include "client/startup/jobdatabaselifecycle.h"
#include "client/startup/pipeupdater.h"
#include "client/startup/settings.h"
#include "client/startup/startup.h"
#include "client/ui/frmmain.h"
#include "client/ui/frmwelcom.h"
#include "client/ui/terminationsignal.h"
#include "common/gui/qtprompter.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace kestro::ui {

void installGermanLanguage(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

void endOnTermination(QWidget& mainWindow) {
    // Every event loop ends now, the nested one of a message box waiting for OK as well,
    // and a box asked for from here on returns at once: nothing the program waits for
    // (a service that is down, a question) can keep it alive. The window still runs its
    // unload steps.
    QApplication::exit(0);
    mainWindow.close();
}

int runClient(QApplication& app) {
    app.setApplicationName(QStringLiteral("KestroClient"));
    installGermanLanguage(app);

    const DeployConfig config = DeployConfig::load();
    gui::QtPrompter prompter(QStringLiteral("KestroClient"));
    startup::PipeUpdater service;
    startup::ServiceSettingWriter settings(service, prompter);
    startup::ClientState state;

    auto database = startup::makeJobDatabaseLifecycle(prompter);
    startup::ClientStartup clientStartup({prompter, settings, *database,
                                          [&config] {
                                              FrmWelcom welcome(config);
                                              welcome.exec();
                                          }},
                                         startup::SettingsReader(), config);
    if (!clientStartup.run(state))
        return 1;

    FrmMain window({state, config, prompter, settings, service});
    prompter.setParent(&window);
    TerminationSignal termination;
    bool terminated = false;
    QObject::connect(&termination, &TerminationSignal::received, &window, [&window, &terminated] {
        terminated = true;
        endOnTermination(window);
    });
    window.show();
    window.formLoad();
    if (state.newDatabase && !terminated)
        window.openMasterData();
    if (state.endRequested || terminated)
        return 0;
    // For the start-up benchmark: leave as soon as the window has been shown.
    if (qEnvironmentVariableIsSet("KESTRO_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return app.exec();
}

} // namespace kestro::ui
