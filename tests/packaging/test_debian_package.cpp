// The Debian package as an administrator meets it. It installs into the real system (a
// throw-away container in CI), so it runs only with `scripts/test --heavy`; `dpkg --root`
// would need a whole Debian system in the temporary root.
#include "common/registrystore.h"
#include "packaging/installedtree.h"
#include "support/peerprocess.h"
#include "support/programrun.h"
#include "support/testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestro;
using namespace kestro::test;

namespace {

const QString kPackage = "kestroftp";
const QString kEnabledLink = "/etc/systemd/system/multi-user.target.wants/vellmon.service";
const QString kConfig = "/etc/varnholt/kestro.conf";
const QString kVarnholt = "/var/lib/varnholt";
const QString kRegistry = kVarnholt + "/registry";
const QString kVellmonState = "/var/lib/vellmon";
const QString kEtcUnit = "/etc/systemd/system/vellmon.service";
// What "Vellmon -install" of the release before the package wrote.
const QByteArray kEarlierInstallUnit = "[Unit]\nDescription=UpdateManager Varnholt\n"
                                       "After=network.target\n\n[Service]\nType=simple\n"
                                       "ExecStart=/opt/kestro/Vellmon\n"
                                       "ExecReload=/bin/kill -USR2 $MAINPID\n"
                                       "Environment=VELLMON_RUNTIME_DIR=/run/vellmon\n"
                                       "RuntimeDirectory=vellmon\nRuntimeDirectoryMode=0755\n"
                                       "StateDirectory=vellmon\nRestart=on-failure\n"
                                       "TimeoutStopSec=15\nPrivateTmp=yes\n"
                                       "ProtectHome=read-only\nNoNewPrivileges=yes\n"
                                       "ProtectKernelTunables=yes\nProtectKernelModules=yes\n"
                                       "ProtectControlGroups=yes\nRestrictRealtime=yes\n"
                                       "LockPersonality=yes\n\n[Install]\n"
                                       "WantedBy=multi-user.target\n";

ProcessRun dpkg(const QStringList& args) {
    return runProgram("dpkg", args);
}

// What dpkg-query says of the package in `format`, e.g. "${Status}".
std::string query(const char* format) {
    return runProgram("dpkg-query", {"-W", QString("-f=") + format, kPackage}).out.toStdString();
}

// The file's SHA-256, or "missing".
std::string sha256(const QString& path) {
    if (!QFileInfo::exists(path))
        return "missing";
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

class DebianPackage : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_FAIL() << "the package test installs into the system and must run as root";
        // A package left by an earlier run that broke off would hide what this run installs.
        if (query("${Status}").find("installed") != std::string::npos) {
            ASSERT_EQ(dpkg({"--purge", kPackage}).exitCode, 0);
        }
        ASSERT_FALSE(QFileInfo::exists(kEtcUnit)) << "a real unit in /etc exists here";
    }
    void TearDown() override {
        dpkg({"--purge", kPackage});
        for (const QString& db : seeded_)
            QFile::remove(db);
        // What the installation moved aside for this test, and what it set up by hand.
        for (const QString& aside : QDir("/etc/systemd/system").entryList({"vellmon.service.*"}))
            QFile::remove("/etc/systemd/system/" + aside);
        QFile::remove(kEtcUnit);
        for (const QString& aside :
             QDir(kVarnholt).entryList({"registry.*"}, QDir::System | QDir::AllEntries))
            QFile::remove(kVarnholt + '/' + aside);
        if (QFileInfo(kRegistry).isSymLink())
            QFile::remove(kRegistry);
        QDir().rmdir(kRegistry + "/HKEY_LOCAL_MACHINE.json.sicherung");
        QDir().rmdir(kRegistry);
        QDir().rmdir(kVarnholt);
        QDir().rmdir(kVellmonState);
        if (wroteConfig_) {
            QFile::remove(kConfig);
            QFile::remove(kConfig + ".dpkg-new");
            QDir().rmdir("/etc/varnholt");
        }
    }

    // Job databases where an administrator might well have put them: none may be lost.
    static QStringList jobDatabases() {
        return {kVarnholt + "/Auftraege.mdb", kRegistry + "/Auftraege.mdb",
                kVellmonState + "/jobs.mdb"};
    }

    // The package of this build, or with another version number (an older release).
    QString buildPackage(const QString& version = {}) {
        const QString folder = out_.filePath(version.isEmpty() ? "this" : version);
        QStringList args{
            "-G",       "DEB",
            "--config", qEnvironmentVariable("KESTRO_BINARY_DIR") + "/CPackConfig.cmake",
            "-B",       folder};
        if (!version.isEmpty())
            args << "-D"
                 << "CPACK_PACKAGE_VERSION=" + version;
        const ProcessRun cpack = runProgram(KESTRO_CPACK, args);
        EXPECT_EQ(cpack.exitCode, 0) << cpack.out.toStdString() << cpack.err.toStdString();
        const QStringList debs = QDir(folder).entryList({"*.deb"});
        return debs.size() == 1 ? QDir(folder).filePath(debs.first()) : QString();
    }

