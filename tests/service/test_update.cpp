#include "client/startup/pipeupdater.h"
#include "client/startup/updatecheck.h"
#include "common/servicemessage.h"
#include "support/tinyproxy.h"
#include "vellmonharness.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::test;

namespace {

QString logLine(int number, const QString& text) {
    return QStringLiteral("Test:-LevelInt:%1 Level:1: ").arg(number) +
           text.leftJustified(100, QLatin1Char(' '), true);
}

QStringList logLines(const QString& path) {
    return QString::fromUtf8(readFile(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
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
        machine.writeFile(QStringLiteral("www/files/Update.exe"), kInstaller);
        machine.writeFile(QStringLiteral("www/files/Slow.exe"), QByteArray(20000, '#'));
        machine.writeFile(QStringLiteral("www/files/Lagging.exe"), kInstaller);
        ASSERT_TRUE(
            web.startFixture(QStringLiteral("httpserver.py"),
                             {QStringLiteral("--root"), machine.path(QStringLiteral("www")),
                              QStringLiteral("--status"), QStringLiteral("/files/Broken.exe=500"),
                              QStringLiteral("--slow"), QStringLiteral("/files/Slow.exe=1"),
                              QStringLiteral("--slow"), QStringLiteral("/files/Lagging.exe=0.1")}));
        // The folder holds no client program; the deployment file names it as a client's.
        writeConfig(base(),
                    listFolder
                        ? config + "\n[Update]\nClientFolders=" + clientFolder.toUtf8() + "\n"
                        : config);
        ASSERT_TRUE(startVellmon());
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(web.port()); }
    QString versionUrl() const {
        return base() + QStringLiteral("/AutoUpdate/Version/KestroFTP-Client.txt");
    }
    void publish(const QByteArray& content) {
        machine.writeFile(QStringLiteral("www/AutoUpdate/Version/KestroFTP-Client.txt"), content);
    }
    bool requestUpdate(const QString& version = QStringLiteral("1.0.41")) {
        startup::PipeUpdater updater;
        ScriptedPrompter prompter;
        return startup::requestUpdate(updater, prompter, QStringLiteral("KestroFTP-Client"),
                                      clientFolder, version);
    }
    QString localCopy() const {
        return clientFolder + QStringLiteral("/KestroFTP-Client-update.txt");
    }

    static void writeTo(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // A client window that asks to be closed; "unloaded" appears when it was.
    bool startClient(PeerProcess& client) {
        return client.start(builtProgram(QStringLiteral("tests/service/presence_client")),
                            {QStringLiteral("KestroFTP-Client - Auftrag 17"), unloaded()});
    }
    QString unloaded() const { return machine.path(QStringLiteral("client-unloaded")); }

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
        program = clientFolder + QStringLiteral("/KestroClient");
        ASSERT_TRUE(QFile::copy(builtProgram(QStringLiteral("tests/service/pipe_send")), program));
    }
    // Asks as the installed client does, with the folder it runs from.
    QByteArray ask() {
        QProcess client;
        client.start(program, {QStringLiteral("searchingUpdate|KestroFTP-Client|") + clientFolder +
                               QStringLiteral("|1.0.41")});
        client.waitForFinished(10000);
        return client.readAllStandardOutput();
    }
    QString program;
};

TEST_F(UpdateInstallation, NewerVersionClosesTheClientAndStartsTheInstaller) {
    publish("1.0.42\r\n" + base().toUtf8() + "/files/Update.exe\n");
    PeerProcess client;
    const QString unloaded = machine.path(QStringLiteral("client-unloaded"));
    ASSERT_TRUE(client.start(builtProgram(QStringLiteral("tests/service/presence_client")),
                             {QStringLiteral("KestroFTP-Client - Auftrag 17"), unloaded}));
    PeerProcess other;
    ASSERT_TRUE(other.start(
        builtProgram(QStringLiteral("tests/service/presence_client")),
        {QStringLiteral("Texteditor"), machine.path(QStringLiteral("other-unloaded"))}));

    const QByteArray hint = (clientFolder + QStringLiteral("\r\n")).toUtf8();
    ASSERT_TRUE(requestUpdate());
    // The installer copies the hint file, so it ran after the hint was written.
    ASSERT_TRUE(eventually(
        [&] { return readFile(clientFolder + QStringLiteral("/installer-ran")) == hint; }, 15000));
    EXPECT_EQ(readFile(unloaded), QByteArray("unloaded\n"));
    EXPECT_TRUE(client.process().waitForFinished(5000));
    EXPECT_EQ(other.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("other-unloaded"))));

