// `cmake --install` into a temporary root lays out exactly what the Debian package holds,
// with the unit Vellmon itself writes and a deployment file that shows every key with its
// default.
#include "common/deployconfig.h"
#include "packaging/installedtree.h"
#include "support/programrun.h"
#include "support/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestro;
using namespace kestro::test;

namespace {

class InstallRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new QTemporaryDir;
        installRun_ = new ProcessRun(
            runProgram(QStringLiteral(KESTRO_CMAKE),
                       {QStringLiteral("--install"), qEnvironmentVariable("KESTRO_BINARY_DIR"),
                        QStringLiteral("--prefix"), root_->path()}));
    }
    static void TearDownTestSuite() {
        delete installRun_;
        delete root_;
    }
    void SetUp() override { ASSERT_EQ(installRun_->exitCode, 0) << installRun_->err.toStdString(); }
    static QString installed(const QString& relative) { return root_->filePath(relative); }

    static QTemporaryDir* root_;
    static ProcessRun* installRun_;
};
QTemporaryDir* InstallRules::root_ = nullptr;
ProcessRun* InstallRules::installRun_ = nullptr;

// Every value of a deployment, in one list, so two configurations compare field by field.
QStringList values(const DeployConfig& c) {
    return {c.webServer,
            c.ftpHost,
            c.mail,
            c.demoWord,
            c.site,
            c.contact,
            c.smtpServer,
            c.from,
            c.username,
            c.password,
            c.registryWriteAllow.join(u';'),
            c.registryWriteAllowClasses.join(u';'),
            c.settingNames.join(u';'),
            c.products.join(u';'),
            c.updatePublicKey,
            c.clientFolders.join(u';')};
}

// The deployment file with its commented keys taken in; `value` replaces each value
// when given.
QByteArray withKeysUncommented(QByteArray text, const char* value = nullptr) {
    QString s = QString::fromUtf8(text);
    static const QRegularExpression key(QStringLiteral("^;([A-Za-z]+)=(.*)$"),
                                        QRegularExpression::MultilineOption);
    s.replace(key, value ? QStringLiteral("\\1=%1-\\1").arg(QLatin1String(value))
                         : QStringLiteral("\\1=\\2"));
    return s.toUtf8();
}

} // namespace

TEST_F(InstallRules, LayOutExactlyThePackagedFiles) {
    EXPECT_EQ(filesBelow(root_->path()), kPackagedFiles);
    for (const char* program : {"KestroClient", "Vellmon", "kestro-send", "kestro-jobs"})
        EXPECT_TRUE(QFileInfo(installed(QStringLiteral("usr/bin/") + QLatin1String(program)))
                        .isExecutable())
            << program;
    const QByteArray desktop =
        readFile(installed(QStringLiteral("usr/share/applications/kestroftp.desktop")));
    EXPECT_TRUE(desktop.contains("\nName=KestroFTP\n"));
    EXPECT_TRUE(desktop.contains("\nCategories=Office;\n"));
    EXPECT_TRUE(desktop.contains("\nExec=KestroClient\n"));
}

TEST_F(InstallRules, InstalledUnitIsTheOneVellmonInstallWrites) {
    const QTemporaryDir machine;
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELLMON_UNIT_DIR"), machine.filePath(QStringLiteral("units")));
    env.insert(QStringLiteral("VARNHOLT_REGISTRY"), machine.filePath(QStringLiteral("registry")));
    const QString vellmon = installed(QStringLiteral("usr/bin/Vellmon"));
    const ProcessRun install = runProgram(vellmon, {QStringLiteral("-install")}, env);
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();

    QByteArray written = readFile(machine.filePath(QStringLiteral("units/vellmon.service")));
    ASSERT_TRUE(written.contains("\nExecStart=" + vellmon.toUtf8() + "\n"));
    written.replace("\nExecStart=" + vellmon.toUtf8() + "\n", "\nExecStart=/usr/bin/Vellmon\n");
    const QByteArray packaged =
        readFile(installed(QStringLiteral("lib/systemd/system/vellmon.service")));
    EXPECT_EQ(packaged, written);
    for (const char* hardening :
         {"\nPrivateTmp=yes\n", "\nProtectHome=read-only\n", "\nNoNewPrivileges=yes\n",
          "\nTimeoutStopSec=15\n", "\nRestrictNamespaces=yes\n", "\nAfter=network-online.target\n"})
        EXPECT_TRUE(packaged.contains(hardening)) << hardening;
}

TEST_F(InstallRules, DeploymentFileShowsEveryKeyWithItsDefault) {
    const QByteArray conf = readFile(installed(QStringLiteral("etc/varnholt/kestro.conf")));
    const QTemporaryDir dir;
    const auto load = [&](const QByteArray& text) {
        const QString path = dir.filePath(QStringLiteral("kestro.conf"));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        f.close();
        return values(DeployConfig::load(path));
    };
    const QStringList defaults = values(DeployConfig{});

    // As shipped, nothing is set; taken in, each key states exactly the built-in default.
    EXPECT_EQ(load(conf), defaults);
    EXPECT_EQ(load(withKeysUncommented(conf)), defaults);
    // Each value the programs read has its key in the file.
    const QStringList changed = load(withKeysUncommented(conf, "x"));
    ASSERT_EQ(changed.size(), defaults.size());
    for (qsizetype i = 0; i < defaults.size(); ++i)
        EXPECT_NE(changed[i], defaults[i])
            << "no key for value " << i << ": " << defaults[i].toStdString();
}

// An administrator who installs again (`cmake --install` as root over a running machine)
// keeps the deployment file; staging a package always takes the default.
TEST_F(InstallRules, InstallingAgainKeepsTheAdministratorsDeploymentFile) {
    const QString conf = installed(QStringLiteral("etc/varnholt/kestro.conf"));
    const QByteArray shipped = readFile(conf);
    const QByteArray own = "[Maker]\nFtpHost=ftp.druckerei.example\n";
    {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(own);
    }
    const auto install = [&](const QProcessEnvironment& env, const QString& prefix) {
        const ProcessRun run =
            runProgram(QStringLiteral(KESTRO_CMAKE),
                       {QStringLiteral("--install"), qEnvironmentVariable("KESTRO_BINARY_DIR"),
                        QStringLiteral("--prefix"), prefix},
                       env);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    };
    install({}, root_->path());
    EXPECT_EQ(readFile(conf), own);
    QProcessEnvironment staging;
    staging.insert(QStringLiteral("DESTDIR"), root_->path());
    install(staging, QStringLiteral("/"));
    EXPECT_EQ(readFile(conf), shipped);
}
