#include "client/startup/pipeupdater.h"
#include "common/servicemessage.h"
#include "piperpc/mailslot.h"
#include "piperpc/piperpc.h"
#include "vellmonharness.h"

#include <QRandomGenerator>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace kestro::test;

namespace {

const QString kClientKey = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");

// One call as the client makes it; the reply as text.
QString call(const QByteArray& request, quint32* error = nullptr, int timeoutMs = 2000) {
    PipeRpc pipe;
    pipe.setPipeName(QStringLiteral("Vellmon"));
    pipe.setTimeout(timeoutMs);
    QByteArray response(200, '\0');
    const quint32 rc = pipe.pipeCall(request, response);
    if (error)
        *error = rc;
    return rc == 0 ? fromUtf16Le(response) : QString();
}

QString runVellmon(const QStringList& args, int* exitCode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(builtProgram(QStringLiteral("service/Vellmon")), args);
    p.waitForFinished(20000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

class VellmonCommandLine : public ::testing::Test, public VellmonMachine {};

TEST_F(VellmonCommandLine, InstallWritesTheUnitAndTheTimerInterval) {
    int rc = -1;
    EXPECT_FALSE(runVellmon({QStringLiteral("-install")}, &rc).contains(QStringLiteral("konnte")));
    EXPECT_EQ(rc, 0);
    const QByteArray unit = readFile(machine.path(QStringLiteral("units/vellmon.service")));
    EXPECT_TRUE(unit.contains("Description=UpdateManager Varnholt\n"));
    EXPECT_TRUE(unit.contains("RuntimeDirectory=vellmon\n"));
    for (const char* hardening :
         {"PrivateTmp=yes\n", "ProtectHome=read-only\n", "NoNewPrivileges=yes\n"})
        EXPECT_TRUE(unit.contains(hardening)) << hardening;
    EXPECT_TRUE(
        unit.contains("ExecStart=" + builtProgram(QStringLiteral("service/Vellmon")).toUtf8()));
    EXPECT_EQ(
        settingValue(QStringLiteral("TimerInterval"),
                     QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\Vellmon\\Parameters")),
        QStringLiteral("1000"));

    EXPECT_FALSE(
        runVellmon({QStringLiteral("-uninstall")}, &rc).contains(QStringLiteral("konnte")));
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("units/vellmon.service"))));
    EXPECT_TRUE(
        runVellmon({QStringLiteral("-uninstall")}, &rc)
            .contains(QStringLiteral("UpdateManager Varnholt konnte nicht deinstalliert werden.")));
    EXPECT_EQ(rc, 1);
}

TEST_F(VellmonCommandLine, InstallFailureIsReported) {
    machine.writeFile(QStringLiteral("units"), "a file where the folder should be");
    int rc = -1;
    EXPECT_TRUE(
        runVellmon({QStringLiteral("-install")}, &rc)
            .contains(QStringLiteral("UpdateManager Varnholt konnte nicht installiert werden.")));
    EXPECT_EQ(rc, 1);
}

TEST_F(VellmonCommandLine, UnknownSwitchesAreReportedAndTheServiceStartsAnyway) {
    for (const QStringList& args :
         {QStringList{QStringLiteral("-install"), QStringLiteral("-debug")},
          QStringList{QStringLiteral("-INSTALL")}}) {
        PeerProcess vellmon;
        ASSERT_TRUE(vellmon.start(builtProgram(QStringLiteral("service/Vellmon")), args));
        EXPECT_TRUE(
            vellmon.output().contains(QStringLiteral("Unbekannter Kommandozeilenparameter")));
        EXPECT_EQ(call(toUtf16Le(QStringLiteral("klong|"))), QStringLiteral("True"));
        vellmon.stop();
    }
    EXPECT_FALSE(QFile::exists(machine.path(QStringLiteral("units/vellmon.service"))));
}

TEST_F(VellmonCommandLine, WindowComesAndGoesOnCommand) {
    machine.env().set("QT_QPA_PLATFORM", QStringLiteral("offscreen"));
    ASSERT_TRUE(startVellmon({QStringLiteral("-view")}));
    for (const char* m : {"ShowForm|False||", "ShowForm|True||", "klong|"})
        EXPECT_EQ(call(toUtf16Le(QString::fromLatin1(m))), QStringLiteral("True"));
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("KeySchreiben|KontoEM|ja|") + kClientKey)),
              QStringLiteral("True"));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("KontoEM")) == QStringLiteral("ja"); }));
    vellmon.process().terminate();
    ASSERT_TRUE(vellmon.process().waitForFinished(5000));
    EXPECT_EQ(vellmon.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vellmon.process().exitCode(), 0);
}

