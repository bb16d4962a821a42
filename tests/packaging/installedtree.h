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
    "etc/varnholt/kestro.conf",
    "lib/systemd/system/vellmon.service",
    "usr/bin/KestroClient",
    "usr/bin/Vellmon",
    "usr/bin/kestro-jobs",
    "usr/bin/kestro-send",
    "usr/share/applications/kestroftp.desktop",
    "usr/share/doc/kestroftp/README.md",
    "usr/share/doc/kestroftp/changelog.gz",
    "usr/share/doc/kestroftp/copyright",
    "usr/share/icons/hicolor/scalable/apps/kestroftp.svg",
    "usr/share/man/man1/KestroClient.1.gz",
    "usr/share/man/man1/kestro-jobs.1.gz",
    "usr/share/man/man1/kestro-send.1.gz",
    "usr/share/man/man8/Vellmon.8.gz",
};

} // namespace kestro::test