    QTemporaryDir out_;
    QStringList seeded_; // the job databases this test made
    bool wroteConfig_ = false;
};

} // namespace

// A machine set up by hand before the package, in use, upgraded, reinstalled, removed, purged.
TEST_F(DebianPackage, InstallsUpgradesKeepingEverythingAndPurgesAllButTheJobs) {
    const QString deb = buildPackage();
    const QString older = buildPackage("0.9.0");
    ASSERT_FALSE(deb.isEmpty() || older.isEmpty());
    const ProcessRun lintian = runProgram("lintian", {deb});
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out.toStdString() << lintian.err.toStdString();
    std::printf("lintian:\n%s", qPrintable(lintian.out));
    const QString depends = dpkg({"-f", deb, "Depends"}).out;
    for (const char* library : {"libqt6core6", "libcurl4", "libpq5"})
        EXPECT_TRUE(depends.contains(library)) << depends.toStdString();
    EXPECT_TRUE(dpkg({"-f", deb, "Recommends"}).out.contains("libqt6sql6-psql"));

    ASSERT_FALSE(QFileInfo::exists(kConfig)) << "a real deployment file exists here";
    ASSERT_FALSE(QFileInfo::exists(kVarnholt)) << "a real store exists here";
    // By hand: a deployment file (installed over from a script, asked nothing), an earlier
    // release's unit, and a user's link where the store belongs, in a folder anyone writes.
    const QByteArray adminConfig = "[Maker]\nFtpHost=ftp.druckerei.example\n";
    wroteConfig_ = true;
    writeFile(kConfig, adminConfig);
    writeFile(kEtcUnit, kEarlierInstallUnit);
    const QTemporaryDir victim;
    ASSERT_EQ(::chmod(qPrintable(victim.path()), 01777), 0);
    ASSERT_EQ(::chown(qPrintable(victim.path()), 65534, 65534), 0);
    ASSERT_TRUE(QDir().mkdir(kVarnholt));
    ASSERT_EQ(::chmod(qPrintable(kVarnholt), 0777), 0);
    const ProcessRun link =
        runProgram("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "ln", "-s",
                               victim.path(), kRegistry});
    ASSERT_EQ(link.exitCode, 0) << link.err.toStdString();

    ProcessRun install = dpkg({"-i", older});
    ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    EXPECT_EQ(query("${Status}"), "install ok installed");
    EXPECT_EQ(readFile(kConfig), adminConfig);
    EXPECT_FALSE(QFileInfo::exists(kEtcUnit));
    EXPECT_TRUE(install.err.contains("was moved aside")) << install.err.toStdString();
    EXPECT_EQ(install.err.count("moved aside"), 2) << "the unit and the link";
    struct stat st {};
    ASSERT_EQ(::stat(qPrintable(victim.path()), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u) << "root's mode handed through the link";
    EXPECT_EQ(st.st_uid, 65534u);
    ASSERT_EQ(::lstat(qPrintable(kRegistry), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    // Nor may "Vellmon -install" put a unit into /etc now.
    const ProcessRun selfInstall = runProgram("/usr/bin/Vellmon", {"-install"});
    EXPECT_EQ(selfInstall.exitCode, 1);
    EXPECT_TRUE(selfInstall.err.contains("installed by the package kestroftp"))
        << selfInstall.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(kEtcUnit));
    for (const QString& file : kPackagedFiles)
        EXPECT_TRUE(QFileInfo::exists('/' + file)) << file.toStdString();
    EXPECT_EQ(QFileInfo(kEnabledLink).symLinkTarget(), "/lib/systemd/system/vellmon.service");
    EXPECT_NE(query("${Conffiles}").find(kConfig.toStdString()), std::string::npos);
    const ProcessRun help = runProgram("/usr/bin/kestro-send", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("usage: kestro-send")) << help.out.toStdString();
    {
        const QTemporaryDir runtime;
        EnvGuard env;
        env.set("VELLMON_READY_LINE", "1");
        env.set("VELLMON_RUNTIME_DIR", runtime.path());
        PeerProcess vellmon;
        EXPECT_TRUE(vellmon.start("/usr/bin/Vellmon", {})) << vellmon.output().toStdString();
        EXPECT_TRUE(QFileInfo::exists(runtime.filePath("pipe/vellmon")));
    }

    // In use: settings (by the installed Vellmon), its state, job databases, and the unit
    // this release's "Vellmon -install" writes.
    const QTemporaryDir units;
    QProcessEnvironment unitEnv;
    unitEnv.insert("VELLMON_UNIT_DIR", units.path());
    ASSERT_EQ(runProgram("/usr/bin/Vellmon", {"-install"}, unitEnv).exitCode, 0);
    for (const QString& db : jobDatabases()) {
        // Somebody's real job database is never replaced, not even by this test.
        ASSERT_FALSE(QFileInfo::exists(db)) << db.toStdString() << " exists already";
        QDir().mkpath(QFileInfo(db).path());
        seeded_ << db;
        ASSERT_EQ(runProgram(KESTRO_DEMO_SEED_PATH, {db}).exitCode, 0);
    }
    ASSERT_TRUE(RegistryStore(kRegistry).write(Hive::LocalMachine,
                                               "Software\\Varnholt\\KestroFTP\\Client", "Databank",
                                               jobDatabases().first()));
    writeFile(kVellmonState + "/ErrUpDm.log", "07.12.2026 Fehler\r\n");
    QMap<QString, std::string> jobs;
    for (const QString& db : jobDatabases())
        jobs.insert(db, sha256(db));
    const QByteArray store = readFile(kRegistry + "/HKEY_LOCAL_MACHINE.json");
    ASSERT_TRUE(store.contains("Databank"));
    {
        const QTemporaryDir written;
        QProcessEnvironment writtenEnv;
        writtenEnv.insert("VELLMON_UNIT_DIR", written.path());
        writtenEnv.insert("VARNHOLT_REGISTRY", written.filePath("registry"));
        ASSERT_EQ(runProgram(qEnvironmentVariable("KESTRO_BINARY_DIR") + "/service/Vellmon",
                             {"-install"}, writtenEnv)
                      .exitCode,
                  0);
        ASSERT_TRUE(QFile::copy(written.filePath("vellmon.service"), kEtcUnit));
    }

    // Upgraded, then installed over itself: everything stays, the unit stays enabled.
    for (const QString& next : {deb, deb}) {
        install = dpkg({"-i", next});
        ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(kEtcUnit));
        EXPECT_EQ(query("${Version}"), KESTRO_VERSION);
        EXPECT_EQ(readFile(kConfig), adminConfig);
        EXPECT_FALSE(QFileInfo::exists(kConfig + ".dpkg-dist"));
        EXPECT_EQ(readFile(kRegistry + "/HKEY_LOCAL_MACHINE.json"), store);
        EXPECT_TRUE(QFileInfo::exists(kVellmonState + "/ErrUpDm.log"));
        EXPECT_TRUE(QFileInfo(kEnabledLink).isSymLink());
        for (const QString& db : jobDatabases())
            EXPECT_EQ(sha256(db), jobs.value(db)) << db.toStdString();
    }
    // The installed program finds the database through the kept settings.
    EXPECT_EQ(runProgram("/usr/bin/kestro-jobs", {"list"}).exitCode, 0);
    for (const QString& db : jobDatabases())
        jobs.insert(db, sha256(db));

    // Disabled, removed (programs go, the unit is masked) and installed again: stays disabled.
    const ProcessRun disable = runProgram("systemctl", {"disable", "vellmon.service"});
    ASSERT_EQ(disable.exitCode, 0) << disable.err.toStdString();
    ASSERT_FALSE(QFileInfo(kEnabledLink).isSymLink());
    const ProcessRun remove = dpkg({"-r", kPackage});
    ASSERT_EQ(remove.exitCode, 0) << remove.out.toStdString() << remove.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists("/usr/bin/Vellmon"));
    EXPECT_EQ(QFileInfo(kEtcUnit).symLinkTarget(), "/dev/null");
    EXPECT_EQ(readFile(kConfig), adminConfig);
    EXPECT_EQ(readFile(kRegistry + "/HKEY_LOCAL_MACHINE.json"), store);
    ASSERT_EQ(dpkg({"-i", deb}).exitCode, 0);
    EXPECT_FALSE(QFileInfo(kEnabledLink).isSymLink()) << "the disabled service was enabled";

    // Purge: all but the job databases goes, past a store copy in a folder named like its file.
    const QString backup = kRegistry + "/HKEY_LOCAL_MACHINE.json.sicherung/Auftraege.mdb";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(backup).path()));
    seeded_ << backup;
    ASSERT_EQ(runProgram(KESTRO_DEMO_SEED_PATH, {backup}).exitCode, 0);
    jobs.insert(backup, sha256(backup));
    const ProcessRun purge = dpkg({"--purge", kPackage});
    ASSERT_EQ(purge.exitCode, 0) << purge.out.toStdString() << purge.err.toStdString();
    EXPECT_EQ(query("${Status}"), "");
    EXPECT_FALSE(QFileInfo::exists(kConfig));
    EXPECT_FALSE(QFileInfo::exists(kRegistry + "/HKEY_LOCAL_MACHINE.json"));
    EXPECT_FALSE(QFileInfo::exists(kRegistry + "/HKEY_LOCAL_MACHINE.json.lock"));
    EXPECT_FALSE(QFileInfo::exists(kVellmonState + "/ErrUpDm.log"));
    EXPECT_FALSE(QFileInfo(kEnabledLink).isSymLink());
    EXPECT_FALSE(QFileInfo(kEtcUnit).isSymLink());
    for (const QString& db : jobs.keys())
        EXPECT_EQ(sha256(db), jobs.value(db)) << db.toStdString();
    EXPECT_EQ(QDir(kRegistry).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              (QStringList{"Auftraege.mdb", "HKEY_LOCAL_MACHINE.json.sicherung"}));
}
