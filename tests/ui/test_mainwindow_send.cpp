// Jobs sent from the main window against a real print shop, as a worker sends them, and as
// a careless worker and a hostile world use it: editors behind its back, ends mid-send.
#include "cli/sendworkstation.h"
#include "client/compose/filelistmodel.h"
#include "client/jobdb/database.h"
#include "client/jobdb/pendingrecords.h"
#include "client/jobdb/recordeditor.h"
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
#include "ui/eventwait.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
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
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kestro;
using kestro::test::SendWorkstation;

namespace {

class AlwaysDelivered : public ServiceMessageSender {
public:
    bool send(const QString&) override { return true; }
};

using kestro::test::waitUntil;

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

// A loopback port that takes connections and never says a word: a server that hangs.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 16) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

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
    QPushButton* button(const char* name) {
        return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    template <class T> T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void choose(const char* box, const QString& text) {
        QComboBox* c = child<QComboBox>(box);
        c->setCurrentIndex(c->findText(text));
        ASSERT_EQ(c->currentText(), text) << box;
    }
    void chooseFileSettings() {
        choose("cboAnzahl", "2");
        choose("cboColor", "schwarz/weiß");
        choose("cboArbeit1", "heften");
        choose("cboArbeit2", "falten");
        choose("cboArbeit3", "keine");
    }
    // The worker picks the settings, selects every row and presses Anwenden.
    void applySettingsToAllRows() {
        chooseFileSettings();
        child<QTreeView>("ListView1")->selectAll();
        button("cmdAnwenden")->click();
    }
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
    QStringList statusBoxLines() {
        return child<QPlainTextEdit>("txtStatus")->toPlainText().split(QLatin1Char('\n'));
    }
    QStringList statusListLines() {
        QStringList lines;
        auto* list = child<QListWidget>("lstStatus");
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }

    void addRecords(const QStringList& names,
                    const jobdb::EditorConfig& config = jobdb::EditorConfig::projects()) {
        jobdb::RecordEditor editor(*window->database(), config);
        for (const QString& name : names) {
            auto record = editor.newRecord();
            ASSERT_TRUE(record);
            record->name1 = name;
            ASSERT_TRUE(editor.save(*record));
        }
        window->reloadProjects();
        window->reloadDeliveries();
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
    void composeJob(bool withMissingFile) {
        const QString file = ws.machine.writeFile("x/plan.pdf", QByteArray(200000, 'p'));
        QList<compose::NewFile> files{{"plan.pdf", file}};
        if (withMissingFile)
            files.append({"fehlt.pdf", ws.machine.path("x/fehlt.pdf")});
        window->jobPanel()->model().appendFiles(files);
        QList<int> rows;
        for (int r = 0; r < files.size(); ++r)
            rows << r;
        window->jobPanel()->model().apply(rows, {"2", "farbig", "heften", "falten", "keine"});
    }
    qint64 recordedJobs() { return dbtest::rowCount(ws.databasePath, "JobDaten"); }

    SendWorkstation ws;
    DeployConfig config;
    startup::ClientState state;
    WaitingPrompter prompter;
    test::RecordingWriter writer;
    AlwaysDelivered service;
    std::unique_ptr<ui::FrmMain> window;
};

} // namespace

TEST_F(MainWindowSend, AJobSentFromTheWindowArrivesAndTheListIsCleared) {
    EXPECT_EQ(state.ftp.server, ws.value("ftpServer"));
    EXPECT_GT(window->findChild<QComboBox*>("cboColor")->count(), 0);

    const QString a = ws.machine.writeFile("eg/plan.pdf", "%PDF erdgeschoss");
    const QString b = ws.machine.writeFile("og/plan.pdf", "%PDF obergeschoss");
    compose::FileListModel& model = window->jobPanel()->model();
    model.appendFiles({{"plan.pdf", a}, {"plan.pdf", b}});
    model.apply({0, 1}, {"2", "farbig", "heften", "keine", "keine"});
    QTest::keyClicks(child<QLineEdit>("txtBemerk"), "bitte heften");
    QStringList captions;
    QObject::connect(window.get(), &QWidget::windowTitleChanged,
                     [&](const QString& title) { captions << title; });

    qint64 longestGap = 0;
    // The list is cleared once the upload is confirmed; the send ends after the mail.
    ASSERT_TRUE(sendAndWait(&longestGap)) << prompter.texts().join('|').toStdString();

    const QStringList uploaded = ws.uploadedFiles();
    ASSERT_EQ(uploaded.size(), 1);
    EXPECT_TRUE(uploaded[0].endsWith(".zip"));
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
    EXPECT_EQ(ws.mails().size(), 1);
    EXPECT_FALSE(button("cmdFTPAbort")->isEnabled());
    // The delivered job leaves the window with its remarks.
    EXPECT_EQ(window->jobPanel()->snapshot().remarks, QString());
    // While the archive went up the title named it; afterwards the program's name again.
    EXPECT_EQ(captions, QStringList({"Uploading " + uploaded[0], "KestroFTP-Client"}));
    // The transfer's texts are in the status box, once each; the status list has the
    // mail's lines and none of the transfer's.
    const QStringList box = statusBoxLines();
    EXPECT_EQ(box.count("Info: compressed ..."), 1) << box.join('|').toStdString();
    EXPECT_EQ(box.count("Uploading " + uploaded[0] + " completed."), 1);
    const QStringList list = statusListLines();
    EXPECT_FALSE(list.isEmpty());
    for (const QString& line : list)
        EXPECT_FALSE(box.contains(line)) << line.toStdString();
    // No message box interrupted the worker on the way.
    EXPECT_TRUE(prompter.shown.empty()) << prompter.texts().join('|').toStdString();
    // Not a timing test: a gap of seconds would mean the send ran on the window's thread.
    EXPECT_LT(longestGap, 2000);
}

TEST_F(MainWindowSend, AnEmptyJobIsRefusedWithTheMessage) {
    QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !prompter.shown.empty(); }, 30000));
    EXPECT_EQ(prompter.shown.back().text, "keine Daten zum versenden vorhanden !");
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
}

