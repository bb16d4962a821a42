#include "common/servicemessage.h"
#include "piperpc/piperpc.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestro;
using namespace Qt::StringLiterals;
using kestro::test::PeerProcess;
using kestro::test::TestMachine;

namespace {

// A call that must be refused: what it does, and the error number and text expected.
struct Refusal {
    std::function<void()> action;
    qint32 number;
    QString text;
};

void expectRefused(const std::vector<Refusal>& refusals) {
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.text.toStdString());
        try {
            r.action();
            ADD_FAILURE() << "no error raised";
        } catch (const PipeRpcError& e) {
            EXPECT_EQ(e.number(), r.number);
            EXPECT_EQ(e.description(), r.text);
            EXPECT_EQ(PipeRpcError::source(), u"PipeRPC"_s);
        }
    }
}

// A pipe server in its own process (pipeserver_peer) that prints every event as a line.
class PipeServerPeer {
public:
    bool start(const QStringList& args) {
        return peer.start(
            qEnvironmentVariable("KESTRO_BINARY_DIR") + u"/tests/piperpc/pipeserver_peer"_s, args);
    }
    // Waits until the server printed `line` (a whole line) `times` times; true if it did.
    bool waitForLine(const QString& line, int times = 1) {
        QDeadlineTimer deadline(5000);
        while (events().count(line) < times) {
            if (deadline.hasExpired())
                return false;
            peer.process().waitForReadyRead(50);
        }
        return true;
    }
    QStringList events() {
        QStringList out = peer.output().split(u'\n', Qt::SkipEmptyParts);
        out.removeAll(u"READY"_s);
        return out;
    }
    PeerProcess peer;
};

QString hex(const QString& text) {
    return QString::fromLatin1(toUtf16Le(text).toHex());
}

PipeRpc& client(PipeRpc& rpc, const QString& name = u"testpipe"_s, qint32 timeout = 0) {
    rpc.setPipeName(name);
    rpc.setTimeout(timeout);
    return rpc;
}

TEST(PipeRpcProperties, RulesKeepTheOldValue) {
    PipeRpc rpc;
    EXPECT_LE(rpc.computerName().size(), 31);

    rpc.setMaxClients(7);
    rpc.setPipeName(u"good"_s);
    const QString clients = u"MaxClients must be from 1 to 255 (unlimited)"_s;
    const QString name = u"Cannot contain \"\\\" or NUL characters"_s;
    expectRefused({{[&] { rpc.setMaxClients(0); }, 5, clients},
                   {[&] { rpc.setMaxClients(256); }, 5, clients},
                   {[&] { rpc.setMaxRequest(0); }, 5, u"MaxRequest must be from 1 to 65536"_s},
                   {[&] { rpc.setMaxRequest(65537); }, 5, u"MaxRequest must be from 1 to 65536"_s},
                   {[&] { rpc.setMaxResponse(-1); }, 5, u"MaxResponse must be from 1 to 65536"_s},
                   {[&] { rpc.setPipeName(u"a\\b"_s); }, 5, name},
                   {[&] { rpc.setPipeName(u"a"_s + QChar(0)); }, 5, name}});
    EXPECT_EQ(std::tuple(rpc.maxClients(), rpc.maxRequest(), rpc.maxResponse(), rpc.pipeName()),
              std::tuple(7, 1024, 1024, u"good"_s));
    rpc.setMaxClients(255);
    rpc.setMaxRequest(65536);
    EXPECT_EQ(std::tuple(rpc.maxClients(), rpc.maxRequest()), std::tuple(255, 65536));
}

TEST(PipeRpcProperties, PropertyBagStoresWithoutRules) {
    PipeRpc rpc;
    EXPECT_TRUE(rpc.writeProperties().isEmpty());
    rpc.setMaxClients(2);
    rpc.setPipeName(u"Vellmon"_s);
    rpc.setMultiPoll(true);
    QVariantMap bag = rpc.writeProperties();
    EXPECT_EQ(bag.value(u"MaxClients"_s).toInt(), 2);
    EXPECT_EQ(bag.value(u"PipeName"_s).toString(), u"Vellmon"_s);
    EXPECT_FALSE(bag.contains(u"MaxRequest"_s));
    PipeRpc other;
    bag.insert(u"MaxClients"_s, 0); // against the rule, taken over anyway
    other.readProperties(bag);
    EXPECT_EQ(other.maxClients(), 0);
    EXPECT_TRUE(other.multiPoll());
    EXPECT_EQ(other.server(), u"."_s);
}

