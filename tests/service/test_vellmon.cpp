#include "client/startup/pipeupdater.h"
#include "piperpc/mailslot.h"
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
const QString kMailslot = u"//./mailslot/Vellmon/AllVersion"_s;

// Runs Vellmon with `args` to its end; what it printed, and its exit code (-1: crashed).
std::pair<QString, int> runVellmon(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(builtProgram(u"service/Vellmon"_s), args);
    p.waitForFinished(20000);
    return {QString::fromUtf8(p.readAll()),
            p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1};
}

class VellmonCommandLine : public ::testing::Test, public VellmonMachine {};

TEST_F(VellmonCommandLine, InstallWritesTheUnitAndTheTimerIntervalAndReportsFailures) {
    auto [text, rc] = runVellmon({u"-install"_s});
    EXPECT_FALSE(text.contains(u"konnte"_s));
    EXPECT_EQ(rc, 0);
    const QByteArray unit = readFile(machine.path(u"units/vellmon.service"_s));
    for (const char* line :
         {"Description=UpdateManager Varnholt\n", "RuntimeDirectory=vellmon\n", "PrivateTmp=yes\n",
          "ProtectHome=read-only\n", "NoNewPrivileges=yes\n"})
        EXPECT_TRUE(unit.contains(line)) << line;
    EXPECT_TRUE(unit.contains("ExecStart=" + builtProgram(u"service/Vellmon"_s).toUtf8()));
    EXPECT_EQ(settingValue(u"TimerInterval"_s,
                           u"SYSTEM\\CurrentControlSet\\Services\\Vellmon\\Parameters"_s),
              u"1000"_s);

    std::tie(text, rc) = runVellmon({u"-uninstall"_s});
    EXPECT_FALSE(text.contains(u"konnte"_s));
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(QFile::exists(machine.path(u"units/vellmon.service"_s)));
    std::tie(text, rc) = runVellmon({u"-uninstall"_s});
    EXPECT_TRUE(text.contains(u"UpdateManager Varnholt konnte nicht deinstalliert werden."_s));
    EXPECT_EQ(rc, 1);

    QDir(machine.path(u"units"_s)).removeRecursively();
    machine.writeFile(u"units"_s, "a file where the folder should be");
    std::tie(text, rc) = runVellmon({u"-install"_s});
    EXPECT_TRUE(text.contains(u"UpdateManager Varnholt konnte nicht installiert werden."_s));
    EXPECT_EQ(rc, 1);
}

TEST_F(VellmonCommandLine, UnknownSwitchesAreReportedAndTheServiceStartsAnyway) {
    for (const QStringList& args : {QStringList{u"-install"_s, u"-debug"_s}, {u"-INSTALL"_s}}) {
        PeerProcess vellmon;
        ASSERT_TRUE(vellmon.start(builtProgram(u"service/Vellmon"_s), args));
        EXPECT_TRUE(vellmon.output().contains(u"Unbekannter Kommandozeilenparameter"_s));
        EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s);
        vellmon.stop();
    }
    EXPECT_FALSE(QFile::exists(machine.path(u"units/vellmon.service"_s)));
}

TEST_F(VellmonCommandLine, WindowComesAndGoesOnCommand) {
    machine.env().set("QT_QPA_PLATFORM", u"offscreen"_s);
    ASSERT_TRUE(startVellmon({u"-view"_s}));
    for (const QString& m : {u"ShowForm|False||"_s, u"ShowForm|True||"_s, u"klong|"_s,
                             u"KeySchreiben|KontoEM|ja|"_s + kClientKey})
        EXPECT_EQ(callVellmon(m), u"True"_s) << m.toStdString();
    EXPECT_TRUE(settles(u"KontoEM"_s, u"ja"_s));
    vellmon.process().terminate();
    ASSERT_TRUE(vellmon.process().waitForFinished(5000));
    EXPECT_EQ(vellmon.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vellmon.process().exitCode(), 0);
}

class VellmonChannel : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        writeConfig(u"http://127.0.0.1:9"_s,
                    "[Service]\nRegistryWriteAllow=Software\\Varnholt\\KestroFTP\\Client;"
                    "Software\\Varnholt\\Extra\nRegistryWriteAllowClasses=.kjob\n");
        ASSERT_TRUE(startVellmon());
    }
};

