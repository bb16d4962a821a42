#pragma once

#include <QDir>
#include <QDirIterator>
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
    QStringLiteral("usr/share/man/man1/KestroClient.1.gz"),
    QStringLiteral("usr/share/man/man1/kestro-jobs.1.gz"),
    QStringLiteral("usr/share/man/man1/kestro-send.1.gz"),
    QStringLiteral("usr/share/man/man8/Vellmon.8.gz"),
};

} // namespace kestro::test
