// Jobs sent from the main window against a real print shop, as a worker sends them, and as
// a careless worker and a hostile world use it: editors behind its back, ends mid-send.
#include "cli/sendworkstation.h"
#include "client/startup/settings.h"
#include "client/ui/frmmain.h"
#include "client/ui/frmprogresszip.h"
#include "client/ui/jobpanel.h"
#include "common/gui/qtprompter.h"
#include "jobdb/jobdbtestutil.h"
#include "support/filecolumnchecks.h"
#include "support/recordingwriter.h"
#include "support/selfsigned.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <csignal>

using namespace kestro;
using kestro::test::SendWorkstation;
using kestro::test::waitUntil;

namespace {

// Message boxes as the tests script them; `onMessage` runs while a box "waits", as a
// signal or a click elsewhere does while a real box waits for OK.
class WaitingPrompter : public ScriptedPrompter {
public:
    void message(const QString& text, Icon icon, const QString& title = {}) override {
        ScriptedPrompter::message(text, icon, title);
        if (onMessage)
            onMessage(text);
    }
    // A question with two answers goes to the real message box when set.
    bool askChoice(const QString& text, Icon icon, const QString& accept, const QString& reject,
                   const QString& title = {}) override {
        if (realChoices)
            return realChoices->askChoice(text, icon, accept, reject, title);
        return ScriptedPrompter::askChoice(text, icon, accept, reject, title);
    }
    std::function<void(const QString&)> onMessage;
    std::unique_ptr<gui::QtPrompter> realChoices;
};

// A server in front of another (host, port) that connects each caller through only after
// a pause of argv[3] seconds: a slow mail server, or, with a long pause, one that hangs.
const char* const kSlowRelay = R"(
import socket, sys, threading, time
target, pause = (sys.argv[1], int(sys.argv[2])), float(sys.argv[3])
server = socket.create_server(("127.0.0.1", 0))
print("PORT %d" % server.getsockname()[1], flush=True)
def pump(a, b):
    try:
        while data := a.recv(65536):
            b.sendall(data)
    except OSError:
        pass
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
def serve(client):
    time.sleep(pause)
    upstream = socket.create_connection(target)
    threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
    pump(client, upstream)
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()
)";

