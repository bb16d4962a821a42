// A file over 4 GB (sparse, so it costs no disk) packs into a ZIP64 archive that libzip,
// Info-ZIP's unzip and Python's zipfile all read with the right size and CRC.
#include "client/zip/czip.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

using kestro::zip::cZip;

namespace {

constexpr qint64 kBigSize = (qint64(4) << 30) + 123456789; // past the 32-bit limit

QString runTool(const QString& program, const QStringList& args, int* exitCode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(600000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

} // namespace

TEST(ZipLargeFiles, FileOverFourGigabytesUsesZip64) {
    QTemporaryDir dir;
    const QString big = dir.filePath(QStringLiteral("Scan_gross.tif"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("II*\0", 4); // marks at the start, beyond 4 GB and at the end
        ASSERT_TRUE(f.seek((qint64(4) << 30) + 10));
        f.write("beyond 4 GB");
        ASSERT_TRUE(f.resize(kBigSize));
        ASSERT_TRUE(f.seek(kBigSize - 3));
        f.write("end");
    }
    const QString small = dir.filePath(QStringLiteral("JobDaten.txt"));
    {
        QFile f(small);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Auftrag\r\n");
    }
    const QString archive = dir.filePath(QStringLiteral("job.zip"));
    cZip z;
    z.setZipFile(archive);
    z.AddFileSpec(big);
    z.AddFileSpec(small);
    ASSERT_TRUE(z.Zip()) << z.LastResult();

    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    ASSERT_NE(za, nullptr) << code;
    zip_stat_t st;
    ASSERT_EQ(zip_stat(za, "Scan_gross.tif", 0, &st), 0);
    EXPECT_EQ(qint64(st.size), kBigSize);
    zip_discard(za);

    int exit = -1;
    const QString listing =
        runTool(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import sys, zipfile\n"
                                "z = zipfile.ZipFile(sys.argv[1])\n"
                                "for i in z.infolist(): print(i.filename, i.file_size)\n"),
                 archive},
                &exit);
    EXPECT_EQ(exit, 0) << listing.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("Scan_gross.tif %1").arg(kBigSize)))
        << listing.toStdString();
    // unzip inflates the whole entry and checks its CRC.
    const QString tested = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), archive}, &exit);
    EXPECT_EQ(exit, 0) << tested.toStdString();
    EXPECT_TRUE(tested.contains(QStringLiteral("No errors detected"))) << tested.toStdString();
}
