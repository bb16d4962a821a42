// Vellmon runs as root and every local user reaches its pipe. Here the user "nobody"
// attacks it the way a hostile colleague would, with a script and a web server of its
// own; each test shows that nothing happened and that Vellmon logged its refusal.
#include "piperpc/clientpresencefiles.h"
#include "service/registrywriter.h"
#include "vellmonharness.h"

#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::test;
using namespace Qt::StringLiterals;

namespace {

const QString kClientKey = u"Software\\Varnholt\\KestroFTP\\Client"_s;

class HostileUser : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        if (!canPlayNobody())
            GTEST_SKIP() << "needs root to play the local user nobody";
        home = nobodyHome();
        ASSERT_FALSE(home.isEmpty());
        // Whatever program runs marks where it ran and as whom: the maker's installer
        // as well as the one on the attacker's server.
        const QByteArray mark = "#!/bin/sh\nid -u > " + machine.path(u"owned"_s).toUtf8() + "\n";
        machine.writeFile(u"www/files/Update.exe"_s, mark);
        machine.writeFile(u"evil/evil.sh"_s, mark);
        ASSERT_TRUE(maker.startFixture(u"httpserver.py"_s, {u"--root"_s, machine.path(u"www"_s)}));
        ASSERT_TRUE(attackerWeb.startFixture(
            u"httpserver.py"_s,
            {u"--root"_s, machine.path(u"evil"_s), u"--log"_s, machine.path(u"evil.log"_s)}));
        // The maker offers a newer client.
        machine.writeFile(
            u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s,
            u"9.9.9\nhttp://127.0.0.1:%1/files/Update.exe"_s.arg(maker.port()).toUtf8());
        writeConfig(u"http://127.0.0.1:%1"_s.arg(maker.port()));
        ASSERT_TRUE(startVellmon());
    }
    QString evilUrl() const { return u"http://127.0.0.1:%1/evil.sh"_s.arg(attackerWeb.port()); }
    QString home;
    PeerProcess maker;
    PeerProcess attackerWeb;
};

// An update request of nobody's that Vellmon must refuse.
struct Attack {
    const char* name;
    const char* plant; // shell run as nobody in its home; EVIL: the attacker's program's
                       // address, ROOT: the machine's folder, where root's files lie
    const char* product;
    bool systemFolder; // asks for a folder of root's that holds no client, not its home
    const char* version;
    const char* refusal;      // what Vellmon logs
    int settleMs;             // what a search would need to run an installer, were it taken
    bool makerSilent = false; // the maker's server offers no version file
};
void PrintTo(const Attack& attack, std::ostream* out) {
    *out << attack.name;
}

const Attack kAttacks[] = {
    // The maker's server does not answer for this product; a planted copy would be read.
    {"PlantedVersionCopy", "printf '9.9.9\\nEVIL' > KestroFTP-Client-update.txt",
     "KestroFTP-Client", false, "1.0.0", "update request refused", 500, true},
    // Root would write the version copy, hint and installer through links to its own files.
    {"PlantedLinks",
     "for f in update.ini KestroFTP-Client-update.txt Update.exe; do "
     "ln -s ROOT/root-$f $f; done",
     "KestroFTP-Client", false, "1.0.0", "update request refused", 500},
    // FIFOs would stall the search, and with it the service's stop.
    {"Fifo", "mkfifo update.ini KestroFTP-Client-update.txt", "KestroFTP-Client", false, "1.0.0",
     "update request refused", 500},
    // Another program registers like a client: its window would be closed, the "installer" run.
    {"ForeignProduct", "printf '9.9.9\\nEVIL' > Texteditor-update.txt", "Texteditor", false,
     "1.0.0", "product not named", 500},
    // Any folder only root may change once passed, a system folder holding no client included
    // (/etc/logrotate.d, "/"), and the claimed version was believed: any local user could make
    // root drop the maker's files into system folders, close another user's client and run
    // the installer as root as often as it liked.
    {"FolderWithoutAClient", "", "KestroFTP-Client", true, "0.0.0", "update request refused",
     8000}};

