// Client updates: Vellmon fetches the maker's installer and starts it in the client's
// folder; the client checks for a newer version itself, with the download beneath both.
#include "client/startup/pipeupdater.h"
#include "client/startup/updatecheck.h"
#include "common/httpdownload.h"
#include "support/programrun.h"
#include "support/tinyproxy.h"
#include "vellmonharness.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::test;
using namespace Qt::StringLiterals;

namespace {

QString logLine(int number, const QString& text) {
    return u"Test:-LevelInt:%1 Level:1: "_s.arg(number) + text.leftJustified(100, u' ', true);
}

QStringList logLines(const QString& path) {
    return QString::fromUtf8(readFile(path)).split(u"\r\n"_s, Qt::SkipEmptyParts);
}

// The maker's installer: it copies the hint file, so it shows that it ran after the hint
// was written.
const QByteArray kInstaller = "#!/bin/sh\ncat update.ini > installer-ran\n";

// The maker's web server with a version file and an installer script, Vellmon, and the
// client's start folder.
class UpdateInstallation : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        clientFolder = packaged ? packaged->path() : trustedFolder();
        machine.writeFile(u"www/files/Update.exe"_s, kInstaller);
        machine.writeFile(u"www/files/Slow.exe"_s, QByteArray(20000, '#'));
        machine.writeFile(u"www/files/Lagging.exe"_s, kInstaller);
        ASSERT_TRUE(web.startFixture(
            u"httpserver.py"_s,
            {u"--root"_s, machine.path(u"www"_s), u"--status"_s, u"/files/Broken.exe=500"_s,
             u"--slow"_s, u"/files/Slow.exe=1"_s, u"--slow"_s, u"/files/Lagging.exe=0.1"_s}));
        // The folder holds no client program; the deployment file names it as a client's.
        writeConfig(base(),
                    listFolder
                        ? config + "\n[Update]\nClientFolders=" + clientFolder.toUtf8() + "\n"
                        : config);
        ASSERT_TRUE(startVellmon());
    }
    QString base() const { return u"http://127.0.0.1:%1"_s.arg(web.port()); }
    QString versionUrl() const { return base() + u"/AutoUpdate/Version/KestroFTP-Client.txt"_s; }
    void publish(const QByteArray& content) {
        machine.writeFile(u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s, content);
    }
    bool requestUpdate(const QString& version = u"1.0.41"_s) {
        startup::PipeUpdater updater;
        ScriptedPrompter prompter;
        return startup::requestUpdate(updater, prompter, u"KestroFTP-Client"_s, clientFolder,
                                      version);
    }
    QString localCopy() const { return clientFolder + u"/KestroFTP-Client-update.txt"_s; }
    QString inClientFolder(const QString& name) const { return clientFolder + u'/' + name; }
    // The worker's client window; "unloaded" appears when it was asked to close.
    bool startWorkersClient(PeerProcess& client) {
        return startClient(client, u"KestroFTP-Client - Auftrag 17"_s, unloaded());
    }
    QString unloaded() const { return machine.path(u"client-unloaded"_s); }
    void expectStillOpen(PeerProcess& client) {
        EXPECT_EQ(client.process().state(), QProcess::Running);
        EXPECT_FALSE(QFile::exists(unloaded()));
    }

    QByteArray config;
    bool listFolder = true;
    std::unique_ptr<QTemporaryDir> packaged; // a client folder of the system's instead
    QString clientFolder;
    PeerProcess web;
};

// The client installed in its folder, not named in the deployment file: the program
// asking is the client program in exactly that folder.
class InstalledClient : public UpdateInstallation {
protected:
    void SetUp() override {
        listFolder = false;
        UpdateInstallation::SetUp();
        program = inClientFolder(u"KestroClient"_s);
        ASSERT_TRUE(QFile::copy(builtProgram(u"tests/service/pipe_send"_s), program));
    }
    // Asks as the installed client does, with the folder it runs from.
    QByteArray ask() {
        return runProgram(program,
                          {u"searchingUpdate|KestroFTP-Client|%1|1.0.41"_s.arg(clientFolder)})
            .out.toUtf8();
    }
    QString program;
};

