// The Debian package as an administrator meets it: built by CPack, checked by lintian,
// installed with dpkg on this machine, upgraded over itself, removed and purged. It
// installs into the real system (a throw-away container in CI), which is why it runs
// only with `scripts/test --heavy`: `dpkg --root` would run the maintainer scripts in a
// chroot of the temporary root, which would need a whole Debian system there.
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

const QString kPackage = QStringLiteral("kestroftp");
const QString kEnabledLink =
    QStringLiteral("/etc/systemd/system/multi-user.target.wants/vellmon.service");
const QString kConfig = QStringLiteral("/etc/varnholt/kestro.conf");
const QString kRegistry = QStringLiteral("/var/lib/varnholt/registry");
const QString kVellmonState = QStringLiteral("/var/lib/vellmon");
const QString kEtcUnit = QStringLiteral("/etc/systemd/system/vellmon.service");
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
    return runProgram(QStringLiteral("dpkg"), args);
}

bool packageInstalled() {
    return runProgram(QStringLiteral("dpkg-query"),
                      {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), kPackage})
        .out.contains(QStringLiteral("installed"));
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
        if (packageInstalled()) {
            ASSERT_EQ(dpkg({QStringLiteral("--purge"), kPackage}).exitCode, 0);
        }
        ASSERT_FALSE(QFileInfo::exists(kEtcUnit)) << "a real unit in /etc exists here";
    }
    void TearDown() override {
        if (packageInstalled())
            dpkg({QStringLiteral("--purge"), kPackage});
        for (const QString& db : seeded_)
            QFile::remove(db);
        // What the installation moved aside for this test.
        for (const QString& aside : QDir(QStringLiteral("/etc/systemd/system"))
                                        .entryList({QStringLiteral("vellmon.service.*")}))
            QFile::remove(QStringLiteral("/etc/systemd/system/") + aside);
        QFile::remove(kEtcUnit);
        for (const QString& aside :
             QDir(QStringLiteral("/var/lib/varnholt"))
                 .entryList({QStringLiteral("registry.*")}, QDir::System | QDir::AllEntries))
            QFile::remove(QStringLiteral("/var/lib/varnholt/") + aside);
        QDir().rmdir(kRegistry);
        QDir().rmdir(QStringLiteral("/var/lib/varnholt"));
        QDir().rmdir(kVellmonState);
    }

    // Job databases where an administrator might well have put them: none may be lost.
    static QStringList jobDatabases() {
        return {QStringLiteral("/var/lib/varnholt/Auftraege.mdb"),
                kRegistry + QStringLiteral("/Auftraege.mdb"),
                kVellmonState + QStringLiteral("/jobs.mdb")};
    }

    // The package of this build, or with another version number (an older release).
    QString buildPackage(const QString& version = {}) {
        const QString folder = out_.filePath(version.isEmpty() ? QStringLiteral("this") : version);
        QStringList args{QStringLiteral("-G"),
                         QStringLiteral("DEB"),
                         QStringLiteral("--config"),
                         qEnvironmentVariable("KESTRO_BINARY_DIR") +
                             QStringLiteral("/CPackConfig.cmake"),
                         QStringLiteral("-B"),
                         folder};
        if (!version.isEmpty())
            args << QStringLiteral("-D") << QStringLiteral("CPACK_PACKAGE_VERSION=") + version;
        const ProcessRun cpack = runProgram(QStringLiteral(KESTRO_CPACK), args);
        EXPECT_EQ(cpack.exitCode, 0) << cpack.out.toStdString() << cpack.err.toStdString();
        const QStringList debs = QDir(folder).entryList({QStringLiteral("*.deb")});
        return debs.size() == 1 ? QDir(folder).filePath(debs.first()) : QString();
    }

    QTemporaryDir out_;
    QStringList seeded_; // the job databases this test made
};

} // namespace

