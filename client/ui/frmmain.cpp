#include "client/ui/frmmain.h"

#include "client/ftp/ftpsession.h"
#include "client/jobdb/database.h"
#include "client/jobdb/listloaders.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/recordeditor.h"
#include "client/send/progressdisplay.h"
#include "client/send/sendpipeline.h"
#include "client/startup/cataloguefetch.h"
#include "client/startup/clientpresence.h"
#include "client/startup/pipeupdater.h"
#include "client/startup/updatecheck.h"
#include "client/ui/frmemail.h"
#include "client/ui/frmftpconfig.h"
#include "client/ui/frminfo.h"
#include "client/ui/frmoldjobs.h"
#include "client/ui/frmprogresszip.h"
#include "client/ui/frmstammdat.h"
#include "client/ui/frmstartordner.h"
#include "client/ui/jobpanel.h"
#include "client/ui/recordeditorwindow.h"
#include "client/ui/uilog.h"
#include "client/ui/windowplacement.h"
#include "common/germanformat.h"
#include "common/logging.h"
#include "common/paths.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace kestro::ui {

FrmMain::FrmMain(MainWindowContext context, QWidget* parent) : QMainWindow(parent), ctx_(context) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(startup::kAppName);
    buildMenus();
    buildCentralArea();
    buildStatusBar();
    fitToScreen();
}

FrmMain::~FrmMain() {
    // The pipeline goes before the window's widgets: a send still running then can no
    // longer call back into a window that is half gone.
    if (!pipeline_)
        return;
    pipeline_->disconnect(this);
    pipeline_->display().disconnect(this);
    // A delivered and recorded job's mail is the shop's only word of it: the program ends
    // once it went, not in the middle of it. The window is gone for the worker already;
    // the mail's own time-out bounds the wait.
    if (pipeline_->state() == transfer::SendPipeline::State::Notifying) {
        hide();
        qCInfo(lcUi) << "waiting for the notification mail before the end";
        QEventLoop mailGone;
        connect(pipeline_.get(), &transfer::SendPipeline::finished, &mailGone, &QEventLoop::quit);
        mailGone.exec();
    }
}

// The window's size at load: as large as the worker is used to, but never taller or wider
// than the screen's free area, so that the status area stays above a task bar even on a
// 1366 x 768 laptop screen.
void FrmMain::fitToScreen() {
    QSize size(1180, 760);
    if (const QScreen* s = screen()) {
        const QRect free = s->availableGeometry();
        // The frame (title bar, borders) is not known before the window is shown; allow
        // for a usual title bar and borders, and for a task bar where the platform does
        // not report one.
        const int frameHeight = 40 + 8;
        const int taskBar = free.height() == s->geometry().height() ? 48 : 0;
        size = size.boundedTo(QSize(free.width() - 16, free.height() - frameHeight - taskBar));
    }
    resize(size.expandedTo(minimumSizeHint()));
}

// The window's place at load: centred across the free area and at its top, so that the
// room kept for an unreported task bar stays below the window instead of being split
// above and below it.
void FrmMain::placeOnScreen() {
    const QScreen* s = screen();
    if (!s)
        return;
    const QRect free = s->availableGeometry();
    move(free.left() + qMax(0, (free.width() - frameGeometry().width()) / 2), free.top());
}

