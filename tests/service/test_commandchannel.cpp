#include "common/servicemessage.h"
#include "common/updateversion.h"
#include "service/commanddispatcher.h"
#include "service/commandqueue.h"
#include "service/errorlog.h"
#include "service/registrywritequeue.h"
#include "service/registrywriter.h"
#include "support/testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::service;

namespace {

QStringList workOff(CommandQueue& queue) {
    QStringList done;
    queue.work([&](const QueuedMessage& m) { done << m.text; });
    return done;
}

TEST(CommandQueue, ImmediateRepeatsAreDroppedOthersRepeat) {
    CommandQueue queue;
    for (const char* m : {"A", "A", "B", "A", "A", "A", "C"})
        queue.append({QString::fromLatin1(m), false});
    EXPECT_EQ(workOff(queue), (QStringList{"A", "B", "A", "A", "C"}));
    EXPECT_EQ(queue.lastIndex(), 0);
    EXPECT_EQ(queue.size(), 1);

    queue.append({QStringLiteral("A"), false});
    EXPECT_EQ(workOff(queue), QStringList{"A"});
    queue.append({QStringLiteral("A"), false});
    EXPECT_EQ(workOff(queue), QStringList{"A"}); // after being carried out, again
}

TEST(CommandQueue, DroppedRepeatKeepsTheSendersTrust) {
    CommandQueue queue;
    queue.append({QStringLiteral("ShutDown|5|"), false});
    queue.append({QStringLiteral("ShutDown|5|"), true});
    std::vector<QueuedMessage> done;
    queue.work([&](const QueuedMessage& m) { done.push_back(m); });
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].trusted);
}

class Dispatcher : public ::testing::Test {
protected:
    test::TestMachine machine;
    RegistryStore store{machine.registryFolder()};
    RegistryWriter writer{store, {QStringLiteral("Software\\Varnholt\\KestroFTP\\Client")}, {}};
    CommandDispatcher dispatcher{
        [this](Hive hive, const QString& key, const QString& name, const QString& value) {
            writer.write(hive, key, name, value);
        }};
};

TEST_F(Dispatcher, FieldSplitDecidesWhatHappens) {
    QSignalSpy beeps(&dispatcher, &CommandDispatcher::beepRequested);
    QSignalSpy shows(&dispatcher, &CommandDispatcher::showFormRequested);
    QSignalSpy received(&dispatcher, &CommandDispatcher::received);
    dispatcher.dispatch({QStringLiteral("klong"), true});
    EXPECT_EQ(beeps.count(), 0);
    dispatcher.dispatch({QStringLiteral("klong|"), true});
    EXPECT_EQ(beeps.count(), 1);
    dispatcher.dispatch({QStringLiteral("ShowForm|True"), true});
    EXPECT_EQ(shows.count(), 0);
    dispatcher.dispatch({QStringLiteral("ShowForm|True||"), true});
    dispatcher.dispatch({QStringLiteral("ShowForm|0||"), true});
    dispatcher.dispatch({QStringLiteral("ShowForm|vielleicht||"), true});
    ASSERT_EQ(shows.count(), 2);
    EXPECT_TRUE(shows.at(0).at(0).toBool());
    EXPECT_FALSE(shows.at(1).at(0).toBool());
    dispatcher.dispatch(
        {QStringLiteral("keyschreiben|A|B|Software\\Varnholt\\KestroFTP\\Client"), true});
    EXPECT_FALSE(store.read(Hive::LocalMachine,
                            QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                            QStringLiteral("A")));
    EXPECT_EQ(received.count(), 7);
}

TEST_F(Dispatcher, ValuesMayHoldBarsAndOnlyTheClientsNamesAreTaken) {
    dispatcher.dispatch(
        {QStringLiteral("KeySchreiben|ProxyP|a|b||c|Software\\Varnholt\\KestroFTP\\Client"),
         false});
    dispatcher.dispatch(
        {QStringLiteral("KeySchreiben|Fremd|1|Software\\Varnholt\\KestroFTP\\Client"), false});
    const QString key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");
    EXPECT_EQ(store.read(Hive::LocalMachine, key, QStringLiteral("ProxyP")),
              QStringLiteral("a|b||c"));
    EXPECT_FALSE(store.read(Hive::LocalMachine, key, QStringLiteral("Fremd")));
}

