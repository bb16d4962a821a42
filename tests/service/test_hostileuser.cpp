// Vellmon runs as root and every local user reaches its pipe. Here the user "nobody"
// attacks it the way a hostile colleague would, with a script and a web server of its
// own; each test shows that nothing happened and that Vellmon logged its refusal.
#include "common/servicemessage.h"
#include "piperpc/clientpresencefiles.h"
#include "piperpc/piperpc.h"
#include "service/registrywriter.h"
#include "vellmonharness.h"

#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kestro;
using namespace kestro::test;

namespace {

const QString kClientKey = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");

QString call(const QString& text) {
    PipeRpc pipe;
    pipe.setPipeName(QStringLiteral("Vellmon"));
    QByteArray response(200, '\0');
    return pipe.pipeCall(toUtf16Le(text), response) == 0 ? fromUtf16Le(response) : QString();
}

qint64 peakMemoryKb(qint64 pid) {
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

class HostileUser : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        if (!canPlayNobody())
            GTEST_SKIP() << "needs root to play the local user nobody";
        home = nobodyHome();
        ASSERT_FALSE(home.isEmpty());
        // Whatever program runs marks where it ran and as whom: the maker's installer
        // as well as the one on the attacker's server.
        const QByteArray mark =
            "#!/bin/sh\nid -u > " + machine.path(QStringLiteral("owned")).toUtf8() + "\n";
        machine.writeFile(QStringLiteral("www/files/Update.exe"), mark);
        machine.writeFile(QStringLiteral("evil/evil.sh"), mark);
        ASSERT_TRUE(
            maker.startFixture(QStringLiteral("httpserver.py"),
                               {QStringLiteral("--root"), machine.path(QStringLiteral("www"))}));
        ASSERT_TRUE(attackerWeb.startFixture(
            QStringLiteral("httpserver.py"),
            {QStringLiteral("--root"), machine.path(QStringLiteral("evil")),
             QStringLiteral("--log"), machine.path(QStringLiteral("evil.log"))}));
        // The maker offers a newer client.
        machine.writeFile(QStringLiteral("www/AutoUpdate/Version/KestroFTP-Client.txt"),
                          QStringLiteral("9.9.9\nhttp://127.0.0.1:%1/files/Update.exe")
                              .arg(maker.port())
                              .toUtf8());
        writeConfig(QStringLiteral("http://127.0.0.1:%1").arg(maker.port()), config);
        ASSERT_TRUE(startVellmon());
    }
    QString evilUrl() const {
        return QStringLiteral("http://127.0.0.1:%1/evil.sh").arg(attackerWeb.port());
    }
    QByteArray requestUpdate(const QString& product = QStringLiteral("KestroFTP-Client")) {
        return sendAsNobody(QStringLiteral("searchingUpdate|") + product + QLatin1Char('|') + home +
                            QStringLiteral("|1.0.0"));
    }
    // Nothing the attacker set up ran, and its server was never asked for its program.
    void expectNothingRan() {
        QThread::msleep(500);
        EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("owned"))));
        EXPECT_FALSE(readFile(machine.path(QStringLiteral("evil.log"))).contains("evil.sh"));
    }

    QByteArray config;
    QString home;
    PeerProcess maker;
    PeerProcess attackerWeb;
};

TEST_F(HostileUser, PlantedVersionCopyRunsNothingAsRoot) {
    // The maker's server does not answer for this product; a planted copy would be read.
    QFile::remove(machine.path(QStringLiteral("www/AutoUpdate/Version/KestroFTP-Client.txt")));
    shellAsNobody(
        QStringLiteral("printf '9.9.9\\n%1' > KestroFTP-Client-update.txt").arg(evilUrl()));
    EXPECT_TRUE(requestUpdate().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("update request refused")));
    expectNothingRan();
}