// A workstation with a print shop on loopback and the main window loaded on it, the
// shop's catalogue already in its lists.
class MainWindowSend : public ::testing::Test {
protected:
    void SetUp() override { startWorkstation({}); }
    void startWorkstation(const QStringList& shopArgs) {
        ASSERT_TRUE(ws.start(shopArgs)) << ws.problem().toStdString();
        config = DeployConfig::load(ws.machine.configFile());
        state.clientDataFolder = ws.machine.clientDataFolder();
        state.databasePath = ws.databasePath;
        window = std::make_unique<ui::FrmMain>(
            ui::MainWindowContext{state, config, prompter, writer, service});
        QSignalSpy catalogue(window.get(), &ui::FrmMain::catalogueLoaded);
        window->show();
        window->formLoad();
        ASSERT_TRUE(catalogue.wait(20000));
        ASSERT_TRUE(catalogue.at(0).at(0).toBool());
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    template <class T> T* child(const char* name) { return test::child<T>(*window, name); }
    // Presses FTP-Senden and waits until the job left the list and the button is back.
    // The gap counts the click itself: a click that waits is a window that cannot react.
    bool sendAndWait(qint64* longestGap = nullptr) {
        QElapsedTimer click;
        click.start();
        QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
        EXPECT_FALSE(button("cmdFTPSend")->isEnabled());
        if (longestGap)
            *longestGap = click.elapsed();
        return waitUntil(
            [&] {
                return window->jobPanel()->model().rowCount() == 0 &&
                       button("cmdFTPSend")->isEnabled();
            },
            60000, longestGap);
    }
    // Presses FTP-Senden and waits for the message box it ends with.
    QString refusedSend() {
        prompter.shown.clear();
        QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return !prompter.shown.empty(); }, 30000));
        EXPECT_TRUE(waitUntil([&] { return button("cmdFTPSend")->isEnabled(); }, 30000));
        return prompter.texts().join('|');
    }
    // Presses FTP-Senden and waits for the send to reach `stage`.
    void sendUntil(const std::function<bool()>& stage) {
        button("cmdFTPSend")->click();
        ASSERT_TRUE(waitUntil(stage, 30000));
    }
    QStringList statusListLines() {
        QStringList lines;
        auto* list = child<QListWidget>("lstStatus");
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }
    // Opens an editor from the menu; `work` runs in it, then it is closed.
    void inEditor(const std::function<void(QWidget&)>& work, const char* menu = "mnuProjekt") {
        QTimer::singleShot(200, [work] {
            QWidget* editor = QApplication::activeModalWidget();
            ASSERT_NE(editor, nullptr);
            work(*editor);
            editor->findChild<QPushButton*>("cmdClose")->click();
        });
        child<QAction>(menu)->trigger();
    }
    // A job of one real file and, optionally, one that has gone from the disk.
    void composeJob(bool withMissingFile = false, const QByteArray& content = "%PDF plan") {
        const QString file = ws.machine.writeFile("x/plan.pdf", content);
        QList<compose::NewFile> files{{"plan.pdf", file}};
        if (withMissingFile)
            files.append({"fehlt.pdf", ws.machine.path("x/fehlt.pdf")});
        window->jobPanel()->model().appendFiles(files);
        window->jobPanel()->model().apply(withMissingFile ? QList<int>{0, 1} : QList<int>{0},
                                          {"2", "farbig", "heften", "falten", "keine"});
    }
    qint64 recordedJobs() { return dbtest::rowCount(ws.databasePath, "JobDaten"); }

    SendWorkstation ws;
    DeployConfig config;
    startup::ClientState state;
    WaitingPrompter prompter;
    test::RecordingWriter writer;
    test::RecordingService service;
    std::unique_ptr<ui::FrmMain> window;
};

} // namespace

