// Vellmon as a running service, called as the client calls it and as the hostile local user
// "nobody" would (setpriv): each attack shows that nothing happened and what Vellmon logged.
#include "client/startup/pipeupdater.h"
#include "piperpc/clientpresencefiles.h"
#include "piperpc/mailslot.h"
#include "service/registrywriter.h"
#include "support/programrun.h"
#include "vellmonharness.h"

#include <QRandomGenerator>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using namespace kestro;
using namespace kestro::test;
using namespace Qt::StringLiterals;

namespace {

const QString kClientKey = u"Software\\Varnholt\\KestroFTP\\Client"_s;
const QString kExtra = u"Software\\Varnholt\\Extra"_s;
const QString kMailslot = u"//./mailslot/Vellmon/AllVersion"_s;

class VellmonCommandLine : public ::testing::Test, public VellmonMachine {};

// Unknown switches are reported and the service runs anyway; -view adds the window; each
// run serves the pipe and ends cleanly on SIGTERM. -install/-uninstall write and remove the
// unit and say when they fail.
TEST_F(VellmonCommandLine, StartsWithAnySwitchAndInstallsAndUninstallsTheUnit) {
    machine.env().set("QT_QPA_PLATFORM", u"offscreen"_s);
    const std::pair<QStringList, bool> starts[] = {// the switches, whether one is unknown
                                                   {{u"-install"_s, u"-debug"_s}, true},
                                                   {{u"-INSTALL"_s}, true},
                                                   {{u"-view"_s}, false}};
    for (const auto& [args, unknown] : starts) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        PeerProcess service;
        ASSERT_TRUE(service.start(builtProgram(u"service/Vellmon"_s), args));
        EXPECT_EQ(service.output().contains(u"Unbekannter Kommandozeilenparameter"_s), unknown);
        for (const QString& m : {u"ShowForm|False||"_s, u"ShowForm|True||"_s, u"klong|"_s,
                                 u"KeySchreiben|KontoEM|%1|%2"_s.arg(args.first(), kClientKey)})
            EXPECT_EQ(callVellmon(m), u"True"_s) << m.toStdString();
        EXPECT_TRUE(settles(u"KontoEM"_s, args.first()));
        service.process().terminate();
        ASSERT_TRUE(service.process().waitForFinished(5000));
        EXPECT_EQ(service.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(service.process().exitCode(), 0);
    }
    const QString unit = machine.path(u"units/vellmon.service"_s);
    EXPECT_FALSE(QFile::exists(unit));
    const auto run = [](const QString& option, int exitCode, const QString& said) {
        const ProcessRun r = runProgram(builtProgram(u"service/Vellmon"_s), {option});
        EXPECT_EQ(r.exitCode, exitCode) << option.toStdString();
        EXPECT_EQ((r.out + r.err).contains(u"konnte"_s), !said.isEmpty()) << option.toStdString();
        EXPECT_TRUE((r.out + r.err).contains(said)) << option.toStdString();
    };
    run(u"-install"_s, 0, {});
    const QByteArray written = readFile(unit);
    for (const char* line :
         {"Description=UpdateManager Varnholt\n", "RuntimeDirectory=vellmon\n", "PrivateTmp=yes\n",
          "ProtectHome=read-only\n", "NoNewPrivileges=yes\n"})
        EXPECT_TRUE(written.contains(line)) << line;
    EXPECT_TRUE(written.contains("ExecStart=" + builtProgram(u"service/Vellmon"_s).toUtf8()));
    EXPECT_EQ(settingValue(u"TimerInterval"_s,
                           u"SYSTEM\\CurrentControlSet\\Services\\Vellmon\\Parameters"_s),
              u"1000"_s);
    run(u"-uninstall"_s, 0, {});
    EXPECT_FALSE(QFile::exists(unit));
    run(u"-uninstall"_s, 1, u"UpdateManager Varnholt konnte nicht deinstalliert werden."_s);
    QDir(machine.path(u"units"_s)).removeRecursively();
    machine.writeFile(u"units"_s, "a file where the folder should be");
    run(u"-install"_s, 1, u"UpdateManager Varnholt konnte nicht installiert werden."_s);
}

// The pipe and the mailslot as a deployment sets them up: the client's key, one more key and
// a file class may be written.
class VellmonChannel : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        writeConfig(u"http://127.0.0.1:9"_s,
                    "[Service]\nRegistryWriteAllow=" + (kClientKey + u';' + kExtra).toUtf8() +
                        "\nRegistryWriteAllowClasses=.kjob\n");
        ASSERT_TRUE(startVellmon());
    }
};