TEST_F(UpdateInstallation, NewerVersionClosesTheClientAndStartsTheInstaller) {
    publish("1.0.42\r\n" + base().toUtf8() + "/files/Update.exe\n");
    PeerProcess client, other;
    ASSERT_TRUE(startWorkersClient(client));
    const QString otherUnloaded = machine.path(u"other-unloaded"_s);
    ASSERT_TRUE(startClient(other, u"Texteditor"_s, otherUnloaded));
    const QByteArray hint = (clientFolder + u"\r\n"_s).toUtf8();
    ASSERT_TRUE(requestUpdate());
    ASSERT_TRUE(
        eventually([&] { return readFile(inClientFolder(u"installer-ran"_s)) == hint; }, 15000));
    EXPECT_EQ(readFile(unloaded()), QByteArray("unloaded\n"));
    EXPECT_TRUE(client.process().waitForFinished(5000));
    EXPECT_EQ(other.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(otherUnloaded));
    EXPECT_EQ(readFile(inClientFolder(u"update.ini"_s)), hint);
    EXPECT_EQ(logLines(errorLog()),
              (QStringList{logLine(1, versionUrl()), logLine(2, localCopy()),
                           logLine(3, u"UpdateSoft 1"_s), logLine(4, u"UpdateSoft 3"_s),
                           logLine(5, u"UpdateSoft 4"_s)}));
}

// A search that ends before any installer starts: the error log's last line says why, no
// installer or hint file is left in the client's folder and the worker's client stays open.
struct EndedSearch {
    const char* name;
    const char* published; // the version file on the server ("": none there)
    const char* localCopy; // the copy an earlier search left ("": none)
    const char* version;   // the client's
    int logLines;
    const char* lastLogLine;
    bool stopDuringDownload = false;
};
const EndedSearch kEndedSearches[] = {
    {"SameVersion", "1.0.41\nhttp://unused/Update.exe", "", "1.0.41", 3, "UpdateSoft 1"},
    {"FailedInstallerDownload", "2.0.0\nBASE/files/Broken.exe", "", "1.0.41", 4, "UpdateSoft 3"},
    {"NoVersionFileAnywhere", "", "", "1.0.41", 3, "ErrOpenUrl 1 53 - File not found"},
    // No version file on the server: the older local copy (offering 1.0.41) is read.
    {"OlderLocalCopy", "", "1.0.41\n", "1.0.40.70000", 4, "ErrOpenUrl 1 6 - Overflow"},
    // An installer half-fetched when the service stops must never start.
    {"StopDuringDownload", "2.0.0\nBASE/files/Slow.exe", "", "1.0.41", 4, "UpdateSoft 3", true}};

void PrintTo(const EndedSearch& row, std::ostream* out) {
    *out << row.name;
}

class EndedSearches : public UpdateInstallation,
                      public ::testing::WithParamInterface<EndedSearch> {};

TEST_P(EndedSearches, InstallNothing) {
    const EndedSearch& row = GetParam();
    if (*row.published)
        publish(QByteArray(row.published).replace("BASE", base().toUtf8()));
    if (QFile copy(localCopy()); *row.localCopy) {
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly) && copy.write(row.localCopy) > 0);
    }
    PeerProcess client;
    ASSERT_TRUE(startWorkersClient(client));
    ASSERT_TRUE(requestUpdate(QString::fromLatin1(row.version)));
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= row.logLines; }));
    if (row.stopDuringDownload) {
        vellmon.process().terminate();
        EXPECT_TRUE(vellmon.process().waitForFinished(5000));
    }
    QThread::msleep(300);
    const QStringList lines = logLines(errorLog());
    EXPECT_EQ(lines.size(), row.logLines);
    EXPECT_EQ(lines.value(0), logLine(1, versionUrl()));
    EXPECT_EQ(lines.value(1), logLine(2, localCopy()));
    EXPECT_EQ(lines.value(row.logLines - 1), logLine(row.logLines, row.lastLogLine));
    EXPECT_FALSE(QFile::exists(inClientFolder(u"Update.exe"_s)));
    EXPECT_FALSE(QFile::exists(inClientFolder(u"update.ini"_s)));
    expectStillOpen(client);
}

INSTANTIATE_TEST_SUITE_P(, EndedSearches, ::testing::ValuesIn(kEndedSearches),
                         [](const auto& info) { return std::string(info.param.name); });