    EXPECT_EQ(readFile(clientFolder + QStringLiteral("/update.ini")), hint);
    EXPECT_EQ(logLines(errorLog()), (QStringList{logLine(1, versionUrl()), logLine(2, localCopy()),
                                                 logLine(3, QStringLiteral("UpdateSoft 1")),
                                                 logLine(4, QStringLiteral("UpdateSoft 3")),
                                                 logLine(5, QStringLiteral("UpdateSoft 4"))}));
}

// A client the system's package installed, in one of the folders the package manager
// keeps: no installer of the maker's may write there, and the worker learns why.
class PackagedClient : public InstalledClient {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "a folder below /usr/lib needs root";
        packaged = std::make_unique<QTemporaryDir>(QStringLiteral("/usr/lib/kestro-test-XXXXXX"));
        ASSERT_TRUE(packaged->isValid());
        QFile::setPermissions(packaged->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadGroup |
                                                    QFile::ExeGroup | QFile::ReadOther |
                                                    QFile::ExeOther);
        InstalledClient::SetUp();
    }
};

TEST_F(PackagedClient, IsLeftToThePackageManagerAndTheWorkerToldSo) {
    publish("1.0.42\n" + base().toUtf8() + "/files/Update.exe");
    PeerProcess client;
    ASSERT_TRUE(startClient(client));
    EXPECT_TRUE(ask().startsWith("RESULT 0 PackageManaged")) << vellmon.output().toStdString();
    startup::PipeUpdater updater;
    ScriptedPrompter prompter;
    EXPECT_FALSE(startup::requestUpdate(updater, prompter, QStringLiteral("KestroFTP-Client"),
                                        clientFolder, QStringLiteral("1.0.41")));
    EXPECT_EQ(prompter.texts(), QStringList{startup::packageManagedUpdateText()});
    EXPECT_TRUE(vellmonLogged(QStringLiteral("the package manager updates the client in"), 2));
    QThread::msleep(300);
    EXPECT_EQ(QDir(clientFolder).entryList(QDir::Files),
              QStringList{QStringLiteral("KestroClient")});
    EXPECT_EQ(client.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(unloaded()));
}

TEST_F(InstalledClient, GetsItsUpdateOnceAndNoRepeatClosesItAgain) {
    publish("1.0.42\n" + base().toUtf8() + "/files/Lagging.exe");
    const QString installer = clientFolder + QStringLiteral("/Update.exe");
    const QString ran = clientFolder + QStringLiteral("/installer-ran");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(ask().startsWith("RESULT 0 True"));
    // One search of one user at a time, however often it asks.
    EXPECT_TRUE(vellmonLogged(QStringLiteral("has a search waiting already")));
    ASSERT_TRUE(eventually([&] { return QFile::exists(ran); }, 15000))
        << vellmon.output().toStdString();
    // Asked again right after, no second installer starts and no client is closed.
    QFile::remove(installer);
    QFile::remove(ran);
    PeerProcess client;
    ASSERT_TRUE(startClient(client));
    EXPECT_TRUE(ask().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("an installer was started for")));
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(installer));
    EXPECT_FALSE(QFile::exists(ran));
    EXPECT_EQ(client.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(unloaded()));
}