// Random messages of every shape: the parser keeps every character, and the dispatcher
// writes nothing outside the client's names, whatever arrives.
TEST_F(Dispatcher, FuzzedMessages) {
    QRandomGenerator random(20261207);
    const QString alphabet = QStringLiteral("||||\\\\..KeySchreibenShutDownsearchingUpdate"
                                            "ProxyPDatabank/\n\r\t\x01ü€ ");
    const QStringList commands{QStringLiteral("KeySchreiben"),
                               QStringLiteral("KeySchreibenClasses"),
                               QStringLiteral("ShowForm"),
                               QStringLiteral("klong"),
                               QStringLiteral("ShutDown"),
                               QStringLiteral("searchingUpdate"),
                               QString()};
    for (int round = 0; round < 20000; ++round) {
        QString text = commands.at(random.bounded(commands.size())) + QLatin1Char('|');
        const int length = random.bounded(60);
        for (int i = 0; i < length; ++i)
            text += random.bounded(8) == 0 ? QChar(char16_t(random.bounded(0x10000)))
                                           : alphabet.at(random.bounded(alphabet.size()));
        if (random.bounded(4) == 0)
            text += QStringLiteral("|Software\\Varnholt\\KestroFTP\\Client");
        const ServiceMessage m = splitServiceMessage(text);
        const ServiceMessage w = splitSettingMessage(text);
        if (text.count(QLatin1Char('|')) >= 3) {
            const QString bar(QLatin1Char('|'));
            ASSERT_EQ(m.command + bar + m.field1 + bar + m.field2 + bar + m.field3, text);
            ASSERT_EQ(w.command + bar + w.field1 + bar + w.field2 + bar + w.field3, text);
            ASSERT_FALSE(w.field3.contains(QLatin1Char('|')));
        }
        decodeServiceMessage(text);
        dispatcher.dispatch({text, false});
    }
    const QByteArray hive = test::readFile(store.hiveFile(Hive::LocalMachine));
    const QJsonObject root = QJsonDocument::fromJson(hive).object();
    ASSERT_LE(root.size(), 1);
    const DeployConfig defaults;
    for (const QString& name : root.value(root.keys().value(0)).toObject().keys())
        EXPECT_TRUE(defaults.settingNames.contains(name, Qt::CaseInsensitive))
            << name.toStdString();
}

TEST_F(Dispatcher, ShutdownDelays) {
    QSignalSpy armed(&dispatcher, &CommandDispatcher::shutdownArmed);
    dispatcher.dispatch({QStringLiteral("ShutDown|  1500.6 ms||"), true});
    dispatcher.dispatch({QStringLiteral("ShutDown|65536||"), true}); // the timer refuses it
    dispatcher.dispatch({QStringLiteral("ShutDown|-5||"), true});
    dispatcher.dispatch({QStringLiteral("ShutDown|bald||"), true});
    dispatcher.dispatch({QStringLiteral("ShutDown|100||"), false}); // untrusted sender
    ASSERT_EQ(armed.count(), 2);
    EXPECT_EQ(armed.at(0).at(0).toInt(), 1501);
    EXPECT_EQ(armed.at(1).at(0).toInt(), 0);
}

TEST_F(Dispatcher, UpdateRequestsMustNameAPlainProductAndARealFolder) {
    qRegisterMetaType<UpdateRequest>();
    QSignalSpy updates(&dispatcher, &CommandDispatcher::updateRequested);
    const QString folder = machine.appData();
    dispatcher.dispatch(
        {QStringLiteral("searchingUpdate|../../etc/x|") + folder + QStringLiteral("|1.0.41"),
         true});
    dispatcher.dispatch(
        {QStringLiteral("searchingUpdate|KestroFTP-Client|relative/dir|1.0.41"), true});
    dispatcher.dispatch(
        {QStringLiteral("searchingUpdate|KestroFTP-Client|/no/such/folder|1.0.41"), true});
    EXPECT_EQ(updates.count(), 0);
    dispatcher.dispatch(
        {QStringLiteral("searchingUpdate|KestroFTP-Client|") + folder + QStringLiteral("|1.0.41"),
         true});
    ASSERT_EQ(updates.count(), 1);
    const auto request = updates.at(0).at(0).value<UpdateRequest>();
    EXPECT_EQ(request.clientFolder, folder);
    EXPECT_EQ(request.currentVersion, QStringLiteral("1.0.41"));
}

TEST(Narrowing, DoubleWidthTextIsReadAgain) {
    EXPECT_EQ(decodeServiceMessage(QStringLiteral("klong|")), QStringLiteral("klong|"));
    const QString wide = QString::fromLatin1(QByteArray("k\0l\0o\0n\0g\0|\0", 12));
    EXPECT_EQ(decodeServiceMessage(wide), QStringLiteral("klong|"));
}