TEST_F(HostileUser, PlantedLinksOverwriteNoRootFile) {
    const QStringList planted{QStringLiteral("update.ini"),
                              QStringLiteral("KestroFTP-Client-update.txt"),
                              QStringLiteral("Update.exe")};
    QString script;
    for (const QString& name : planted) {
        const QString victim = machine.writeFile(QStringLiteral("root-") + name, "keep\n");
        script += QStringLiteral("ln -s %1 %2; ").arg(victim, name);
    }
    shellAsNobody(script);
    EXPECT_TRUE(requestUpdate().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("update request refused")));
    expectNothingRan();
    for (const QString& name : planted)
        EXPECT_EQ(readFile(machine.path(QStringLiteral("root-") + name)), QByteArray("keep\n"))
            << name.toStdString();
}

TEST_F(HostileUser, FifoStallsNeitherTheSearchNorTheStop) {
    shellAsNobody(QStringLiteral("mkfifo update.ini KestroFTP-Client-update.txt"));
    EXPECT_TRUE(requestUpdate().startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("update request refused")));
    EXPECT_EQ(call(QStringLiteral("klong|")), QStringLiteral("True"));
    vellmon.process().terminate();
    EXPECT_TRUE(vellmon.process().waitForFinished(5000));
    expectNothingRan();
}

TEST_F(HostileUser, ForeignProductClosesNoClient) {
    PeerProcess editor; // another user's program that registers like a client
    ASSERT_TRUE(editor.start(builtProgram(QStringLiteral("tests/service/presence_client")),
                             {QStringLiteral("Texteditor - Brief.txt"),
                              machine.path(QStringLiteral("editor-unloaded"))}));
    shellAsNobody(QStringLiteral("printf '9.9.9\\n%1' > Texteditor-update.txt").arg(evilUrl()));
    EXPECT_TRUE(requestUpdate(QStringLiteral("Texteditor")).startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("product not named")));
    QThread::msleep(500);
    EXPECT_EQ(editor.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("editor-unloaded"))));
    expectNothingRan();
}

TEST_F(HostileUser, SettingsCannotBeWipedOrPadded) {
    ASSERT_EQ(call(QStringLiteral("KeySchreiben|Databank|/srv/kestro/jobs.db|") + kClientKey),
              QStringLiteral("True"));
    ASSERT_TRUE(eventually([&] { return settingValue(QStringLiteral("Databank")).has_value(); }));
    const QString longValue(service::RegistryWriter::kMaxValueLength + 1, QLatin1Char('x'));
    for (const QString& message :
         {QStringLiteral("KeySchreiben|Fuellsel1|") + longValue + QLatin1Char('|') + kClientKey,
          QStringLiteral("KeySchreiben|PW|") + longValue + QLatin1Char('|') + kClientKey,
          QStringLiteral("KeySchreiben|Databank|x|") + kClientKey + QStringLiteral("\\Neu"),
          QStringLiteral("KeySchreiben|Fuellsel2|x|") + kClientKey})
        EXPECT_TRUE(sendAsNobody(message).startsWith("RESULT 0 True"));
    // A later honest write has been carried out after all of them.
    ASSERT_EQ(call(QStringLiteral("KeySchreiben|FolderDir|/home|") + kClientKey),
              QStringLiteral("True"));
    ASSERT_TRUE(eventually([&] { return settingValue(QStringLiteral("FolderDir")).has_value(); }));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("not a setting of the client")));
    EXPECT_TRUE(vellmonLogged(QStringLiteral("value longer than")));
    const QByteArray hive =
        readFile(machine.registryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.json"));
    EXPECT_FALSE(hive.contains("Fuellsel"));
    EXPECT_FALSE(hive.contains("xxxx"));
    EXPECT_FALSE(hive.contains("Neu"));
    EXPECT_EQ(settingValue(QStringLiteral("Databank")), QStringLiteral("/srv/kestro/jobs.db"));
}

