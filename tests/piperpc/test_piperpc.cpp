// The pipe RPC as server and client. The server runs in this thread and serves while each
// client call that waits for it runs on a thread of its own.
#include "common/servicemessage.h"
#include "piperpc/piperpc.h"
#include "support/testenv.h"

#include <QFile>
#include <QTest>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestro;
using namespace Qt::StringLiterals;
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

// Runs `call` on a thread of its own while this thread's server serves; its result.
template <typename Call> auto serving(Call call) {
    auto result = std::async(std::launch::async, call);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        20000));
    return result.get();
}

// A pipe server that notes every event as a line and answers each call with `reply` (a null
// reply: the request itself).
class RecordingServer : public PipeRpc {
public:
    explicit RecordingServer(const QString& name) {
        setPipeName(name);
        connect(this, &PipeRpc::connected,
                [this](qint32 pipe) { events << u"CONNECTED %1"_s.arg(pipe); });
        connect(this, &PipeRpc::disconnected, [this](qint32 pipe, qint32 reason, quint32 error) {
            events << u"DISCONNECTED %1 %2 %3"_s.arg(pipe).arg(reason).arg(error);
        });
        connect(this, &PipeRpc::called,
                [this](qint32 pipe, const QByteArray& request, QByteArray* response) {
                    events << u"CALLED %1 %2"_s.arg(pipe).arg(QString::fromLatin1(request.toHex()));
                    *response = reply.isNull() ? request : reply;
                });
    }
    bool waitForLine(const QString& line, int times = 1) {
        return QTest::qWaitFor([&] { return events.count(line) >= times; }, 5000);
    }
    QStringList events;
    QByteArray reply = toUtf16Le(u"True"_s);
};

QString hex(const QString& text) {
    return QString::fromLatin1(toUtf16Le(text).toHex());
}

PipeRpc& client(PipeRpc& rpc, const QString& name = u"testpipe"_s, qint32 timeout = 0) {
    rpc.setPipeName(name);
    rpc.setTimeout(timeout);
    return rpc;
}

// Values against the rules are refused and the old value kept; the property bag stores
// what it is given, rules or not.
TEST(PipeRpcProperties, RulesKeepTheOldValueTheBagStoresWithoutRules) {
    PipeRpc rpc;
    EXPECT_LE(rpc.computerName().size(), 31);
    EXPECT_TRUE(rpc.writeProperties().isEmpty());
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
    rpc.setMultiPoll(true);
    QVariantMap bag = rpc.writeProperties();
    EXPECT_EQ(bag.value(u"MaxClients"_s).toInt(), 7);
    EXPECT_EQ(bag.value(u"PipeName"_s).toString(), u"good"_s);
    EXPECT_FALSE(bag.contains(u"MaxRequest"_s));
    rpc.setMaxClients(255);
    rpc.setMaxRequest(65536);
    EXPECT_EQ(std::tuple(rpc.maxClients(), rpc.maxRequest()), std::tuple(255, 65536));
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

class PipeRpcServed : public ::testing::Test {
protected:
    TestMachine machine;
};

// One server: one call's events (its name taken without case), an empty reply, a client
// that connects and never sends, then an open pipe for many calls and a response buffer
// too short for the answer.
TEST_F(PipeRpcServed, CallsAndAnOpenPipeLeaveTheirEvents) {
    RecordingServer server(u"Vellmon"_s);
    server.listen();
    PipeRpc rpc, silent, open;
    QByteArray response(200, 'x');
    ASSERT_EQ(serving([&] {
                  return client(rpc, u"VELLMON"_s).pipeCall(toUtf16Le(u"klong|"_s), response);
              }),
              0u);
    EXPECT_EQ(response, toUtf16Le(u"True"_s));
    EXPECT_EQ(rpc.state(), PipeRpc::pstFree);
    server.reply = QByteArray("");
    ASSERT_EQ(serving([&] { return rpc.pipeCall("abc", response); }), 0u);
    EXPECT_TRUE(response.isEmpty());
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s, 2));
    ASSERT_EQ(serving([&] { return client(silent, u"Vellmon"_s).openPipe(); }), 0u);
    ASSERT_TRUE(server.waitForLine(u"CONNECTED 0"_s, 3));
    silent.closePipe();
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s, 3));
    server.reply = QByteArray();
    ASSERT_EQ(serving([&] { return client(open, u"Vellmon"_s).openPipe(); }), 0u);
    EXPECT_EQ(open.state(), PipeRpc::pstOpen);
    for (const QByteArray& request : {QByteArray("one"), QByteArray("second call")}) {
        QByteArray echoed(64, 0);
        ASSERT_EQ(serving([&] { return open.pipeCall(request, echoed); }), 0u);
        EXPECT_EQ(echoed, request);
    }
    QByteArray small(4, 0);
    EXPECT_EQ(serving([&] { return open.pipeCall("longer than four", small); }), 234u);
    EXPECT_EQ(small, QByteArray("long"));
    open.closePipe();
    EXPECT_EQ(open.state(), PipeRpc::pstFree);
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s, 4));
    const QString connected = u"CONNECTED 0"_s, gone = u"DISCONNECTED 0 2 109"_s;
    EXPECT_EQ(server.events,
              (QStringList{connected, u"CALLED 0 "_s + hex(u"klong|"_s), gone, connected,
                           u"CALLED 0 616263"_s, gone, connected, gone, connected,
                           u"CALLED 0 6f6e65"_s, u"CALLED 0 7365636f6e642063616c6c"_s,
                           u"CALLED 0 6c6f6e676572207468616e20666f7572"_s, gone}));
}

