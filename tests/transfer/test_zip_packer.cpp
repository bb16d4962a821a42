// The zip packer's archives, read back with libzip, Info-ZIP's unzip and Python's zipfile.
#include "client/zip/czip.h"
#include "client/zip/zipentrynames.h"
#include "support/programrun.h"
#include "transfertest.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <zip.h>

using namespace Qt::StringLiterals;
using namespace kestro::zip;
using kestro::test::ProcessRun;
using kestro::test::randomBytes;
using kestro::test::runProgram;

namespace {

struct Entry {
    QByteArray data;
    zip_uint16_t method = 0;
};

// Every entry of the archive, read with libzip (CRC checked on the way).
QMap<QString, Entry> readArchive(const QString& path) {
    QMap<QString, Entry> out;
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!za) {
        ADD_FAILURE() << "libzip cannot open " << path.toStdString() << " (" << code << ")";
        return out;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, zip_uint64_t(i), 0, &st);
        Entry e;
        e.method = st.comp_method;
        e.data.resize(qsizetype(st.size));
        zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), 0);
        EXPECT_NE(f, nullptr);
        if (f) {
            EXPECT_EQ(zip_fread(f, e.data.data(), st.size), zip_int64_t(st.size)) << st.name;
            char extra;
            EXPECT_EQ(zip_fread(f, &extra, 1), 0) << "CRC or length error in " << st.name;
            zip_fclose(f);
        }
        out[QString::fromUtf8(st.name)] = e;
    }
    zip_discard(za);
    return out;
}

// Python's zipfile: tests every CRC and lists the names, one a line.
ProcessRun pythonZipfile(const QString& archive) {
    return runProgram(u"/usr/bin/python3"_s,
                      {u"-c"_s,
                       QStringLiteral("import sys, zipfile\n"
                                      "z = zipfile.ZipFile(sys.argv[1])\n"
                                      "bad = z.testzip()\n"
                                      "if bad: sys.exit('bad entry ' + bad)\n"
                                      "print('\\n'.join(sorted(z.namelist())))\n"),
                       archive});
}

// Text-like bytes that deflate well but not trivially.
QByteArray textBytes(qsizetype n, quint32 seed) {
    QByteArray b;
    b.reserve(n);
    QRandomGenerator gen(seed);
    while (b.size() < n)
        b += QByteArray::number(gen.bounded(100000)) + " moveto " +
             QByteArray::number(gen.bounded(2000)) + " lineto stroke\n";
    b.truncate(n);
    return b;
}

QByteArray jpegLike(qsizetype n, quint32 seed) {
    return QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10) + randomBytes(n - 10, seed);
}

class ZipPacking : public ::testing::Test {
protected:
    QString write(const QString& relative, const QByteArray& bytes) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString archive() const { return dir.filePath(u"out/Muster GmbH-061226-140509.zip"_s); }
    // Configures the packer as the send pipeline does for each run.
    void configure(cZip& z, const QStringList& files) {
        QDir().mkpath(QFileInfo(archive()).path());
        z.setEncrypt(false);
        z.setAddComment(false);
        z.setZipFile(archive());
        z.setStoreFolderNames(false);
        z.setRecurseSubDirs(false);
        z.ClearFileSpecs();
        for (const QString& f : files)
            z.AddFileSpec(f);
    }
    QStringList leftovers() const {
        return QDir(QFileInfo(archive()).path()).entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir;
};

} // namespace