class HostileUpdateRequest : public HostileUser, public ::testing::WithParamInterface<Attack> {};

TEST_P(HostileUpdateRequest, RunsNothingChangesNothingAndClosesNoClient) {
    const Attack& attack = GetParam();
    const QStringList victims{u"update.ini"_s, u"KestroFTP-Client-update.txt"_s, u"Update.exe"_s};
    for (const QString& name : victims)
        machine.writeFile(u"root-"_s + name, "keep\n");
    if (attack.makerSilent)
        QFile::remove(machine.path(u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s));
    shellAsNobody(QString::fromUtf8(attack.plant)
                      .replace(u"EVIL"_s, evilUrl())
                      .replace(u"ROOT"_s, machine.root()));
    const QString folder = attack.systemFolder ? trustedFolder() : home;
    const auto entries = [&] {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot);
    };
    const QStringList before = entries();
    PeerProcess client; // another user's window of the product, with work in it
    const QString product = QString::fromLatin1(attack.product);
    const QString unloaded = machine.path(u"client-unloaded"_s);
    ASSERT_TRUE(startClient(client, product + u" - Brief.txt"_s, unloaded));
    EXPECT_TRUE(sendAsNobody(u"searchingUpdate|%1|%2|%3"_s.arg(product, folder, attack.version))
                    .startsWith("RESULT 0 True"));
    EXPECT_TRUE(vellmonLogged(QString::fromLatin1(attack.refusal)));
    const QString owned = machine.path(u"owned"_s);
    eventually([&] { return QFile::exists(owned); }, attack.settleMs);
    EXPECT_FALSE(QFile::exists(owned)) << "ran as uid " << readFile(owned).toStdString();
    EXPECT_FALSE(readFile(machine.path(u"evil.log"_s)).contains("evil.sh"));
    EXPECT_EQ(entries(), before);
    for (const QString& name : victims)
        EXPECT_EQ(readFile(machine.path(u"root-"_s + name)), QByteArray("keep\n"))
            << name.toStdString();
    EXPECT_EQ(client.process().state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(unloaded));
    // The service still answers, and stops at once.
    EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s);
    vellmon.process().terminate();
    EXPECT_TRUE(vellmon.process().waitForFinished(5000));
}

INSTANTIATE_TEST_SUITE_P(, HostileUpdateRequest, ::testing::ValuesIn(kAttacks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileUser, SettingsCannotBeWipedOrPadded) {
    ASSERT_EQ(callVellmon(u"KeySchreiben|Databank|/srv/kestro/jobs.db|"_s + kClientKey), u"True"_s);
    ASSERT_TRUE(settles(u"Databank"_s, u"/srv/kestro/jobs.db"_s));
    const QString longValue(service::RegistryWriter::kMaxValueLength + 1, u'x');
    for (const QString& message : {u"KeySchreiben|Fuellsel1|%1|%2"_s.arg(longValue, kClientKey),
                                   u"KeySchreiben|PW|%1|%2"_s.arg(longValue, kClientKey),
                                   u"KeySchreiben|Databank|x|%1\\Neu"_s.arg(kClientKey),
                                   u"KeySchreiben|Fuellsel2|x|"_s + kClientKey})
        EXPECT_TRUE(sendAsNobody(message).startsWith("RESULT 0 True"));
    // A later honest write has been carried out after all of them.
    ASSERT_EQ(callVellmon(u"KeySchreiben|FolderDir|/home|"_s + kClientKey), u"True"_s);
    ASSERT_TRUE(settles(u"FolderDir"_s, u"/home"_s));
    EXPECT_TRUE(vellmonLogged(u"not a setting of the client"_s));
    EXPECT_TRUE(vellmonLogged(u"value longer than"_s));
    const QByteArray hive = readFile(machine.registryFolder() + u"/HKEY_LOCAL_MACHINE.json"_s);
    for (const char* planted : {"Fuellsel", "xxxx", "Neu"})
        EXPECT_FALSE(hive.contains(planted)) << planted;
    EXPECT_EQ(settingValue(u"Databank"_s), u"/srv/kestro/jobs.db"_s);
}

TEST_F(HostileUser, FakedLogLinesStayInsideTheirLine) {
    const QString fake = u"kestro.vellmon: shutdown armed: 1 ms"_s;
    sendAsNobody(u"KeySchreiben|X\n%1|1|Software\\Evil"_s.arg(fake));
    sendAsNobody(u"searchingUpdate|KestroFTP-Client|/nicht/da\n%1|1.0.0"_s.arg(fake));
    ASSERT_TRUE(vellmonLogged(u"registry write refused"_s));
    ASSERT_TRUE(vellmonLogged(u"update request dropped"_s));
    for (const QString& line : vellmon.output().split(u'\n'))
        EXPECT_FALSE(line.startsWith(fake)) << line.toStdString();
    EXPECT_TRUE(vellmon.output().contains(u"\\n"_s + fake));
}

TEST_F(HostileUser, TwoBusyConnectionsLockNobodyOut) {
    QProcess holders[2];
    for (QProcess& holder : holders) {
        startAs(holder, builtProgram(u"tests/service/pipe_send"_s),
                {u"--hold"_s, u"6"_s, u"800"_s});
        QThread::msleep(200);
    }
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        QThread::msleep(400);
        answered += callVellmon(u"klong|"_s) == u"True"_s ? 1 : 0;
    }
    EXPECT_EQ(answered, 10);
    // Neither connection was allowed to stay for the six seconds.
    for (QProcess& holder : holders) {
        ASSERT_TRUE(holder.waitForFinished(15000));
        const QList<QByteArray> result = holder.readAllStandardOutput().trimmed().split(' ');
        EXPECT_GT(result.value(2).toInt(), 0) << result.join(' ').toStdString();
    }
    EXPECT_TRUE(vellmonLogged(u"for the last free slot"_s));
}