// The database refuses the record after the upload: the worker is told in a message box
// that the job arrived but waits to be recorded, and the next send records it.
TEST_F(MainWindowSend, AJobTheDatabaseRefusesIsAnnouncedAndRecordedByTheNextSend) {
    dbtest::execSql(ws.databasePath, "CREATE TRIGGER voll BEFORE INSERT ON JobDaten BEGIN "
                                     "SELECT RAISE(ABORT, 'database or disk is full'); END");
    composeJob(false);
    ASSERT_TRUE(sendAndWait()) << prompter.texts().join('|').toStdString();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith(
        QStringLiteral("Der Auftrag 1 (%1) ist bei der Druckerei angekommen, konnte aber nicht "
                       "in der Datenbank gespeichert werden")
            .arg(ws.uploadedFiles().value(0))))
        << prompter.shown[0].text.toStdString();
    EXPECT_EQ(ws.mails().size(), 1);

    dbtest::execSql(ws.databasePath, "DROP TRIGGER voll");
    composeJob(false);
    ASSERT_TRUE(sendAndWait());
    EXPECT_TRUE(statusListLines().contains("Auftrag 1 wurde in der Datenbank nachgetragen."))
        << statusListLines().join('|').toStdString();
    const auto numbers =
        dbtest::queryRows(ws.databasePath, "SELECT group_concat(JobNumber) FROM JobDaten");
    EXPECT_EQ(numbers.value(0).value(0).toString().toStdString(), "1,2");
}

// The shop's logo stands beside the job, as the shop drew it.
TEST_F(MainWindowSend, ShowsTheShopsLogo) {
    test::saveScreenshot(window.get(), "frmMain");
    const QPixmap logo = child<QLabel>("Picture1")->pixmap();
    ASSERT_FALSE(logo.isNull());
    const QImage image = logo.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            colours.insert(image.pixel(x, y) & 0xF0F0F0);
    EXPECT_GE(colours.size(), 4) << "a real picture, not a single grey pixel";
}

// The status box grows over the run: a second send adds its lines below the first's.
TEST_F(MainWindowSend, TheStatusBoxKeepsEverySend) {
    for (int round = 0; round < 2; ++round) {
        const QString file = ws.machine.writeFile(QStringLiteral("r%1/a.pdf").arg(round), "%PDF");
        window->jobPanel()->model().appendFiles({{"a.pdf", file}});
        applySettingsToAllRows();
        ASSERT_TRUE(sendAndWait());
    }
    EXPECT_EQ(statusBoxLines().count("Info: compressed ..."), 2);
    EXPECT_EQ(statusBoxLines().filter("übermittelt").size(), 2);
}