TEST(PipeRpcStates, MisuseWhileListeningOrOpenAndNobodyServing) {
    TestMachine machine;
    PipeRpc server;
    server.setPipeName(u"statepipe"_s);
    server.setTimeout(-1);
    server.listen();
    EXPECT_EQ(server.state(), PipeRpc::pstListening);
    EXPECT_EQ(server.timeout(), 250);
    QByteArray response(10, 0);
    PipeRpc unnamed;
    const QString onlyFree = u"Can only be changed while State = pstFree"_s;
    expectRefused(
        {{[&] { server.setMaxClients(2); }, 5, onlyFree},
         {[&] { server.setServer(u"x"_s); }, 5, onlyFree},
         {[&] { server.listen(); }, -2147186172, u"Invalid call while connected"_s},
         {[&] { server.pipeCall("x", response); }, 5, u"Cannot make calls while listening"_s},
         {[&] { server.openPipe(); }, 5, u"Pipe can only be opened while State = pstFree"_s},
         {[&] { unnamed.pipeCall("x", response); }, 5,
          u"PipeName is required (cannot be empty) to make calls while State = pstFree"_s}});
    EXPECT_EQ(PipeRpc::kErrInvalidWhileConnected, -2147186172);
    EXPECT_TRUE(QFile::exists(local::pipeSocketPath(u"StatePipe"_s)));
    server.closePipe();
    EXPECT_EQ(server.state(), PipeRpc::pstFree);
    EXPECT_FALSE(QFile::exists(local::pipeSocketPath(u"statepipe"_s)));

    PipeRpc rpc; // nobody serves this one
    client(rpc, u"nobody"_s, 100);
    EXPECT_EQ(rpc.openPipe(), 121u);
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    response.resize(200);
    EXPECT_EQ(rpc.pipeCall("abcd", response), 2u);
    EXPECT_EQ(response.size(), 200);
    rpc.setServer(u"otherhost"_s);
    EXPECT_EQ(rpc.pipeCall("abcd", response), 53u);
}

class PipeRpcWithServer : public ::testing::Test {
protected:
    TestMachine machine;
    PipeServerPeer server;
};

// One call's events, then a client that connects and never sends.
TEST_F(PipeRpcWithServer, SingleCallEventsAndShrinkingResponseThenASilentClient) {
    ASSERT_TRUE(server.start({u"--name"_s, u"Vellmon"_s}));
    PipeRpc rpc, silent;
    QByteArray response(200, 'x');
    ASSERT_EQ(client(rpc, u"VELLMON"_s).pipeCall(toUtf16Le(u"klong|"_s), response), 0u);
    EXPECT_EQ(response, toUtf16Le(u"True"_s));
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s));
    ASSERT_EQ(client(silent, u"Vellmon"_s).openPipe(), 0u);
    ASSERT_TRUE(server.waitForLine(u"CONNECTED 0"_s, 2));
    silent.closePipe();
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s, 2));
    EXPECT_EQ(server.events(), (QStringList{u"CONNECTED 0"_s, u"CALLED 0 "_s + hex(u"klong|"_s),
                                            u"DISCONNECTED 0 2 109"_s, u"CONNECTED 0"_s,
                                            u"DISCONNECTED 0 2 109"_s}));
}

TEST_F(PipeRpcWithServer, OpenPipeKeepsOneConnectionForManyCalls) {
    ASSERT_TRUE(server.start({u"--reply"_s, u"echo"_s}));
    PipeRpc rpc;
    ASSERT_EQ(client(rpc).openPipe(), 0u);
    EXPECT_EQ(rpc.state(), PipeRpc::pstOpen);
    for (const QByteArray& request : {QByteArray("one"), QByteArray("second call")}) {
        QByteArray response(64, 0);
        ASSERT_EQ(rpc.pipeCall(request, response), 0u);
        EXPECT_EQ(response, request);
    }
    QByteArray small(4, 0);
    EXPECT_EQ(rpc.pipeCall("longer than four", small), 234u);
    EXPECT_EQ(small, QByteArray("long"));
    rpc.closePipe();
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s));
    EXPECT_EQ(server.events().count(u"CONNECTED 0"_s), 1);
    EXPECT_EQ(server.events().filter(u"CALLED 0"_s).size(), 3);
}

TEST_F(PipeRpcWithServer, EmptyReplyGivesAnEmptyResponse) {
    ASSERT_TRUE(server.start({u"--reply"_s, u"empty"_s}));
    PipeRpc rpc;
    QByteArray response(200, 'x');
    EXPECT_EQ(client(rpc).pipeCall("abc", response), 0u);
    EXPECT_TRUE(response.isEmpty());
}