TEST_F(VellmonChannel, ClientSettingsReachTheRegistryStore) {
    startup::PipeUpdater updater;
    ASSERT_TRUE(updater.send(keySchreibenMessage(u"Databank"_s, u"/srv/kestro/jobs.mdb"_s)));
    EXPECT_TRUE(settles(u"Databank"_s, u"/srv/kestro/jobs.mdb"_s));
    // A value may hold "|" (a password): the key path is what follows the last one.
    ASSERT_TRUE(updater.send(keySchreibenMessage(u"ProxyP"_s, u"|pa||ss|"_s)));
    EXPECT_TRUE(settles(u"ProxyP"_s, u"|pa||ss|"_s));
    // Subkeys of other allowed keys are created.
    EXPECT_EQ(callVellmon(u"KeySchreiben|Wert|a|b|Software\\Varnholt\\Extra\\Neu"_s), u"True"_s);
    EXPECT_TRUE(settles(u"Wert"_s, u"a|b"_s, u"Software\\Varnholt\\Extra\\Neu"_s));
    // Characters Windows-1252 cannot hold are stored as "?".
    ASSERT_TRUE(updater.send(keySchreibenMessage(u"Username"_s, u"Müller ☺"_s)));
    EXPECT_TRUE(settles(u"Username"_s, u"Müller ?"_s));
    // A request sent twice as wide (UTF-16 of its UTF-16 bytes) is narrowed.
    EXPECT_EQ(callVellmon(toUtf16Le(
                  QString::fromLatin1(toUtf16Le(u"KeySchreiben|PopServer|ja|"_s + kClientKey)))),
              u"True"_s);
    EXPECT_TRUE(settles(u"PopServer"_s, u"ja"_s));
}

// Only the allowed keys and their subkeys are written, whatever case or path tricks a
// key is spelt with, and below the client's key only the client's own settings.
TEST_F(VellmonChannel, OnlyAllowedKeysAreWritten) {
    const QString extra = u"Software\\Varnholt\\Extra"_s;
    // The command, the key, and whether the write is carried out.
    const std::tuple<QString, QString, bool> writes[] = {
        {u"KeySchreiben"_s, u"SOFTWARE\\varnholt\\EXTRA"_s, true},
        {u"KeySchreiben"_s, extra + u"\\Sub"_s, true},
        {u"KeySchreibenClasses"_s, u".kjob"_s, true},
        {u"KeySchreiben"_s, extra + u"X"_s, false},
        {u"KeySchreiben"_s, u"Software\\Varnholt"_s, false},
        {u"KeySchreiben"_s, extra + u"\\"_s, false},
        {u"KeySchreiben"_s, extra + u"\\..\\X"_s, false},
        {u"KeySchreiben"_s, kClientKey + u"\\..\\..\\Other"_s, false},
        {u"KeySchreiben"_s, u"Software\\Microsoft\\Windows\\Run"_s, false},
        {u"KeySchreiben"_s, kClientKey, false}, // "W<n>" is no setting of the client
        {u"KeySchreibenClasses"_s, u"exefile\\shell\\open\\command"_s, false}};
    int row = 0;
    for (const auto& [command, key, allowed] : writes) {
        const QString message = u"%1|W%2|v%2.|%3"_s.arg(command).arg(row++).arg(key);
        EXPECT_EQ(callVellmon(message), u"True"_s) << message.toStdString();
    }
    // Written in order: once the last write is in, every row has been carried out.
    EXPECT_EQ(callVellmon(u"KeySchreiben|Last|1|"_s + extra), u"True"_s);
    ASSERT_TRUE(settles(u"Last"_s, u"1"_s, extra));
    const QByteArray stored = readFile(machine.registryFolder() + u"/HKEY_LOCAL_MACHINE.json"_s) +
                              readFile(machine.registryFolder() + u"/HKEY_CLASSES_ROOT.json"_s);
    row = 0;
    for (const auto& [command, key, allowed] : writes) {
        const Hive hive = command.endsWith(u"Classes"_s) ? Hive::ClassesRoot : Hive::LocalMachine;
        const QString value = u"v%1."_s.arg(row);
        EXPECT_EQ(settingValue(u"W%1"_s.arg(row++), key, hive) == value, allowed)
            << key.toStdString();
        EXPECT_EQ(stored.contains(value.toUtf8()), allowed) << key.toStdString();
    }
}

