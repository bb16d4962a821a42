#include "client/ui/frmmain.h"

#include "client/ui/frminfo.h"
#include "client/ui/windowplacement.h"
#include "common/germanformat.h"
#include "common/servicemessage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
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
    resize(1100, 720);
}

FrmMain::~FrmMain() = default;

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
    action(datei, "mnuAddFile", QStringLiteral("Dateien &hinzufügen"),
           [this] { openPlaceholder(QStringLiteral("Dateien hinzufügen ...")); });
    datei->addSeparator()->setObjectName(QStringLiteral("mnuTrenne"));
    // Ends the program at once: no unload steps, the start folder is not stored.
    action(datei, "mnuExit", QStringLiteral("&Ende"), [] { QApplication::exit(0); });

    QMenu* optionen = menuBar()->addMenu(QStringLiteral("&Optionen"));
    optionen->setObjectName(QStringLiteral("mnuOptionen"));
    action(optionen, "mnuStamm", QStringLiteral("&Stammdaten"), [this] { openMasterData(); });
    action(optionen, "mnuFTPconfig", QStringLiteral("&FTP konfiguration"),
           [this] { openPlaceholder(QStringLiteral("FTP - konfiguration")); });
    action(optionen, "mnuEMail", QStringLiteral("E-Mail konfiguration"),
           [this] { openPlaceholder(QStringLiteral("E-Mail konfiguration")); });
    action(optionen, "mnuStartFolder", QStringLiteral("Startordner"),
           [this] { openPlaceholder(QStringLiteral("Startordner")); });
    action(optionen, "mnuUpdSoft", QStringLiteral("&Update Software"), [this] {
        ctx_.state.updateRequested = true;
        requestUpdate();
    });

    QMenu* datenbank = menuBar()->addMenu(QStringLiteral("&Datenbank"));
    datenbank->setObjectName(QStringLiteral("mnuDatenbank"));
    action(datenbank, "mnuJobDaten", QStringLiteral("&JobDaten"),
           [this] { openPlaceholder(QStringLiteral("JobDaten")); });
    action(datenbank, "mnuLieferAdr", QStringLiteral("&Lieferadressen"),
           [this] { openPlaceholder(QStringLiteral("Lieferadressen")); });
    action(datenbank, "mnuProjekt", QStringLiteral("&Projekt"),
           [this] { openPlaceholder(QStringLiteral("Projekte")); });

    QMenu* frage = menuBar()->addMenu(QStringLiteral("?"));
    frage->setObjectName(QStringLiteral("mnuFrage"));
    action(frage, "mnuInfo", QStringLiteral("&Info"), [this] { openInfo(); });
}

void FrmMain::buildCentralArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* top = new QHBoxLayout;
    jobArea_ = new QWidget(central);
    jobArea_->setObjectName(QStringLiteral("jobArea"));
    top->addWidget(jobArea_, 1);
    picture1_ = new QLabel(central);
    picture1_->setObjectName(QStringLiteral("Picture1"));
    picture1_->setFixedSize(200, 100);
    picture1_->setAlignment(Qt::AlignCenter);
    picture1_->setScaledContents(false);
    top->addWidget(picture1_, 0, Qt::AlignTop);
    layout->addLayout(top, 1);

    auto* sendRow = new QHBoxLayout;
    cmdFTPSend_ = new QPushButton(QStringLiteral("FTP-&Senden"), central);
    cmdFTPSend_->setObjectName(QStringLiteral("cmdFTPSend"));
    cmdFTPAbort_ = new QPushButton(QStringLiteral("FTP-Abbruch"), central);
    cmdFTPAbort_->setObjectName(QStringLiteral("cmdFTPAbort"));
    cmdFTPAbort_->setEnabled(false);
    picProgress_ = new QProgressBar(central);
    picProgress_->setObjectName(QStringLiteral("picProgress"));
    picProgress_->setRange(0, 100);
    picProgress_->setValue(0);
    picProgress_->setFormat(QStringLiteral("%p %"));
    sendRow->addWidget(cmdFTPSend_);
    sendRow->addWidget(cmdFTPAbort_);
    sendRow->addWidget(picProgress_, 1);
    layout->addLayout(sendRow);

    txtStatus_ = new QLineEdit(central);
    txtStatus_->setObjectName(QStringLiteral("txtStatus"));
    txtStatus_->setReadOnly(true);
    layout->addWidget(txtStatus_);
    lstStatus_ = new QListWidget(central);
    lstStatus_->setObjectName(QStringLiteral("lstStatus"));
    lstStatus_->setMaximumHeight(110);
    layout->addWidget(lstStatus_);

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
    centerOnScreen(this);
    // The update check runs once, half a second after the window has loaded.
    timer1_ = new QTimer(this);
    timer1_->setSingleShot(true);
    timer1_->setInterval(500);
    connect(timer1_, &QTimer::timeout, this, &FrmMain::runUpdateCheck);
    timer1_->start();
}

void FrmMain::runUpdateCheck() {}

void FrmMain::requestUpdate() {
    const QString message = searchingUpdateMessage(startup::kAppName, ctx_.state.startDirectory,
                                                   startup::versionText());
    if (!ctx_.service.send(message))
        ctx_.prompter.message(QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!"),
                              Prompter::Icon::Critical);
}

void FrmMain::openPlaceholder(const QString& title) {
    // Windows that are not part of this build yet open as an empty modal window.
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("frmleer"));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(
        new QLabel(QStringLiteral("Dieses Fenster steht noch nicht zur Verfügung."), &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    centerOnScreen(&dialog);
    dialog.exec();
}

void FrmMain::openInfo() {
    FrmInfo info(ctx_.config, this);
    info.exec();
}

void FrmMain::openMasterData() {
    openPlaceholder(QStringLiteral("Stammdaten"));
}

void FrmMain::formUnload() {
    if (unloadedOnce_)
        return;
    unloadedOnce_ = true;
    if (!ctx_.state.updateRequested &&
        ctx_.state.rememberLastFolder.compare(QLatin1String("Yes"), Qt::CaseInsensitive) == 0)
        ctx_.settings.writeSetting(QStringLiteral("FolderDir"), ctx_.state.startFolder);
    ctx_.state.closing = true;
    // Modal windows still open (for example one opened by a close request from the
    // service) go first.
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
