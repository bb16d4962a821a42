#include "client/compose/folderlister.h"
#include "client/compose/folderlistingmodel.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro::compose;

namespace {

void writeBytes(const QString& path, qint64 size) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'x'));
}

// Runs one listing to its end and collects what arrived.
struct Listing {
    FolderListingModel model;
    FolderLister::Outcome outcome{};
    QString detail;
    int finishedCount = 0;

    explicit Listing(FolderLister& lister) {
        QObject::connect(&lister, &FolderLister::batchReady, &model, &FolderListingModel::append);
        QObject::connect(&lister, &FolderLister::finished, &model,
                         [this](FolderLister::Outcome o, const QString& d) {
                             outcome = o;
                             detail = d;
                             ++finishedCount;
                         });
    }
    QMap<QString, QString> rows() const {
        QMap<QString, QString> out;
        for (int r = 0; r < model.rowCount(); ++r)
            out.insert(model.index(r, 0).data().toString(), model.index(r, 1).data().toString());
        return out;
    }
};

// Runs the event loop until the listing has finished; false when it never does.
bool waitForEnd(FolderLister& lister) {
    QEventLoop loop;
    bool ended = false;
    QObject::connect(&lister, &FolderLister::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return ended;
}

// Lists `folder` to its end with a fresh lister.
struct ListingOf : FolderLister, Listing {
    explicit ListingOf(const QString& folder) : Listing(static_cast<FolderLister&>(*this)) {
        list(folder);
        ended = waitForEnd(*this);
    }
    bool ended = false;
};

} // namespace

TEST(FolderListing, ListsPlainFilesWithSizeTexts) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("klein.txt"), 1023);
    writeBytes(dir.filePath("plan.plt"), 1600);
    writeBytes(dir.filePath("scan.tif"), 1572864);
    writeBytes(dir.filePath(".versteckt"), 10);
    QDir(dir.path()).mkdir("unterordner");

    ListingOf listing(dir.path());
    ASSERT_TRUE(listing.ended);
    EXPECT_EQ(listing.outcome, FolderLister::Outcome::Complete);
    const QMap<QString, QString> expected{
        {"klein.txt", "1023 Byte"}, {"plan.plt", "2 KB"}, {"scan.tif", "1,50 MB"}};
    EXPECT_EQ(listing.rows(), expected);
}

TEST(FolderListing, ManyFilesAllArriveOnce) {
    QTemporaryDir dir;
    for (int i = 0; i < 3000; ++i)
        writeBytes(dir.filePath(QStringLiteral("f%1.pdf").arg(i)), i % 7);
    ListingOf listing(dir.path());
    ASSERT_TRUE(listing.ended);
    EXPECT_EQ(listing.model.rowCount(), 3000);
    EXPECT_EQ(listing.rows().size(), 3000);
    EXPECT_EQ(listing.rows().value("f13.pdf"), "6 Byte");
}

TEST(FolderListing, MissingFolderGivesAnEmptyList) {
    QTemporaryDir dir;
    ListingOf listing(dir.filePath("gibt-es-nicht"));
    ASSERT_TRUE(listing.ended);
    EXPECT_EQ(listing.outcome, FolderLister::Outcome::FolderMissing);
    EXPECT_EQ(listing.model.rowCount(), 0);
}

TEST(FolderListing, UnreadableSizeStopsTheListingThere) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("gut.pdf"), 5);
    ASSERT_TRUE(QFile::link(dir.filePath("weg.pdf"), dir.filePath("kaputt.pdf")));
    ListingOf listing(dir.path());
    ASSERT_TRUE(listing.ended);
    EXPECT_EQ(listing.outcome, FolderLister::Outcome::StoppedAtUnreadableFile);
    EXPECT_EQ(listing.detail, "kaputt.pdf");
    EXPECT_FALSE(listing.rows().contains("kaputt.pdf"));
    EXPECT_LE(listing.model.rowCount(), 1);
}

TEST(FolderListing, NewListingReplacesTheRunningOne) {
    QTemporaryDir first;
    QTemporaryDir second;
    for (int i = 0; i < 2000; ++i)
        writeBytes(first.filePath(QStringLiteral("alt%1").arg(i)), 1);
    writeBytes(second.filePath("neu.pdf"), 1);
    FolderLister lister;
    Listing listing(lister);
    lister.list(first.path());
    lister.list(second.path());
    ASSERT_TRUE(waitForEnd(lister));
    EXPECT_EQ(listing.rows().keys(), QStringList({"neu.pdf"}));
    EXPECT_EQ(listing.finishedCount, 1);
}
