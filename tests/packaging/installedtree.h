#pragma once

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace kestro::test {

// Every file and link below root, as paths relative to it, sorted.
inline QStringList filesBelow(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// What the package lays out, relative to the root of the installed tree.
inline const QStringList kPackagedFiles{
    QStringLiteral("etc/varnholt/kestro.conf"),
    QStringLiteral("lib/systemd/system/vellmon.service"),
    QStringLiteral("usr/bin/KestroClient"),
    QStringLiteral("usr/bin/Vellmon"),
    QStringLiteral("usr/bin/kestro-jobs"),
    QStringLiteral("usr/bin/kestro-send"),
    QStringLiteral("usr/share/applications/kestroftp.desktop"),
    QStringLiteral("usr/share/doc/kestroftp/README.md"),
    QStringLiteral("usr/share/doc/kestroftp/changelog.gz"),
    QStringLiteral("usr/share/doc/kestroftp/copyright"),
    QStringLiteral("usr/share/icons/hicolor/scalable/apps/kestroftp.svg"),
    QStringLiteral("usr/share/man/man1/kestro-jobs.1.gz"),
    QStringLiteral("usr/share/man/man1/kestro-send.1.gz"),
    QStringLiteral("usr/share/man/man8/Vellmon.8.gz"),
};

struct ProgramRun {
    int exitCode = -1; // -1: crashed or did not end in time
    QString out;
    QString err;
};

// Runs a program to its end (at most ten minutes) with extra environment variables.
inline ProgramRun run(const QString& program, const QStringList& args,
                      const QProcessEnvironment& extra = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    p.waitForFinished(600000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace kestro::test