// A worker's day at the window: an empty and an incomplete job are refused, a complete one
// arrives, one the database refuses is announced, and a send while another workstation holds
// the database neither freezes the window nor loses the waiting record.
TEST_F(MainWindowSend, JobsAreRefusedSentAnnouncedAndRecorded) {
    EXPECT_EQ(state.ftp.server, ws.value("ftpServer"));
    EXPECT_EQ(refusedSend(), "keine Daten zum versenden vorhanden !");
    const QString a = ws.machine.writeFile("eg/plan.pdf", "%PDF erdgeschoss");
    const QString b = ws.machine.writeFile("og/plan.pdf", "%PDF obergeschoss");
    window->jobPanel()->model().appendFiles({{"plan.pdf", a}, {"plan.pdf", b}});
    // The picks survive the catalogue refresh of the refused send: Anwenden writes them.
    for (const auto& [box, pick] : {std::pair{"cboAnzahl", "2"},
                                    {"cboColor", "schwarz/weiß"},
                                    {"cboArbeit1", "heften"},
                                    {"cboArbeit2", "falten"},
                                    {"cboArbeit3", "keine"}})
        test::choose(*window, box, QString::fromUtf8(pick));
    EXPECT_EQ(refusedSend(), "Auftrag noch nicht vollständig ausgefüllt !");
    child<QTreeView>("ListView1")->selectAll();
    button("cmdAnwenden")->click();
    const compose::FileRow row = window->jobPanel()->snapshot().files.at(0);
    EXPECT_EQ(QStringList({row.copies, row.color, row.step1, row.step2, row.step3}),
              QStringList({"2", "schwarz/weiß", "heften", "falten", "keine"}));
    QTest::qWait(50);
    test::expectFileColumnsFit(child<QTreeView>("ListView1"));

    QTest::keyClicks(child<QLineEdit>("txtBemerk"), "bitte heften");
    QStringList captions;
    QObject::connect(window.get(), &QWidget::windowTitleChanged,
                     [&](const QString& title) { captions << title; });
    prompter.shown.clear();
    qint64 longestGap = 0;
    // The list is cleared once the upload is confirmed; the send ends after the mail.
    ASSERT_TRUE(sendAndWait(&longestGap)) << prompter.texts().join('|').toStdString();
    const QStringList uploaded = ws.uploadedFiles();
    ASSERT_EQ(uploaded.size(), 1);
    EXPECT_TRUE(uploaded[0].endsWith(".zip"));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_EQ(ws.mails().size(), 1);
    EXPECT_FALSE(button("cmdFTPAbort")->isEnabled());
    EXPECT_EQ(window->jobPanel()->snapshot().remarks, QString()) << "remarks leave with the job";
    EXPECT_EQ(captions, QStringList({"Uploading " + uploaded[0], "KestroFTP-Client"}));
    // The transfer's texts are in the status box, once each; the status list has the
    // mail's lines and none of the transfer's.
    const auto statusBox = [&] {
        return child<QPlainTextEdit>("txtStatus")->toPlainText().split(QLatin1Char('\n'));
    };
    const QStringList box = statusBox();
    EXPECT_EQ(box.count("Info: compressed ..."), 1) << box.join('|').toStdString();
    EXPECT_EQ(box.count("Uploading " + uploaded[0] + " completed."), 1);
    const QStringList list = statusListLines();
    EXPECT_FALSE(list.isEmpty());
    for (const QString& line : list)
        EXPECT_FALSE(box.contains(line)) << line.toStdString();
    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join('|').toStdString();
    // Not a timing test: a gap of seconds would mean the send ran on the window's thread.
    EXPECT_LT(longestGap, 2000);

    // The database refuses the record after the upload: the worker is told that the job
    // arrived but waits to be recorded.
    dbtest::execSql(ws.databasePath, "CREATE TRIGGER voll BEFORE INSERT ON JobDaten BEGIN "
                                     "SELECT RAISE(ABORT, 'database or disk is full'); END");
    composeJob();
    ASSERT_TRUE(sendAndWait()) << prompter.texts().join('|').toStdString();
    QStringList second = ws.uploadedFiles();
    second.removeAll(uploaded[0]);
    ASSERT_EQ(second.size(), 1);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith(
        QStringLiteral("Der Auftrag 2 (%1) ist bei der Druckerei angekommen, konnte aber nicht "
                       "in der Datenbank gespeichert werden")
            .arg(second[0])))
        << prompter.shown[0].text.toStdString();
    EXPECT_EQ(ws.mails().size(), 2);
    dbtest::execSql(ws.databasePath, "DROP TRIGGER voll");

    // Another workstation holds the write lock for four seconds as the worker sends.
    QProcess other;
    other.start("/usr/bin/python3", {"-c",
                                     "import sqlite3, sys, time\n"
                                     "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                     "c.execute('BEGIN IMMEDIATE')\n"
                                     "print('LOCKED', flush=True)\n"
                                     "time.sleep(4)\n"
                                     "c.execute('ROLLBACK')\n",
                                     ws.databasePath});
    ASSERT_TRUE(other.waitForReadyRead(10000));
    ASSERT_TRUE(other.readAll().contains("LOCKED"));
    composeJob();
    ASSERT_TRUE(sendAndWait(&longestGap)) << prompter.texts().join('|').toStdString();
    other.waitForFinished(10000);
    EXPECT_EQ(ws.uploadedFiles().size(), 3);
    EXPECT_LT(longestGap, 2000) << "the window waited for the other workstation's lock";

    // The next send records the waiting job; the status box kept every send's lines.
    composeJob();
    ASSERT_TRUE(sendAndWait());
    EXPECT_TRUE(statusListLines().contains("Auftrag 2 wurde in der Datenbank nachgetragen."))
        << statusListLines().join('|').toStdString();
    const auto numbers = dbtest::queryRows(
        ws.databasePath,
        "SELECT group_concat(JobNumber) FROM (SELECT JobNumber FROM JobDaten ORDER BY 1)");
    EXPECT_EQ(numbers.value(0).value(0).toString().toStdString(), "1,2,3,4");
    EXPECT_EQ(statusBox().count("Info: compressed ..."), 4);
}

