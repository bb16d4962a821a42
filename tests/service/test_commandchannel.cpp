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
using namespace Qt::StringLiterals;

namespace {

const QString kClientKey = u"Software\\Varnholt\\KestroFTP\\Client"_s;

TEST(CommandQueue, ImmediateRepeatsAreDroppedOthersRepeatAndTrustIsKept) {
    CommandQueue queue;
    std::vector<QueuedMessage> done;
    const auto workOff = [&] {
        QStringList texts;
        queue.work([&](const QueuedMessage& m) { texts << m.text, done.push_back(m); });
        return texts;
    };
    for (const char* m : {"A", "A", "B", "A", "A", "A", "C"})
        queue.append({QString::fromLatin1(m), false});
    EXPECT_EQ(workOff(), (QStringList{"A", "B", "A", "A", "C"}));
    EXPECT_EQ(queue.lastIndex(), 0);
    EXPECT_EQ(queue.size(), 1);
    for (int i = 0; i < 2; ++i) { // after being carried out, again
        queue.append({u"A"_s, false});
        EXPECT_EQ(workOff(), QStringList{"A"});
    }
    // A dropped repeat from a trusted sender keeps that trust.
    done.clear();
    queue.append({u"ShutDown|5|"_s, false});
    queue.append({u"ShutDown|5|"_s, true});
    workOff();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].trusted);
}

class Dispatcher : public ::testing::Test {
protected:
    std::optional<QString> stored(const QString& name) {
        return store.read(Hive::LocalMachine, kClientKey, name);
    }
    test::TestMachine machine;
    RegistryStore store{machine.registryFolder()};
    RegistryWriter writer{store, {kClientKey}, {}};
    CommandDispatcher dispatcher{
        [this](Hive hive, const QString& key, const QString& name, const QString& value) {
            writer.write(hive, key, name, value);
        }};
};

// How a message is split decides what happens: a beep, the window, a shutdown armed from a
// trusted sender only, an update request naming a plain product and a real folder.
TEST_F(Dispatcher, FieldSplitDecidesWhatHappens) {
    qRegisterMetaType<UpdateRequest>();
    QSignalSpy beeps(&dispatcher, &CommandDispatcher::beepRequested);
    QSignalSpy shows(&dispatcher, &CommandDispatcher::showFormRequested);
    QSignalSpy armed(&dispatcher, &CommandDispatcher::shutdownArmed);
    QSignalSpy updates(&dispatcher, &CommandDispatcher::updateRequested);
    QSignalSpy received(&dispatcher, &CommandDispatcher::received);
    const QString folder = machine.appData();
    // The message, whether its sender is trusted, and the beeps, window requests, shutdowns
    // and update requests counted after it.
    const std::tuple<QString, bool, int, int, int, int> steps[] = {
        {u"klong"_s, true, 0, 0, 0, 0},
        {u"klong|"_s, true, 1, 0, 0, 0},
        {u"ShowForm|True"_s, true, 1, 0, 0, 0},
        {u"ShowForm|True||"_s, true, 1, 1, 0, 0},
        {u"ShowForm|0||"_s, true, 1, 2, 0, 0},
        {u"ShowForm|vielleicht||"_s, true, 1, 2, 0, 0},
        {u"keyschreiben|A|B|"_s + kClientKey, true, 1, 2, 0, 0},
        {u"ShutDown|  1500.6 ms||"_s, true, 1, 2, 1, 0},
        {u"ShutDown|65536||"_s, true, 1, 2, 1, 0}, // the timer refuses it
        {u"ShutDown|-5||"_s, true, 1, 2, 1, 0},
        {u"ShutDown|bald||"_s, true, 1, 2, 2, 0},
        {u"ShutDown|100||"_s, false, 1, 2, 2, 0},
        {u"searchingUpdate|../../etc/x|%1|1.0.41"_s.arg(folder), true, 1, 2, 2, 0},
        {u"searchingUpdate|KestroFTP-Client|relative/dir|1.0.41"_s, true, 1, 2, 2, 0},
        {u"searchingUpdate|KestroFTP-Client|/no/such/folder|1.0.41"_s, true, 1, 2, 2, 0},
        {u"searchingUpdate|KestroFTP-Client|%1|1.0.41"_s.arg(folder), true, 1, 2, 2, 1}};
    for (const auto& [message, trusted, beepCount, showCount, armedCount, updateCount] : steps) {
        dispatcher.dispatch({message, trusted});
        EXPECT_EQ(std::tuple(beeps.count(), shows.count(), armed.count(), updates.count()),
                  std::tuple(beepCount, showCount, armedCount, updateCount))
            << message.toStdString();
    }
    EXPECT_TRUE(shows.at(0).at(0).toBool());
    EXPECT_FALSE(shows.at(1).at(0).toBool());
    EXPECT_FALSE(stored(u"A"_s));
    EXPECT_EQ(received.count(), int(std::size(steps)));
    EXPECT_EQ(armed.at(0).at(0).toInt(), 1501);
    EXPECT_EQ(armed.at(1).at(0).toInt(), 0);
    const auto request = updates.at(0).at(0).value<UpdateRequest>();
    EXPECT_EQ(request.clientFolder, folder);
    EXPECT_EQ(request.currentVersion, u"1.0.41"_s);
}

