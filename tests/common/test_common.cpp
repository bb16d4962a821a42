#include "common/ansi.h"
#include "common/deployconfig.h"
#include "common/fileexists.h"
#include "common/germanformat.h"
#include "common/inifile.h"
#include "common/logging.h"
#include "common/paths.h"
#include "common/registrystore.h"
#include "common/servicemessage.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestro;
using kestro::test::TestMachine;

TEST(Ansi, GermanTextAndUnmappableCharacters) {
    EXPECT_EQ(toAnsi(QStringLiteral("Straße Köln €")), QByteArray("Stra\xDF"
                                                                  "e K\xF6ln \x80"));
    // Polish, Czech and an emoji (a surrogate pair) each become a single '?'.
    EXPECT_EQ(toAnsi(QStringLiteral("Łódź Říčany 😀!")), QByteArray("?\xF3"
                                                                   "d? ?\xED?any ?!"));
    EXPECT_EQ(fromAnsi(QByteArray("Stra\xDF"
                                  "e \x80\x9F")),
              QStringLiteral("Straße €Ÿ"));
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(fromAnsi(all).size(), 256);
    EXPECT_TRUE(isValidUtf8("K\xC3\xB6ln"));
    EXPECT_FALSE(isValidUtf8("K\xF6ln"));
}

TEST(FileExists, ComparesNameWithoutCaseAndOnlyPlainFiles) {
    TestMachine m;
    const QString file = m.writeFile(QStringLiteral("d/Version.txt"), "x");
    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(fileExists(m.path(QStringLiteral("d/VERSION.TXT"))));
    EXPECT_FALSE(fileExists(m.path(QStringLiteral("d/Version.tx"))));
    EXPECT_FALSE(fileExists(m.path(QStringLiteral("d"))));
    EXPECT_FALSE(fileExists(m.path(QStringLiteral("nowhere/Version.txt"))));
    EXPECT_FALSE(fileExists(QString()));
}

TEST(Paths, EnvironmentFirstThenXdgAndHome) {
    test::EnvGuard env;
    env.set("APPDATA", QStringLiteral("/tmp/a/"));
    env.set("LOCALAPPDATA", QStringLiteral("C:\\x\\y"));
    env.set("SystemDrive", QStringLiteral("/srv"));
    EXPECT_EQ(paths::appData(), QStringLiteral("/tmp/a"));
    EXPECT_EQ(paths::localAppData(), QStringLiteral("C:/x/y"));
    EXPECT_EQ(paths::systemDrive(), QStringLiteral("/srv"));
    env.unset("APPDATA");
    env.set("XDG_DATA_HOME", QStringLiteral("/xdg/data"));
    EXPECT_EQ(paths::appData(), QStringLiteral("/xdg/data"));
    env.unset("SystemDrive");
    EXPECT_EQ(paths::systemDrive(), QDir::homePath());
    EXPECT_EQ(paths::join(QStringLiteral("/"), QStringLiteral("f")), QStringLiteral("/f"));
    EXPECT_EQ(paths::join(QStringLiteral("/a"), QStringLiteral("f")), QStringLiteral("/a/f"));
}

TEST(GermanFormat, DatesTimesAndNumbers) {
    EXPECT_EQ(de::shortDate(QDate(2026, 12, 6)), QStringLiteral("06.12.2026"));
    EXPECT_EQ(de::twoDigitYearDate(QDate(2026, 12, 6)), QStringLiteral("06.12.26"));
    EXPECT_EQ(de::longTime(QTime(14, 5, 9)), QStringLiteral("14:05:09"));
    EXPECT_EQ(de::compactTime(QTime(9, 5, 0)), QStringLiteral("090500"));
    EXPECT_EQ(de::number(1234.5, 2), QStringLiteral("1.234,50"));
    EXPECT_EQ(de::number(1.5, 2), QStringLiteral("1,50"));
    EXPECT_EQ(de::number(1.5625, 0), QStringLiteral("2"));
    EXPECT_EQ(de::number(2.5, 0), QStringLiteral("3"));
    EXPECT_EQ(de::number(1234567.0, 0, false), QStringLiteral("1234567"));
}