// A client the system's package installed, in one of the folders the package manager
// keeps: no installer of the maker's may write there, and the worker learns why.
class PackagedClient : public InstalledClient {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a folder below /usr/lib needs root";
        packaged = std::make_unique<QTemporaryDir>(u"/usr/lib/kestro-test-XXXXXX"_s);
        ASSERT_TRUE(packaged->isValid());
        QFile::setPermissions(packaged->path(), kOpenFolder);
        InstalledClient::SetUp();
    }
};

TEST_F(PackagedClient, IsLeftToThePackageManagerAndTheWorkerToldSo) {
    publish("1.0.42\n" + base().toUtf8() + "/files/Update.exe");
    PeerProcess client;
    ASSERT_TRUE(startWorkersClient(client));
    EXPECT_TRUE(ask().startsWith("RESULT 0 PackageManaged")) << vellmon.output().toStdString();
    ScriptedPrompter prompter;
    startup::PipeUpdater updater;
    EXPECT_FALSE(startup::requestUpdate(updater, prompter, u"KestroFTP-Client"_s, clientFolder,
                                        u"1.0.41"_s));
    EXPECT_EQ(prompter.texts(), QStringList{startup::packageManagedUpdateText()});
    EXPECT_TRUE(vellmonLogged(u"the package manager updates the client in"_s, 2));
    QThread::msleep(300);
    EXPECT_EQ(QDir(clientFolder).entryList(QDir::Files), QStringList{u"KestroClient"_s});
    expectStillOpen(client);
}

// One search of one user at a time, however often it asks; asked again right after the
// installer ran, no second installer starts and no client is closed (it once started again
// and again for one folder).
TEST_F(InstalledClient, GetsItsUpdateOnceAndNoRepeatClosesItAgain) {
    publish("1.0.42\n" + base().toUtf8() + "/files/Lagging.exe");
    const QString installer = inClientFolder(u"Update.exe"_s);
    const QString ran = inClientFolder(u"installer-ran"_s);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(ask().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(u"has a search waiting already"_s));
    ASSERT_TRUE(eventually([&] { return QFile::exists(ran); }, 15000))
        << vellmon.output().toStdString();
    QFile::remove(installer);
    QFile::remove(ran);
    PeerProcess client;
    ASSERT_TRUE(startWorkersClient(client));
    EXPECT_TRUE(ask().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(u"an installer was started for"_s));
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(installer));
    EXPECT_FALSE(QFile::exists(ran));
    expectStillOpen(client);
}

// The maker signs its installers; Vellmon holds the public key. Beside the signed installer
// the server offers one with another installer's signature, one with a damaged signature
// and one with none.
class SignedUpdate : public UpdateInstallation {
protected:
    void SetUp() override {
        const QString tool =
            qEnvironmentVariable("KESTRO_SOURCE_DIR") + u"/scripts/sign-installer"_s;
        config = runProgram(tool, {u"keygen"_s, machine.path(u"keys"_s)}).out.toUtf8();
        ASSERT_TRUE(config.startsWith("[Update]\nPublicKey=")) << config.toStdString();
        for (const char* name : {"Update.exe", "Other.exe"})
            ASSERT_EQ(runProgram(tool, {u"sign"_s, machine.path(u"keys/update-key.pem"_s),
                                        machine.writeFile(u"www/files/"_s + name, kInstaller)})
                          .exitCode,
                      0);
        for (const char* name : {"Swapped.exe", "Damaged.exe", "Bare.exe"})
            machine.writeFile(u"www/files/"_s + name, "#!/bin/sh\ntouch evil-ran\n");
        QFile::copy(machine.path(u"www/files/Other.exe.sig"_s),
                    machine.path(u"www/files/Swapped.exe.sig"_s));
        machine.writeFile(u"www/files/Damaged.exe.sig"_s, QByteArray(64, 'x'));
        UpdateInstallation::SetUp();
    }
};