// Who sends a setting: the client program, a caller whose request is twice as wide (UTF-16
// of its UTF-16 bytes), the mailslot's owner, and the local user nobody by pipe and mailslot.
enum class By { Client, Pipe, Wide, Mailslot, Nobody, NobodysMailslot };
struct Write {
    By by;
    QString message;
    std::optional<QString> stored; // the value kept afterwards; nullopt: nothing of it is kept
};

// Only the allowed keys and their subkeys are written, whatever case or path tricks a key is
// spelt with, and below the client's key only the client's own settings of bounded length: no
// user can pad the store, wipe a setting or write where the mailslot's owner may not.
TEST_F(VellmonChannel, SettingsReachTheStoreOnlyWhereAllowed) {
    const QString longValue(service::RegistryWriter::kMaxValueLength + 1, u'x');
    const QString fake = u"kestro.vellmon: shutdown armed: 1 ms"_s;
    const auto keySchreiben = [](const QString& name, const QString& value, const QString& key) {
        return u"KeySchreiben|%1|%2|%3"_s.arg(name, value, key);
    };
    const Write writes[] = {
        {By::Client, keySchreibenMessage(u"Databank"_s, u"/srv/kestro/jobs.db"_s),
         u"/srv/kestro/jobs.db"_s},
        {By::Client, keySchreibenMessage(u"ProxyP"_s, u"|pa||ss|"_s), u"|pa||ss|"_s},
        {By::Client, keySchreibenMessage(u"Username"_s, u"Müller ☺"_s), u"Müller ?"_s},
        {By::Pipe, keySchreiben(u"Wert"_s, u"a|b"_s, kExtra + u"\\Tief"_s), u"a|b"_s},
        {By::Wide, keySchreiben(u"PopServer"_s, u"ja"_s, kClientKey), u"ja"_s},
        {By::Pipe, keySchreiben(u"W0"_s, u"v0."_s, u"SOFTWARE\\varnholt\\EXTRA"_s), u"v0."_s},
        {By::Pipe, keySchreiben(u"W1"_s, u"v1."_s, kExtra + u"\\Sub"_s), u"v1."_s},
        {By::Pipe, u"KeySchreibenClasses|W2|v2.|.kjob"_s, u"v2."_s},
        {By::Pipe, keySchreiben(u"W3"_s, u"v3."_s, kExtra + u"X"_s), {}},
        {By::Pipe, keySchreiben(u"W4"_s, u"v4."_s, u"Software\\Varnholt"_s), {}},
        {By::Pipe, keySchreiben(u"W5"_s, u"v5."_s, kExtra + u"\\"_s), {}},
        {By::Pipe, keySchreiben(u"W6"_s, u"v6."_s, kExtra + u"\\..\\X"_s), {}},
        {By::Pipe, keySchreiben(u"W7"_s, u"v7."_s, kClientKey + u"\\..\\..\\Other"_s), {}},
        {By::Pipe, keySchreiben(u"W8"_s, u"v8."_s, u"Software\\Microsoft\\Windows\\Run"_s), {}},
        // "W9" is no setting of the client.
        {By::Pipe, keySchreiben(u"W9"_s, u"v9."_s, kClientKey), {}},
        {By::Pipe, u"KeySchreibenClasses|W10|v10.|exefile\\shell\\open\\command"_s, {}},
        {By::Mailslot, keySchreiben(u"SMTPServer"_s, u"über"_s, kClientKey), u"über"_s},
        {By::Nobody, keySchreiben(u"Fuellsel1"_s, longValue, kClientKey), {}},
        {By::Nobody, keySchreiben(u"PW"_s, longValue, kClientKey), {}},
        {By::Nobody, keySchreiben(u"Databank"_s, u"wiped"_s, kClientKey + u"\\Neu"_s), {}},
        {By::Nobody, keySchreiben(u"Fuellsel2"_s, u"Polster"_s, kClientKey), {}},
        {By::Nobody, keySchreiben(u"X\n"_s + fake, u"gefaelscht"_s, u"Software\\Evil"_s), {}},
        {By::NobodysMailslot, keySchreiben(u"PW"_s, u"fremd1"_s, kClientKey), {}}};
    const auto skipped = [](const Write& row) { return row.by >= By::Nobody && !canPlayNobody(); };
    startup::PipeUpdater updater;
    for (const Write& row : writes) {
        SCOPED_TRACE(row.message.left(80).toStdString());
        if (skipped(row))
            continue;
        if (row.by == By::Client)
            EXPECT_TRUE(updater.send(row.message));
        else if (row.by == By::Pipe)
            EXPECT_EQ(callVellmon(row.message), u"True"_s);
        else if (row.by == By::Wide)
            EXPECT_EQ(callVellmon(toUtf16Le(QString::fromLatin1(toUtf16Le(row.message)))),
                      u"True"_s);
        else if (row.by == By::Mailslot)
            EXPECT_TRUE(mailSlotSend(row.message, kMailslot));
        else if (row.by == By::Nobody)
            EXPECT_TRUE(sendAsNobody(row.message).startsWith("RESULT 0 True"));
        else
            EXPECT_EQ(sendAs({u"--mailslot"_s, row.message}).trimmed(), QByteArray("RESULT 1"));
    }
    EXPECT_FALSE(mailSlotSend(QString(401, u'x'), kMailslot)) << "too long for the mailslot";
    EXPECT_FALSE(mailSlotSend(u"klong|"_s, u"//./mailslot/Nobody"_s)) << "nobody reads that slot";
    EXPECT_FALSE(mailSlotSend(QString(), kMailslot)) << "an empty message";
    // Written in order: once the owner's last write is in, every row has been carried out.
    EXPECT_TRUE(mailSlotSend(keySchreiben(u"Last"_s, u"1"_s, kExtra), kMailslot));
    ASSERT_TRUE(settles(u"Last"_s, u"1"_s, kExtra));
    const QByteArray stored = readFile(machine.registryFolder() + u"/HKEY_LOCAL_MACHINE.json"_s) +
                              readFile(machine.registryFolder() + u"/HKEY_CLASSES_ROOT.json"_s);
    for (const Write& row : writes) {
        SCOPED_TRACE(row.message.left(80).toStdString());
        if (skipped(row))
            continue;
        const ServiceMessage m = splitSettingMessage(row.message);
        const Hive hive = m.command.endsWith(u"Classes"_s) ? Hive::ClassesRoot : Hive::LocalMachine;
        EXPECT_EQ(settingValue(m.field1, m.field3, hive), row.stored);
        if (!row.stored) {
            EXPECT_FALSE(stored.contains(m.field2.left(8).toUtf8()));
        }
    }
    if (!canPlayNobody())
        return;
    for (const char* planted : {"Fuellsel", "xxxx", "Neu", "Evil"})
        EXPECT_FALSE(stored.contains(planted)) << planted;
    EXPECT_TRUE(vellmonLogged(u"not a setting of the client"_s));
    EXPECT_TRUE(vellmonLogged(u"value longer than"_s));
    // The caller's text cannot forge a line of the log.
    sendAsNobody(u"searchingUpdate|KestroFTP-Client|/nicht/da\n%1|1.0.0"_s.arg(fake));
    ASSERT_TRUE(vellmonLogged(u"registry write refused"_s));
    ASSERT_TRUE(vellmonLogged(u"update request dropped"_s));
    for (const QString& line : vellmon.output().split(u'\n'))
        EXPECT_FALSE(line.startsWith(fake)) << line.toStdString();
    EXPECT_TRUE(vellmon.output().contains(u"\\n"_s + fake));
}