TEST(IniFile, ProfileSemantics) {
    const QByteArray text = "; comment\r\n[ColorMenue]\r\nColor1 = farbig \r\nCOLOR1=second\r\n"
                            "Color2=\"s/w\"\r\n[ftp]\r\nUser=kunde;1\r\nPW=" +
                            QByteArray(200, 'x') + "\r\n";
    const IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.value(QStringLiteral("colormenue"), QStringLiteral("color1")),
              QStringLiteral("farbig"));
    EXPECT_EQ(ini.value(QStringLiteral("ColorMenue"), QStringLiteral("Color2")),
              QStringLiteral("s/w"));
    EXPECT_EQ(ini.value(QStringLiteral("FTP"), QStringLiteral("User")), QStringLiteral("kunde;1"));
    EXPECT_EQ(profileValue(ini, QStringLiteral("FTP"), QStringLiteral("PW")).size(), 131);
    EXPECT_EQ(ini.value(QStringLiteral("FTP"), QStringLiteral("Mail")), QString());
    EXPECT_EQ(ini.value(QStringLiteral("Nope"), QStringLiteral("User")), QString());
    // ANSI and UTF-8 files give the same text.
    EXPECT_EQ(IniFile::parse("[A]\nk=Gr\xFC"
                             "n")
                  .value(QStringLiteral("a"), QStringLiteral("k")),
              QStringLiteral("Grün"));
    EXPECT_EQ(IniFile::parse("[A]\nk=Gr\xC3\xBCn").value(QStringLiteral("a"), QStringLiteral("k")),
              QStringLiteral("Grün"));
}

TEST(IniFile, DamagedOrOddFilesReadAsEmpty) {
    TestMachine m;
    EXPECT_TRUE(IniFile::load(m.path(QStringLiteral("missing.ini"))).isEmpty());
    QDir().mkpath(m.path(QStringLiteral("folder.ini")));
    EXPECT_TRUE(IniFile::load(m.path(QStringLiteral("folder.ini"))).isEmpty());
    EXPECT_TRUE(
        IniFile::load(m.writeFile(QStringLiteral("bin.ini"), QByteArray("[A]\0k=v", 7))).isEmpty());
    EXPECT_TRUE(IniFile::load(m.writeFile(QStringLiteral("empty.ini"), "")).isEmpty());
}