TEST_F(UpdateInstallation, SameVersionInstallsNothing) {
    publish("1.0.41\nhttp://unused/Update.exe");
    ASSERT_TRUE(requestUpdate());
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= 3; }));
    QThread::msleep(300);
    EXPECT_EQ(logLines(errorLog()), (QStringList{logLine(1, versionUrl()), logLine(2, localCopy()),
                                                 logLine(3, QStringLiteral("UpdateSoft 1"))}));
    EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/Update.exe")));
}

TEST_F(UpdateInstallation, FailedInstallerDownloadStartsNothing) {
    publish("2.0.0\n" + base().toUtf8() + "/files/Broken.exe");
    PeerProcess client;
    ASSERT_TRUE(startClient(client));
    ASSERT_TRUE(requestUpdate());
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= 4; }));
    QThread::msleep(300);
    EXPECT_EQ(logLines(errorLog()).last(), logLine(4, QStringLiteral("UpdateSoft 3")));
    EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/Update.exe")));
    EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/update.ini")));
    // Nothing is about to start, so the worker's client stays open.
    EXPECT_EQ(client.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(unloaded()));
}

// The maker signs its installers; Vellmon holds the public key.
class SignedUpdate : public UpdateInstallation {
protected:
    void SetUp() override {
        const QString tool =
            qEnvironmentVariable("KESTRO_SOURCE_DIR") + QStringLiteral("/scripts/sign-installer");
        QProcess keygen;
        keygen.start(tool, {QStringLiteral("keygen"), machine.path(QStringLiteral("keys"))});
        ASSERT_TRUE(keygen.waitForFinished(10000));
        config = keygen.readAllStandardOutput();
        ASSERT_TRUE(config.startsWith("[Update]\nPublicKey=")) << config.toStdString();
        machine.writeFile(QStringLiteral("www/files/Update.exe"), kInstaller);
        machine.writeFile(QStringLiteral("www/files/Other.exe"), "#!/bin/sh\ntouch evil-ran\n");
        for (const char* name : {"Update.exe", "Other.exe"}) {
            QProcess sign;
            sign.start(tool,
                       {QStringLiteral("sign"), machine.path(QStringLiteral("keys/update-key.pem")),
                        machine.path(QStringLiteral("www/files/") + QLatin1String(name))});
            ASSERT_TRUE(sign.waitForFinished(10000));
            ASSERT_EQ(sign.exitCode(), 0);
        }
        UpdateInstallation::SetUp();
    }
    bool installerRan() const {
        return QFile::exists(clientFolder + QStringLiteral("/installer-ran")) ||
               QFile::exists(clientFolder + QStringLiteral("/evil-ran"));
    }
};

TEST_F(SignedUpdate, OnlyAnInstallerWithItsOwnValidSignatureStarts) {
    // A signature of another installer, a damaged one, or none at all: nothing starts.
    const QString sigs = QStringLiteral("www/files/");
    QFile::rename(machine.path(sigs + QStringLiteral("Update.exe.sig")),
                  machine.path(sigs + QStringLiteral("Good.sig")));
    QFile::copy(machine.path(sigs + QStringLiteral("Other.exe.sig")),
                machine.path(sigs + QStringLiteral("Update.exe.sig")));
    machine.writeFile(sigs + QStringLiteral("Other.exe.sig"), QByteArray(64, 'x'));
    machine.writeFile(QStringLiteral("www/files/Bare.exe"), "#!/bin/sh\ntouch evil-ran\n");
    PeerProcess client;
    ASSERT_TRUE(startClient(client));
    int refusals = 0;
    for (const char* installer : {"Update.exe", "Other.exe", "Bare.exe"}) {
        publish("2.0.0\n" + base().toUtf8() + "/files/" + installer);
        ASSERT_TRUE(requestUpdate());
        ASSERT_TRUE(vellmonLogged(QStringLiteral("installer refused"), ++refusals));
        QThread::msleep(300);
        EXPECT_FALSE(installerRan()) << installer;
        EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/Update.exe"))) << installer;
        EXPECT_EQ(client.process().state(), QProcess::Running);
    }
    QFile::remove(machine.path(sigs + QStringLiteral("Update.exe.sig")));
    QFile::rename(machine.path(sigs + QStringLiteral("Good.sig")),
                  machine.path(sigs + QStringLiteral("Update.exe.sig")));
    publish("2.0.0\n" + base().toUtf8() + "/files/Update.exe");
    ASSERT_TRUE(requestUpdate());
    EXPECT_TRUE(eventually(
        [&] { return QFile::exists(clientFolder + QStringLiteral("/installer-ran")); }, 15000));
}