TEST_F(SignedUpdate, OnlyAnInstallerWithItsOwnValidSignatureStarts) {
    PeerProcess client;
    ASSERT_TRUE(startWorkersClient(client));
    int refusals = 0;
    for (const char* installer : {"Swapped.exe", "Damaged.exe", "Bare.exe", "Update.exe"}) {
        SCOPED_TRACE(installer);
        publish("2.0.0\n" + base().toUtf8() + "/files/" + installer);
        ASSERT_TRUE(requestUpdate());
        if (installer == std::string_view("Update.exe"))
            break;
        ASSERT_TRUE(vellmonLogged(u"installer refused"_s, ++refusals));
        QThread::msleep(300);
        for (const QString& name : {u"installer-ran"_s, u"evil-ran"_s, u"Update.exe"_s})
            EXPECT_FALSE(QFile::exists(inClientFolder(name))) << name.toStdString();
        EXPECT_EQ(client.process().state(), QProcess::Running);
    }
    EXPECT_TRUE(
        eventually([&] { return QFile::exists(inClientFolder(u"installer-ran"_s)); }, 15000));
}

// The maker's web server as the client reaches it: a version file, a file it cuts short and
// one it fails with 500; every request logged.
class ClientDownload : public ::testing::Test {
protected:
    void SetUp() override {
        machine.writeFile(u"www/files/version.txt"_s, "1.0.42\r\nhttp://x/Update\n");
        machine.writeFile(u"www/files/big.bin"_s, QByteArray(100000, 'b'));
        ASSERT_TRUE(web.startFixture(u"httpserver.py"_s,
                                     {u"--root"_s, machine.path(u"www"_s), u"--status"_s,
                                      u"/files/gone.txt=500"_s, u"--truncate"_s,
                                      u"/files/big.bin"_s, u"--log"_s, requests()}));
    }
    QString url(const QString& file) const {
        return u"http://127.0.0.1:%1/files/%2"_s.arg(web.port()).arg(file);
    }
    QString requests() const { return machine.path(u"requests.log"_s); }
    startup::UpdateCheck::Config config() const {
        return {u"http://127.0.0.1:%1"_s.arg(web.port()),
                machine.clientDataFolder(),
                u"KestroFTP-Client"_s,
                {1, 0, 41}};
    }
    // Whether the client's own check offered an update for `published` (empty: no version
    // file at all); the local copy is what the server offered.
    bool offered(const QByteArray& published) {
        if (!published.isEmpty())
            machine.writeFile(u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s, published);
        startup::UpdateCheck check(config());
        QSignalSpy offers(&check, &startup::UpdateCheck::updateOffered);
        QSignalSpy done(&check, &startup::UpdateCheck::finished);
        check.start();
        EXPECT_TRUE(done.wait(10000));
        EXPECT_EQ(readFile(machine.clientDataFolder() + u"/KestroFTP-Client-update.txt"_s),
                  published);
        EXPECT_EQ(done.value(0).value(0).toBool(), offers.count() == 1);
        return offers.count() == 1;
    }
    TestMachine machine;
    PeerProcess web;
};

// A download writes the whole answer or nothing: a failure keeps the older copy and leaves
// no partial file; the size cap and a refused connection are failures too.
TEST_F(ClientDownload, WritesTheWholeAnswerOrKeepsTheOlderCopy) {
    const QString target = machine.path(u"v.txt"_s);
    const DownloadResult r = downloadToFile(url(u"version.txt"_s), target);
    EXPECT_EQ(std::pair(r.status, r.httpCode), std::pair(0, 200L)) << r.error.toStdString();
    EXPECT_EQ(readFile(target), QByteArray("1.0.42\r\nhttp://x/Update\n"));
    const QString kept = machine.writeFile(u"out/keep.txt"_s, "older copy");
    const QString fresh = machine.path(u"out/fresh.bin"_s);
    // The file asked for, the curl status and HTTP code expected (-1: any but 0).
    const std::tuple<QString, int, long> failures[] = {
        {u"none.txt"_s, 22, 404}, {u"gone.txt"_s, 22, 500}, {u"big.bin"_s, -1, -1}};
    for (const auto& [file, status, httpCode] : failures)
        for (const QString& into : {kept, fresh}) {
            SCOPED_TRACE(file.toStdString() + " into " + into.toStdString());
            const DownloadResult r = downloadToFile(url(file), into);
            if (status < 0)
                EXPECT_NE(r.status, 0);
            else
                EXPECT_EQ(std::pair(r.status, r.httpCode), std::pair(status, httpCode));
        }
    DownloadOptions small;
    small.maxBytes = 10;
    EXPECT_EQ(downloadToFile(url(u"version.txt"_s), fresh, small).status, 63);
    EXPECT_EQ(readFile(kept), QByteArray("older copy"));
    EXPECT_EQ(QDir(machine.path(u"out"_s)).entryList(QDir::Files), QStringList{u"keep.txt"_s});

    AsyncDownload download; // reports on the thread that owns it
    QSignalSpy finished(&download, &AsyncDownload::finished);
    const QString async = machine.path(u"async.txt"_s);
    ASSERT_TRUE(download.start(url(u"version.txt"_s), async));
    EXPECT_FALSE(download.start(url(u"version.txt"_s), async)) << "one at a time";
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).value<DownloadResult>().status, 0);
    EXPECT_TRUE(readFile(async).startsWith("1.0.42"));

    web.stop();
    const DownloadResult refused = downloadToFile(url(u"version.txt"_s), target);
    EXPECT_EQ(refused.status, 7);
    EXPECT_FALSE(refused.error.isEmpty());
}