TEST(RegistryAllowList, KeysAndSubkeysOnly) {
    const QStringList allow{QStringLiteral("Software\\Varnholt\\KestroFTP\\Client")};
    EXPECT_TRUE(
        RegistryWriter::isAllowed(QStringLiteral("SOFTWARE\\varnholt\\KestroFTP\\Client"), allow));
    EXPECT_TRUE(RegistryWriter::isAllowed(
        QStringLiteral("Software\\Varnholt\\KestroFTP\\Client\\Sub"), allow));
    EXPECT_FALSE(
        RegistryWriter::isAllowed(QStringLiteral("Software\\Varnholt\\KestroFTP\\ClientX"), allow));
    EXPECT_FALSE(RegistryWriter::isAllowed(QStringLiteral("Software\\Varnholt\\KestroFTP"), allow));
    EXPECT_FALSE(RegistryWriter::isAllowed(
        QStringLiteral("Software\\Varnholt\\KestroFTP\\Client\\"), allow));
    EXPECT_FALSE(RegistryWriter::isAllowed(
        QStringLiteral("Software\\Varnholt\\KestroFTP\\Client\\..\\X"), allow));
    EXPECT_FALSE(RegistryWriter::isAllowed(QStringLiteral("anything"), {}));
}

TEST(ErrorLogLines, NumberedAndPaddedToAHundred) {
    test::TestMachine machine;
    ErrorLog log(machine.systemDrive());
    log.write(1, QStringLiteral("UpdateSoft 1"));
    log.write(1, QString(150, QLatin1Char('x')));
    const QByteArray text = test::readFile(log.path());
    const QByteArray expected = "Test:-LevelInt:1 Level:1: UpdateSoft 1" + QByteArray(88, ' ') +
                                "\r\nTest:-LevelInt:2 Level:1: " + QByteArray(100, 'x') + "\r\n";
    EXPECT_EQ(text, expected);
}

TEST(VersionRules, SixteenBitNumbersComparedInOrder) {
    auto v = [](const char* t) { return parseVersion(QString::fromLatin1(t)).value(); };
    EXPECT_TRUE(isNewer(v("2.0.0"), v("1.9.9")));
    EXPECT_TRUE(isNewer(v("1.10.0"), v("1.9.20")));
    EXPECT_TRUE(isNewer(v("1.0.100"), v("1.0.41")));
    EXPECT_FALSE(isNewer(v("0.9.50"), v("1.0.41")));
    EXPECT_FALSE(isNewer(v("1.0.41"), v("1.0.41")));
    const VersionNumbers four = v("1.2.3.4");
    EXPECT_EQ(four.major, 1);
    EXPECT_EQ(four.minor, 3);
    EXPECT_EQ(four.build, 4);
    EXPECT_EQ(v("1.2.3\r").build, 3);
    EXPECT_EQ(v("x.y.z").major, 0);
    EXPECT_FALSE(parseVersion(QStringLiteral("1.40000.0")));
    EXPECT_EQ(v("1.-1.0").minor, -1);

    QString rest;
    EXPECT_EQ(versionFirstLine(QStringLiteral("1.2.3\r\nhttp://a/b"), &rest),
              QStringLiteral("1.2.3\r"));
    EXPECT_EQ(rest, QStringLiteral("http://a/b"));
    EXPECT_FALSE(
        versionFirstLine(QString(kVersionScanLimit, QLatin1Char('1')) + QLatin1Char('\n')));
    EXPECT_TRUE(
        versionFirstLine(QString(kVersionScanLimit - 1, QLatin1Char('1')) + QLatin1Char('\n')));
}

} // namespace

namespace {

TEST(RegistryWrites, LaterWritesWinAndAllArrive) {
    test::TestMachine machine;
    RegistryStore store(machine.registryFolder());
    RegistryWriter writer(store, {QStringLiteral("Software\\Varnholt")}, {});
    const QString key = QStringLiteral("Software\\Varnholt\\Q");
    {
        RegistryWriteQueue queue(writer);
        for (int i = 0; i < 200; ++i) {
            EXPECT_TRUE(
                queue.enqueue(Hive::LocalMachine, key, QStringLiteral("Same"), QString::number(i)));
            EXPECT_TRUE(queue.enqueue(Hive::LocalMachine, key, QStringLiteral("V%1").arg(i % 7),
                                      QString::number(i)));
        }
        queue.waitForDone();
    }
    EXPECT_EQ(store.read(Hive::LocalMachine, key, QStringLiteral("Same")), QStringLiteral("199"));
    for (int v = 0; v < 7; ++v) {
        int last = 199;
        while (last % 7 != v)
            --last;
        EXPECT_EQ(store.read(Hive::LocalMachine, key, QStringLiteral("V%1").arg(v)),
                  QString::number(last));
    }
}

} // namespace