// The colour and processing steps the worker picked survive the catalogue refresh of a
// refused send, so that Anwenden afterwards writes them and not empty cells.
TEST_F(MainWindowSend, PicksSurviveAnIncompleteJob) {
    const QString file = ws.machine.writeFile("x/plan.pdf", "%PDF");
    window->jobPanel()->model().appendFiles({{"plan.pdf", file}});
    chooseFileSettings();
    QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !prompter.shown.empty(); }, 30000));
    EXPECT_EQ(prompter.shown.back().text, "Auftrag noch nicht vollständig ausgefüllt !");
    ASSERT_TRUE(waitUntil([&] { return button("cmdFTPSend")->isEnabled(); }, 30000));

    child<QTreeView>("ListView1")->selectAll();
    button("cmdAnwenden")->click();
    const compose::FileRow row = window->jobPanel()->snapshot().files.at(0);
    EXPECT_EQ(row.copies, "2");
    EXPECT_EQ(row.color, "schwarz/weiß");
    EXPECT_EQ(row.step1, "heften");
    EXPECT_EQ(row.step2, "falten");
    EXPECT_EQ(row.step3, "keine");
}

// Closing the project or delivery-address editor reloads its list and keeps the choice.
TEST_F(MainWindowSend, ClosingAnEditorKeepsTheChosenEntry) {
    struct Case {
        jobdb::EditorConfig config;
        const char* menu;
        const char* box;
    };
    for (const Case& c :
         {Case{jobdb::EditorConfig::projects(), "mnuProjekt", "cboProjekt"},
          Case{jobdb::EditorConfig::deliveryAddresses(), "mnuLieferAdr", "cboLieferAdr"}}) {
        addRecords({"Neubau", "Umbau"}, c.config);
        QComboBox* box = child<QComboBox>(c.box);
        ASSERT_EQ(box->count(), 2);
        box->setCurrentIndex(1);
        const QString chosen = box->currentText();
        inEditor([](QWidget&) {}, c.menu);
        EXPECT_EQ(box->currentText(), chosen) << c.box;
        EXPECT_EQ(box->currentIndex(), 1) << c.box;
    }
}

// The file list's columns show their values whole, the file name takes the spare width
// and the header reaches the list's right edge.
TEST_F(MainWindowSend, FileListColumnsFitWhatTheyShow) {
    const QString file = ws.machine.writeFile("x/plan.pdf", "%PDF");
    window->jobPanel()->model().appendFiles({{"plan.pdf", file}});
    applySettingsToAllRows();
    QTest::qWait(50);
    test::expectFileColumnsFit(child<QTreeView>("ListView1"));
}

// A project renamed in the editor stays chosen: the job must not go out without a project.
TEST_F(MainWindowSend, ACorrectedProjectNameKeepsTheProjectChosen) {
    addRecords({"Neubau", "Umbau"});
    auto* box = child<QComboBox>("cboProjekt");
    box->setCurrentIndex(1);
    ASSERT_EQ(box->currentText(), "2 | Umbau");
    inEditor([](QWidget& editor) {
        editor.findChild<QScrollBar*>("HScroll1")->setValue(2);
        editor.findChild<QLineEdit*>("txtName1")->setText("Umbau Nord");
        editor.findChild<QPushButton*>("cmdSave")->click();
    });
    EXPECT_EQ(window->jobPanel()->snapshot().project, "2 | Umbau Nord");
}

// What the worker typed into the project box after picking an entry is the worker's and
// survives the list's reload; today the reload wipes it.
TEST_F(MainWindowSend, TextTypedAfterAPickSurvivesTheListReload) {
    addRecords({"Neubau", "Umbau"});
    auto* box = child<QComboBox>("cboProjekt");
    box->setCurrentIndex(0);
    box->lineEdit()->setFocus();
    box->lineEdit()->end(false);
    QTest::keyClicks(box->lineEdit(), " Ost");
    ASSERT_EQ(box->currentText(), "1 | Neubau Ost");
    inEditor([](QWidget&) {});
    EXPECT_EQ(window->jobPanel()->snapshot().project, "1 | Neubau Ost");
}