TEST(ZipEntryNames, DuplicatesGetNumberedNames) {
    EXPECT_EQ(plannedEntryNames({"/a/plan.pdf", "/b/plan.pdf", "/c/PLAN.pdf", "/d/plan (2).pdf"}),
              QStringList({"plan.pdf", "plan (2).pdf", "PLAN (3).pdf", "plan (2) (2).pdf"}));
    EXPECT_EQ(plannedEntryNames({"/x/README", "/y/README", "/z/.profile", "/w/.profile"}),
              QStringList({"README", "README (2)", ".profile", ".profile (2)"}));
    EXPECT_EQ(plannedEntryNames({"/a/plan.pdf"}, {"Plan.PDF"}), QStringList({"plan (2).pdf"}));
    // "Müller.pdf" composed and from a Mac (u + combining diaeresis): one file to everyone
    // who unpacks them, two identical lines on the job sheet.
    const QStringList planned =
        plannedEntryNames({u"/a/M\u00FCller.pdf"_s, u"/b/Mu\u0308ller.pdf"_s});
    ASSERT_EQ(planned.size(), 2);
    EXPECT_NE(planned[0].normalized(QString::NormalizationForm_C),
              planned[1].normalized(QString::NormalizationForm_C))
        << "both files are named " << planned[0].toStdString() << " in the archive";
}

TEST_F(ZipPacking, FilesFromManyFoldersArriveByNameWithTheirBytes) {
    const QByteArray text = textBytes(3 * 1024 * 1024 + 12345, 1); // many deflate chunks
    const QByteArray photo = jpegLike(700 * 1024, 2);
    const QByteArray noise = randomBytes(1024 * 1024 + 7, 3);              // will not shrink
    const QByteArray encoded = randomBytes(2 * 1024 * 1024, 9).toBase64(); // entropy coding
    const QStringList files = {
        write("Daten/Plan.ps", text),    write("Fotos/2026/Foto.jpg", photo),
        write("x/noise.bin", noise),     write("leer/leer.txt", {}),
        write("x/Ansicht.pdf", encoded), write("Daten/Übersicht – Süd.txt", "äöü\r\n")};
    cZip z;
    configure(z, files);
    ASSERT_TRUE(z.Zip()) << z.LastResult();
    EXPECT_EQ(z.PackedCount(), 6);
    EXPECT_EQ(z.NotPackedCount(), 0);

    const QMap<QString, QByteArray> sent{
        {u"Plan.ps"_s, text}, {u"Foto.jpg"_s, photo},      {u"noise.bin"_s, noise},
        {u"leer.txt"_s, {}},  {u"Ansicht.pdf"_s, encoded}, {u"Übersicht – Süd.txt"_s, "äöü\r\n"}};
    const auto entries = readArchive(archive());
    EXPECT_EQ(entries.keys(), sent.keys());
    for (const QString& name : sent.keys())
        EXPECT_EQ(entries.value(name).data, sent.value(name)) << name.toStdString();
    EXPECT_EQ(entries.value("Plan.ps").method, ZIP_CM_DEFLATE);
    EXPECT_EQ(entries.value("Foto.jpg").method, ZIP_CM_STORE); // a JPEG does not shrink
    // Compressible data shrank, incompressible data hardly grew.
    EXPECT_LT(QFileInfo(archive()).size(),
              qint64(text.size() / 2 + encoded.size() * 8 / 10 + photo.size() + noise.size() +
                     noise.size() / 100 + 4096));

    const ProcessRun unzip = runProgram(u"unzip"_s, {u"-t"_s, archive()});
    EXPECT_EQ(unzip.exitCode, 0) << unzip.out.toStdString();
    const ProcessRun python = pythonZipfile(archive());
    EXPECT_EQ(python.exitCode, 0) << python.out.toStdString();
    EXPECT_EQ(python.out.trimmed().split(u'\n'), sent.keys());
    EXPECT_TRUE(leftovers() == QStringList{QFileInfo(archive()).fileName()})
        << leftovers().join(',').toStdString();
}