// Garbage, clients that connect and stay silent or vanish mid-call, random requests from
// four callers at once, nobody holding both pipe slots and nobody flooding writes: Vellmon
// keeps answering, its memory stays bounded, the store readable, and pause and stop work.
TEST_F(VellmonChannel, HostileCallersLeaveItAnsweringBoundedAndStoppable) {
    const qint64 pid = vellmon.process().processId();
    quint32 error = 0;
    EXPECT_EQ(callVellmon(QByteArray(), &error), u"False"_s);
    EXPECT_EQ(callVellmon(QByteArray("\x01", 1)), u"False"_s); // odd length, nothing left
    EXPECT_EQ(callVellmon(QByteArray(19999, '\xff')), u"True"_s);
    callVellmon(QByteArray(30000, 'a'), &error); // longer than MaxRequest: that call fails
    EXPECT_NE(error, 0u);
    PipeRpc idle[2];
    for (PipeRpc& pipe : idle) {
        pipe.setPipeName(u"Vellmon"_s);
        pipe.setTimeout(3000);
        EXPECT_EQ(pipe.openPipe(), 0u);
    }
    EXPECT_EQ(callVellmon(toUtf16Le(u"KeySchreiben|GLogin|dem|"_s + kClientKey), &error, 4000),
              u"True"_s)
        << "with both slots idle, error " << error;
    EXPECT_TRUE(settles(u"GLogin"_s, u"dem"_s));
    for (PipeRpc& pipe : idle)
        pipe.closePipe();

    const auto fuzz = [](quint32 seed, int calls) {
        QRandomGenerator random(seed);
        PipeRpc pipe;
        pipe.setPipeName(u"Vellmon"_s);
        pipe.setTimeout(2000);
        const QStringList heads{u"KeySchreiben|"_s, u"ShowForm|"_s, u"searchingUpdate|"_s,
                                u"klong"_s};
        for (int i = 0; i < calls; ++i) {
            QByteArray request = random.bounded(2)
                                     ? toUtf16Le(heads.at(random.bounded(heads.size())))
                                     : QByteArray();
            QByteArray tail(random.bounded(random.bounded(10) == 0 ? 21000 : 600), '\0');
            random.fillRange(reinterpret_cast<quint32*>(tail.data()), tail.size() / 4);
            request += tail;
            QByteArray response(random.bounded(10) == 0 ? 1 : 200, '\0');
            pipe.pipeCall(request, response);
        }
    };
    fuzz(1, 300); // warm-up: every path has been taken once
    const qint64 beforeFuzz = statusKb(pid, "VmRSS:");
    std::atomic_int done{0};
    std::vector<std::thread> callers;
    for (quint32 seed = 2; seed < 6; ++seed)
        callers.emplace_back([&, seed] {
            fuzz(seed, 800);
            ++done;
        });
    EXPECT_TRUE(readingLogUntil([&] { return done == 4; }, 120000));
    for (std::thread& caller : callers)
        caller.join();
    while (vellmon.process().waitForReadyRead(200))
        vellmon.output();
    EXPECT_EQ(callVellmon(toUtf16Le(u"klong|"_s), nullptr, 4000), u"True"_s) << "after the fuzz";
    EXPECT_LT(statusKb(pid, "VmRSS:") - beforeFuzz, 32 * 1024) << beforeFuzz << " kB before";
    EXPECT_EQ(callVellmon(toUtf16Le(u"KeySchreiben|Databank|/a|"_s + kClientKey), nullptr, 4000),
              u"True"_s);
    EXPECT_TRUE(settles(u"Databank"_s, u"/a"_s));

    ::kill(pid_t(pid), SIGUSR1); // paused, it still serves
    EXPECT_EQ(callVellmon(u"KeySchreiben|PopLogin|1|"_s + kClientKey), u"True"_s);
    EXPECT_TRUE(settles(u"PopLogin"_s, u"1"_s));
    ::kill(pid_t(pid), SIGUSR2);
    EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s);

    if (canPlayNobody()) {
        // Two connections of nobody's calling every 800 ms for 6 s hold no slot for good.
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
        for (QProcess& holder : holders) {
            ASSERT_TRUE(holder.waitForFinished(15000));
            const QList<QByteArray> result = holder.readAllStandardOutput().trimmed().split(' ');
            EXPECT_GT(result.value(2).toInt(), 0) << "held for good: " << result.join(' ').data();
        }
        EXPECT_TRUE(vellmonLogged(u"for the last free slot"_s));
        // 6,000 writes of 20 KB, each to a value of its own.
        const qint64 beforeFlood = statusKb(pid, "VmHWM:");
        QProcess flooder;
        startAs(flooder, builtProgram(u"tests/service/pipe_send"_s),
                {u"--flood"_s, u"6000"_s, u"9900"_s, kExtra});
        ASSERT_TRUE(readingLogUntil([&] { return flooder.waitForFinished(20); }, 120000));
        EXPECT_TRUE(flooder.readAllStandardOutput().startsWith("RESULT "));
        const qint64 afterFlood = statusKb(pid, "VmHWM:");
        EXPECT_LT(afterFlood - beforeFlood, 64 * 1024)
            << "flood: " << beforeFlood << " kB before, " << afterFlood << " kB after";
        EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s) << "after the flood";
    }
    ::kill(pid_t(pid), SIGTERM);
    ASSERT_TRUE(vellmon.process().waitForFinished(5000));
    EXPECT_EQ(vellmon.process().exitCode(), 0);
    EXPECT_FALSE(QFile::exists(machine.runtimeFolder() + u"/pipe/vellmon"_s));
    startup::PipeUpdater updater;
    EXPECT_FALSE(updater.send(u"klong|"_s));
    EXPECT_NE(updater.lastError(), 0u);
}

