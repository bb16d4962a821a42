#include "common/servicemessage.h"
#include "piperpc/piperpc.h"
#include "support/peerprocess.h"
#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestro;
using kestro::test::PeerProcess;
using kestro::test::TestMachine;

namespace {

QString peerProgram() {
    return qEnvironmentVariable("KESTRO_BINARY_DIR") +
           QStringLiteral("/tests/piperpc/pipeserver_peer");
}

// Expects `action` to throw a PipeRpcError with number 5 and `text`.
template <typename F> void expectError(F action, qint32 number, const QString& text) {
    try {
        action();
        ADD_FAILURE() << "no error raised, expected: " << text.toStdString();
    } catch (const PipeRpcError& e) {
        EXPECT_EQ(e.number(), number);
        EXPECT_EQ(e.description(), text);
        EXPECT_EQ(PipeRpcError::source(), QStringLiteral("PipeRPC"));
    }
}

class PipeServerPeer {
public:
    bool start(const QStringList& args) { return peer.start(peerProgram(), args); }
    // Waits until the server printed `line` (a whole line) and returns true.
    bool waitForLine(const QString& line, int ms = 5000) {
        QDeadlineTimer deadline(ms);
        while (!lines().contains(line)) {
            if (deadline.hasExpired())
                return false;
            peer.process().waitForReadyRead(50);
        }
        return true;
    }
    QStringList events() {
        QStringList out = lines();
        out.removeAll(QStringLiteral("READY"));
        return out;
    }
    QStringList lines() { return peer.output().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    PeerProcess peer;
};

QString hex(const QString& text) {
    return QString::fromLatin1(toUtf16Le(text).toHex());
}

PipeRpc& client(PipeRpc& rpc, const QString& name, qint32 timeout = 0) {
    rpc.setPipeName(name);
    rpc.setTimeout(timeout);
    return rpc;
}

TEST(PipeRpcProperties, DefaultsAndReadOnlyValues) {
    PipeRpc rpc;
    EXPECT_EQ(rpc.maxClients(), 1);
    EXPECT_EQ(rpc.maxRequest(), 1024);
    EXPECT_EQ(rpc.maxResponse(), 1024);
    EXPECT_FALSE(rpc.multiPoll());
    EXPECT_EQ(rpc.pipeName(), QString());
    EXPECT_EQ(rpc.server(), QStringLiteral("."));
    EXPECT_EQ(rpc.timeout(), 0);
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    EXPECT_EQ(PipeRpc::versionMajor(), 1);
    EXPECT_EQ(PipeRpc::versionMinor(), 1);
    EXPECT_EQ(PipeRpc::versionTenThousandths(), 10001);
    EXPECT_FALSE(PipeRpc::copyright().isEmpty());
    EXPECT_LE(rpc.computerName().size(), 31);
}

TEST(PipeRpcProperties, RulesKeepTheOldValue) {
    PipeRpc rpc;
    rpc.setMaxClients(7);
    expectError([&] { rpc.setMaxClients(0); }, 5,
                QStringLiteral("MaxClients must be from 1 to 255 (unlimited)"));
    expectError([&] { rpc.setMaxClients(256); }, 5,
                QStringLiteral("MaxClients must be from 1 to 255 (unlimited)"));
    EXPECT_EQ(rpc.maxClients(), 7);
    rpc.setMaxClients(255);
    EXPECT_EQ(rpc.maxClients(), 255);

    expectError([&] { rpc.setMaxRequest(0); }, 5,
                QStringLiteral("MaxRequest must be from 1 to 65536"));
    expectError([&] { rpc.setMaxRequest(65537); }, 5,
                QStringLiteral("MaxRequest must be from 1 to 65536"));
    rpc.setMaxRequest(65536);
    expectError([&] { rpc.setMaxResponse(-1); }, 5,
                QStringLiteral("MaxResponse must be from 1 to 65536"));
    EXPECT_EQ(rpc.maxResponse(), 1024);

    rpc.setPipeName(QStringLiteral("good"));
    expectError([&] { rpc.setPipeName(QStringLiteral("a\\b")); }, 5,
                QStringLiteral("Cannot contain \"\\\" or NUL characters"));
    expectError([&] { rpc.setPipeName(QStringLiteral("a") + QChar(0)); }, 5,
                QStringLiteral("Cannot contain \"\\\" or NUL characters"));
    EXPECT_EQ(rpc.pipeName(), QStringLiteral("good"));
}

TEST(PipeRpcProperties, PropertyBagStoresWithoutRules) {
    PipeRpc rpc;
    EXPECT_TRUE(rpc.writeProperties().isEmpty());
    rpc.setMaxClients(2);
    rpc.setPipeName(QStringLiteral("Vellmon"));
    rpc.setMultiPoll(true);
    const QVariantMap bag = rpc.writeProperties();
    EXPECT_EQ(bag.value(QStringLiteral("MaxClients")).toInt(), 2);
    EXPECT_EQ(bag.value(QStringLiteral("PipeName")).toString(), QStringLiteral("Vellmon"));
    EXPECT_FALSE(bag.contains(QStringLiteral("MaxRequest")));

    PipeRpc other;
    QVariantMap raw = bag;
    raw.insert(QStringLiteral("MaxClients"), 0); // against the rule, taken over anyway
    other.readProperties(raw);
    EXPECT_EQ(other.maxClients(), 0);
    EXPECT_TRUE(other.multiPoll());
    EXPECT_EQ(other.server(), QStringLiteral("."));
}

TEST(PipeRpcStates, MisuseWhileListeningOrOpen) {
    TestMachine machine;
    PipeRpc server;
    server.setPipeName(QStringLiteral("statepipe"));
    server.setTimeout(-1);
    server.listen();
    EXPECT_EQ(server.state(), PipeRpc::pstListening);
    EXPECT_EQ(server.timeout(), 250);
    expectError([&] { server.setMaxClients(2); }, 5,
                QStringLiteral("Can only be changed while State = pstFree"));
    expectError([&] { server.setServer(QStringLiteral("x")); }, 5,
                QStringLiteral("Can only be changed while State = pstFree"));
    expectError([&] { server.listen(); }, PipeRpc::kErrInvalidWhileConnected,
                QStringLiteral("Invalid call while connected"));
    EXPECT_EQ(PipeRpc::kErrInvalidWhileConnected, -2147186172);
    QByteArray response(10, 0);
    expectError([&] { server.pipeCall("x", response); }, 5,
                QStringLiteral("Cannot make calls while listening"));
    expectError([&] { server.openPipe(); }, 5,
                QStringLiteral("Pipe can only be opened while State = pstFree"));
    EXPECT_TRUE(QFile::exists(local::pipeSocketPath(QStringLiteral("StatePipe"))));
    server.closePipe();
    EXPECT_EQ(server.state(), PipeRpc::pstFree);
    EXPECT_FALSE(QFile::exists(local::pipeSocketPath(QStringLiteral("statepipe"))));

    PipeRpc unnamed;
    expectError([&] { unnamed.pipeCall("x", response); }, 5,
                QStringLiteral("PipeName is required (cannot be empty) to make calls while "
                               "State = pstFree"));
}

TEST(PipeRpcStates, NobodyServing) {
    TestMachine machine;
    PipeRpc rpc;
    client(rpc, QStringLiteral("nobody"), 100);
    EXPECT_EQ(rpc.openPipe(), 121u);
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    QByteArray response(200, 0);
    EXPECT_EQ(rpc.pipeCall("abcd", response), 2u);
    EXPECT_EQ(response.size(), 200);
    rpc.setServer(QStringLiteral("otherhost"));
    EXPECT_EQ(rpc.pipeCall("abcd", response), 53u);
}

class PipeRpcWithServer : public ::testing::Test {
protected:
    TestMachine machine;
    PipeServerPeer server;
};

TEST_F(PipeRpcWithServer, SingleCallEventsAndShrinkingResponse) {
    ASSERT_TRUE(server.start({QStringLiteral("--name"), QStringLiteral("Vellmon")}));
    PipeRpc rpc;
    client(rpc, QStringLiteral("VELLMON"));
    QByteArray response(200, 'x');
    ASSERT_EQ(rpc.pipeCall(toUtf16Le(QStringLiteral("klong|")), response), 0u);
    EXPECT_EQ(response, toUtf16Le(QStringLiteral("True")));
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    ASSERT_TRUE(server.waitForLine(QStringLiteral("DISCONNECTED 0 2 109")));
    EXPECT_EQ(server.events(),
              (QStringList{QStringLiteral("CONNECTED 0"),
                           QStringLiteral("CALLED 0 ") + hex(QStringLiteral("klong|")),
                           QStringLiteral("DISCONNECTED 0 2 109")}));
}

TEST_F(PipeRpcWithServer, OpenPipeKeepsOneConnectionForManyCalls) {
    ASSERT_TRUE(server.start({QStringLiteral("--reply"), QStringLiteral("echo")}));
    PipeRpc rpc;
    client(rpc, QStringLiteral("testpipe"));
    ASSERT_EQ(rpc.openPipe(), 0u);
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
    ASSERT_TRUE(server.waitForLine(QStringLiteral("DISCONNECTED 0 2 109")));
    EXPECT_EQ(server.events().count(QStringLiteral("CONNECTED 0")), 1);
    EXPECT_EQ(server.events().filter(QStringLiteral("CALLED 0")).size(), 3);
}

TEST_F(PipeRpcWithServer, EmptyReplyGivesAnEmptyResponse) {
    ASSERT_TRUE(server.start({QStringLiteral("--reply"), QStringLiteral("empty")}));
    PipeRpc rpc;
    client(rpc, QStringLiteral("testpipe"));
    QByteArray response(200, 'x');
    EXPECT_EQ(rpc.pipeCall("abc", response), 0u);
    EXPECT_TRUE(response.isEmpty());
}

TEST_F(PipeRpcWithServer, SlotLimitWithTwoClients) {
    ASSERT_TRUE(server.start({QStringLiteral("--max-clients"), QStringLiteral("2")}));
    PipeRpc first, second, third;
    ASSERT_EQ(client(first, QStringLiteral("testpipe")).openPipe(), 0u);
    ASSERT_EQ(client(second, QStringLiteral("testpipe")).openPipe(), 0u);
    ASSERT_TRUE(server.waitForLine(QStringLiteral("CONNECTED 1")));
    EXPECT_EQ(client(third, QStringLiteral("testpipe"), 300).openPipe(), 121u);
    first.closePipe();
    ASSERT_TRUE(server.waitForLine(QStringLiteral("DISCONNECTED 0 2 109")));
    EXPECT_EQ(third.openPipe(), 0u);
    QByteArray response(200, 0);
    EXPECT_EQ(third.pipeCall("hi", response), 0u);
    ASSERT_TRUE(server.waitForLine(QStringLiteral("CALLED 0 6869")));
}

TEST_F(PipeRpcWithServer, ClientThatNeverSends) {
    ASSERT_TRUE(server.start({}));
    PipeRpc rpc;
    ASSERT_EQ(client(rpc, QStringLiteral("testpipe")).openPipe(), 0u);
    ASSERT_TRUE(server.waitForLine(QStringLiteral("CONNECTED 0")));
    rpc.closePipe();
    ASSERT_TRUE(server.waitForLine(QStringLiteral("DISCONNECTED 0 2 109")));
    EXPECT_EQ(server.events(),
              (QStringList{QStringLiteral("CONNECTED 0"), QStringLiteral("DISCONNECTED 0 2 109")}));
}

TEST_F(PipeRpcWithServer, RequestTooLongClosesOnlyThatClient) {
    ASSERT_TRUE(server.start({QStringLiteral("--max-request"), QStringLiteral("16")}));
    PipeRpc rpc;
    client(rpc, QStringLiteral("testpipe"));
    QByteArray response(200, 0);
    EXPECT_NE(rpc.pipeCall(QByteArray(40, 'a'), response), 0u);
    ASSERT_TRUE(server.waitForLine(QStringLiteral("DISCONNECTED 0 4 234")));
    EXPECT_TRUE(server.events().filter(QStringLiteral("CALLED")).isEmpty());
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
    ASSERT_TRUE(server.start({QStringLiteral("--max-clients"), QStringLiteral("2"),
                              QStringLiteral("--idle"), QStringLiteral("300")}));
    const QString path = local::pipeSocketPath(QStringLiteral("testpipe"));
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
    const int idle1 = rawConnect(path);
    const int idle2 = rawConnect(path);
    ASSERT_GE(idle1, 0);
    ASSERT_GE(idle2, 0);
    PipeRpc rpc;
    client(rpc, QStringLiteral("testpipe"), 3000);
    QByteArray response(200, 0);
    EXPECT_EQ(rpc.pipeCall(toUtf16Le(QStringLiteral("still there?")), response), 0u);
    EXPECT_EQ(response, toUtf16Le(QStringLiteral("True")));
    EXPECT_TRUE(
        server.waitForLine(QStringLiteral("CALLED 0 ") + hex(QStringLiteral("still there?"))) ||
        server.waitForLine(QStringLiteral("CALLED 1 ") + hex(QStringLiteral("still there?"))));
    EXPECT_FALSE(server.events().filter(QStringLiteral(" 8 0")).isEmpty());
    ::close(idle1);
    ::close(idle2);
    EXPECT_EQ(server.peer.process().state(), QProcess::Running);
}

} // namespace

namespace {

TEST(PipeRpcInProcess, ClosePipeDisconnectsEveryClient) {
    TestMachine machine;
    PipeRpc server;
    server.setPipeName(QStringLiteral("inproc"));
    server.setMaxClients(255);
    QSignalSpy connected(&server, &PipeRpc::connected);
    QSignalSpy disconnected(&server, &PipeRpc::disconnected);
    server.listen();
    std::vector<std::unique_ptr<PipeRpc>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<PipeRpc>());
        clients.back()->setPipeName(QStringLiteral("inproc"));
        ASSERT_EQ(clients.back()->openPipe(), 0u);
        // The server takes each waiting client before the next one can queue.
        ASSERT_TRUE(connected.wait(2000));
    }
    EXPECT_EQ(server.slotCount(), 4); // three clients and the waiting instance
    server.closePipe();
    ASSERT_EQ(disconnected.count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(disconnected.at(i).at(0).toInt(), i);
        EXPECT_EQ(disconnected.at(i).at(1).toInt(), int(PipeRpc::pdrClosePipe));
        EXPECT_EQ(disconnected.at(i).at(2).toUInt(), 0u);
    }
    EXPECT_EQ(server.slotCount(), 1);
    QByteArray response(10, 0);
    EXPECT_NE(clients[0]->pipeCall("x", response), 0u);
}

} // namespace
