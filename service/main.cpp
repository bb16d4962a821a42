// Vellmon: the update manager service. Headless by default; its diagnostics window comes
// up with -view or a "ShowForm" command when a display is present.
//
// Environment:
//   VELLMON_RUNTIME_DIR      folder of the pipe, mailslot and client sockets (/run/vellmon)
//   VARNHOLT_REGISTRY        registry folder (/var/lib/varnholt/registry)
//   KESTRO_CONFIG            deployment configuration (/etc/varnholt/kestro.conf)
//   SystemRoot               the "Windows folder": error log, fallback copy (/var/lib/vellmon)
//   VELLMON_UNIT_DIR         where -install writes the unit (/etc/systemd/system; systemctl
//                            is only run for that default folder)
//   VELLMON_POWEROFF_COMMAND program run instead of "systemctl poweroff" (gets the mode)
//   VELLMON_READY_LINE       when set, "READY" is printed once the pipe and mailslot exist
#include "common/deployconfig.h"
#include "common/gui/qtprompter.h"
#include "service/logprompter.h"
#include "service/serviceinstall.h"
#include "service/servicelog.h"
#include "service/servicepaths.h"
#include "service/signalbridge.h"
#include "service/vellmonservice.h"
#include "service/window/form1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>
#include <memory>

using namespace kestro;
using namespace kestro::service;

namespace {

bool displayPresent() {
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// Messages go to a box while the window is on screen, otherwise to the event log.
class HostPrompter : public Prompter {
public:
    void message(const QString& text, Icon icon, const QString& title = {}) override {
        current().message(text, icon, title);
    }
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override {
        return current().askYesNo(text, icon, title);
    }
    QString chooseOpenFile(const QString& filter, const QString& folder) override {
        return current().chooseOpenFile(filter, folder);
    }
    bool windowShown = false;

private:
    Prompter& current() { return windowShown ? static_cast<Prompter&>(box_) : log_; }
    LogPrompter log_;
    gui::QtPrompter box_{kServiceTitle()};
};

} // namespace

int main(int argc, char** argv) {
    const bool gui = displayPresent();
    std::unique_ptr<QCoreApplication> app(gui ? new QApplication(argc, argv)
                                              : new QCoreApplication(argc, argv));
    HostPrompter prompter;

    // Start-up step 1: the command line.
    const SwitchAction action = parseSwitches(argumentString(app->arguments().mid(1)));
    QString error;
    switch (action) {
    case SwitchAction::Install:
        if (installService(QCoreApplication::applicationFilePath(), &error))
            return 0;
        qCWarning(lcService).noquote() << error;
        prompter.message(kDisplayName + QStringLiteral(" konnte nicht installiert werden."),
                         Prompter::Icon::None);
        return 1;
    case SwitchAction::Uninstall:
        if (uninstallService(&error))
            return 0;
        qCWarning(lcService).noquote() << error;
        prompter.message(kDisplayName + QStringLiteral(" konnte nicht deinstalliert werden."),
                         Prompter::Icon::None);
        return 1;
    case SwitchAction::Debug:
        QLoggingCategory::setFilterRules(QStringLiteral("kestro.*.debug=true"));
        break;
    case SwitchAction::Unknown:
        prompter.message(QStringLiteral("Unbekannter Kommandozeilenparameter"),
                         Prompter::Icon::None);
        break;
    case SwitchAction::View:
    case SwitchAction::NoView:
    case SwitchAction::None:
        break;
    }

    const DeployConfig config = DeployConfig::load();
    VellmonService::Options options;
    options.webServer = config.webServer;
    options.registryWriteAllow = config.registryWriteAllow;
    options.registryWriteAllowClasses = config.registryWriteAllowClasses;
    options.settingNames = config.settingNames;
    options.products = config.products;
    options.updatePublicKey = config.updatePublicKey;
    options.clientFolders = config.clientFolders;
    options.heartbeatMs = readTimerInterval();
    VellmonService service(options, prompter);

    SignalBridge signalsIn;
    QObject::connect(&signalsIn, &SignalBridge::stopRequested, app.get(), &QCoreApplication::quit);
    QObject::connect(&signalsIn, &SignalBridge::pauseRequested, &service, &VellmonService::pause);
    QObject::connect(&signalsIn, &SignalBridge::continueRequested, &service,
                     &VellmonService::resume);

    std::unique_ptr<Form1> window;
    auto showWindow = [&](bool show) {
        if (!gui) {
            qCWarning(lcService) << "no display: the window cannot be shown";
            return;
        }
        if (!window) {
            window = std::make_unique<Form1>(service);
            QObject::connect(window.get(), &Form1::unloaded, app.get(), &QCoreApplication::quit,
                             Qt::QueuedConnection);
        }
        window->setVisible(show);
        prompter.windowShown = show;
    };
    QObject::connect(&service, &VellmonService::showFormRequested, app.get(), showWindow);
    QObject::connect(&service, &VellmonService::beepRequested, app.get(), [gui] {
        if (gui)
            QApplication::beep();
        else
            std::fputs("\a", stderr);
    });

    service.start();
    if (action == SwitchAction::View)
        showWindow(true);
    if (qEnvironmentVariableIsSet("VELLMON_READY_LINE")) {
        std::puts("READY");
        std::fflush(stdout);
    }
    const int rc = app->exec();
    service.closeSlot();
    service.closePipe();
    return rc;
}