// One name from several folders: each file its own entry, in one run or one run per file.
TEST_F(ZipPacking, SameFileNameFromSeveralFoldersAllArrive) {
    const QStringList files = {write("a/plan.pdf", "first"), write("b/plan.pdf", "second"),
                               write("c/Plan.PDF", "third")};
    const QStringList expected = {"plan.pdf", "plan (2).pdf", "Plan (3).PDF"};
    EXPECT_EQ(plannedEntryNames(files), expected);
    for (const bool perFile : {false, true}) {
        SCOPED_TRACE(perFile ? "one run per file" : "one run");
        QFile::remove(archive());
        cZip z;
        const QList<QStringList> runs = perFile
                                            ? QList<QStringList>{{files[0]}, {files[1]}, {files[2]}}
                                            : QList<QStringList>{files};
        for (const QStringList& run : runs) {
            configure(z, run);
            EXPECT_TRUE(z.Zip()) << run.join(',').toStdString();
        }
        EXPECT_EQ(z.PackedEntryNames(), perFile ? QStringList{expected.last()} : expected);
        const auto entries = readArchive(archive());
        EXPECT_EQ(entries.keys(), QStringList({"Plan (3).PDF", "plan (2).pdf", "plan.pdf"}));
        EXPECT_EQ(entries.value("plan.pdf").data, "first");
        EXPECT_EQ(entries.value("plan (2).pdf").data, "second");
        EXPECT_EQ(entries.value("Plan (3).PDF").data, "third");
        EXPECT_EQ(pythonZipfile(archive()).exitCode, 0);
    }
}

// A missing file, 1,500 names (more than the old record held), patterns and literal names.
TEST_F(ZipPacking, WhatTheCallerNamesIsWhatIsPacked) {
    cZip z;
    configure(z, {dir.filePath("gibt-es-nicht.pdf"), write("da.pdf", "da")});
    EXPECT_FALSE(z.Zip());
    EXPECT_EQ(z.LastResult(), ZE_NAME);
    EXPECT_EQ(z.PackedCount(), 1);
    EXPECT_EQ(z.NotPackedCount(), 1);
    EXPECT_EQ(readArchive(archive()).keys(), QStringList{"da.pdf"});
    QFile::remove(archive());
    configure(z, {dir.filePath("weg.pdf")});
    EXPECT_FALSE(z.Zip());
    EXPECT_FALSE(QFile::exists(archive()));

    configure(z, QStringList(1500, write("a.txt", "a")));
    EXPECT_TRUE(z.Zip());
    EXPECT_EQ(z.PackedCount(), 1500);
    const auto entries = readArchive(archive());
    EXPECT_EQ(entries.size(), 1500);
    EXPECT_EQ(entries.value(u"a (1500).txt"_s).data, QByteArray("a"));

    const QString chosen = write("Angebot [final].pdf", "chosen");
    write("Angebot f.pdf", "look-alike");
    QFile::remove(archive());
    configure(z, {dir.filePath("Angebot [f]*.pdf")});
    EXPECT_TRUE(z.MatchWildcards());
    EXPECT_TRUE(z.Zip());
    EXPECT_EQ(readArchive(archive()).keys(), QStringList{"Angebot f.pdf"});
    QFile::remove(archive());
    configure(z, {chosen});
    z.setMatchWildcards(false);
    EXPECT_TRUE(z.Zip());
    EXPECT_EQ(readArchive(archive()).keys(), QStringList{"Angebot [final].pdf"});
}