void FrmMain::buildMenus() {
    auto action = [this](QMenu* menu, const char* name, const QString& text,
                         std::function<void()> slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, std::move(slot));
        return a;
    };
    QMenu* datei = menuBar()->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("mnuDatei"));
    action(datei, "mnuAddFile", QStringLiteral("Dateien &hinzufügen"), [this] { openAddFiles(); });
    datei->addSeparator()->setObjectName(QStringLiteral("mnuTrenne"));
    // Ends the program at once: no unload steps, the start folder is not stored.
    action(datei, "mnuExit", QStringLiteral("&Ende"), [] { QApplication::exit(0); });

    QMenu* optionen = menuBar()->addMenu(QStringLiteral("&Optionen"));
    optionen->setObjectName(QStringLiteral("mnuOptionen"));
    action(optionen, "mnuStamm", QStringLiteral("&Stammdaten"), [this] { openMasterData(); });
    action(optionen, "mnuFTPconfig", QStringLiteral("&FTP konfiguration"),
           [this] { openFtpConfig(); });
    action(optionen, "mnuEMail", QStringLiteral("E-Mail konfiguration"), [this] {
        FrmEMail window(ctx_.config, ctx_.settings, ctx_.state.mail, this);
        window.exec();
    });
    action(optionen, "mnuStartFolder", QStringLiteral("Startordner"),
           [this] { openStartFolder(); });
    action(optionen, "mnuUpdSoft", QStringLiteral("&Update Software"), [this] {
        ctx_.state.updateRequested = true;
        requestUpdate();
    });

    QMenu* datenbank = menuBar()->addMenu(QStringLiteral("&Datenbank"));
    datenbank->setObjectName(QStringLiteral("mnuDatenbank"));
    action(datenbank, "mnuJobDaten", QStringLiteral("&JobDaten"), [this] {
        openJobHistory(this, db_.get(), ctx_.state.databasePath, ctx_.prompter,
                       [this](const compose::JobSnapshot& job) { jobPanel_->loadJob(job); });
    });
    action(datenbank, "mnuLieferAdr", QStringLiteral("&Lieferadressen"),
           [this] { openEditor(false); });
    action(datenbank, "mnuProjekt", QStringLiteral("&Projekt"), [this] { openEditor(true); });

    QMenu* frage = menuBar()->addMenu(QStringLiteral("?"));
    frage->setObjectName(QStringLiteral("mnuFrage"));
    action(frage, "mnuInfo", QStringLiteral("&Info"), [this] { openInfo(); });
}

void FrmMain::buildCentralArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* top = new QHBoxLayout;
    jobPanel_ = new JobPanel(ctx_.prompter, central);
    connect(jobPanel_, &JobPanel::addFilesRequested, this, &FrmMain::openAddFiles);
    top->addWidget(jobPanel_, 1);
    logo_ = new QLabel(central);
    logo_->setObjectName(QStringLiteral("Picture1"));
    logo_->setFixedSize(200, 120);
    logo_->setAlignment(Qt::AlignCenter);
    top->addWidget(logo_, 0, Qt::AlignTop);
    layout->addLayout(top, 1);

    auto* sendRow = new QHBoxLayout;
    sendButton_ = new QPushButton(QStringLiteral("FTP-&Senden"), central);
    sendButton_->setObjectName(QStringLiteral("cmdFTPSend"));
    abortButton_ = new QPushButton(QStringLiteral("FTP-Abbruch"), central);
    abortButton_->setObjectName(QStringLiteral("cmdFTPAbort"));
    abortButton_->setEnabled(false);
    progressBar_ = new QProgressBar(central);
    progressBar_->setObjectName(QStringLiteral("picProgress"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setFormat(QStringLiteral("%p %"));
    sendRow->addWidget(sendButton_);
    sendRow->addWidget(abortButton_);
    sendRow->addWidget(progressBar_, 1);
    // Rate and time left of the upload, beside the bar they belong to.
    transferRateLabel_ = new QLabel(central);
    transferRateLabel_->setObjectName(QStringLiteral("lblTransferRate"));
    transferRateLabel_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 28);
    sendRow->addWidget(transferRateLabel_);
    layout->addLayout(sendRow);

    // The status box grows with every status text of every send for the whole run; the
    // newest line is always in view. The status list below holds the mail's lines.
    auto* statusRow = new QHBoxLayout;
    statusText_ = new QPlainTextEdit(central);
    statusText_->setObjectName(QStringLiteral("txtStatus"));
    statusText_->setReadOnly(true);
    statusText_->setLineWrapMode(QPlainTextEdit::NoWrap);
    const int lines = fontMetrics().lineSpacing();
    statusText_->setFixedHeight(lines * 5 + 12);
    statusRow->addWidget(statusText_, 3);
    // The status list keeps its place above the window's bottom edge when it is resized.
    statusList_ = new QListWidget(central);
    statusList_->setObjectName(QStringLiteral("lstStatus"));
    statusList_->setFixedHeight(lines * 5 + 12);
    statusRow->addWidget(statusList_, 2);
    // What the start-up did unasked (jobs recorded that waited) the worker reads here.
    for (const QString& line : ctx_.state.startNotices)
        addStatusLine(line);
    layout->addLayout(statusRow);

    setCentralWidget(central);
}