// On a 1366 x 768 laptop screen the window, with its title bar, stays above a task bar,
// and the deadline's time list drops down at the chosen time with a bounded height.
TEST_F(MainWindowSend, FitsALaptopScreenAndTheTimeListOpensAtTheChoice) {
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
    choose("cboTime", "14 : 30");
    time->showPopup();
    QTest::qWait(50);
    test::saveScreenshot(time->view()->window(), "frmMain-cboTime");
    QAbstractItemView* view = time->view();
    const int rowHeight = view->sizeHintForRow(0);
    EXPECT_LE(view->height(), rowHeight * 17 + 8);
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->currentIndex()).center()));
    time->hidePopup();
}

// Closing the window (Datei -> Ende, SIGTERM) while the packer runs ends the send without
// touching anything already destroyed; AddressSanitizer builds report any such access.
TEST_F(MainWindowSend, ClosingWhilePackingTouchesNothingFreed) {
    QByteArray noise(48 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(11);
    generator.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QString big = ws.machine.writeFile("x/gross.tif", noise);
    window->jobPanel()->model().appendFiles({{"gross.tif", big}});
    applySettingsToAllRows();
    QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
    auto* packing = window->findChild<ui::FrmProgressZip*>();
    ASSERT_NE(packing, nullptr);
    ASSERT_TRUE(waitUntil([&] { return packing->isVisible(); }, 30000));
    window.reset();
    QTest::qWait(500);
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
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

// Another workstation holds the database as the worker sends, with a delivered job waiting
// to be recorded: the lock is waited for off the window's thread, and the job still goes out.
TEST_F(MainWindowSend, TheWindowStaysResponsiveWhileAnotherWorkstationHoldsTheDatabase) {
    jobdb::JobRows waiting;
    waiting.jobNumber = 1;
    waiting.job = {{"JobNumber", 1}, {"Uhrzeit", "101530"}};
    QString error;
    ASSERT_FALSE(
        jobdb::keepPendingRecord(ws.machine.clientDataFolder(), ws.databasePath, waiting, &error)
            .isEmpty())
        << error.toStdString();
    composeJob(false);

    // The other workstation: a process that holds the write lock for four seconds.
    QProcess other;
    other.start("/usr/bin/python3",
                {"-c",
                 QStringLiteral("import sqlite3, sys, time\n"
                                "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                "c.execute('BEGIN IMMEDIATE')\n"
                                "print('LOCKED', flush=True)\n"
                                "time.sleep(4)\n"
                                "c.execute('ROLLBACK')\n"),
                 ws.databasePath});
    ASSERT_TRUE(other.waitForReadyRead(10000));
    ASSERT_TRUE(other.readAll().contains("LOCKED"));

    qint64 longestGap = 0;
    ASSERT_TRUE(sendAndWait(&longestGap)) << prompter.texts().join('|').toStdString();
    other.waitForFinished(10000);
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
    // Not a timing test: a gap of seconds means the window waited for the database.
    EXPECT_LT(longestGap, 2000);
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
    child<QPushButton>("cmdFTPSend")->click();
    ASSERT_TRUE(waitUntil([&] { return closed; }, 30000));
    waitUntil([&] { return child<QPushButton>("cmdFTPSend")->isEnabled(); }, 20000);
    EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(',').toStdString();
    EXPECT_EQ(recordedJobs(), 0);
    EXPECT_TRUE(ws.mails().isEmpty());
}

// Closing the window while the archive goes up to a hanging server deletes the local
// archive, as the abort button does.
TEST_F(MainWindowSend, ClosingDuringTheUploadLeavesNoArchiveBehind) {
    SilentServer hangingFtp;
    // The shop's targets list names the hanging server with the shop's own catalogue.
    ws.machine.writeFile("shop/web/DevorOrava/FTP-Targets.txt",
                         QStringLiteral("%1, %2/shop/Katalog.INI\r\n")
                             .arg(hangingFtp.address(), ws.value("webServer"))
                             .toUtf8());
    state.ftp.server = hangingFtp.address();
    composeJob(false);
    child<QPushButton>("cmdFTPSend")->click();
    ASSERT_TRUE(waitUntil([&] { return window->windowTitle().startsWith("Uploading"); }, 30000));
    QTest::qWait(300);
    window->close();
    window.reset(); // the program's end, as after the event loop returned
    QTest::qWait(300);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty())
        << ws.archivesLeftLocally().join(',').toStdString();
}

// A mail server that answers only after a pause, in front of the shop's: the
// notification is still on its way when the worker closes the window.
const char* const kSlowRelay = R"(
import socket, sys, threading, time
target = (sys.argv[1], int(sys.argv[2]))
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(8)
print("PORT %d" % server.getsockname()[1], flush=True)
def pump(a, b):
    try:
        while True:
            data = a.recv(65536)
            if not data:
                break
            b.sendall(data)
    except OSError:
        pass
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
def serve(client):
    time.sleep(1.5)
    upstream = socket.create_connection(target)
    threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
    pump(client, upstream)
while True:
    client, _ = server.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
)";