TEST_F(UpdateInstallation, StoppingDuringTheInstallerDownloadStartsNothing) {
    publish("2.0.0\n" + base().toUtf8() + "/files/Slow.exe");
    ASSERT_TRUE(requestUpdate());
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= 4; }));
    vellmon.process().terminate();
    EXPECT_TRUE(vellmon.process().waitForFinished(5000));
    EXPECT_EQ(logLines(errorLog()).size(), 4);
    EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/Update.exe")));
    EXPECT_FALSE(QFile::exists(clientFolder + QStringLiteral("/update.ini")));
}

TEST_F(UpdateInstallation, MissingVersionFileEverywhere) {
    ASSERT_TRUE(requestUpdate());
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= 3; }));
    EXPECT_EQ(logLines(errorLog()).value(2),
              logLine(3, QStringLiteral("ErrOpenUrl 1 53 - File not found")));
}

TEST_F(UpdateInstallation, OlderLocalCopyIsUsedWhenTheServerFails) {
    // No version file on the server: the older local copy (offering 1.0.41) is read.
    writeTo(localCopy(), "1.0.41\n");
    ASSERT_TRUE(requestUpdate(QStringLiteral("1.0.40.70000")));
    ASSERT_TRUE(eventually([&] { return logLines(errorLog()).size() >= 4; }));
    EXPECT_EQ(logLines(errorLog()).value(3),
              logLine(4, QStringLiteral("ErrOpenUrl 1 6 - Overflow")));
}

// The client's own check: downloads without blocking, offers only newer versions.
class ClientUpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            web.startFixture(QStringLiteral("httpserver.py"),
                             {QStringLiteral("--root"), machine.path(QStringLiteral("www"))}));
    }
    // Emits and returns whether an update was offered for `published`.
    bool offered(const QByteArray& published) {
        machine.writeFile(QStringLiteral("www/AutoUpdate/Version/KestroFTP-Client.txt"), published);
        startup::UpdateCheck check({QStringLiteral("http://127.0.0.1:%1").arg(web.port()),
                                    machine.clientDataFolder(),
                                    QStringLiteral("KestroFTP-Client"),
                                    {1, 0, 41}});
        QSignalSpy offers(&check, &startup::UpdateCheck::updateOffered);
        QSignalSpy done(&check, &startup::UpdateCheck::finished);
        check.start();
        EXPECT_TRUE(done.wait(10000));
        EXPECT_EQ(
            readFile(machine.clientDataFolder() + QStringLiteral("/KestroFTP-Client-update.txt")),
            published);
        return offers.count() == 1;
    }
    TestMachine machine;
    PeerProcess web;
};

TEST_F(ClientUpdateCheck, OffersOnlyNewerVersions) {
    EXPECT_FALSE(offered("1.0.41\n"));
    EXPECT_TRUE(offered("1.1.0\n"));
    EXPECT_FALSE(offered("0.9.50\n"));
    EXPECT_TRUE(offered("1.0.42\r\nNeu: schnellere Uebertragung\r\n"));
    EXPECT_FALSE(offered(QByteArray(100000, '9') + "\n"));
    EXPECT_FALSE(offered("abc\n"));
}