// Nobody fills the memory-backed /run for good: the tidy-up at start keeps every user's
// folder small and removes what is not a user's folder, a tree of any depth included (it
// once gave up below 16 levels, so a deeper tree stayed across Vellmon's restarts).
TEST_F(HostileUser, ClientsFolderCannotBeFilled) {
    PeerProcess client; // a real client of another user keeps its entry
    ASSERT_TRUE(startClient(client, u"KestroFTP-Client"_s, machine.path(u"client-unloaded"_s)));
    const QString clients = clientsFolder();
    const QString ownEntry = presence::entryFile(pid_t(client.process().processId()));
    ASSERT_TRUE(QFile::exists(ownEntry));
    vellmon.stop();
    // In its own folder thirty processes of its own with an entry each, entries for
    // processes that are not its own, a large file; beside the users' folders a file, a
    // folder, a folder named for another user and a tree 100 folders deep.
    const QString pids = home + u"/pids"_s;
    shellAsNobody(
        u"cd %1 && head -c 1000000 /dev/zero > fill.dat; mkdir sub; "
        "head -c 1000000 /dev/zero > sub/fill.dat; echo 1 > 1.client; mkdir 4242; "
        "p=deep; for i in $(seq 100); do p=$p/d; done; "
        "mkdir -p $p && head -c 4000000 /dev/zero > $p/fill.dat; "
        "mkdir -p 65534 && cd 65534 && "
        "for i in $(seq 30); do sleep 20 & echo \"$!\" > \"$!.client\"; echo $! >> %3; "
        "done; echo 1 > 1.client; echo x > %2.sock; head -c 1000000 /dev/zero > fill.dat"_s
            .arg(clients)
            .arg(client.process().processId())
            .arg(pids));
    const QString bottom = clients + u"/deep"_s + u"/d"_s.repeated(100) + u"/fill.dat"_s;
    for (const QString& planted :
         {clients + u"/fill.dat"_s, clients + u"/65534/fill.dat"_s, bottom})
        ASSERT_TRUE(QFile::exists(planted)) << planted.toStdString();
    ASSERT_TRUE(startVellmon());
    EXPECT_TRUE(vellmonLogged(u"entries from the clients folder"_s));
    QThread::msleep(500);
    EXPECT_TRUE(QFile::exists(ownEntry));
    EXPECT_FALSE(QFile::exists(bottom)) << "4 MB of nobody's stay in /run";
    const auto entries = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                      QDir::NoDotAndDotDot);
    };
    for (const QString& name : entries(clients)) // "deep" among them, were it left
        EXPECT_EQ(name, QString::number(QFileInfo(clients + u'/' + name).ownerId()));
    const QStringList left = entries(clients + u"/65534"_s);
    EXPECT_FALSE(left.contains(u"fill.dat"_s));
    EXPECT_FALSE(left.contains(u"1.client"_s));
    EXPECT_LE(left.size(), presence::kMaxEntriesPerUser) << left.join(' ').toStdString();
    for (const QByteArray& pid : readFile(pids).split('\n'))
        if (pid.toInt() > 0)
            ::kill(pid_t(pid.toInt()), SIGKILL);
}