// A file that changes while packed is left out, never packed damaged or half.
TEST_F(ZipPacking, FileThatChangesOrVanishesWhilePackedIsLeftOut) {
    const QByteArray big = textBytes(6 * 1024 * 1024, 4);
    const QString grows = write("grows.ps", big);
    const QString vanishes = write("vanishes.txt", textBytes(200000, 5));
    const QString rewritten = write("rewritten.txt", textBytes(300000, 6));
    const QString steady = write("steady.txt", "steady");
    cZip z;
    // Runs in this thread, so the handlers run while the library reads.
    QObject::connect(&z, &cZip::Cancel, [&](const QString& name) {
        if (name == u"vanishes.txt"_s)
            QFile::remove(vanishes);
        if (name == u"rewritten.txt"_s) {
            QFile f(rewritten);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.write("X"); // same size, new bytes and time
        }
    });
    bool grown = false;
    QObject::connect(&z, &cZip::BytesPacked, [&](qint64 done, qint64) {
        if (!grown && done > 0 && done < big.size()) {
            grown = true; // while the big file is being read
            QFile f(grows);
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write("more");
        }
    });
    configure(z, {grows, vanishes, rewritten, steady});
    EXPECT_FALSE(z.Zip());
    EXPECT_TRUE(grown);
    EXPECT_EQ(z.LastResult(), ZE_READ);
    EXPECT_EQ(z.PackedEntryNames(), QStringList{"steady.txt"});
    EXPECT_EQ(z.NotPackedCount(), 3);
    for (const ZpEntryReport& r : z.Entries())
        EXPECT_EQ(r.packed, r.entryName == u"steady.txt"_s) << r.problem.toStdString();

    const auto entries = readArchive(archive());
    EXPECT_EQ(entries.keys(), QStringList{"steady.txt"});
    EXPECT_EQ(runProgram(u"unzip"_s, {u"-tq"_s, archive()}).exitCode, 0);
    EXPECT_EQ(pythonZipfile(archive()).exitCode, 0);
    EXPECT_TRUE(leftovers() == QStringList{QFileInfo(archive()).fileName()});
}

// Folder names, recursion, level 0, folder entries, delete, update, password and comment.
TEST_F(ZipPacking, OptionsTheCallerSetsAreHonoured) {
    const QString root = dir.filePath("job");
    write("job/a.txt", "a");
    write("job/sub/b.txt", "b");
    write("job/sub/deep/c.jpg", jpegLike(5000, 7));
    cZip z;
    configure(z, {u"job"_s});
    z.setBasePath(dir.path());
    z.setStoreFolderNames(true);
    z.setRecurseSubDirs(true);
    z.setCompressionLevel('0');
    ASSERT_TRUE(z.Zip()) << z.LastResult();
    auto entries = readArchive(archive());
    EXPECT_EQ(entries.keys(), QStringList({"job/a.txt", "job/sub/b.txt", "job/sub/deep/c.jpg"}));
    for (const Entry& e : entries)
        EXPECT_EQ(e.method, ZIP_CM_STORE); // level 0 stores

    // Folder entries when asked for.
    QFile::remove(archive());
    configure(z, {u"job"_s});
    z.setStoreFolderNames(true);
    z.setRecurseSubDirs(true);
    z.setStoreDirectories(true);
    ASSERT_TRUE(z.Zip());
    entries = readArchive(archive());
    EXPECT_EQ(entries.keys(), QStringList({"job/", "job/a.txt", "job/sub/", "job/sub/b.txt",
                                           "job/sub/deep/", "job/sub/deep/c.jpg"}));

    // Delete removes entries by name; update replaces an older entry instead of adding.
    configure(z, {u"job/sub*"_s});
    ASSERT_TRUE(z.Delete());
    EXPECT_EQ(readArchive(archive()).keys(), QStringList({"job/", "job/a.txt"}));
    write("job/a.txt", "newer a");
    {
        QFile later(root + "/a.txt");
        ASSERT_TRUE(later.open(QIODevice::ReadWrite));
        ASSERT_TRUE(later.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                      QFileDevice::FileModificationTime));
    }
    configure(z, {u"job/a.txt"_s});
    z.setStoreFolderNames(true);
    z.setRecurseSubDirs(false);
    z.setUpdateOnlyIfNewer(true);
    ASSERT_TRUE(z.Zip());
    entries = readArchive(archive());
    EXPECT_EQ(entries.keys(), QStringList({"job/", "job/a.txt"}));
    EXPECT_EQ(entries.value("job/a.txt").data, "newer a");

    // Encryption and a comment; no archive without a password.
    QFile::remove(archive());
    configure(z, {write("geheim.txt", textBytes(100000, 8))});
    z.setEncrypt(true);
    EXPECT_FALSE(z.Zip()); // no password given
    EXPECT_FALSE(QFile::exists(archive()));
    z.setPassword("kennwort");
    z.setAddComment(true);
    z.setComment("Auftrag 4711");
    ASSERT_TRUE(z.Zip());
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(archive()).constData(), ZIP_RDONLY, &code);
    ASSERT_NE(za, nullptr);
    EXPECT_EQ(QByteArray(zip_get_archive_comment(za, nullptr, 0)), "Auftrag 4711");
    EXPECT_EQ(zip_fopen(za, "geheim.txt", 0), nullptr); // needs the password
    zip_file_t* f = zip_fopen_encrypted(za, "geheim.txt", 0, "kennwort");
    ASSERT_NE(f, nullptr);
    QByteArray back(100000, 0);
    EXPECT_EQ(zip_fread(f, back.data(), 100000), 100000);
    EXPECT_EQ(back, textBytes(100000, 8));
    zip_fclose(f);
    zip_discard(za);
}