TEST_F(VellmonChannel, ShutdownOnlyForTrustedSenders) {
    if (canPlayNobody()) {
        // Another local user may reach the pipe, but not order a shutdown.
        EXPECT_TRUE(sendAsNobody(u"ShutDown|20|"_s).startsWith("RESULT 0 True"));
        QThread::msleep(400);
        EXPECT_FALSE(QFile::exists(poweroffLog()));
    }
    EXPECT_EQ(callVellmon(u"ShutDown|30|"_s), u"True"_s);
    EXPECT_TRUE(eventually([&] { return readFile(poweroffLog()).startsWith("17\n"); }));
    // Delay 0 cancels; the timer fires no more.
    EXPECT_EQ(callVellmon(u"ShutDown|0|"_s), u"True"_s);
    QThread::msleep(200);
    const QByteArray before = readFile(poweroffLog());
    QThread::msleep(300);
    EXPECT_EQ(readFile(poweroffLog()), before);
}

// Nobody with the maker's web server offering a newer client and one of its own.
class HostileUser : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        if (!canPlayNobody())
            GTEST_SKIP() << "needs root to play the local user nobody";
        home = nobodyHome();
        ASSERT_FALSE(home.isEmpty());
        // Whatever program runs, the maker's installer or the attacker's, marks as whom.
        const QByteArray mark = "#!/bin/sh\nid -u > " + machine.path(u"owned"_s).toUtf8() + "\n";
        machine.writeFile(u"www/files/Update.exe"_s, mark);
        machine.writeFile(u"evil/evil.sh"_s, mark);
        ASSERT_TRUE(maker.startFixture(u"httpserver.py"_s, {u"--root"_s, machine.path(u"www"_s)}));
        ASSERT_TRUE(attackerWeb.startFixture(
            u"httpserver.py"_s,
            {u"--root"_s, machine.path(u"evil"_s), u"--log"_s, machine.path(u"evil.log"_s)}));
        machine.writeFile(
            u"www/AutoUpdate/Version/KestroFTP-Client.txt"_s,
            u"9.9.9\nhttp://127.0.0.1:%1/files/Update.exe"_s.arg(maker.port()).toUtf8());
        writeConfig(u"http://127.0.0.1:%1"_s.arg(maker.port()));
        ASSERT_TRUE(startVellmon());
    }
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
    // Any root-only folder once passed (/etc/logrotate.d, "/") and the claimed version was
    // believed: root dropped the maker's files there and ran the installer at will.
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
                      .replace(u"EVIL"_s, u"http://127.0.0.1:%1/evil.sh"_s.arg(attackerWeb.port()))
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

