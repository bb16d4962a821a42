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
#include "support/textprint.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace Qt::StringLiterals;
using kestro::test::TestMachine;

namespace {

const QString kClientKey = u"Software\\Varnholt\\KestroFTP\\Client"_s;

// Windows-1252 text (octal escapes: ß ö € Ÿ); what it cannot hold becomes one '?' each.
TEST(TextAndFormats, AnsiGermanFormatsAndFileExists) {
    EXPECT_EQ(toAnsi(u"Straße Köln €"_s), QByteArray("Stra\337e K\366ln \200"));
    EXPECT_EQ(toAnsi(u"Łódź Říčany 😀!"_s), QByteArray("?\363d? ?\355?any ?!"));
    EXPECT_EQ(fromAnsi(QByteArray("Stra\337e \200\237")), u"Straße €Ÿ"_s);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(fromAnsi(all).size(), 256);
    EXPECT_TRUE(isValidUtf8("K\xC3\xB6ln"));
    EXPECT_FALSE(isValidUtf8("K\xF6ln"));

    EXPECT_EQ(de::shortDate(QDate(2026, 12, 6)), u"06.12.2026"_s);
    EXPECT_EQ(de::twoDigitYearDate(QDate(2026, 12, 6)), u"06.12.26"_s);
    EXPECT_EQ(de::longTime(QTime(14, 5, 9)), u"14:05:09"_s);
    EXPECT_EQ(de::compactTime(QTime(9, 5, 0)), u"090500"_s);
    EXPECT_EQ(de::number(1234.5, 2), u"1.234,50"_s);
    EXPECT_EQ(de::number(1.5, 2), u"1,50"_s);
    EXPECT_EQ(de::number(1.5625, 0), u"2"_s);
    EXPECT_EQ(de::number(2.5, 0), u"3"_s);
    EXPECT_EQ(de::number(1234567.0, 0, false), u"1234567"_s);
    TestMachine m; // only a plain file counts, its name compared without case
    m.writeFile(u"d/Version.txt"_s, "x");
    for (const auto& [name, exists] :
         {std::pair(u"d/Version.txt"_s, true), std::pair(u"d/VERSION.TXT"_s, true),
          std::pair(u"d/Version.tx"_s, false), std::pair(u"d"_s, false),
          std::pair(u"nowhere/Version.txt"_s, false)})
        EXPECT_EQ(fileExists(m.path(name)), exists) << name.toStdString();
    EXPECT_FALSE(fileExists(QString()));
}

TEST(Paths, EnvironmentFirstThenXdgAndHome) {
    test::EnvGuard env;
    env.set("APPDATA", u"/tmp/a/"_s);
    env.set("LOCALAPPDATA", u"C:\\x\\y"_s);
    env.set("SystemDrive", u"/srv"_s);
    EXPECT_EQ(paths::appData(), u"/tmp/a"_s);
    EXPECT_EQ(paths::localAppData(), u"C:/x/y"_s);
    EXPECT_EQ(paths::systemDrive(), u"/srv"_s);
    env.unset("APPDATA");
    env.set("XDG_DATA_HOME", u"/xdg/data"_s);
    EXPECT_EQ(paths::appData(), u"/xdg/data"_s);
    env.unset("SystemDrive");
    EXPECT_EQ(paths::systemDrive(), QDir::homePath());
    EXPECT_EQ(paths::join(u"/"_s, u"f"_s), u"/f"_s);
    EXPECT_EQ(paths::join(u"/a"_s, u"f"_s), u"/a/f"_s);
}

// Profile files as the shop writes them, and the deployment file with trailing comments.
TEST(ConfigFiles, ProfileSemanticsDamagedFilesAndDeployOverrides) {
    const IniFile ini = IniFile::parse(
        "; comment\r\n[ColorMenue]\r\nColor1 = farbig \r\nCOLOR1=second\r\nColor2=\"s/w\"\r\n"
        "[ftp]\r\nUser=kunde;1\r\nPW=" +
        QByteArray(200, 'x') + "\r\n");
    EXPECT_EQ(ini.value(u"colormenue"_s, u"color1"_s), u"farbig"_s);
    EXPECT_EQ(ini.value(u"ColorMenue"_s, u"Color2"_s), u"s/w"_s);
    EXPECT_EQ(ini.value(u"FTP"_s, u"User"_s), u"kunde;1"_s);
    EXPECT_EQ(profileValue(ini, u"FTP"_s, u"PW"_s).size(), 131);
    EXPECT_EQ(ini.value(u"FTP"_s, u"Mail"_s), QString());
    EXPECT_EQ(ini.value(u"Nope"_s, u"User"_s), QString());
    for (const QByteArray& text : {QByteArray("[A]\nk=Gr\374n"), QByteArray("[A]\nk=Gr\303\274n")})
        EXPECT_EQ(IniFile::parse(text).value(u"a"_s, u"k"_s), u"Grün"_s) << "ANSI and UTF-8";
    TestMachine m; // missing, a folder, binary or empty: read as empty
    QDir().mkpath(m.path(u"folder.ini"_s));
    for (const QString& file :
         {m.path(u"missing.ini"_s), m.path(u"folder.ini"_s),
          m.writeFile(u"bin.ini"_s, QByteArray("[A]\0k=v", 7)), m.writeFile(u"empty.ini"_s, "")})
        EXPECT_TRUE(IniFile::load(file).isEmpty()) << file.toStdString();

    m.writeFile(u"kestro.conf"_s,
                "[Maker]\nWebServer=http://127.0.0.1:8080/   ; base\nFtpHost=127.0.0.1:2121\n"
                "[Service]\nRegistryWriteAllow=Software\\A; Software\\B\n");
    const DeployConfig c = DeployConfig::load(m.configFile());
    EXPECT_EQ(c.webServer, u"http://127.0.0.1:8080"_s);
    EXPECT_EQ(c.ftpHost, u"127.0.0.1:2121"_s);
    EXPECT_EQ(c.mail, u"info@varnholt.example"_s);
    EXPECT_EQ(c.registryWriteAllow, (QStringList{u"Software\\A"_s, u"Software\\B"_s}));
}

// How a message splits into command and three fields. A setting's value may hold '|':
// there the key path is what follows the last one.
TEST(ServiceMessage, BuildAndSplit) {
    const auto fields = [](const ServiceMessage& m) {
        return QStringList{m.command, m.field1, m.field2, m.field3};
    };
    // How "klong", "ShowForm|True" and the like split, the dispatcher's table decides.
    EXPECT_EQ(fields(splitServiceMessage(u"KeySchreiben|N|T|Soft|ware"_s)),
              (QStringList{u"KeySchreiben"_s, u"N"_s, u"T"_s, u"Soft|ware"_s}));
    const std::pair<QString, QStringList> settings[] = {
        {keySchreibenMessage(u"ProxyP"_s, u"|pa|ss|"_s),
         {u"KeySchreiben"_s, u"ProxyP"_s, u"|pa|ss|"_s, kSettingsKeyPath}},
        {u"KeySchreiben|N|T|K"_s, {u"KeySchreiben"_s, u"N"_s, u"T"_s, u"K"_s}}};
    for (const auto& [text, expected] : settings)
        EXPECT_EQ(fields(splitSettingMessage(text)), expected) << text.toStdString();
    EXPECT_EQ(splitSettingMessage(u"KeySchreiben|N|T"_s).field3, u"T"_s);
    EXPECT_EQ(fromUtf16Le(toUtf16Le(u"Grüße|€"_s)), u"Grüße|€"_s);
    EXPECT_EQ(toUtf16Le(u"True"_s), QByteArray("T\0r\0u\0e\0", 8));
    EXPECT_EQ(fromUtf16Le(QByteArray("A\0B", 3)), u"A"_s);
}

// Text from a message cannot begin a line of the log, nor flood it, nor reverse its
// direction to disguise a name ("Update-gpj.exe" showing as "Update-exe.jpg").
TEST(Logging, ControlCharactersCannotStartALine) {
    EXPECT_EQ(logSafe(QString(kLogSafeLength + 88, u'a')),
              QString(kLogSafeLength, u'a') + u"... (88 more)"_s);
    EXPECT_EQ(logSafe(u"a\nb\r\tc\x1b[31m\u2028d\\e ü"_s), u"a\\nb\\r\\tc\\x1b[31m\\u2028d\\e ü"_s);
    EXPECT_EQ(logSafe(u"Update-\u202egpj.exe \u2066x\u2069 \u202a\u2029"_s),
              u"Update-\\u202egpj.exe \\u2066x\\u2069 \\u202a\\u2029"_s);
}

// The machine-wide settings store: names without case and any text; three writers at once
// lose nothing; a full store refuses the write and keeps its values; damaged files read as
// empty and only the newest three damaged copies are kept.
TEST(RegistryStore, KeepsEveryValueThroughRivalsAFullStoreAndDamage) {
    TestMachine m;
    RegistryStore reg(m.registryFolder());
    const auto read = [&](const QString& key, const QString& name, Hive hive = Hive::LocalMachine) {
        return reg.read(hive, key, name);
    };
    const auto write = [&](const QString& key, const QString& name, const QString& value,
                           Hive hive = Hive::LocalMachine) {
        return reg.write(hive, key, name, value);
    };
    const auto damagedCopies = [&] {
        return QDir(m.registryFolder()).entryList({u"*.damaged-*"_s}).size();
    };
    std::optional<testing::ScopedTrace> part; // names the part a failure is in
    part.emplace(__FILE__, __LINE__, "names without case, any text");
    EXPECT_FALSE(read(u"Software\\X"_s, u"A"_s));
    const QString odd = u"Ä \"quoted\" \\ | \t\r\n😀 end  "_s;
    ASSERT_TRUE(write(kClientKey, u"Databank"_s, odd));
    EXPECT_EQ(read(u"software\\varnholt\\kestroftp\\client"_s, u"DATABANK"_s), odd);
    ASSERT_TRUE(
        write(u"SOFTWARE\\Varnholt\\KestroFTP\\Client"_s, u"databank"_s, u"/srv/jobs.mdb"_s));
    EXPECT_FALSE(read(kClientKey, u"Databank"_s, Hive::ClassesRoot));
    const QByteArray json = test::readFile(reg.hiveFile(Hive::LocalMachine));
    EXPECT_TRUE(json.contains("Software\\\\Varnholt\\\\KestroFTP\\\\Client"));
    EXPECT_EQ(json.count("Varnholt"), 1) << "the key is kept as first written, once";
    EXPECT_FALSE(write(u"K"_s, u"V"_s, QString(QChar(0))));

    part.emplace(__FILE__, __LINE__,
                 "two processes and a thread write 40 values each into one key at once");
    const auto writer = [&](const QString& prefix) {
        RegistryStore own(m.registryFolder());
        for (int i = 0; i < 40; ++i)
            own.write(Hive::ClassesRoot, u"Software\\K"_s, prefix + QString::number(i),
                      QString::number(i));
    };
    const pid_t child = fork();
    if (child == 0) {
        writer(u"child"_s);
        _exit(0);
    }
    std::thread t([&] { writer(u"thread"_s); });
    writer(u"parent"_s);
    t.join();
    int status = 0;
    waitpid(child, &status, 0);
    for (const QString& prefix : {u"child"_s, u"thread"_s, u"parent"_s})
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(read(u"Software\\K"_s, prefix + QString::number(i), Hive::ClassesRoot),
                      QString::number(i));

    part.emplace(__FILE__, __LINE__, "filled to just below its limit with values of another key");
    const QString chunk(6 * 1024 * 1024, u'x');
    int written = 0;
    while (write(u"Software\\Fill"_s, u"V%1"_s.arg(written), chunk))
        ASSERT_LT(++written, 20);
    EXPECT_EQ(written, 10);
    EXPECT_LE(QFileInfo(reg.hiveFile(Hive::LocalMachine)).size(), RegistryStore::kMaxHiveBytes);
    EXPECT_EQ(read(kClientKey, u"Databank"_s), u"/srv/jobs.mdb"_s);
    EXPECT_TRUE(write(kClientKey, u"Databank"_s, u"/srv/neu.mdb"_s));
    EXPECT_EQ(read(kClientKey, u"Databank"_s), u"/srv/neu.mdb"_s);
    EXPECT_EQ(damagedCopies(), 0);

    part.emplace(__FILE__, __LINE__, "damaged files; only the newest three copies kept");
    for (const QByteArray& junk :
         {QByteArray(""), QByteArray("{\"Software\": "), QByteArray("[1,2]")}) {
        m.writeFile(u"registry/HKEY_LOCAL_MACHINE.json"_s, junk);
        EXPECT_FALSE(read(kClientKey, u"Databank"_s)) << junk.constData();
    }
    ASSERT_TRUE(write(u"Software"_s, u"A"_s, u"1"_s));
    EXPECT_EQ(read(u"Software"_s, u"A"_s), u"1"_s);
    EXPECT_EQ(damagedCopies(), 1);
    for (int i = 0; i < 6; ++i) {
        m.writeFile(u"registry/HKEY_LOCAL_MACHINE.json"_s, "{ damaged");
        ASSERT_TRUE(write(u"Software"_s, u"A"_s, QString::number(i)));
        QThread::msleep(2); // the copies are told apart by the time in their names
    }
    EXPECT_EQ(damagedCopies(), 3);
    // A folder where the hive file should be reads as empty.
    QDir(m.registryFolder()).removeRecursively();
    QDir().mkpath(m.registryFolder() + u"/HKEY_CLASSES_ROOT.json"_s);
    EXPECT_FALSE(read(u"Software\\K"_s, u"child0"_s, Hive::ClassesRoot));
}

} // namespace