TEST_F(HostileUser, FakedLogLinesStayInsideTheirLine) {
    const QString fake = QStringLiteral("kestro.vellmon: shutdown armed: 1 ms");
    sendAsNobody(QStringLiteral("KeySchreiben|X\n") + fake + QStringLiteral("|1|Software\\Evil"));
    sendAsNobody(QStringLiteral("searchingUpdate|KestroFTP-Client|/nicht/da\n") + fake +
                 QStringLiteral("|1.0.0"));
    ASSERT_TRUE(vellmonLogged(QStringLiteral("registry write refused")));
    ASSERT_TRUE(vellmonLogged(QStringLiteral("update request dropped")));
    for (const QString& line : vellmon.output().split(QLatin1Char('\n')))
        EXPECT_FALSE(line.startsWith(fake)) << line.toStdString();
    EXPECT_TRUE(vellmon.output().contains(QStringLiteral("\\n") + fake));
}

TEST_F(HostileUser, TwoBusyConnectionsLockNobodyOut) {
    QProcess holders[2];
    for (QProcess& holder : holders) {
        holder.setWorkingDirectory(home);
        holder.start(QStringLiteral("/usr/bin/setpriv"),
                     {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"),
                      builtProgram(QStringLiteral("tests/service/pipe_send")),
                      QStringLiteral("--hold"), QStringLiteral("6"), QStringLiteral("800")});
        QThread::msleep(200);
    }
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        QThread::msleep(400);
        answered += call(QStringLiteral("klong|")) == QStringLiteral("True") ? 1 : 0;
    }
    EXPECT_EQ(answered, 10);
    // Neither connection was allowed to stay for the six seconds.
    for (QProcess& holder : holders) {
        ASSERT_TRUE(holder.waitForFinished(15000));
        const QList<QByteArray> result = holder.readAllStandardOutput().trimmed().split(' ');
        EXPECT_GT(result.value(2).toInt(), 0) << result.join(' ').toStdString();
    }
    EXPECT_TRUE(vellmonLogged(QStringLiteral("for the last free slot")));
}

TEST_F(HostileUser, ClientsFolderCannotBeFilled) {
    PeerProcess client; // a real client of another user keeps its entry
    ASSERT_TRUE(client.start(
        builtProgram(QStringLiteral("tests/service/presence_client")),
        {QStringLiteral("KestroFTP-Client"), machine.path(QStringLiteral("client-unloaded"))}));
    const QString clients = machine.runtimeFolder() + QStringLiteral("/clients");
    const QString ownEntry = presence::entryFile(pid_t(client.process().processId()));
    ASSERT_TRUE(QFile::exists(ownEntry));
    vellmon.stop();
    // In its own folder thirty processes of its own with an entry each, entries for
    // processes that are not its own, a large file; beside the users' folders a file, a
    // folder and a folder named for another user.
    const QString pids = home + QStringLiteral("/pids");
    shellAsNobody(QStringLiteral("cd %1 && head -c 1000000 /dev/zero > fill.dat; mkdir sub; "
                                 "head -c 1000000 /dev/zero > sub/fill.dat; echo 1 > 1.client; "
                                 "mkdir 4242; mkdir -p 65534 && cd 65534 && "
                                 "for i in $(seq 30); do sleep 20 & "
                                 "echo \"$!\" > \"$!.client\"; echo $! >> %3; done; "
                                 "echo 1 > 1.client; echo x > %2.sock; "
                                 "head -c 1000000 /dev/zero > fill.dat")
                      .arg(clients)
                      .arg(client.process().processId())
                      .arg(pids));
    ASSERT_TRUE(QFile::exists(clients + QStringLiteral("/fill.dat")));
    ASSERT_TRUE(QFile::exists(clients + QStringLiteral("/65534/fill.dat")));
    ASSERT_TRUE(startVellmon());
    EXPECT_TRUE(vellmonLogged(QStringLiteral("entries from the clients folder")));
    EXPECT_TRUE(QFile::exists(ownEntry));
    const auto entries = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                      QDir::NoDotAndDotDot);
    };
    for (const QString& name : entries(clients))
        EXPECT_EQ(name, QString::number(QFileInfo(clients + QLatin1Char('/') + name).ownerId()));
    const QStringList left = entries(clients + QStringLiteral("/65534"));
    EXPECT_FALSE(left.contains(QStringLiteral("fill.dat")));
    EXPECT_FALSE(left.contains(QStringLiteral("1.client")));
    EXPECT_LE(left.size(), presence::kMaxEntriesPerUser) << left.join(' ').toStdString();
    for (const QByteArray& pid : readFile(pids).split('\n'))
        if (pid.toInt() > 0)
            ::kill(pid_t(pid.toInt()), SIGKILL);
}