TEST(DeployConfig, DefaultsAndOverridesWithTrailingComments) {
    TestMachine m;
    const DeployConfig defaults = DeployConfig::load(m.configFile());
    EXPECT_EQ(defaults.webServer, QStringLiteral("http://www.varnholt.example"));
    EXPECT_EQ(defaults.password, QStringLiteral("abcd1"));
    m.writeFile(QStringLiteral("kestro.conf"),
                "[Maker]\nWebServer=http://127.0.0.1:8080/   ; base\nFtpHost=127.0.0.1:2121\n"
                "[Service]\nRegistryWriteAllow=Software\\A; Software\\B\n");
    const DeployConfig c = DeployConfig::load(m.configFile());
    EXPECT_EQ(c.webServer, QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(c.ftpHost, QStringLiteral("127.0.0.1:2121"));
    EXPECT_EQ(c.mail, QStringLiteral("info@varnholt.example"));
    EXPECT_EQ(c.registryWriteAllow,
              (QStringList{QStringLiteral("Software\\A"), QStringLiteral("Software\\B")}));
}

TEST(ServiceMessage, BuildAndSplit) {
    EXPECT_EQ(
        keySchreibenMessage(QStringLiteral("Databank"), QStringLiteral("/srv/j.mdb")),
        QStringLiteral("KeySchreiben|Databank|/srv/j.mdb|Software\\Varnholt\\KestroFTP\\Client"));
    ServiceMessage m = splitServiceMessage(QStringLiteral("KeySchreiben|N|T|Soft|ware"));
    EXPECT_EQ(m.command, QStringLiteral("KeySchreiben"));
    EXPECT_EQ(m.field1, QStringLiteral("N"));
    EXPECT_EQ(m.field2, QStringLiteral("T"));
    EXPECT_EQ(m.field3, QStringLiteral("Soft|ware"));
    m = splitServiceMessage(QStringLiteral("klong"));
    EXPECT_TRUE(m.command.isEmpty());
    EXPECT_EQ(splitServiceMessage(QStringLiteral("klong|")).command, QStringLiteral("klong"));
    m = splitServiceMessage(QStringLiteral("ShowForm|True"));
    EXPECT_EQ(m.command, QStringLiteral("ShowForm"));
    EXPECT_TRUE(m.field1.isEmpty());
    EXPECT_EQ(m.field3, QStringLiteral("True"));
    EXPECT_EQ(splitServiceMessage(QStringLiteral("ShowForm|True||")).field1,
              QStringLiteral("True"));
    const QString text = QStringLiteral("Grüße|€");
    EXPECT_EQ(toUtf16Le(text).size(), text.size() * 2);
    EXPECT_EQ(fromUtf16Le(toUtf16Le(text)), text);
    EXPECT_EQ(toUtf16Le(QStringLiteral("True")), QByteArray("T\0r\0u\0e\0", 8));
    EXPECT_EQ(fromUtf16Le(QByteArray("A\0B", 3)), QStringLiteral("A"));
}

TEST(ServiceMessage, SettingValuesMayHoldBars) {
    const ServiceMessage m = splitSettingMessage(
        keySchreibenMessage(QStringLiteral("ProxyP"), QStringLiteral("|pa|ss|")));
    EXPECT_EQ(m.command, QStringLiteral("KeySchreiben"));
    EXPECT_EQ(m.field1, QStringLiteral("ProxyP"));
    EXPECT_EQ(m.field2, QStringLiteral("|pa|ss|"));
    EXPECT_EQ(m.field3, kSettingsKeyPath);
    const ServiceMessage plain = splitSettingMessage(QStringLiteral("KeySchreiben|N|T|K"));
    EXPECT_EQ(plain.field2, QStringLiteral("T"));
    EXPECT_EQ(plain.field3, QStringLiteral("K"));
    EXPECT_EQ(splitSettingMessage(QStringLiteral("KeySchreiben|N|T")).field3, QStringLiteral("T"));
}

TEST(Logging, ControlCharactersCannotStartALine) {
    EXPECT_EQ(logSafe(QString(kLogSafeLength + 88, QLatin1Char('a'))),
              QString(kLogSafeLength, QLatin1Char('a')) + QStringLiteral("... (88 more)"));
    EXPECT_EQ(logSafe(QStringLiteral("a\nb\r\tc\x1b[31m\u2028d\\e ü")),
              QStringLiteral("a\\nb\\r\\tc\\x1b[31m\\u2028d\\e ü"));
    // A name that reads "Update-gpj.exe" shows as "Update-exe.jpg".
    EXPECT_EQ(logSafe(QStringLiteral("Update-\u202egpj.exe \u2066x\u2069 \u202a\u2029")),
              QStringLiteral("Update-\\u202egpj.exe \\u2066x\\u2069 \\u202a\\u2029"));
}

TEST(RegistryStore, KeysAndNamesIgnoreCaseAndTextRoundTrips) {
    TestMachine m;
    RegistryStore reg(m.registryFolder());
    EXPECT_FALSE(reg.read(Hive::LocalMachine, QStringLiteral("Software\\X"), QStringLiteral("A")));
    const QString odd = QStringLiteral("Ä \"quoted\" \\ | \t\r\n😀 end  ");
    ASSERT_TRUE(reg.write(Hive::LocalMachine,
                          QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                          QStringLiteral("Databank"), odd));
    EXPECT_EQ(reg.read(Hive::LocalMachine, QStringLiteral("software\\varnholt\\kestroftp\\client"),
                       QStringLiteral("DATABANK")),
              odd);
    ASSERT_TRUE(reg.write(Hive::LocalMachine,
                          QStringLiteral("SOFTWARE\\Varnholt\\KestroFTP\\Client"),
                          QStringLiteral("databank"), QStringLiteral("new")));
    EXPECT_EQ(reg.read(Hive::LocalMachine, QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                       QStringLiteral("Databank")),
              QStringLiteral("new"));
    EXPECT_FALSE(reg.read(Hive::ClassesRoot,
                          QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
                          QStringLiteral("Databank")));
    // The key is kept as first written, once.
    const QByteArray json = test::readFile(reg.hiveFile(Hive::LocalMachine));
    EXPECT_TRUE(json.contains("Software\\\\Varnholt\\\\KestroFTP\\\\Client"));
    EXPECT_EQ(json.count("Varnholt"), 1);
    EXPECT_FALSE(
        reg.write(Hive::LocalMachine, QStringLiteral("K"), QStringLiteral("V"), QString(QChar(0))));
}

TEST(RegistryStore, DamagedFilesReadAsEmptyAndAreKeptOnWrite) {
    TestMachine m;
    RegistryStore reg(m.registryFolder());
    for (const QByteArray& junk :
         {QByteArray(""), QByteArray("{\"Software\": "), QByteArray("[1,2]")}) {
        m.writeFile(QStringLiteral("registry/HKEY_LOCAL_MACHINE.json"), junk);
        EXPECT_FALSE(reg.read(Hive::LocalMachine, QStringLiteral("Software"), QStringLiteral("A")));
    }
    ASSERT_TRUE(reg.write(Hive::LocalMachine, QStringLiteral("Software"), QStringLiteral("A"),
                          QStringLiteral("1")));
    EXPECT_EQ(reg.read(Hive::LocalMachine, QStringLiteral("Software"), QStringLiteral("A")),
              QStringLiteral("1"));
    const QStringList kept = QDir(m.registryFolder()).entryList({QStringLiteral("*.damaged-*")});
    EXPECT_EQ(kept.size(), 1);
    // A folder where the hive file should be reads as empty and cannot be written.
    QDir().mkpath(m.registryFolder() + QStringLiteral("/HKEY_CLASSES_ROOT.json"));
    EXPECT_FALSE(reg.read(Hive::ClassesRoot, QStringLiteral("K"), QStringLiteral("V")));
}

TEST(RegistryStore, OnlyTheNewestDamagedCopiesAreKept) {
    TestMachine m;
    RegistryStore reg(m.registryFolder());
    for (int i = 0; i < 6; ++i) {
        m.writeFile(QStringLiteral("registry/HKEY_LOCAL_MACHINE.json"), "{ damaged");
        ASSERT_TRUE(reg.write(Hive::LocalMachine, QStringLiteral("Software"), QStringLiteral("A"),
                              QString::number(i)));
        QThread::msleep(2); // the copies are told apart by the time in their names
    }
    EXPECT_EQ(QDir(m.registryFolder()).entryList({QStringLiteral("*.damaged-*")}).size(), 3);
}

TEST(RegistryStore, AWritePastTheLimitIsRefusedAndTheStoreKept) {
    TestMachine m;
    RegistryStore reg(m.registryFolder());
    const QString key = QStringLiteral("Software\\Varnholt\\KestroFTP\\Client");
    ASSERT_TRUE(reg.write(Hive::LocalMachine, key, QStringLiteral("Databank"),
                          QStringLiteral("/srv/jobs.mdb")));
    // Fill the store to just below its limit with values of another key.
    const QString chunk(6 * 1024 * 1024, QLatin1Char('x'));
    int written = 0;
    while (reg.write(Hive::LocalMachine, QStringLiteral("Software\\Fill"),
                     QStringLiteral("V%1").arg(written), chunk))
        ASSERT_LT(++written, 20);
    EXPECT_EQ(written, 10);
    EXPECT_LE(QFileInfo(reg.hiveFile(Hive::LocalMachine)).size(), RegistryStore::kMaxHiveBytes);
    EXPECT_EQ(reg.read(Hive::LocalMachine, key, QStringLiteral("Databank")),
              QStringLiteral("/srv/jobs.mdb"));
    EXPECT_TRUE(reg.write(Hive::LocalMachine, key, QStringLiteral("Databank"),
                          QStringLiteral("/srv/neu.mdb")));
    EXPECT_EQ(reg.read(Hive::LocalMachine, key, QStringLiteral("Databank")),
              QStringLiteral("/srv/neu.mdb"));
    EXPECT_TRUE(QDir(m.registryFolder()).entryList({QStringLiteral("*.damaged-*")}).isEmpty());
}

TEST(RegistryStore, ConcurrentWritersFromSeveralProcessesLoseNothing) {
    TestMachine m;
    // Two processes write 40 values each into the same key at the same time.
    auto writer = [&](const QString& prefix) {
        RegistryStore reg(m.registryFolder());
        for (int i = 0; i < 40; ++i)
            reg.write(Hive::LocalMachine, QStringLiteral("Software\\K"),
                      prefix + QString::number(i), QString::number(i));
    };
    const pid_t child = fork();
    if (child == 0) {
        writer(QStringLiteral("child"));
        _exit(0);
    }
    std::thread t([&] { writer(QStringLiteral("thread")); });
    writer(QStringLiteral("parent"));
    t.join();
    int status = 0;
    waitpid(child, &status, 0);
    RegistryStore reg(m.registryFolder());
    for (const char* prefix : {"child", "thread", "parent"})
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(reg.read(Hive::LocalMachine, QStringLiteral("Software\\K"),
                               QString::fromLatin1(prefix) + QString::number(i)),
                      QString::number(i));
}
