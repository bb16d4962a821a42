// A file over 4 GB (sparse, so it costs no disk) packs into a ZIP64 archive that libzip,
// Info-ZIP's unzip and Python's zipfile all read with the right size and CRC.
#include "client/zip/czip.h"
#include "support/programrun.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

using namespace Qt::StringLiterals;
using kestro::test::runProgram;
using kestro::zip::cZip;

constexpr qint64 kBigSize = (qint64(4) << 30) + 123456789; // past the 32-bit limit

TEST(ZipLargeFiles, FileOverFourGigabytesUsesZip64) {
    QTemporaryDir dir;
    const QString big = dir.filePath(u"Scan_gross.tif"_s);
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
    const QString small = dir.filePath(u"JobDaten.txt"_s);
    {
        QFile f(small);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Auftrag\r\n");
    }
    const QString archive = dir.filePath(u"job.zip"_s);
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

    const auto listing =
        runProgram(u"/usr/bin/python3"_s,
                   {u"-c"_s,
                    QStringLiteral("import sys, zipfile\n"
                                   "z = zipfile.ZipFile(sys.argv[1])\n"
                                   "for i in z.infolist(): print(i.filename, i.file_size)\n"),
                    archive},
                   {}, 600000);
    EXPECT_EQ(listing.exitCode, 0) << listing.err.toStdString();
    EXPECT_TRUE(listing.out.contains(u"Scan_gross.tif %1"_s.arg(kBigSize)))
        << listing.out.toStdString();
    // unzip inflates the whole entry and checks its CRC.
    const auto tested = runProgram(u"unzip"_s, {u"-t"_s, archive}, {}, 600000);
    EXPECT_EQ(tested.exitCode, 0) << tested.out.toStdString();
    EXPECT_TRUE(tested.out.contains(u"No errors detected"_s)) << tested.out.toStdString();
}