TEST_F(DebianPackage, InstallsUpgradesKeepingEverythingAndPurgesAllButTheJobs) {
    const QString deb = buildPackage();
    ASSERT_FALSE(deb.isEmpty());
    const QString older = buildPackage(QStringLiteral("0.9.0"));
    ASSERT_FALSE(older.isEmpty());

    const ProcessRun lintian = runProgram(QStringLiteral("lintian"), {deb});
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out.toStdString() << lintian.err.toStdString();
    std::printf("lintian:\n%s", qPrintable(lintian.out));
    const ProcessRun depends = dpkg({QStringLiteral("-f"), deb, QStringLiteral("Depends")});
    EXPECT_TRUE(depends.out.contains(QStringLiteral("libqt6core6"))) << depends.out.toStdString();
    EXPECT_TRUE(depends.out.contains(QStringLiteral("libcurl4"))) << depends.out.toStdString();
    EXPECT_TRUE(depends.out.contains(QStringLiteral("libpq5"))) << depends.out.toStdString();
    const ProcessRun recommends = dpkg({QStringLiteral("-f"), deb, QStringLiteral("Recommends")});
    EXPECT_TRUE(recommends.out.contains(QStringLiteral("libqt6sql6-psql")))
        << recommends.out.toStdString();

    // A unit an earlier release's "Vellmon -install" wrote, which would hide the package's.
    writeFile(kEtcUnit, kEarlierInstallUnit);

    // Install (an older release, to be upgraded below).
    ProcessRun install = dpkg({QStringLiteral("-i"), older});
    ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(kEtcUnit));
    EXPECT_TRUE(install.err.contains(QStringLiteral("was moved aside")))
        << install.err.toStdString();
    // Nor may "Vellmon -install" put one there now.
    const ProcessRun selfInstall =
        runProgram(QStringLiteral("/usr/bin/Vellmon"), {QStringLiteral("-install")});
    EXPECT_EQ(selfInstall.exitCode, 1);
    EXPECT_TRUE(selfInstall.err.contains(QStringLiteral("installed by the package kestroftp")))
        << selfInstall.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(kEtcUnit));

    for (const QString& file : kPackagedFiles)
        EXPECT_TRUE(QFileInfo::exists(QLatin1Char('/') + file)) << file.toStdString();
    EXPECT_EQ(QFileInfo(kEnabledLink).symLinkTarget(),
              QStringLiteral("/lib/systemd/system/vellmon.service"));
    const QFileInfo registry(kRegistry);
    EXPECT_TRUE(registry.isDir());
    EXPECT_EQ(registry.ownerId(), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(qPrintable(kRegistry), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_TRUE(runProgram(QStringLiteral("dpkg-query"),
                           {QStringLiteral("-W"), QStringLiteral("-f=${Conffiles}"), kPackage})
                    .out.contains(kConfig));

    const ProcessRun help =
        runProgram(QStringLiteral("/usr/bin/kestro-send"), {QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("usage: kestro-send")))
        << help.out.toStdString();
    {
        const QTemporaryDir runtime;
        EnvGuard env;
        env.set("VELLMON_READY_LINE", QStringLiteral("1"));
        env.set("VELLMON_RUNTIME_DIR", runtime.path());
        PeerProcess vellmon;
        EXPECT_TRUE(vellmon.start(QStringLiteral("/usr/bin/Vellmon"), {}))
            << vellmon.output().toStdString();
        EXPECT_TRUE(QFileInfo::exists(runtime.filePath(QStringLiteral("pipe/vellmon"))));
    }

    // What a machine gathers in use: settings in the store (written by the installed
    // Vellmon itself), Vellmon's state, an administrator's change to the deployment file,
    // and job databases, one of them the one the settings name.
    const QTemporaryDir units;
    QProcessEnvironment unitEnv;
    unitEnv.insert(QStringLiteral("VELLMON_UNIT_DIR"), units.path());
    ASSERT_EQ(runProgram(QStringLiteral("/usr/bin/Vellmon"), {QStringLiteral("-install")}, unitEnv)
                  .exitCode,
              0);
    for (const QString& db : jobDatabases()) {
        // Somebody's real job database is never replaced, not even by this test.
        ASSERT_FALSE(QFileInfo::exists(db)) << db.toStdString() << " exists already";
        QDir().mkpath(QFileInfo(db).path());
        seeded_ << db;
        const ProcessRun seed = runProgram(QStringLiteral(KESTRO_DEMO_SEED_PATH), {db});
        ASSERT_EQ(seed.exitCode, 0) << seed.err.toStdString();
    }
    ASSERT_TRUE(RegistryStore(kRegistry).write(
        Hive::LocalMachine, QStringLiteral("Software\\Varnholt\\KestroFTP\\Client"),
        QStringLiteral("Databank"), jobDatabases().first()));
    writeFile(kVellmonState + QStringLiteral("/ErrUpDm.log"), "07.12.2026 Fehler\r\n");
    const QByteArray adminConfig = readFile(kConfig) + "\n[Maker]\nFtpHost=ftp.druckerei.example\n";
    writeFile(kConfig, adminConfig);
    QMap<QString, std::string> jobs;
    for (const QString& db : jobDatabases())
        jobs.insert(db, sha256(db));
    const QByteArray store = readFile(kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json"));
    ASSERT_TRUE(store.contains("Databank"));

    // The one this release's "Vellmon -install" writes, found on the upgrade.
    {
        const QTemporaryDir written;
        QProcessEnvironment unitEnv;
        unitEnv.insert(QStringLiteral("VELLMON_UNIT_DIR"), written.path());
        unitEnv.insert(QStringLiteral("VARNHOLT_REGISTRY"),
                       written.filePath(QStringLiteral("registry")));
        ASSERT_EQ(runProgram(qEnvironmentVariable("KESTRO_BINARY_DIR") +
                                 QStringLiteral("/service/Vellmon"),
                             {QStringLiteral("-install")}, unitEnv)
                      .exitCode,
                  0);
        ASSERT_TRUE(QFile::copy(written.filePath(QStringLiteral("vellmon.service")), kEtcUnit));
    }

    // Upgrade to this release, then install it over itself: everything stays, the unit
    // stays enabled.
    for (const QString& next : {deb, deb}) {
        install = dpkg({QStringLiteral("-i"), next});
        ASSERT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(kEtcUnit));
        EXPECT_EQ(runProgram(QStringLiteral("dpkg-query"),
                             {QStringLiteral("-W"), QStringLiteral("-f=${Version}"), kPackage})
                      .out,
                  QStringLiteral(KESTRO_VERSION));
        EXPECT_EQ(readFile(kConfig), adminConfig);
        EXPECT_FALSE(QFileInfo::exists(kConfig + QStringLiteral(".dpkg-dist")));
        EXPECT_EQ(readFile(kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json")), store);
        EXPECT_TRUE(QFileInfo::exists(kVellmonState + QStringLiteral("/ErrUpDm.log")));
        EXPECT_TRUE(QFileInfo(kEnabledLink).isSymLink());
        for (const QString& db : jobDatabases())
            EXPECT_EQ(sha256(db), jobs.value(db)) << db.toStdString();
    }
    // The installed program finds the database through the kept settings.
    EXPECT_EQ(runProgram(QStringLiteral("/usr/bin/kestro-jobs"), {QStringLiteral("list")}).exitCode,
              0);
    for (const QString& db : jobDatabases())
        jobs.insert(db, sha256(db));

    // Remove: the programs go and the unit is masked; configuration and state stay.
    const ProcessRun remove = dpkg({QStringLiteral("-r"), kPackage});
    ASSERT_EQ(remove.exitCode, 0) << remove.out.toStdString() << remove.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/bin/Vellmon")));
    EXPECT_EQ(QFileInfo(kEtcUnit).symLinkTarget(), QStringLiteral("/dev/null"));
    EXPECT_EQ(readFile(kConfig), adminConfig);
    EXPECT_EQ(readFile(kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json")), store);

    // Purge: configuration, store and Vellmon's state go; the job databases stay untouched.
    const ProcessRun purge = dpkg({QStringLiteral("--purge"), kPackage});
    ASSERT_EQ(purge.exitCode, 0) << purge.out.toStdString() << purge.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(kConfig));
    EXPECT_FALSE(QFileInfo::exists(kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json")));
    EXPECT_FALSE(QFileInfo::exists(kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json.lock")));
    EXPECT_FALSE(QFileInfo::exists(kVellmonState + QStringLiteral("/ErrUpDm.log")));
    EXPECT_FALSE(QFileInfo(kEnabledLink).isSymLink());
    EXPECT_FALSE(QFileInfo(kEtcUnit).isSymLink());
    for (const QString& db : jobDatabases())
        EXPECT_EQ(sha256(db), jobs.value(db)) << db.toStdString();
    EXPECT_EQ(QDir(kRegistry)
                  .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden)
                  .join(u' ')
                  .toStdString(),
              "Auftraege.mdb");
}

namespace {

QString packageStatus() {
    return runProgram(QStringLiteral("dpkg-query"),
                      {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), kPackage})
        .out;
}

} // namespace

// Before the package an administrator had to write the deployment file by hand. Installing
// over it from a script (stdin empty, as apt under DEBIAN_FRONTEND=noninteractive or a
// deployment tool runs dpkg) must neither stop at a question nor lose that file.
TEST_F(DebianPackage, InstallsOverAHandWrittenDeploymentFileWithoutAsking) {
    ASSERT_FALSE(QFileInfo::exists(kConfig)) << "a real deployment file exists here";
    const QString deb = buildPackage();
    ASSERT_FALSE(deb.isEmpty());
    const QByteArray handWritten = "[Maker]\nFtpHost=ftp.druckerei.example\n";
    writeFile(kConfig, handWritten);

    const ProcessRun install = dpkg({QStringLiteral("-i"), deb});
    EXPECT_EQ(install.exitCode, 0) << install.out.toStdString() << install.err.toStdString();
    EXPECT_EQ(packageStatus().toStdString(), "install ok installed");
    EXPECT_EQ(readFile(kConfig), handWritten);
    EXPECT_TRUE(QFileInfo(kRegistry).isDir());

    dpkg({QStringLiteral("--purge"), kPackage});
    QFile::remove(kConfig + QStringLiteral(".dpkg-new"));
    QFile::remove(kConfig);
    QDir().rmdir(QStringLiteral("/etc/varnholt"));
}

// A copy of the store kept by an administrator in a folder named after the hive file:
// purge removes Vellmon's own files and nothing else, and still ends.
TEST_F(DebianPackage, PurgesPastAFolderNamedLikeTheStoresFiles) {
    const QString deb = buildPackage();
    ASSERT_FALSE(deb.isEmpty());
    ProcessRun run = dpkg({QStringLiteral("-i"), deb});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString backup = kRegistry + QStringLiteral("/HKEY_LOCAL_MACHINE.json.sicherung");
    const QString db = backup + QStringLiteral("/Auftraege.mdb");
    ASSERT_TRUE(QDir().mkpath(backup));
    seeded_ << db;
    ASSERT_EQ(runProgram(QStringLiteral(KESTRO_DEMO_SEED_PATH), {db}).exitCode, 0);
    const std::string jobs = sha256(db);

    run = dpkg({QStringLiteral("--purge"), kPackage});
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(packageStatus().toStdString(), "");
    EXPECT_EQ(sha256(db), jobs);

    QFile::remove(db);
    QDir().rmdir(backup);
    dpkg({QStringLiteral("--purge"), kPackage});
}

// A machine set up by hand before the package, with a folder every user could write: a
// user's link where the store's folder belongs must not make the installation hand root's
// ownership and mode to the folder it points at, nor keep the store there.
TEST_F(DebianPackage, NeverFollowsAUsersLinkWhereTheStoreBelongs) {
    const QString varnholt = QStringLiteral("/var/lib/varnholt");
    ASSERT_FALSE(QFileInfo::exists(varnholt)) << "a real store exists here";
    const QString deb = buildPackage();
    ASSERT_FALSE(deb.isEmpty());
    const QTemporaryDir victim;
    ASSERT_EQ(::chmod(qPrintable(victim.path()), 01777), 0);
    ASSERT_EQ(::chown(qPrintable(victim.path()), 65534, 65534), 0);
    ASSERT_TRUE(QDir().mkdir(varnholt));
    ASSERT_EQ(::chmod(qPrintable(varnholt), 0777), 0);
    const ProcessRun link =
        runProgram(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                    QStringLiteral("--clear-groups"), QStringLiteral("ln"), QStringLiteral("-s"),
                    victim.path(), kRegistry});
    ASSERT_EQ(link.exitCode, 0) << link.err.toStdString();

    const ProcessRun install = dpkg({QStringLiteral("-i"), deb});
    EXPECT_EQ(install.exitCode, 0) << install.err.toStdString();
    EXPECT_TRUE(install.err.contains(QStringLiteral("moved aside"))) << install.err.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(qPrintable(victim.path()), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    EXPECT_EQ(st.st_uid, 65534u);
    ASSERT_EQ(::lstat(qPrintable(kRegistry), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, 0u);

    dpkg({QStringLiteral("--purge"), kPackage});
    if (QFileInfo(kRegistry).isSymLink())
        QFile::remove(kRegistry);
}

// An administrator who disabled the service keeps it disabled when the package is
// removed and installed again, as over an upgrade.
TEST_F(DebianPackage, KeepsTheServiceDisabledOverRemoveAndInstall) {
    const QString deb = buildPackage();
    ASSERT_FALSE(deb.isEmpty());
    ASSERT_EQ(dpkg({QStringLiteral("-i"), deb}).exitCode, 0);
    ASSERT_TRUE(QFileInfo(kEnabledLink).isSymLink());
    const ProcessRun disable =
        runProgram(QStringLiteral("systemctl"),
                   {QStringLiteral("disable"), QStringLiteral("vellmon.service")});
    ASSERT_EQ(disable.exitCode, 0) << disable.err.toStdString();
    ASSERT_FALSE(QFileInfo(kEnabledLink).isSymLink());

    ASSERT_EQ(dpkg({QStringLiteral("-r"), kPackage}).exitCode, 0);
    ASSERT_EQ(dpkg({QStringLiteral("-i"), deb}).exitCode, 0);
    EXPECT_FALSE(QFileInfo(kEnabledLink).isSymLink());
}