class VellmonChannel : public ::testing::Test, public VellmonMachine {
protected:
    void SetUp() override {
        writeConfig(QStringLiteral("http://127.0.0.1:9"),
                    "[Service]\nRegistryWriteAllow=Software\\Varnholt\\KestroFTP\\Client;"
                    "Software\\Varnholt\\Extra\nRegistryWriteAllowClasses=.kjob\n");
        ASSERT_TRUE(startVellmon());
    }
};

TEST_F(VellmonChannel, ClientSettingsReachTheRegistryStore) {
    startup::PipeUpdater updater;
    ASSERT_TRUE(updater.send(
        keySchreibenMessage(QStringLiteral("Databank"), QStringLiteral("/srv/kestro/jobs.mdb"))));
    EXPECT_TRUE(eventually([&] { return settingValue(QStringLiteral("Databank")).has_value(); }));
    EXPECT_EQ(settingValue(QStringLiteral("Databank")), QStringLiteral("/srv/kestro/jobs.mdb"));

    // A value may hold "|" (a password): the key path is what follows the last one.
    ASSERT_TRUE(
        updater.send(keySchreibenMessage(QStringLiteral("ProxyP"), QStringLiteral("pa|ss|"))));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("ProxyP")) == QStringLiteral("pa|ss|"); }));
    // Subkeys of other allowed keys are created.
    EXPECT_EQ(
        call(toUtf16Le(QStringLiteral("KeySchreiben|Wert|a|b|Software\\Varnholt\\Extra\\Neu"))),
        QStringLiteral("True"));
    EXPECT_TRUE(eventually([&] {
        return settingValue(QStringLiteral("Wert"),
                            QStringLiteral("Software\\Varnholt\\Extra\\Neu")) ==
               QStringLiteral("a|b");
    }));
    // Characters Windows-1252 cannot hold are stored as "?".
    ASSERT_TRUE(
        updater.send(keySchreibenMessage(QStringLiteral("Username"), QStringLiteral("Müller ☺"))));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("Username")) == QStringLiteral("Müller ?"); }));
}

TEST_F(VellmonChannel, DoubleWidthRequestsAreNarrowed) {
    const QByteArray wide = toUtf16Le(
        QString::fromLatin1(toUtf16Le(QStringLiteral("KeySchreiben|PopServer|ja|") + kClientKey)));
    EXPECT_EQ(call(wide), QStringLiteral("True"));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("PopServer")) == QStringLiteral("ja"); }));
}

TEST_F(VellmonChannel, WritesOutsideTheAllowListAreRefused) {
    for (const QString& message :
         {QStringLiteral("KeySchreiben|Run|evil|Software\\Microsoft\\Windows\\Run"),
          QStringLiteral("KeySchreiben|X|1|Software\\Varnholt\\KestroFTP\\Client\\..\\..\\Other"),
          QStringLiteral("KeySchreiben|X|1|Software\\Varnholt"),
          QStringLiteral("KeySchreibenClasses|X|1|exefile\\shell\\open\\command")}) {
        EXPECT_EQ(call(toUtf16Le(message)), QStringLiteral("True")) << message.toStdString();
    }
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("KeySchreibenClasses|Typ|Auftrag|.kjob"))),
              QStringLiteral("True"));
    ASSERT_TRUE(eventually([&] {
        return settingValue(QStringLiteral("Typ"), QStringLiteral(".kjob"), Hive::ClassesRoot)
            .has_value();
    }));
    const QByteArray hklm =
        readFile(machine.registryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.json"));
    const QByteArray hkcr =
        readFile(machine.registryFolder() + QStringLiteral("/HKEY_CLASSES_ROOT.json"));
    EXPECT_FALSE(hklm.contains("evil"));
    EXPECT_FALSE(hklm.contains("Other"));
    EXPECT_FALSE(hkcr.contains("exefile"));
    EXPECT_TRUE(hkcr.contains("Auftrag"));
}