void FrmMain::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("sbrStatus"));
    panelMode_ = new QLabel(QStringLiteral("Modus:"), bar);
    panelInfo_ = new QLabel(QStringLiteral("Info:"), bar);
    panelClock_ = new QLabel(de::longTime(QTime::currentTime()), bar);
    bar->addWidget(panelMode_, 1);
    bar->addWidget(panelInfo_, 3);
    bar->addPermanentWidget(panelClock_);
    clock_ = new QTimer(this);
    connect(clock_, &QTimer::timeout, this,
            [this] { panelClock_->setText(de::longTime(QTime::currentTime())); });
    clock_->start(1000);
}

void FrmMain::formLoad() {
    placeOnScreen();
    // The program-wide connection stays open for the whole run. A database that could
    // not be rebuilt or opened leaves the window with empty lists.
    if (ctx_.state.databaseUsable && !ctx_.state.databasePath.isEmpty()) {
        db_ = std::make_unique<jobdb::Database>(ctx_.state.databasePath);
        if (!db_->isOpen()) {
            qCWarning(lcUi) << "database not opened:" << db_->errorText();
            db_.reset();
        }
    }
    jobPanel_->fillFixedLists();
    loadMasterDataAndLists();
    setUpSend();
    startCatalogue();

    // The service finds the window by its title when it must close it for an update.
    presence_ = new startup::ClientPresence(windowTitle(), this);
    connect(presence_, &startup::ClientPresence::closeRequested, this, &QWidget::close);

    // The update check runs once, half a second after the window has loaded.
    updateCheckDelay_ = new QTimer(this);
    updateCheckDelay_->setSingleShot(true);
    updateCheckDelay_->setInterval(500);
    connect(updateCheckDelay_, &QTimer::timeout, this, &FrmMain::runUpdateCheck);
    updateCheckDelay_->start();
}

void FrmMain::loadMasterDataAndLists() {
    if (!db_)
        return;
    jobdb::MasterDataStore store(ctx_.state.databasePath);
    store.load(ctx_.state.master);
    const auto server = store.loadFtpServer();
    if (server && !server->isEmpty())
        ctx_.state.ftp.server = *server;
    reloadDeliveries();
    reloadProjects();
}

void FrmMain::reloadProjects() {
    if (db_)
        jobPanel_->setProjects(
            jobdb::loadProjectLabels(*db_, ctx_.state.master.sortProjectsByName1));
}

void FrmMain::reloadDeliveries() {
    if (db_)
        jobPanel_->setDeliveries(jobdb::loadDeliveryLabels(*db_));
}

void FrmMain::startCatalogue() {
    if (!catalogue_) {
        catalogue_ = new startup::CatalogueRefresh(this);
        connect(catalogue_, &startup::CatalogueRefresh::finished, this, &FrmMain::onCatalogue);
    }
    if (!catalogue_->start(startup::catalogueRequestFor(ctx_.state, ctx_.config)))
        onCatalogue(false);
}

void FrmMain::onCatalogue(bool obtained) {
    if (!obtained) {
        // The colour and processing lists stay empty and the deadline is not touched.
        jobPanel_->clearCatalogueLists();
        qCInfo(lcUi) << "catalogue not obtained:" << catalogue_->outcome().failure;
        emit catalogueLoaded(false);
        return;
    }
    showCatalogue(catalogue_->outcome().lists);
    jobPanel_->setDeadlineDate(QDate::currentDate());
    // The demo and support look for this line: the lists are filled and the logo is up.
    qCInfo(lcUi) << "catalogue loaded; logo" << (logo_->pixmap().isNull() ? "missing" : "shown");
    emit catalogueLoaded(true);
}

void FrmMain::showCatalogue(const startup::CatalogueLists& lists) {
    showLogo();
    jobPanel_->setCatalogueLists(lists.colors, lists.work1, lists.work2, lists.work3);
    startup::takeFtpAccount(ctx_.state.ftp, lists);
}

void FrmMain::openFtpConfig() {
    FrmFtpConfig window({ctx_.state, ctx_.config, ctx_.settings}, this);
    // After OK the lists are rebuilt from whatever the new target's catalogue gave,
    // empty when it could not be obtained.
    connect(&window, &FrmFtpConfig::catalogueReloaded, this,
            [this](const startup::CatalogueOutcome& outcome) { showCatalogue(outcome.lists); });
    window.exec();
}