// Closing an editor reloads its list and keeps what the worker chose: the entry, a name
// corrected in the editor, text typed after a pick (the job must not lose its project).
TEST_F(MainWindowSend, ClosingAnEditorKeepsWhatTheWorkerChose) {
    dbtest::execSql(ws.databasePath, "INSERT INTO Projekte (ProNumber, name1) "
                                     "VALUES (1, 'Neubau'), (2, 'Umbau')");
    dbtest::execSql(ws.databasePath, "INSERT INTO LieferAdr (LiefNumber, name1) "
                                     "VALUES (1, 'Nord'), (2, 'Süd')");
    window->reloadProjects();
    window->reloadDeliveries();
    auto* projects = child<QComboBox>("cboProjekt");
    projects->setCurrentIndex(0);
    projects->lineEdit()->setFocus();
    projects->lineEdit()->end(false);
    QTest::keyClicks(projects->lineEdit(), " Ost");
    ASSERT_EQ(projects->currentText(), "1 | Neubau Ost");
    inEditor([](QWidget&) {});
    EXPECT_EQ(window->jobPanel()->snapshot().project, "1 | Neubau Ost") << "typed text";

    projects->setCurrentIndex(1);
    inEditor([](QWidget& editor) {
        editor.findChild<QScrollBar*>("HScroll1")->setValue(2);
        editor.findChild<QLineEdit*>("txtName1")->setText("Umbau Nord");
        editor.findChild<QPushButton*>("cmdSave")->click();
    });
    EXPECT_EQ(window->jobPanel()->snapshot().project, "2 | Umbau Nord") << "corrected name";

    auto* deliveries = child<QComboBox>("cboLieferAdr");
    deliveries->setCurrentIndex(1);
    inEditor([](QWidget&) {}, "mnuLieferAdr");
    EXPECT_EQ(deliveries->currentText(), "2 | Süd");
    EXPECT_EQ(deliveries->currentIndex(), 1);
}

// On a 1366 x 768 laptop screen the window stays above a task bar and shows the shop's logo;
// the deadline's time list drops down at the chosen time with a bounded height.
TEST_F(MainWindowSend, FitsALaptopScreenWithTheShopsLogo) {
    test::saveScreenshot(window.get(), "frmMain");
    const QImage logo = child<QLabel>("Picture1")->pixmap().toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < logo.height(); y += 4)
        for (int x = 0; x < logo.width(); x += 4)
            colours.insert(logo.pixel(x, y) & 0xF0F0F0);
    EXPECT_GE(colours.size(), 4) << "a real picture, not a single grey pixel";

    const QRect screen = window->screen()->geometry();
    ASSERT_EQ(screen.size(), QSize(1366, 768)) << "tests/ui/laptop-screen.json in use";
    ASSERT_EQ(window->screen()->availableGeometry(), screen) << "no task bar reported";
    const int titleBar = 40; // what the window allows for above its frame
    const int taskBar = 48;
    EXPECT_LE(window->frameGeometry().bottom() + titleBar, screen.height() - taskBar)
        << "window from y=" << window->frameGeometry().top() << " to "
        << window->frameGeometry().bottom();
    EXPECT_LE(window->width(), screen.width());
    EXPECT_GE(window->height(), window->minimumSizeHint().height());

    auto* time = child<QComboBox>("cboTime");
    test::choose(*window, "cboTime", "14 : 30");
    time->showPopup();
    QTest::qWait(50);
    test::saveScreenshot(time->view()->window(), "frmMain-cboTime");
    QAbstractItemView* view = time->view();
    EXPECT_LE(view->height(), view->sizeHintForRow(0) * 17 + 8);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->currentIndex()).center()));
    time->hidePopup();
}

