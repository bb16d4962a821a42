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
    QObject::connect(&termination, &TerminationSignal::received, &window, &QWidget::close);
    window.show();
    window.formLoad();
    if (state.newDatabase)
        window.openMasterData();
    if (state.endRequested)
        return 0;
    // For the start-up benchmark: leave as soon as the window has been shown.
    if (qEnvironmentVariableIsSet("KESTRO_QUIT_WHEN_SHOWN"))
        QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return app.exec();
}

} // namespace kestro::ui