TEST_F(VellmonChannel, MailslotFeedsTheSameQueue) {
    EXPECT_TRUE(mailSlotSend(QStringLiteral("KeySchreiben|SMTPServer|über|") + kClientKey,
                             QStringLiteral("//./mailslot/Vellmon/AllVersion")));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("SMTPServer")) == QStringLiteral("über"); }));
    EXPECT_FALSE(mailSlotSend(QString(401, QLatin1Char('x')),
                              QStringLiteral("//./mailslot/Vellmon/AllVersion")));
    EXPECT_FALSE(mailSlotSend(QStringLiteral("klong|"), QStringLiteral("//./mailslot/Nobody")));
    EXPECT_FALSE(mailSlotSend(QString(), QStringLiteral("//./mailslot/Vellmon/AllVersion")));
}

TEST_F(VellmonChannel, OnlyTheOwnerMayWriteToTheMailslot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to play another local user";
    QFile::setPermissions(machine.root(), QFile::permissions(machine.root()) | QFile::ExeOther);
    QProcess sender;
    sender.start(builtProgram(QStringLiteral("tests/service/pipe_send")),
                 {QStringLiteral("--as-user"), QStringLiteral("65534"),
                  QStringLiteral("--mailslot"), QStringLiteral("KeySchreiben|PW|1|") + kClientKey});
    ASSERT_TRUE(sender.waitForFinished(10000));
    EXPECT_EQ(sender.readAll().trimmed(), QByteArray("RESULT 1"));
    // The owner's next message is carried out; the stranger's never was.
    EXPECT_TRUE(mailSlotSend(QStringLiteral("KeySchreiben|From|1|") + kClientKey,
                             QStringLiteral("//./mailslot/Vellmon/AllVersion")));
    EXPECT_TRUE(eventually([&] { return settingValue(QStringLiteral("From")).has_value(); }));
    EXPECT_FALSE(settingValue(QStringLiteral("PW")).has_value());
}

TEST_F(VellmonChannel, GarbageNeverStopsTheService) {
    quint32 error = 0;
    EXPECT_EQ(call(QByteArray(), &error), QStringLiteral("False"));
    EXPECT_EQ(call(QByteArray("\x01", 1)), QStringLiteral("False")); // odd length, nothing left
    EXPECT_EQ(call(QByteArray(19999, '\xff')), QStringLiteral("True"));
    call(QByteArray(30000, 'a'), &error); // longer than MaxRequest: that call fails
    EXPECT_NE(error, 0u);
    // Clients that connect and never send, or vanish mid-call.
    std::vector<std::unique_ptr<PipeRpc>> idle;
    for (int i = 0; i < 2; ++i) {
        idle.push_back(std::make_unique<PipeRpc>());
        idle.back()->setPipeName(QStringLiteral("Vellmon"));
        idle.back()->setTimeout(3000);
        EXPECT_EQ(idle.back()->openPipe(), 0u);
    }
    EXPECT_EQ(
        call(toUtf16Le(QStringLiteral("KeySchreiben|GLogin|dem|") + kClientKey), &error, 4000),
        QStringLiteral("True"))
        << "error " << error;
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("GLogin")) == QStringLiteral("dem"); }));
    EXPECT_EQ(vellmon.process().state(), QProcess::Running);
}