// Closing the window (Datei -> Ende, SIGTERM) while the packer runs ends the send without
// touching anything already destroyed; AddressSanitizer builds report any such access.
TEST_F(MainWindowSend, ClosingWhilePackingTouchesNothingFreed) {
    QByteArray noise(48 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    composeJob(false, noise);
    sendUntil([&] {
        auto* packing = window->findChild<ui::FrmProgressZip*>();
        return packing && packing->isVisible();
    });
    window.reset();
    QTest::qWait(500);
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
}

// The program ended (logout, Ctrl+C) while the "Zipped files" box waits stops the send there:
// nothing uploaded, recorded or mailed from a program the worker closed.
TEST_F(MainWindowSend, EndingTheProgramWhileTheCountsBoxWaitsStopsTheSend) {
    composeJob(true);
    bool closed = false;
    prompter.onMessage = [&](const QString& text) {
        if (text.contains("Zipped files")) {
            window->close();
            closed = true;
        }
    };
    button("cmdFTPSend")->click();
    ASSERT_TRUE(waitUntil([&] { return closed; }, 30000));
    waitUntil([&] { return button("cmdFTPSend")->isEnabled(); }, 20000);
    EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(',').toStdString();
    EXPECT_EQ(recordedJobs(), 0);
    EXPECT_TRUE(ws.mails().isEmpty());
}

// Closing the window while the archive goes up to a hanging server deletes the local
// archive, as the abort button does.
TEST_F(MainWindowSend, ClosingDuringTheUploadLeavesNoArchiveBehind) {
    test::PeerProcess hangingFtp;
    ASSERT_TRUE(hangingFtp.start("/usr/bin/python3", {"-c", kSlowRelay, "127.0.0.1", "9", "3600"}));
    state.ftp.server = QStringLiteral("127.0.0.1:%1").arg(hangingFtp.port());
    // The shop's targets list names the hanging server with the shop's own catalogue.
    ws.machine.writeFile(
        "shop/web/DevorOrava/FTP-Targets.txt",
        (state.ftp.server + ", " + ws.value("webServer") + "/shop/Katalog.INI\r\n").toUtf8());
    composeJob();
    sendUntil([&] { return window->windowTitle().startsWith("Uploading"); });
    QTest::qWait(300);
    window->close();
    window.reset(); // the program's end, as after the event loop returned
    QTest::qWait(300);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(',').toStdString();
}

// Closing the window while the notification is on its way still sends it: the shop must
// never hold a delivered, recorded job nobody announced.
TEST_F(MainWindowSend, ClosingWhileTheMailIsOnItsWayStillTellsTheShop) {
    const QString shopSmtp = ws.value("smtpServer");
    const qsizetype colon = shopSmtp.lastIndexOf(QLatin1Char(':'));
    test::PeerProcess relay;
    ASSERT_TRUE(relay.start("/usr/bin/python3", {"-c", kSlowRelay, shopSmtp.left(colon),
                                                 shopSmtp.mid(colon + 1), "1.5"}));
    config.smtpServer = QStringLiteral("127.0.0.1:%1").arg(relay.port());
    composeJob();
    // The job left the window: uploaded and recorded, the relay still holds the mail.
    sendUntil([&] { return window->jobPanel()->model().rowCount() == 0; });
    QTest::qWait(200);
    ASSERT_TRUE(ws.mails().isEmpty()) << "the relay should still hold the mail";
    window->close();
    window.reset();
    waitUntil([&] { return !ws.mails().isEmpty(); }, 10000);
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(recordedJobs(), 1);
    EXPECT_EQ(ws.mails().size(), 1) << "the shop was never told of the delivered job";
}

// A real client ends on SIGTERM while a box waits for an answer (a newer version is
// offered), although closing it asks a service that is down to store the start folder
// and the "Mailslot" box then waits for OK as well.
TEST(ClientProcess, SigtermEndsItWhileTheMailslotBoxWaits) {
    SendWorkstation ws;
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    ws.machine.writeFile("shop/web/AutoUpdate/Version/KestroFTP-Client.txt", "9.0.0\n");
    const QJsonObject registry{
        {"Software\\Varnholt\\KestroFTP\\Client", QJsonObject{{"Databank", ws.databasePath},
                                                              {"valFolderDir", "Yes"},
                                                              {"FolderDir", ws.machine.root()}}}};
    ws.machine.writeFile("registry/HKEY_LOCAL_MACHINE.json", QJsonDocument(registry).toJson());
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral(KESTRO_CLIENT_PATH), {});
    ASSERT_TRUE(client.waitForStarted(10000));
    // The window is up once it announced itself in the runtime folder.
    ASSERT_TRUE(waitUntil([&] { return !QDir(ws.machine.runtimeFolder()).isEmpty(); }, 30000));
    QTest::qWait(1500);
    ASSERT_EQ(client.state(), QProcess::Running) << client.readAll().toStdString();
    ::kill(pid_t(client.processId()), SIGTERM);
    const bool ended = client.waitForFinished(15000);
    if (!ended)
        client.kill();
    ASSERT_TRUE(ended) << "still running after SIGTERM: " << client.readAll().toStdString();
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0);
}