// Random messages of every shape: the parser keeps every character, and the dispatcher
// writes nothing outside the client's names, whatever arrives.
TEST_F(Dispatcher, FuzzedMessages) {
    QRandomGenerator random(20261207);
    const QString alphabet =
        u"||||\\\\..KeySchreibenShutDownsearchingUpdateProxyPDatabank/\n\r\t\x01ü€ "_s;
    const QStringList commands{
        u"KeySchreiben"_s, u"KeySchreibenClasses"_s, u"ShowForm"_s, u"klong"_s,
        u"ShutDown"_s,     u"searchingUpdate"_s,     QString()};
    for (int round = 0; round < 20000; ++round) {
        QString text = commands.at(random.bounded(commands.size())) + u'|';
        const int length = random.bounded(60);
        for (int i = 0; i < length; ++i)
            text += random.bounded(8) == 0 ? QChar(char16_t(random.bounded(0x10000)))
                                           : alphabet.at(random.bounded(alphabet.size()));
        if (random.bounded(4) == 0)
            text += u'|' + kClientKey;
        if (text.count(u'|') >= 3) {
            for (const ServiceMessage& m : {splitServiceMessage(text), splitSettingMessage(text)})
                ASSERT_EQ(QStringList({m.command, m.field1, m.field2, m.field3}).join(u'|'), text);
            ASSERT_FALSE(splitSettingMessage(text).field3.contains(u'|'));
        }
        decodeServiceMessage(text);
        dispatcher.dispatch({text, false});
    }
    const QJsonObject root =
        QJsonDocument::fromJson(test::readFile(store.hiveFile(Hive::LocalMachine))).object();
    ASSERT_LE(root.size(), 1);
    const DeployConfig defaults;
    for (const QString& name : root.value(root.keys().value(0)).toObject().keys())
        EXPECT_TRUE(defaults.settingNames.contains(name, Qt::CaseInsensitive))
            << name.toStdString();
}

TEST(ErrorLogLines, NumberedAndPaddedToAHundred) {
    test::TestMachine machine;
    ErrorLog log(machine.systemDrive());
    log.write(1, u"UpdateSoft 1"_s);
    log.write(1, QString(150, u'x'));
    EXPECT_EQ(test::readFile(log.path()),
              "Test:-LevelInt:1 Level:1: UpdateSoft 1" + QByteArray(88, ' ') +
                  "\r\nTest:-LevelInt:2 Level:1: " + QByteArray(100, 'x') + "\r\n");
}

TEST(VersionRules, SixteenBitNumbersComparedInOrder) {
    auto v = [](const char* t) { return parseVersion(QString::fromLatin1(t)).value(); };
    const std::tuple<const char*, const char*, bool> newer[] = {{"2.0.0", "1.9.9", true},
                                                                {"1.10.0", "1.9.20", true},
                                                                {"1.0.100", "1.0.41", true},
                                                                {"0.9.50", "1.0.41", false},
                                                                {"1.0.41", "1.0.41", false}};
    for (const auto& [offered, current, expected] : newer)
        EXPECT_EQ(isNewer(v(offered), v(current)), expected) << offered << " against " << current;
    const VersionNumbers four = v("1.2.3.4");
    EXPECT_EQ(std::tuple(four.major, four.minor, four.build), std::tuple(1, 3, 4));
    EXPECT_EQ(v("1.2.3\r").build, 3);
    EXPECT_EQ(v("x.y.z").major, 0);
    EXPECT_FALSE(parseVersion(u"1.40000.0"_s));
    EXPECT_EQ(v("1.-1.0").minor, -1);

    QString rest;
    EXPECT_EQ(versionFirstLine(u"1.2.3\r\nhttp://a/b"_s, &rest), u"1.2.3\r"_s);
    EXPECT_EQ(rest, u"http://a/b"_s);
    EXPECT_FALSE(versionFirstLine(QString(kVersionScanLimit, u'1') + u'\n'));
    EXPECT_TRUE(versionFirstLine(QString(kVersionScanLimit - 1, u'1') + u'\n'));
}

TEST(RegistryWrites, LaterWritesWinAndAllArrive) {
    test::TestMachine machine;
    RegistryStore store(machine.registryFolder());
    RegistryWriter writer(store, {u"Software\\Varnholt"_s}, {});
    const QString key = u"Software\\Varnholt\\Q"_s;
    {
        RegistryWriteQueue queue(writer);
        for (int i = 0; i < 200; ++i) {
            EXPECT_TRUE(queue.enqueue(Hive::LocalMachine, key, u"Same"_s, QString::number(i)));
            EXPECT_TRUE(
                queue.enqueue(Hive::LocalMachine, key, u"V%1"_s.arg(i % 7), QString::number(i)));
        }
        queue.waitForDone();
    }
    EXPECT_EQ(store.read(Hive::LocalMachine, key, u"Same"_s), u"199"_s);
    EXPECT_FALSE(RegistryWriter::isAllowed(u"anything"_s, {})) << "an empty allow list";
    for (int v = 0; v < 7; ++v) // the last i below 200 with i % 7 == v
        EXPECT_EQ(store.read(Hive::LocalMachine, key, u"V%1"_s.arg(v)),
                  QString::number(199 - (199 - v) % 7));
}

} // namespace
