// `cmake --install` into a temporary root lays out exactly what the Debian package holds.
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

ProcessRun install(const QString& prefix, const QProcessEnvironment& env = {}) {
    return runProgram(KESTRO_CMAKE,
                      {"--install", qEnvironmentVariable("KESTRO_BINARY_DIR"), "--prefix", prefix},
                      env);
}

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

// The deployment file with its commented keys taken in, each value `value` when given.
QByteArray withKeysUncommented(QByteArray text, const char* value = nullptr) {
    QString s = QString::fromUtf8(text);
    static const QRegularExpression key(QStringLiteral("^;([A-Za-z]+)=(.*)$"),
                                        QRegularExpression::MultilineOption);
    s.replace(key, value ? QStringLiteral("\\1=%1-\\1").arg(QLatin1String(value))
                         : QStringLiteral("\\1=\\2"));
    return s.toUtf8();
}

} // namespace

TEST(InstallRules, LayOutThePackagedFilesTheUnitVellmonWritesAndEveryDeploymentKey) {
    const QTemporaryDir root;
    const ProcessRun installed = install(root.path());
    ASSERT_EQ(installed.exitCode, 0) << installed.err.toStdString();
    EXPECT_EQ(filesBelow(root.path()), kPackagedFiles);
    for (const char* program : {"KestroClient", "Vellmon", "kestro-send", "kestro-jobs"})
        EXPECT_TRUE(QFileInfo(root.filePath(QString("usr/bin/") + program)).isExecutable())
            << program;
    const QByteArray desktop = readFile(root.filePath("usr/share/applications/kestroftp.desktop"));
    for (const char* line :
         {"\nName=KestroFTP\n", "\nCategories=Office;\n", "\nExec=KestroClient\n"})
        EXPECT_TRUE(desktop.contains(line)) << line;

    // The unit is the one "Vellmon -install" writes, with the program's installed path.
    const QTemporaryDir machine;
    QProcessEnvironment env;
    env.insert("VELLMON_UNIT_DIR", machine.filePath("units"));
    env.insert("VARNHOLT_REGISTRY", machine.filePath("registry"));
    const QString vellmon = root.filePath("usr/bin/Vellmon");
    const ProcessRun unit = runProgram(vellmon, {"-install"}, env);
    ASSERT_EQ(unit.exitCode, 0) << unit.err.toStdString();
    QByteArray written = readFile(machine.filePath("units/vellmon.service"));
    ASSERT_TRUE(written.contains("\nExecStart=" + vellmon.toUtf8() + "\n"));
    written.replace("\nExecStart=" + vellmon.toUtf8() + "\n", "\nExecStart=/usr/bin/Vellmon\n");
    const QByteArray packaged = readFile(root.filePath("lib/systemd/system/vellmon.service"));
    EXPECT_EQ(packaged, written);
    for (const char* hardening :
         {"\nPrivateTmp=yes\n", "\nProtectHome=read-only\n", "\nNoNewPrivileges=yes\n",
          "\nTimeoutStopSec=15\n", "\nRestrictNamespaces=yes\n", "\nAfter=network-online.target\n"})
        EXPECT_TRUE(packaged.contains(hardening)) << hardening;

    // As shipped the file sets nothing; each key it comments out states the built-in default.
    const QString conf = root.filePath("etc/varnholt/kestro.conf");
    const QByteArray shipped = readFile(conf);
    const auto load = [&](const QByteArray& text) {
        const QString path = machine.filePath("kestro.conf");
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        f.close();
        return values(DeployConfig::load(path));
    };
    const QStringList defaults = values(DeployConfig{});
    EXPECT_EQ(load(shipped), defaults);
    EXPECT_EQ(load(withKeysUncommented(shipped)), defaults);
    const QStringList changed = load(withKeysUncommented(shipped, "x"));
    for (qsizetype i = 0; i < defaults.size(); ++i)
        EXPECT_NE(changed.value(i), defaults[i])
            << "no key for value " << i << ": " << defaults[i].toStdString();

    // Installing again keeps the administrator's file; staging a package takes the default.
    const QByteArray own = "[Maker]\nFtpHost=ftp.druckerei.example\n";
    {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(own);
    }
    EXPECT_EQ(install(root.path()).exitCode, 0);
    EXPECT_EQ(readFile(conf).toStdString(), own.toStdString())
        << "the administrator's file replaced";
    QProcessEnvironment staging;
    staging.insert("DESTDIR", root.path());
    EXPECT_EQ(install("/", staging).exitCode, 0);
    EXPECT_EQ(readFile(conf).toStdString(), shipped.toStdString()) << "staged without the default";
}
