#pragma once

#include "client/startup/clientstate.h"
#include "common/deployconfig.h"
#include "common/prompter.h"
#include "common/settingwriter.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestro::jobdb {
class Database;
}
namespace kestro::transfer {
class SendPipeline;
struct SendResult;
} // namespace kestro::transfer
namespace kestro::startup {
struct CatalogueLists;
class CatalogueRefresh;
class ClientPresence;
class UpdateCheck;
} // namespace kestro::startup

namespace kestro::ui {

class FrmProgressZip;
class JobPanel;

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
// the send controls and status displays. The job area is its own widget (JobPanel); this
// window arranges it, runs the load and unload steps in their order, and opens the other
// windows.
class FrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit FrmMain(MainWindowContext context, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The load steps; called once by the start-up right after the window is shown.
    void formLoad();

    void openMasterData();
    JobPanel* jobPanel() const { return jobPanel_; }
    // The program-wide connection; null when the database could not be opened.
    const jobdb::Database* database() const { return db_.get(); }
    // Refills the project / delivery-address choices from the database.
    void reloadProjects();
    void reloadDeliveries();

signals:
    // The window has run its unload steps and is about to go.
    void unloaded();
    // The catalogue fetch at load has finished (obtained or not).
    void catalogueLoaded(bool obtained);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildCentralArea();
    void buildStatusBar();
    void loadMasterDataAndLists();
    void startCatalogue();
    void onCatalogue(bool obtained);
    void showLogo();
    void showCatalogue(const startup::CatalogueLists& lists);
    void openFtpConfig();
    void formUnload();
    void openInfo();
    void openAddFiles();
    void openStartFolder();
    void openEditor(bool projects);
    void runUpdateCheck();
    void requestUpdate();
    void endProgram();
    void setUpSend();
    void onSendClicked();
    void onSendFinished(const transfer::SendResult& result);
    void addStatusLine(const QString& line);
    void appendStatusBox(const QString& line);
    void setCaption(const QString& caption);
    void fitToScreen();
    void placeOnScreen();

    MainWindowContext ctx_;
    std::unique_ptr<jobdb::Database> db_;
    JobPanel* jobPanel_ = nullptr;
    QLabel* logo_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* abortButton_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPlainTextEdit* statusText_ = nullptr;
    QLabel* transferRateLabel_ = nullptr;
    QListWidget* statusList_ = nullptr;
    QLabel* panelMode_ = nullptr;
    QLabel* panelInfo_ = nullptr;
    QLabel* panelClock_ = nullptr;
    QTimer* updateCheckDelay_ = nullptr;
    QTimer* clock_ = nullptr;
    startup::CatalogueRefresh* catalogue_ = nullptr;
    startup::UpdateCheck* updateCheck_ = nullptr;
    startup::ClientPresence* presence_ = nullptr;
    // The send with all it drives: packer, upload, mail and the progress display.
    std::unique_ptr<transfer::SendPipeline> pipeline_;
    FrmProgressZip* progressZip_ = nullptr;
    bool unloadedOnce_ = false;
};

} // namespace kestro::ui