// Closing the window while the notification is on its way still sends it: the shop must
// never hold a delivered, recorded job nobody announced.
TEST_F(MainWindowSend, ClosingWhileTheMailIsOnItsWayStillTellsTheShop) {
    const QString shopSmtp = ws.value("smtpServer");
    const qsizetype colon = shopSmtp.lastIndexOf(QLatin1Char(':'));
    test::PeerProcess relay;
    ASSERT_TRUE(relay.start("/usr/bin/python3", {"-c", QString::fromLatin1(kSlowRelay),
                                                 shopSmtp.left(colon), shopSmtp.mid(colon + 1)}));
    config.smtpServer = QStringLiteral("127.0.0.1:%1").arg(relay.port());
    composeJob(false);
    child<QPushButton>("cmdFTPSend")->click();
    // The job left the window: uploaded and recorded, the mail goes out now.
    ASSERT_TRUE(waitUntil([&] { return window->jobPanel()->model().rowCount() == 0; }, 30000));
    QTest::qWait(200);
    ASSERT_TRUE(ws.mails().isEmpty()) << "the relay should still hold the mail";
    window->close();
    window.reset();
    waitUntil([&] { return !ws.mails().isEmpty(); }, 10000);
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(recordedJobs(), 1);
    EXPECT_EQ(ws.mails().size(), 1) << "the shop was never told of the delivered job";
}

namespace {

// The shop's FTP server requires TLS with a certificate it made itself: the worker is asked
// once, in a real message box.
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
    // Sends the composed job and answers the certificate question with `answer`, as the
    // worker clicks it; the box's texts as they were shown.
    QString sendAndAnswer(const QString& answer, const QString& shot) {
        QString shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll.stop();
            test::saveScreenshot(box, shot);
            shown = box->text();
            QStringList buttons;
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            EXPECT_EQ(buttons.size(), 2);
            EXPECT_TRUE(buttons.contains("Zertifikat vertrauen"));
            EXPECT_EQ(box->defaultButton()->text(), "Abbrechen");
            for (QAbstractButton* b : box->buttons())
                if (b->text() == answer)
                    QTest::mouseClick(b, Qt::LeftButton);
        });
        poll.start(20);
        QTest::mouseClick(button("cmdFTPSend"), Qt::LeftButton);
        EXPECT_TRUE(
            waitUntil([&] { return !shown.isEmpty() && button("cmdFTPSend")->isEnabled(); }, 60000))
            << prompter.texts().join('|').toStdString();
        return shown;
    }
    QString trustFile() const {
        return QString::fromUtf8(
            kestro::test::readFile(ws.machine.clientDataFolder() + "/trusted-certificates.txt"));
    }

    QString fingerprint;
};

} // namespace

TEST_F(CertificateQuestion, TheWorkerCancelsThenTrustsTheShopsCertificate) {
    composeJob(false);
    const QString question = sendAndAnswer("Abbrechen", "certificate-question");
    EXPECT_TRUE(question.contains(fingerprint)) << question.toStdString();
    EXPECT_TRUE(question.contains("CN=druckerei.test,O=Druckerei Ärmel"));
    EXPECT_FALSE(trustFile().contains(fingerprint));
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_EQ(window->jobPanel()->model().rowCount(), 1);
    EXPECT_EQ(recordedJobs(), 0);

    sendAndAnswer("Zertifikat vertrauen", "certificate-question-2");
    EXPECT_TRUE(trustFile().contains(fingerprint)) << trustFile().toStdString();
    ASSERT_TRUE(waitUntil([&] { return window->jobPanel()->model().rowCount() == 0; }, 60000));
    EXPECT_EQ(ws.uploadedFiles().size(), 1);
    EXPECT_EQ(recordedJobs(), 1);
}