namespace {

// The shop's FTP server requires TLS with a certificate it made itself.
class CertificateQuestion : public MainWindowSend {
protected:
    void SetUp() override {
        const QString pem = ws.machine.path("shop.pem");
        fingerprint = test::makeSelfSignedCertificate(pem);
        ASSERT_FALSE(fingerprint.isEmpty());
        state.ftp.encryption = startup::FtpEncryption::Required;
        startWorkstation({"--ftp-tls", pem});
        prompter.realChoices = std::make_unique<gui::QtPrompter>("KestroClient", window.get());
    }
    QString fingerprint;
};

} // namespace

// The worker is asked in a real message box, cancels (nothing sent, recorded or trusted),
// then trusts the certificate and the job goes out.
TEST_F(CertificateQuestion, TheWorkerCancelsThenTrustsTheShopsCertificate) {
    const QString trustFile = ws.machine.clientDataFolder() + "/trusted-certificates.txt";
    composeJob();
    struct Answer {
        const char* button;
        const char* shot;
        int delivered;
    };
    for (const Answer& a : {Answer{"Abbrechen", "certificate-question", 0},
                            Answer{"Zertifikat vertrauen", "certificate-question-2", 1}}) {
        SCOPED_TRACE(a.button);
        QString question;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll.stop();
            test::saveScreenshot(box, a.shot);
            question = box->text();
            QStringList buttons;
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            buttons.sort();
            EXPECT_EQ(buttons, QStringList({"Abbrechen", "Zertifikat vertrauen"}));
            EXPECT_EQ(box->defaultButton()->text(), "Abbrechen");
            for (QAbstractButton* b : box->buttons())
                if (b->text() == a.button)
                    QTest::mouseClick(b, Qt::LeftButton);
        });
        poll.start(20);
        QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil(
            [&] { return !question.isEmpty() && button("cmdFTPSend")->isEnabled(); }, 60000))
            << prompter.texts().join('|').toStdString();
        EXPECT_TRUE(question.contains(fingerprint)) << question.toStdString();
        EXPECT_TRUE(question.contains("CN=druckerei.test,O=Druckerei Ärmel"));
        EXPECT_EQ(QString::fromUtf8(test::readFile(trustFile)).contains(fingerprint),
                  a.delivered == 1);
        EXPECT_EQ(ws.uploadedFiles().size(), a.delivered);
        EXPECT_EQ(recordedJobs(), a.delivered);
        EXPECT_EQ(window->jobPanel()->model().rowCount(), 1 - a.delivered);
    }
}