void FrmMain::showLogo() {
    QPixmap logo;
    if (logo.load(paths::join(ctx_.state.clientDataFolder, startup::kLogoFileName)))
        logo_->setPixmap(logo.scaled(logo_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void FrmMain::setUpSend() {
    connect(sendButton_, &QPushButton::clicked, this, &FrmMain::onSendClicked);
    if (!db_)
        return;
    pipeline_ = std::make_unique<transfer::SendPipeline>(
        transfer::SendEnvironment{ctx_.state, ctx_.config, *db_, ctx_.prompter});
    // The status displays follow the transfer log and progress of every send.
    const transfer::TransferDisplay* display = &pipeline_->display();
    connect(display, &transfer::TransferDisplay::barChanged, this,
            [this](double value, double maximum, const QString& text) {
                progressBar_->setRange(0, 1000);
                progressBar_->setValue(maximum > 0 ? int(1000.0 * value / maximum) : 0);
                progressBar_->setFormat(text.isEmpty() ? QStringLiteral("%p %") : text);
            });
    connect(display, &transfer::TransferDisplay::infoPanelChanged, panelInfo_, &QLabel::setText);
    // The transfer's status texts go into the status box; the status list keeps the
    // pipeline's other lines (the mail's), so that no line shows twice.
    connect(display, &transfer::TransferDisplay::statusLineAdded, this, &FrmMain::appendStatusBox);
    connect(display, &transfer::TransferDisplay::progressDetailChanged, transferRateLabel_,
            &QLabel::setText);
    transfer::SendPipeline* pipeline = pipeline_.get();
    progressZip_ = new FrmProgressZip(this);
    progressZip_->setWindowModality(Qt::WindowModal);
    connect(progressZip_, &FrmProgressZip::abortRequested, pipeline,
            &transfer::SendPipeline::abort);
    connect(abortButton_, &QPushButton::clicked, pipeline, &transfer::SendPipeline::abort);
    connect(pipeline, &transfer::SendPipeline::stateChanged, this,
            [this](transfer::SendPipeline::State state) {
                using State = transfer::SendPipeline::State;
                progressZip_->setVisible(state == State::Packing);
                panelMode_->setText(state == State::Idle ? QStringLiteral("Modus:")
                                                         : QStringLiteral("Modus: senden"));
                if (state == State::Uploading)
                    setCaption(transfer::uploadCaption(pipeline_->archivePath()));
                else if (state == State::Idle)
                    setCaption(startup::kAppName);
            });
    connect(pipeline, &transfer::SendPipeline::progress, this,
            [this](const transfer::TransferProgress& p) {
                if (progressZip_->isVisible())
                    progressZip_->setProgress(p.done, p.total);
            });
    connect(pipeline, &transfer::SendPipeline::statusLine, this, [this](const QString& line) {
        // The pipeline passes the transfer's texts on as well; those are in the box.
        if (!pipeline_->display().isShowingStatus())
            addStatusLine(line);
    });
    connect(pipeline, &transfer::SendPipeline::catalogueRefreshed, this, &FrmMain::showCatalogue);
    connect(pipeline, &transfer::SendPipeline::clearJob, this, [this] { jobPanel_->clearJob(); });
    connect(pipeline, &transfer::SendPipeline::finished, this, &FrmMain::onSendFinished);
}

void FrmMain::setCaption(const QString& caption) {
    setWindowTitle(caption);
    if (presence_)
        presence_->setTitle(caption);
}

void FrmMain::onSendClicked() {
    if (!pipeline_) {
        ctx_.prompter.message(QStringLiteral("Die Datenbank ist nicht geöffnet:\r") +
                                  ctx_.state.databasePath,
                              Prompter::Icon::Critical);
        return;
    }
    if (pipeline_->isRunning())
        return;
    transferRateLabel_->clear();
    sendButton_->setEnabled(false);
    abortButton_->setEnabled(true);
    if (!pipeline_->start(jobPanel_->snapshot())) {
        sendButton_->setEnabled(true);
        abortButton_->setEnabled(false);
    }
}

void FrmMain::onSendFinished(const transfer::SendResult& result) {
    using Outcome = transfer::SendOutcome;
    sendButton_->setEnabled(true);
    abortButton_->setEnabled(false);
    progressZip_->hide();
    if (result.notice != transfer::SendNotice::None)
        ctx_.prompter.message(result.message, result.notice == transfer::SendNotice::Error
                                                  ? Prompter::Icon::Critical
                                                  : Prompter::Icon::Exclamation);
    switch (result.outcome) {
    case Outcome::ConfigureTarget:
        openFtpConfig();
        ctx_.prompter.message(transfer::sendtext::kMayNowSend, Prompter::Icon::Information);
        break;
    case Outcome::Delivered:
        appendStatusBox(QStringLiteral("Auftrag %1 übermittelt: %2")
                            .arg(result.jobNumber)
                            .arg(result.archiveName));
        break;
    case Outcome::Aborted:
    case Outcome::NotDelivered:
    case Outcome::Failed:
        appendStatusBox(result.message);
        break;
    default:
        break;
    }
}

void FrmMain::appendStatusBox(const QString& line) {
    // An outcome the transfer already reported in the same words is not repeated.
    const QString last = statusText_->document()->lastBlock().text();
    if (line.isEmpty() || line == last)
        return;
    statusText_->appendPlainText(line);
    statusText_->verticalScrollBar()->setValue(statusText_->verticalScrollBar()->maximum());
}

void FrmMain::addStatusLine(const QString& line) {
    statusList_->addItem(line);
    statusList_->scrollToBottom();
}

void FrmMain::runUpdateCheck() {
    startup::UpdateCheck::Config config;
    config.webServer = ctx_.config.webServer;
    config.clientDataFolder = ctx_.state.clientDataFolder;
    config.appName = startup::kAppName;
    config.running = {startup::kVersionMajor, startup::kVersionMinor, startup::kVersionRevision};
    config.proxy = ctx_.state.proxy;
    updateCheck_ = new startup::UpdateCheck(config, this);
    connect(updateCheck_, &startup::UpdateCheck::updateOffered, this, [this] {
        if (!ctx_.prompter.askYesNo(QStringLiteral("Update installieren ?"), Prompter::Icon::None,
                                    QStringLiteral("Es ist ein Update verfügbar !")))
            return;
        ctx_.state.updateRequested = true;
        requestUpdate();
    });
    updateCheck_->start();
}

void FrmMain::requestUpdate() {
    startup::requestUpdate(ctx_.service, ctx_.prompter, startup::kAppName,
                           ctx_.state.startDirectory, startup::versionText());
}

void FrmMain::openInfo() {
    FrmInfo info(ctx_.config, this);
    info.exec();
}

void FrmMain::openAddFiles() {
    jobPanel_->openAddFiles(ctx_.state.startFolder);
}

void FrmMain::openStartFolder() {
    FrmStartOrdner window(ctx_.settings, ctx_.state.startFolder, ctx_.state.rememberLastFolder,
                          this);
    window.exec();
}

void FrmMain::openEditor(bool projects) {
    if (!db_) {
        ctx_.prompter.message(QStringLiteral("Die Datenbank ist nicht geöffnet:\r") +
                                  ctx_.state.databasePath,
                              Prompter::Icon::Critical);
        return;
    }
    RecordEditorWindow window(
        *db_, projects ? jobdb::EditorConfig::projects() : jobdb::EditorConfig::deliveryAddresses(),
        ctx_.prompter, this);
    connect(&window, &RecordEditorWindow::listReloadRequested, this,
            [this](jobdb::EditorConfig::List list) {
                if (list == jobdb::EditorConfig::List::Projects)
                    reloadProjects();
                else
                    reloadDeliveries();
            });
    window.exec();
}

void FrmMain::openMasterData() {
    FrmStammdat window({ctx_.state.databasePath, ctx_.state.master, ctx_.prompter, ctx_.settings,
                        [this] { reloadProjects(); }, [this] { endProgram(); }},
                       this);
    window.exec();
}

void FrmMain::endProgram() {
    // Another database was chosen: the program ends at once and takes the new file into
    // use at the next start.
    ctx_.state.endRequested = true;
    QApplication::exit(0);
}

void FrmMain::formUnload() {
    if (unloadedOnce_)
        return;
    unloadedOnce_ = true;
    if (!ctx_.state.updateRequested &&
        ctx_.state.rememberLastFolder.compare(QLatin1String("Yes"), Qt::CaseInsensitive) == 0)
        ctx_.settings.writeSetting(QStringLiteral("FolderDir"), ctx_.state.startFolder);
    ctx_.state.closing = true;
    // A send still running stops, as the abort button stops it.
    if (pipeline_)
        pipeline_->abort();
    // Windows still open (for example a modal one when the service asked the client to
    // close for an update) go first.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible())
            w->close();
    }
    emit unloaded();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    formUnload();
    event->accept();
}

} // namespace kestro::ui