// The clients folder in /run: taken pid names once kept a colleague's client from registering
// (so an installer replaced it running), and the tidy-up at start once left trees deeper than
// 16 levels; each user's folder stays small and nothing else stays.
TEST_F(HostileUser, ClientsFolderCannotBeSquattedOrFilled) {
    EXPECT_TRUE(sendAs({u"klong|"_s}, 1000).startsWith("RESULT 0 True")) << "a colleague calls";
    vellmon.stop(); // its tidy-up every few seconds only narrows the window
    const QString clients = clientsFolder();
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
    runAs(u"/usr/bin/python3"_s, {squat, clients});
    ASSERT_GT(QDir(clients).entryList(QDir::Files).size(), 1000);
    PeerProcess colleague; // another user's client starting up
    ASSERT_TRUE(colleague.start(u"/usr/bin/setpriv"_s,
                                {u"--reuid=1000"_s, u"--regid=1000"_s, u"--clear-groups"_s,
                                 builtProgram(u"tests/service/pipe_send"_s), u"--present"_s,
                                 u"KestroFTP-Client"_s, u"/nonexistent/unloaded"_s},
                                5000))
        << "the client could not register: " << colleague.output().toStdString();
    const QString ownEntry = presence::entryFile(pid_t(colleague.process().processId()));
    EXPECT_EQ(QFileInfo(ownEntry).ownerId(), 1000u);

    // In its own folder 30 entries of its own, foreign entries, a large file; beside the
    // users' folders a file, a folder, one named for another user, a tree 100 deep.
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
            .arg(colleague.process().processId())
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

} // namespace