qint64 residentKb(qint64 pid) {
    for (const QByteArray& line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Random requests from four callers at once, some longer than the pipe takes, some
// callers gone before the answer: Vellmon keeps answering, its memory stays flat and the
// store stays readable.
TEST_F(VellmonChannel, FuzzedPipeLeavesTheServiceAnswering) {
    auto fuzz = [](quint32 seed, int calls) {
        QRandomGenerator random(seed);
        PipeRpc pipe;
        pipe.setPipeName(QStringLiteral("Vellmon"));
        pipe.setTimeout(2000);
        const QStringList heads{QStringLiteral("KeySchreiben|"), QStringLiteral("ShowForm|"),
                                QStringLiteral("searchingUpdate|"), QStringLiteral("klong")};
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
    const qint64 before = residentKb(pid);
    std::atomic_int done{0};
    std::vector<std::thread> callers;
    for (quint32 seed = 2; seed < 6; ++seed)
        callers.emplace_back([&, seed] {
            fuzz(seed, 800);
            ++done;
        });
    // Vellmon's log is read meanwhile, as the journal would.
    EXPECT_TRUE(eventually(
        [&] {
            vellmon.process().waitForReadyRead(20);
            vellmon.output();
            return done == 4;
        },
        120000));
    for (std::thread& caller : callers)
        caller.join();
    while (vellmon.process().waitForReadyRead(200))
        vellmon.output();
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("klong|")), nullptr, 4000), QStringLiteral("True"));
    EXPECT_LT(residentKb(pid) - before, 32 * 1024) << before << " kB before";
    EXPECT_EQ(
        call(toUtf16Le(QStringLiteral("KeySchreiben|Databank|/a|") + kClientKey), nullptr, 4000),
        QStringLiteral("True"));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("Databank")) == QStringLiteral("/a"); }));
}

TEST_F(VellmonChannel, PauseKeepsServingAndStopEndsCleanly) {
    const qint64 pid = vellmon.process().processId();
    ::kill(pid_t(pid), SIGUSR1);
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("KeySchreiben|PopLogin|1|") + kClientKey)),
              QStringLiteral("True"));
    EXPECT_TRUE(eventually(
        [&] { return settingValue(QStringLiteral("PopLogin")) == QStringLiteral("1"); }));
    ::kill(pid_t(pid), SIGUSR2);
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("klong|"))), QStringLiteral("True"));
    ::kill(pid_t(pid), SIGTERM);
    ASSERT_TRUE(vellmon.process().waitForFinished(5000));
    EXPECT_EQ(vellmon.process().exitCode(), 0);
    EXPECT_FALSE(QFile::exists(machine.runtimeFolder() + QStringLiteral("/pipe/vellmon")));
    startup::PipeUpdater updater;
    EXPECT_FALSE(updater.send(QStringLiteral("klong|")));
    EXPECT_NE(updater.lastError(), 0u);
}

TEST_F(VellmonChannel, ShutdownOnlyForTrustedSenders) {
    if (::geteuid() == 0) {
        // Another local user may reach the pipe, but not order a shutdown.
        QFile::setPermissions(machine.root(), QFile::permissions(machine.root()) | QFile::ExeOther);
        QFile::setPermissions(machine.runtimeFolder(),
                              QFile::permissions(machine.runtimeFolder()) | QFile::ExeOther);
        QProcess sender;
        sender.start(
            builtProgram(QStringLiteral("tests/service/pipe_send")),
            {QStringLiteral("--as-user"), QStringLiteral("65534"), QStringLiteral("ShutDown|20|")});
        ASSERT_TRUE(sender.waitForFinished(10000));
        EXPECT_TRUE(sender.readAll().startsWith("RESULT 0 True"));
        QThread::msleep(400);
        EXPECT_FALSE(QFile::exists(poweroffLog()));
    }
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("ShutDown|30|"))), QStringLiteral("True"));
    EXPECT_TRUE(eventually([&] { return readFile(poweroffLog()).startsWith("17\n"); }));
    // Delay 0 cancels; the timer fires no more.
    EXPECT_EQ(call(toUtf16Le(QStringLiteral("ShutDown|0|"))), QStringLiteral("True"));
    QThread::msleep(200);
    const QByteArray before = readFile(poweroffLog());
    QThread::msleep(300);
    EXPECT_EQ(readFile(poweroffLog()), before);
}

} // namespace