// The mailslot feeds the same queue as the pipe, and only its owner may write to it.
TEST_F(VellmonChannel, MailslotFeedsTheSameQueueOnlyFromItsOwner) {
    EXPECT_TRUE(mailSlotSend(u"KeySchreiben|SMTPServer|über|"_s + kClientKey, kMailslot));
    EXPECT_TRUE(settles(u"SMTPServer"_s, u"über"_s));
    EXPECT_FALSE(mailSlotSend(QString(401, u'x'), kMailslot));
    EXPECT_FALSE(mailSlotSend(u"klong|"_s, u"//./mailslot/Nobody"_s));
    EXPECT_FALSE(mailSlotSend(QString(), kMailslot));
    if (!canPlayNobody())
        GTEST_SKIP() << "needs root to play another local user";
    EXPECT_EQ(sendAs({u"--mailslot"_s, u"KeySchreiben|PW|1|"_s + kClientKey}).trimmed(),
              QByteArray("RESULT 1"));
    // The owner's next message is carried out; the stranger's never was.
    EXPECT_TRUE(mailSlotSend(u"KeySchreiben|From|1|"_s + kClientKey, kMailslot));
    EXPECT_TRUE(settles(u"From"_s, u"1"_s));
    EXPECT_FALSE(settingValue(u"PW"_s).has_value());
}

TEST_F(VellmonChannel, GarbageNeverStopsTheService) {
    quint32 error = 0;
    EXPECT_EQ(callVellmon(QByteArray(), &error), u"False"_s);
    EXPECT_EQ(callVellmon(QByteArray("\x01", 1)), u"False"_s); // odd length, nothing left
    EXPECT_EQ(callVellmon(QByteArray(19999, '\xff')), u"True"_s);
    callVellmon(QByteArray(30000, 'a'), &error); // longer than MaxRequest: that call fails
    EXPECT_NE(error, 0u);
    // Clients that connect and never send, or vanish mid-call.
    PipeRpc idle[2];
    for (PipeRpc& pipe : idle) {
        pipe.setPipeName(u"Vellmon"_s);
        pipe.setTimeout(3000);
        EXPECT_EQ(pipe.openPipe(), 0u);
    }
    EXPECT_EQ(callVellmon(toUtf16Le(u"KeySchreiben|GLogin|dem|"_s + kClientKey), &error, 4000),
              u"True"_s)
        << "error " << error;
    EXPECT_TRUE(settles(u"GLogin"_s, u"dem"_s));
    EXPECT_EQ(vellmon.process().state(), QProcess::Running);
}

// Random requests from four callers at once, some longer than the pipe takes, some
// callers gone before the answer: Vellmon keeps answering, its memory stays flat and the
// store stays readable.
TEST_F(VellmonChannel, FuzzedPipeLeavesTheServiceAnswering) {
    auto fuzz = [](quint32 seed, int calls) {
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
    const qint64 pid = vellmon.process().processId();
    const qint64 before = statusKb(pid, "VmRSS:");
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
    EXPECT_EQ(callVellmon(toUtf16Le(u"klong|"_s), nullptr, 4000), u"True"_s);
    EXPECT_LT(statusKb(pid, "VmRSS:") - before, 32 * 1024) << before << " kB before";
    EXPECT_EQ(callVellmon(toUtf16Le(u"KeySchreiben|Databank|/a|"_s + kClientKey), nullptr, 4000),
              u"True"_s);
    EXPECT_TRUE(settles(u"Databank"_s, u"/a"_s));
}

TEST_F(VellmonChannel, PauseKeepsServingAndStopEndsCleanly) {
    const pid_t pid = pid_t(vellmon.process().processId());
    ::kill(pid, SIGUSR1);
    EXPECT_EQ(callVellmon(u"KeySchreiben|PopLogin|1|"_s + kClientKey), u"True"_s);
    EXPECT_TRUE(settles(u"PopLogin"_s, u"1"_s));
    ::kill(pid, SIGUSR2);
    EXPECT_EQ(callVellmon(u"klong|"_s), u"True"_s);
    ::kill(pid, SIGTERM);
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

} // namespace