// Any folder that only root may change passes the folder check, a system folder holding
// no client at all included (/etc/logrotate.d, /etc/cron.d, "/" itself), and the version
// the caller claims is believed. So any local user can make root drop the maker's files
// into system folders, close another user's running client and run the installer as root
// whenever it likes, as often as it likes.
TEST_F(HostileUser, FolderWithoutAClientGetsNoUpdateAndClosesNoClient) {
    const QString systemFolder = trustedFolder(); // stands in for /etc/logrotate.d
    PeerProcess victim; // root's client, up to date, with a job being composed
    ASSERT_TRUE(victim.start(
        builtProgram(QStringLiteral("tests/service/presence_client")),
        {QStringLiteral("KestroFTP-Client"), machine.path(QStringLiteral("victim-unloaded"))}));
    EXPECT_TRUE(sendAsNobody(QStringLiteral("searchingUpdate|KestroFTP-Client|") + systemFolder +
                             QStringLiteral("|0.0.0"))
                    .startsWith("RESULT 0 True"));
    // Given time to carry the search out to its end, were it taken.
    eventually([&] { return QFile::exists(machine.path(QStringLiteral("owned"))); }, 8000);
    QThread::msleep(300);
    EXPECT_EQ(QDir(systemFolder)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .join(' ')
                  .toStdString(),
              "");
    EXPECT_EQ(victim.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("victim-unloaded"))));
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("owned"))))
        << "the installer ran as uid "
        << readFile(machine.path(QStringLiteral("owned"))).trimmed().toStdString();
}

// The tidy-up of the clients folder gives up below a depth of 16 folders, so a tree one
// level deeper stays in /run for good, with whatever it holds: any user fills the
// machine's memory-backed /run once, and it stays full across Vellmon's restarts.
TEST_F(HostileUser, DeepFolderTreeDoesNotStayInTheClientsFolder) {
    const QString clients = machine.runtimeFolder() + QStringLiteral("/clients");
    vellmon.stop();
    shellAsNobody(QStringLiteral("cd %1 && p=deep; for i in $(seq 100); do p=$p/d; done; "
                                 "mkdir -p $p && head -c 4000000 /dev/zero > $p/fill.dat")
                      .arg(clients));
    const QString bottom = clients + QStringLiteral("/deep") + QStringLiteral("/d").repeated(100) +
                           QStringLiteral("/fill.dat");
    ASSERT_TRUE(QFile::exists(bottom));
    ASSERT_TRUE(startVellmon());
    EXPECT_TRUE(vellmonLogged(QStringLiteral("clients folder")));
    QThread::msleep(500);
    EXPECT_FALSE(QFile::exists(bottom)) << "4 MB of nobody's stay in /run";
    EXPECT_FALSE(QFile::exists(clients + QStringLiteral("/deep")));
}

