#pragma once

#include "client/startup/clientstate.h"
#include "common/deployconfig.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QLabel;
class QListWidget;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestro::ui {

// What the main window needs from the rest of the client. Everything here outlives the
// window.
struct MainWindowContext {
    startup::ClientState& state;
    const DeployConfig& config;
    Prompter& prompter;
    SettingWriter& settings;
    ServiceMessageSender& service;
};

// The main window: the job being composed, the menus that open every other window, and
// the send controls and status displays. The job area itself is its own widget; this
// window arranges it, runs the load and unload steps in their order, and opens the
// other windows.
class FrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit FrmMain(MainWindowContext context, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The load steps; called once by the start-up right after construction.
    void formLoad();

    // Opens a window from the menu; public so that the start-up can show the master data
    // after a new database was created.
    void openMasterData();

signals:
    // The window has run its unload steps and is about to go.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildCentralArea();
    void buildStatusBar();
    void formUnload();
    void openPlaceholder(const QString& title);
    void openInfo();
    void requestUpdate();
    void runUpdateCheck();

    MainWindowContext ctx_;
    QWidget* jobArea_ = nullptr;
    QLabel* picture1_ = nullptr;
    QPushButton* cmdFTPSend_ = nullptr;
    QPushButton* cmdFTPAbort_ = nullptr;
    QProgressBar* picProgress_ = nullptr;
    QLineEdit* txtStatus_ = nullptr;
    QListWidget* lstStatus_ = nullptr;
    QLabel* panelMode_ = nullptr;
    QLabel* panelInfo_ = nullptr;
    QLabel* panelClock_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* clock_ = nullptr;
    bool unloadedOnce_ = false;
};

} // namespace kestro::ui