// Two slots: a third client waits in vain until one is free; a request too long closes
// only the connection that sent it.
TEST_F(PipeRpcServed, SlotLimitAndARequestTooLong) {
    RecordingServer server(u"testpipe"_s);
    server.setMaxClients(2);
    server.setMaxRequest(16);
    server.listen();
    PipeRpc first, second, third;
    ASSERT_EQ(serving([&] { return client(first).openPipe(); }), 0u);
    ASSERT_EQ(serving([&] { return client(second).openPipe(); }), 0u);
    ASSERT_TRUE(server.waitForLine(u"CONNECTED 1"_s));
    EXPECT_EQ(serving([&] { return client(third, u"testpipe"_s, 300).openPipe(); }), 121u);
    first.closePipe();
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 2 109"_s));
    EXPECT_EQ(serving([&] { return third.openPipe(); }), 0u);
    QByteArray response(200, 0);
    EXPECT_EQ(serving([&] { return third.pipeCall("hi", response); }), 0u);
    ASSERT_TRUE(server.waitForLine(u"CALLED 0 6869"_s));
    second.closePipe();
    third.closePipe();
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 1 2 109"_s));
    const qsizetype calls = server.events.filter(u"CALLED"_s).size();
    PipeRpc rpc;
    EXPECT_NE(serving([&] { return client(rpc).pipeCall(QByteArray(40, 'a'), response); }), 0u);
    ASSERT_TRUE(server.waitForLine(u"DISCONNECTED 0 4 234"_s));
    EXPECT_EQ(server.events.filter(u"CALLED"_s).size(), calls);
    response.resize(200);
    EXPECT_EQ(serving([&] { return rpc.pipeCall(QByteArray(16, 'b'), response); }), 0u);
}

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

// Raw sockets connect and vanish, send nothing, send zero bytes, send and leave before the
// answer; two that never speak hold both slots until they idle out: the server still answers.
TEST_F(PipeRpcServed, MisbehavingClientsNeverMakeItUnreachable) {
    RecordingServer server(u"testpipe"_s);
    server.setMaxClients(2);
    server.setIdleTimeout(300);
    server.listen();
    const QString path = local::pipeSocketPath(u"testpipe"_s);
    const auto misbehave = [&] { // the server accepts them meanwhile
        for (int i = 0; i < 20; ++i) {
            const int fd = rawConnect(path);
            if (fd < 0)
                return std::pair(-1, -1);
            if (i % 3 == 0)
                ::send(fd, "half a call", 11, MSG_NOSIGNAL);
            if (i % 3 == 1)
                ::send(fd, "", 0, MSG_NOSIGNAL);
            ::close(fd);
        }
        return std::pair(rawConnect(path), rawConnect(path));
    };
    const auto [idle0, idle1] = serving(misbehave);
    const int idle[] = {idle0, idle1};
    ASSERT_GE(std::min(idle[0], idle[1]), 0);
    PipeRpc rpc;
    QByteArray response(200, 0);
    const QString text = u"still there?"_s;
    EXPECT_EQ(serving([&] {
                  return client(rpc, u"testpipe"_s, 3000).pipeCall(toUtf16Le(text), response);
              }),
              0u);
    EXPECT_EQ(response, toUtf16Le(u"True"_s));
    EXPECT_TRUE(server.waitForLine(u"CALLED 0 "_s + hex(text)) ||
                server.waitForLine(u"CALLED 1 "_s + hex(text)));
    EXPECT_FALSE(server.events.filter(u" 8 0"_s).isEmpty()) << "idled out";
    for (int fd : idle)
        ::close(fd);
}

// Closing the server's pipe disconnects every client, each with that reason.
TEST_F(PipeRpcServed, ClosePipeDisconnectsEveryClient) {
    RecordingServer server(u"inproc"_s);
    server.setMaxClients(255);
    server.listen();
    PipeRpc clients[3];
    for (int i = 0; i < 3; ++i) { // each taken before the next one can queue
        ASSERT_EQ(client(clients[i], u"inproc"_s).openPipe(), 0u);
        ASSERT_TRUE(server.waitForLine(u"CONNECTED %1"_s.arg(i)));
    }
    EXPECT_EQ(server.slotCount(), 4); // three clients and the waiting instance
    server.closePipe();
    EXPECT_EQ(
        server.events.filter(u"DISCONNECTED"_s),
        (QStringList{u"DISCONNECTED 0 3 0"_s, u"DISCONNECTED 1 3 0"_s, u"DISCONNECTED 2 3 0"_s}));
    EXPECT_EQ(server.slotCount(), 1);
    QByteArray response(10, 0);
    EXPECT_NE(clients[0].pipeCall("x", response), 0u);
}

} // namespace