// Every user shares one world-writable, sticky clients folder, and an entry's name is
// only its pid. Pids come in order, so a user who takes the names of the next few
// thousand pids beforehand keeps any other user's client from registering: Vellmon can
// then never ask that client to close, and an installer replaces it while it runs.
TEST_F(HostileUser, TakenPidNamesKeepNoOtherClientFromRegistering) {
    // The colleague has called the service before (or is one of the machine's users).
    QProcess call;
    call.start(builtProgram(QStringLiteral("tests/service/pipe_send")),
               {QStringLiteral("--as-user"), QStringLiteral("1000"), QStringLiteral("klong|")});
    ASSERT_TRUE(call.waitForFinished(10000));
    EXPECT_TRUE(call.readAllStandardOutput().startsWith("RESULT 0 True"));
    vellmon.stop(); // its tidy-up every few seconds only narrows the window
    const QString clients = machine.runtimeFolder() + QStringLiteral("/clients");
    // The names of the shared folder, the colleague's folder and the names in it.
    const QString squat =
        machine.writeFile(QStringLiteral("squat.py"),
                          "import os, sys\n"
                          "last = int(open('/proc/sys/kernel/ns_last_pid').read())\n"
                          "for folder in (sys.argv[1] + '/1000', sys.argv[1]):\n"
                          "    try:\n"
                          "        os.mkdir(folder)\n"
                          "    except OSError:\n"
                          "        pass\n"
                          "    for pid in range(last + 1, last + 3000):\n"
                          "        for kind in ('client', 'sock'):\n"
                          "            try:\n"
                          "                open('%s/%d.%s' % (folder, pid, kind), 'w').close()\n"
                          "            except OSError:\n"
                          "                pass\n");
    QFile::setPermissions(squat, QFile::permissions(squat) | QFile::ReadOther);
    runAsNobody(QStringLiteral("/usr/bin/python3"), {squat, clients});
    ASSERT_GT(QDir(clients).entryList(QDir::Files).size(), 1000);
    PeerProcess colleague; // another user's client starting up
    ASSERT_TRUE(colleague.start(QStringLiteral("/usr/bin/setpriv"),
                                {QStringLiteral("--reuid=1000"), QStringLiteral("--regid=1000"),
                                 QStringLiteral("--clear-groups"),
                                 builtProgram(QStringLiteral("tests/service/presence_client")),
                                 QStringLiteral("KestroFTP-Client"),
                                 QStringLiteral("/nonexistent/unloaded")},
                                5000))
        << "the client could not register: " << colleague.output().toStdString();
    EXPECT_EQ(QFileInfo(presence::entryFile(pid_t(colleague.process().processId()))).ownerId(),
              1000u);
}

class HostileFlood : public HostileUser {
protected:
    void SetUp() override {
        config = "[Service]\nRegistryWriteAllow=Software\\Varnholt\\KestroFTP\\Client;"
                 "Software\\Varnholt\\Extra\n";
        HostileUser::SetUp();
    }
};

TEST_F(HostileFlood, WritesCannotGrowTheServiceWithoutBound) {
    const qint64 before = peakMemoryKb(vellmon.process().processId());
    // 6,000 writes of 20 KB, each to a value of its own.
    QProcess flooder;
    flooder.setWorkingDirectory(home);
    flooder.start(QStringLiteral("/usr/bin/setpriv"),
                  {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   QStringLiteral("--clear-groups"),
                   builtProgram(QStringLiteral("tests/service/pipe_send")),
                   QStringLiteral("--flood"), QStringLiteral("6000"), QStringLiteral("9900"),
                   QStringLiteral("Software\\Varnholt\\Extra")});
    // Vellmon logs every refusal; its log is read meanwhile, as the journal would.
    ASSERT_TRUE(eventually(
        [&] {
            vellmon.process().waitForReadyRead(0);
            vellmon.output();
            return flooder.waitForFinished(20);
        },
        120000));
    EXPECT_TRUE(flooder.readAllStandardOutput().startsWith("RESULT "));
    const qint64 after = peakMemoryKb(vellmon.process().processId());
    EXPECT_LT(after - before, 64 * 1024) << before << " kB before, " << after << " kB after";
    EXPECT_EQ(call(QStringLiteral("klong|")), QStringLiteral("True"));
}

} // namespace
