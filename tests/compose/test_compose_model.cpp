// The logic behind the job area and the file window: choice lists, size texts, the file
// list, the start-folder settings and folder listings of real folders.
#include "client/compose/choicelists.h"
#include "client/compose/filelistmodel.h"
#include "client/compose/folderlister.h"
#include "client/compose/folderlistingmodel.h"
#include "client/compose/startfolder.h"
#include "support/recordingwriter.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestro::compose;

namespace {

QList<NewFile> files(const QStringList& names, const QString& folder = "/auftrag") {
    QList<NewFile> out;
    for (const QString& n : names)
        out.append({n, folder + "/" + n});
    return out;
}

QStringList column(const FileListModel& model, int col) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.index(r, col).data().toString();
    return out;
}

const FileSettings kSettings{"3", "Farbe", "Falzen", "Heften", "Binden"};

void writeBytes(const QString& path, qint64 size) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'x'));
}

// Lists folders with one lister, each to its end, and collects what arrived.
struct Listing {
    FolderLister lister;
    FolderListingModel model;
    FolderLister::Outcome outcome{};
    QString detail;
    int finishedCount = 0;

    Listing() {
        QObject::connect(&lister, &FolderLister::batchReady, &model, &FolderListingModel::append);
        QObject::connect(&lister, &FolderLister::finished, &model,
                         [this](FolderLister::Outcome o, const QString& d) {
                             outcome = o;
                             detail = d;
                             ++finishedCount;
                         });
    }
    // Starts a listing of each folder in turn, then runs the event loop until one ended.
    bool list(const QStringList& folders) {
        for (const QString& folder : folders)
            lister.list(folder);
        QEventLoop loop;
        QObject::connect(&lister, &FolderLister::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        return finishedCount > 0;
    }
    QMap<QString, QString> rows() const {
        QMap<QString, QString> out;
        for (int r = 0; r < model.rowCount(); ++r)
            out.insert(model.index(r, 0).data().toString(), model.index(r, 1).data().toString());
        return out;
    }
};

} // namespace

TEST(ChoiceLists, DeadlineTimesEveryQuarterHourAndOneToHundredCopies) {
    const QStringList times = deadlineTimes();
    ASSERT_EQ(times.size(), 97);
    EXPECT_EQ(times.mid(0, 3), QStringList({"Sofort", "00 : 00", "00 : 15"}));
    EXPECT_EQ(times.at(5), "01 : 00");
    EXPECT_EQ(times.at(43), "10 : 30");
    EXPECT_EQ(times.last(), "23 : 45");
    EXPECT_EQ(noTimeChosenText(), "Uhrzeit");
    QStringList copies;
    for (int n = 1; n <= 100; ++n)
        copies << QString::number(n);
    EXPECT_EQ(copiesChoices(), copies);
}

TEST(SizeText, BytesKilobytesAndMegabytesInGermanFormat) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0 Byte"},        {1023, "1023 Byte"},
        {1024, "1 KB"},       {1600, "2 KB"}, // rounded, not cut off
        {1535, "1 KB"},       {1572864, "1,50 MB"},
        {1048576, "1,00 MB"}, {qint64(1234) * 1048576 + 5243, "1.234,01 MB"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(sizeText(bytes), text) << bytes;
}

TEST(FileList, AppendedRowsAreNumberedAfterTheRowsAlreadyThere) {
    FileListModel model;
    model.appendFiles(files({"a.pdf", "b.pdf", "c.pdf"}));
    model.appendFiles(files({"d.tif", "e.plt"}, "/scan"));
    EXPECT_EQ(column(model, FileListModel::Number), QStringList({"1", "2", "3", "4", "5"}));
    EXPECT_EQ(column(model, FileListModel::FileName),
              QStringList({"a.pdf", "b.pdf", "c.pdf", "d.tif", "e.plt"}));
    EXPECT_EQ(model.fullPaths().mid(3), QStringList({"/scan/d.tif", "/scan/e.plt"}));
    EXPECT_EQ(column(model, FileListModel::Copies), QStringList(5, QString()));
}