// The version rules themselves are VersionRules' (test_commandchannel); here what the check adds.
TEST_F(ClientDownload, UpdateCheckOffersOnlyNewerVersions) {
    EXPECT_FALSE(offered({})); // no version file ends quietly
    EXPECT_FALSE(offered("1.0.41\n"));
    EXPECT_TRUE(offered("1.0.42\r\nNeu: schnellere Uebertragung\r\n"));
    EXPECT_FALSE(offered(QByteArray(100000, '9') + "\n"));
}

// Behind a mandatory proxy the version file comes through the proxy with its login; the
// proxy rules themselves (the login in the address, its encoding) are the catalogue's tests.
TEST_F(ClientDownload, UpdateCheckGoesThroughTheProxyWithItsLogin) {
    machine.writeFile(u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s, "1.0.42\n");
    test::TinyProxy proxy;
    ASSERT_TRUE(proxy.start(machine.root(), u"anna"_s, u"geheim1"_s))
        << "tinyproxy (Debian package tinyproxy-bin) is needed";
    auto offered = [&](const QString& password) {
        startup::UpdateCheck::Config c = config();
        c.proxy.useProxy = true;
        c.proxy.httpProxy = u"127.0.0.1"_s;
        c.proxy.httpProxyPort = QString::number(proxy.port());
        c.proxy.user = u"anna"_s;
        c.proxy.password = password;
        startup::UpdateCheck update(c);
        QSignalSpy done(&update, &startup::UpdateCheck::finished);
        update.start();
        EXPECT_TRUE(done.wait(20000));
        return !done.isEmpty() && done.at(0).at(0).toBool();
    };
    EXPECT_FALSE(offered(u"falsch"_s)) << "the proxy refuses a wrong login";
    EXPECT_TRUE(readFile(requests()).isEmpty()) << "nothing went past the proxy";
    EXPECT_TRUE(offered(u"geheim1"_s));
    EXPECT_TRUE(readFile(requests()).contains("GET /AutoUpdate/Version/KestroFTP-Client.txt"));
}

// The question is asked without an icon; an update request no Vellmon takes is shown once.
TEST(ClientUpdateDialogs, QuestionWithoutIconAndUndeliveredRequestShownOnce) {
    ScriptedPrompter prompter;
    prompter.answers = {true, false};
    EXPECT_TRUE(startup::confirmUpdate(prompter));
    EXPECT_FALSE(startup::confirmUpdate(prompter));
    TestMachine machine; // no Vellmon runs here
    startup::PipeUpdater updater;
    EXPECT_FALSE(startup::requestUpdate(updater, prompter, u"KestroFTP-Client"_s, u"/opt/kestro"_s,
                                        u"1.0.41"_s));
    ASSERT_EQ(prompter.shown.size(), 3u);
    EXPECT_EQ(prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::Question);
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
    EXPECT_EQ(prompter.shown[2].text, u"Es konnte nicht in den Mailslot geschrieben werden!"_s);
    EXPECT_EQ(prompter.shown[2].icon, Prompter::Icon::Critical);
}

} // namespace