TEST_F(PipeRpcWithServer, SlotLimitWithTwoClients) {
    ASSERT_TRUE(server.start({u"--max-clients"_s, u"2"_s}));
    PipeRpc first, second, third;
    ASSERT_EQ(client(first).openPipe(), 0u);
    ASSERT_EQ(client(second).openPipe(), 0u);
    ASSERT_TRUE(server.waitForLine(u"CONNECTED 1"_s));
    EXPECT_EQ(client(third, u"testpipe"_s, 300).openPipe(), 121u);
    first.closePipe();
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s));
    EXPECT_EQ(third.openPipe(), 0u);
    QByteArray response(200, 0);
    EXPECT_EQ(third.pipeCall("hi", response), 0u);
    ASSERT_TRUE(server.waitForLine(u"CALLED 0 6869"_s));
}

TEST_F(PipeRpcWithServer, RequestTooLongClosesOnlyThatClient) {
    ASSERT_TRUE(server.start({u"--max-request"_s, u"16"_s}));
    PipeRpc rpc;
    QByteArray response(200, 0);
    EXPECT_NE(client(rpc).pipeCall(QByteArray(40, 'a'), response), 0u);
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 4 234"_s));
    EXPECT_TRUE(server.events().filter(u"CALLED"_s).isEmpty());
    response.resize(200);
    EXPECT_EQ(rpc.pipeCall(QByteArray(16, 'b'), response), 0u);
}

// Raw sockets that misbehave: they connect and vanish, send nothing, send zero bytes,
// send and leave before the answer. None of it may stop the server from answering.
int rawConnect(const QString& path) {
    sockaddr_un addr{};
    socklen_t length = 0;
    local::fillAddress(path, &addr, &length);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST_F(PipeRpcWithServer, MisbehavingClientsNeverMakeItUnreachable) {
    ASSERT_TRUE(server.start({u"--max-clients"_s, u"2"_s, u"--idle"_s, u"300"_s}));
    const QString path = local::pipeSocketPath(u"testpipe"_s);
    for (int i = 0; i < 20; ++i) {
        const int fd = rawConnect(path);
        ASSERT_GE(fd, 0);
        if (i % 3 == 0)
            ::send(fd, "half a call", 11, MSG_NOSIGNAL);
        if (i % 3 == 1)
            ::send(fd, "", 0, MSG_NOSIGNAL);
        ::close(fd);
    }
    // Two clients that connect and never speak hold both slots until they idle out.
    const int idle[] = {rawConnect(path), rawConnect(path)};
    ASSERT_GE(std::min(idle[0], idle[1]), 0);
    PipeRpc rpc;
    QByteArray response(200, 0);
    const QString text = u"still there?"_s;
    EXPECT_EQ(client(rpc, u"testpipe"_s, 3000).pipeCall(toUtf16Le(text), response), 0u);
    EXPECT_EQ(response, toUtf16Le(u"True"_s));
    EXPECT_TRUE(server.waitForLine(u"CALLED 0 "_s + hex(text)) ||
                server.waitForLine(u"CALLED 1 "_s + hex(text)));
    EXPECT_FALSE(server.events().filter(u" 8 0"_s).isEmpty());
    for (int fd : idle)
        ::close(fd);
    EXPECT_EQ(server.peer.process().state(), QProcess::Running);
}

TEST(PipeRpcInProcess, ClosePipeDisconnectsEveryClient) {
    TestMachine machine;
    PipeRpc server;
    server.setPipeName(u"inproc"_s);
    server.setMaxClients(255);
    QSignalSpy connected(&server, &PipeRpc::connected);
    QSignalSpy disconnected(&server, &PipeRpc::disconnected);
    server.listen();
    PipeRpc clients[3];
    for (PipeRpc& c : clients) {
        ASSERT_EQ(client(c, u"inproc"_s).openPipe(), 0u);
        // The server takes each waiting client before the next one can queue.
        ASSERT_TRUE(connected.wait(2000));
    }
    EXPECT_EQ(server.slotCount(), 4); // three clients and the waiting instance
    server.closePipe();
    ASSERT_EQ(disconnected.count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(disconnected.at(i), (QVariantList{i, int(PipeRpc::pdrClosePipe), 0u}));
    EXPECT_EQ(server.slotCount(), 1);
    QByteArray response(10, 0);
    EXPECT_NE(clients[0].pipeCall("x", response), 0u);
}

} // namespace