// All users once shared one clients folder with entries named by pid only: a user who took
// the names of the next few thousand pids kept any other user's client from registering,
// so Vellmon could never ask it to close and an installer replaced it while it ran.
TEST_F(HostileUser, TakenPidNamesKeepNoOtherClientFromRegistering) {
    // The colleague has called the service before (or is one of the machine's users).
    EXPECT_TRUE(sendAs({u"klong|"_s}, 1000).startsWith("RESULT 0 True"));
    vellmon.stop(); // its tidy-up every few seconds only narrows the window
    // The names of the shared folder, the colleague's folder and the names in it.
    const QString squat = machine.writeFile(u"squat.py"_s, R"(import os, sys
last = int(open('/proc/sys/kernel/ns_last_pid').read())
for folder in (sys.argv[1] + '/1000', sys.argv[1]):
    try:
        os.mkdir(folder)
    except OSError:
        pass
    for pid in range(last + 1, last + 3000):
        for kind in ('client', 'sock'):
            try:
                open('%s/%d.%s' % (folder, pid, kind), 'w').close()
            except OSError:
                pass
)");
    QFile::setPermissions(squat, QFile::permissions(squat) | QFile::ReadOther);
    runAs(u"/usr/bin/python3"_s, {squat, clientsFolder()});
    ASSERT_GT(QDir(clientsFolder()).entryList(QDir::Files).size(), 1000);
    PeerProcess colleague; // another user's client starting up
    ASSERT_TRUE(colleague.start(u"/usr/bin/setpriv"_s,
                                {u"--reuid=1000"_s, u"--regid=1000"_s, u"--clear-groups"_s,
                                 builtProgram(u"tests/service/pipe_send"_s), u"--present"_s,
                                 u"KestroFTP-Client"_s, u"/nonexistent/unloaded"_s},
                                5000))
        << "the client could not register: " << colleague.output().toStdString();
    EXPECT_EQ(QFileInfo(presence::entryFile(pid_t(colleague.process().processId()))).ownerId(),
              1000u);
}

TEST_F(HostileUser, FloodedWritesCannotGrowTheServiceWithoutBound) {
    vellmon.stop();
    writeConfig(u"http://127.0.0.1:%1"_s.arg(maker.port()),
                "[Service]\nRegistryWriteAllow=Software\\Varnholt\\KestroFTP\\Client;"
                "Software\\Varnholt\\Extra\n");
    ASSERT_TRUE(startVellmon());
    const qint64 before = statusKb(vellmon.process().processId(), "VmHWM:");
    // 6,000 writes of 20 KB, each to a value of its own.
    QProcess flooder;
    startAs(flooder, builtProgram(u"tests/service/pipe_send"_s),
            {u"--flood"_s, u"6000"_s, u"9900"_s, u"Software\\Varnholt\\Extra"_s});
    ASSERT_TRUE(readingLogUntil([&] { return flooder.waitForFinished(20); }, 120000));
    EXPECT_TRUE(flooder.readAllStandardOutput().startsWith("RESULT "));
    const qint64 after = statusKb(vellmon.process().processId(), "VmHWM:");
    EXPECT_LT(after - before, 64 * 1024) << before << " kB before, " << after << " kB after";
    EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s);
}

} // namespace