// Apply changes exactly the given rows (one past the end is passed over) and copies empty
// choices as empty cells; a job is complete only with rows and every cell filled.
TEST(FileList, ApplyChangesExactlyTheGivenRowsAndCompletesTheJob) {
    FileListModel model;
    EXPECT_FALSE(isComplete(model.rows()));
    model.appendFiles(files({"a", "b", "c", "d"}));
    int changed = 0;
    QObject::connect(&model, &FileListModel::dataChanged, [&] { ++changed; });
    model.apply({1, 3, 17}, kSettings);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(column(model, FileListModel::Copies), QStringList({"", "3", "", "3"}));
    EXPECT_EQ(column(model, FileListModel::Step3), QStringList({"", "Binden", "", "Binden"}));
    const FileRow& row = model.rows().at(1);
    EXPECT_EQ(QStringList({row.color, row.step1, row.step2}),
              QStringList({"Farbe", "Falzen", "Heften"}));
    EXPECT_FALSE(isComplete(model.rows()));
    model.apply({0, 2}, kSettings);
    EXPECT_TRUE(isComplete(model.rows()));
    model.apply({1}, FileSettings{"1", "SW", "Falzen", "", "Binden"});
    EXPECT_FALSE(isComplete(model.rows()));
    model.apply({1}, FileSettings{});
    EXPECT_EQ(model.rows().at(1).copies, "");
    EXPECT_EQ(model.rows().at(3).copies, "3");
}

TEST(FileList, DeletingKeepsNumbersAndShiftsPaths) {
    FileListModel model;
    model.appendFiles(files({"a", "b", "c"}));
    EXPECT_FALSE(model.removeFirstOf({}));
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_TRUE(model.removeFirstOf({2, 1})); // the first selected from the top: row 2
    EXPECT_EQ(column(model, FileListModel::Number), QStringList({"1", "3"}));
    EXPECT_EQ(model.fullPaths(), QStringList({"/auftrag/a", "/auftrag/c"}));
    // A row added now takes count + 1, so numbers may repeat after a deletion.
    model.appendFiles(files({"d"}));
    EXPECT_EQ(column(model, FileListModel::Number), QStringList({"1", "3", "3"}));
}

TEST(StartFolderSettings, FolderFirstThenFlag) {
    kestro::test::RecordingWriter writer;
    storeStartFolder(writer, {"/", false});
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=/", "valFolderDir=No"}));
    EXPECT_TRUE(rememberFlagFromText("Yes"));
    EXPECT_FALSE(rememberFlagFromText("No"));
    EXPECT_FALSE(rememberFlagFromText(""));
}

// A folder's plain files arrive with their size texts (hidden files and folders do not); a
// missing folder and a file whose size cannot be read end the listing with their outcome.
TEST(FolderListing, PlainFilesMissingFolderAndUnreadableSize) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("klein.txt"), 1023);
    writeBytes(dir.filePath("scan.tif"), 1572864);
    writeBytes(dir.filePath(".versteckt"), 10);
    QDir(dir.path()).mkdir("unterordner");
    Listing plain;
    ASSERT_TRUE(plain.list({dir.path()}));
    EXPECT_EQ(plain.outcome, FolderLister::Outcome::Complete);
    EXPECT_EQ(plain.rows(),
              (QMap<QString, QString>{{"klein.txt", "1023 Byte"}, {"scan.tif", "1,50 MB"}}));

    Listing missing;
    ASSERT_TRUE(missing.list({dir.filePath("gibt-es-nicht")}));
    EXPECT_EQ(missing.outcome, FolderLister::Outcome::FolderMissing);
    EXPECT_EQ(missing.model.rowCount(), 0);

    ASSERT_TRUE(QFile::link(dir.filePath("weg.pdf"), dir.filePath("unterordner/kaputt.pdf")));
    writeBytes(dir.filePath("unterordner/gut.pdf"), 5);
    Listing broken;
    ASSERT_TRUE(broken.list({dir.filePath("unterordner")}));
    EXPECT_EQ(broken.outcome, FolderLister::Outcome::StoppedAtUnreadableFile);
    EXPECT_EQ(broken.detail, "kaputt.pdf");
    EXPECT_FALSE(broken.rows().contains("kaputt.pdf"));
    EXPECT_LE(broken.model.rowCount(), 1);
}

// Thousands of files each arrive once; a new listing replaces the running one, which then
// reports nothing.
TEST(FolderListing, ManyFilesArriveOnceAndANewListingReplacesTheRunningOne) {
    QTemporaryDir many, other;
    for (int i = 0; i < 3000; ++i)
        writeBytes(many.filePath(QStringLiteral("f%1.pdf").arg(i)), i % 7);
    writeBytes(other.filePath("neu.pdf"), 1);
    Listing all;
    ASSERT_TRUE(all.list({many.path()}));
    EXPECT_EQ(all.model.rowCount(), 3000);
    EXPECT_EQ(all.rows().size(), 3000);
    EXPECT_EQ(all.rows().value("f13.pdf"), "6 Byte");

    Listing replaced;
    ASSERT_TRUE(replaced.list({many.path(), other.path()}));
    EXPECT_EQ(replaced.rows().keys(), QStringList({"neu.pdf"}));
    EXPECT_EQ(replaced.finishedCount, 1);
}