TEST_F(ClientUpdateCheck, NoVersionFileEndsQuietly) {
    startup::UpdateCheck check({QStringLiteral("http://127.0.0.1:%1").arg(web.port()),
                                machine.clientDataFolder(),
                                QStringLiteral("KestroFTP-Client"),
                                {1, 0, 41}});
    QSignalSpy done(&check, &startup::UpdateCheck::finished);
    check.start();
    ASSERT_TRUE(done.wait(10000));
    EXPECT_FALSE(done.at(0).at(0).toBool());
}

// Behind a mandatory proxy the version file comes through the proxy with its login, as
// the catalogue does; a password with "@" and "/" still names the maker's host.
TEST_F(ClientUpdateCheck, GoesThroughTheProxyWithItsLogin) {
    machine.writeFile(QStringLiteral("www/AutoUpdate/Version/KestroFTP-Client.txt"), "1.0.42\n");
    const QString log = machine.path(QStringLiteral("requests.log"));
    PeerProcess logged;
    ASSERT_TRUE(logged.startFixture(QStringLiteral("httpserver.py"),
                                    {QStringLiteral("--root"), machine.path(QStringLiteral("www")),
                                     QStringLiteral("--log"), log}));
    test::TinyProxy proxy;
    ASSERT_TRUE(proxy.start(machine.root(), QStringLiteral("anna"), QStringLiteral("geheim1")))
        << "tinyproxy (Debian package tinyproxy-bin) is needed";
    auto offered = [&](const QString& proxyHost, const QString& password) {
        startup::UpdateCheck::Config config{
            QStringLiteral("http://127.0.0.1:%1").arg(logged.port()),
            machine.clientDataFolder(),
            QStringLiteral("KestroFTP-Client"),
            {1, 0, 41}};
        config.proxy.useProxy = true;
        config.proxy.httpProxy = proxyHost;
        config.proxy.httpProxyPort = QString::number(proxy.port());
        config.proxy.user = QStringLiteral("anna");
        config.proxy.password = password;
        startup::UpdateCheck update(config);
        QSignalSpy done(&update, &startup::UpdateCheck::finished);
        update.start();
        EXPECT_TRUE(done.wait(20000));
        return !done.isEmpty() && done.at(0).at(0).toBool();
    };
    const QString viaProxy = QStringLiteral("127.0.0.1");
    EXPECT_FALSE(offered(viaProxy, QStringLiteral("falsch"))) << "the proxy refuses a wrong login";
    EXPECT_TRUE(readFile(log).isEmpty()) << "nothing went past the proxy";
    EXPECT_TRUE(offered(viaProxy, QStringLiteral("geheim1")));
    EXPECT_TRUE(readFile(log).contains("GET /AutoUpdate/Version/KestroFTP-Client.txt"));
    // Without a proxy host the login only goes into the address, encoded.
    EXPECT_TRUE(offered(QString(), QStringLiteral("p@ss/w:rd")));
}

TEST(ClientUpdateQuestion, AsksWithoutIcon) {
    ScriptedPrompter prompter;
    prompter.answers = {true, false};
    EXPECT_TRUE(startup::confirmUpdate(prompter));
    EXPECT_FALSE(startup::confirmUpdate(prompter));
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[0].kind, ScriptedPrompter::Shown::Kind::Question);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("Update installieren ?"));
    EXPECT_EQ(prompter.shown[0].title, QStringLiteral("Es ist ein Update verfügbar !"));
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::None);
}

TEST(ClientServiceMessages, UndeliveredUpdateRequestIsShownOnce) {
    TestMachine machine; // no Vellmon runs here
    startup::PipeUpdater updater;
    ScriptedPrompter prompter;
    EXPECT_FALSE(startup::requestUpdate(updater, prompter, QStringLiteral("KestroFTP-Client"),
                                        QStringLiteral("/opt/kestro"), QStringLiteral("1.0.41")));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              QStringLiteral("Es konnte nicht in den Mailslot geschrieben werden!"));
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Critical);
}

} // namespace