// The window's thread starts the run and hears of it through queued signals.
TEST_F(ZipPacking, WorkerRunReportsToTheStartingThreadAndAbortOrDestructionLeavesNoArchive) {
    QStringList files;
    for (int i = 0; i < 12; ++i)
        files << write(u"f%1.ps"_s.arg(i), textBytes(2 * 1024 * 1024, 10 + i));
    cZip z;
    configure(z, files);
    QList<QThread*> signalThreads;
    qint32 finished = -1;
    QEventLoop loop;
    QObject::connect(&z, &cZip::Finished, &loop, [&](qint32 result) {
        finished = result;
        loop.quit();
    });
    QObject::connect(&z, &cZip::Progress, &loop,
                     [&](qint32, const QString&) { signalThreads << QThread::currentThread(); });
    ASSERT_TRUE(z.StartZip());
    EXPECT_FALSE(z.StartZip()); // one run at a time
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(finished, 0);
    EXPECT_EQ(z.PackedCount(), 12);
    ASSERT_FALSE(signalThreads.isEmpty());
    for (QThread* t : signalThreads)
        EXPECT_EQ(t, QThread::currentThread());

    // Aborted half-way: an existing archive stays as it was, no temporary file stays.
    const QByteArray before = [&] {
        QFile f(archive());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    for (QString& f : files)
        f = write(QFileInfo(f).fileName().replace(".ps", "-neu.ps"), textBytes(2 << 20, 99));
    configure(z, files);
    QObject::connect(&z, &cZip::BytesPacked, &loop, [&](qint64 done, qint64 total) {
        if (done > 0 && done < total)
            z.Abort();
    });
    finished = -1;
    ASSERT_TRUE(z.StartZip());
    loop.exec();
    EXPECT_EQ(finished, ZE_ABORT);
    EXPECT_FALSE(z.Success());
    EXPECT_EQ(z.PackedCount(), 0);
    QFile after(archive());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_TRUE(after.readAll() == before);
    EXPECT_TRUE(leftovers() == QStringList{QFileInfo(archive()).fileName()});

    // A new archive aborted half-way does not exist at all.
    QFile::remove(archive());
    finished = -1;
    ASSERT_TRUE(z.StartZip());
    loop.exec();
    EXPECT_EQ(finished, ZE_ABORT);
    EXPECT_FALSE(QFile::exists(archive()));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(',').toStdString();

    // Destroying the packer during a run stops it: no crash, no thread left behind.
    {
        cZip doomed;
        configure(doomed, files);
        ASSERT_TRUE(doomed.StartZip());
        QThread::msleep(50);
    }
    EXPECT_FALSE(QFile::exists(archive()) && readArchive(archive()).isEmpty());
}
