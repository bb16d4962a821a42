#include "client/compose/choicelists.h"
#include "client/compose/filelistmodel.h"
#include "client/compose/startfolder.h"
#include "common/settingwriter.h"

#include "support/recordingwriter.h"

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

} // namespace

TEST(ChoiceLists, DeadlineTimesAreSofortThenEveryQuarterHour) {
    const QStringList times = deadlineTimes();
    ASSERT_EQ(times.size(), 97);
    EXPECT_EQ(times.first(), "Sofort");
    EXPECT_EQ(times.at(1), "00 : 00");
    EXPECT_EQ(times.at(2), "00 : 15");
    EXPECT_EQ(times.at(5), "01 : 00");
    EXPECT_EQ(times.at(43), "10 : 30");
    EXPECT_EQ(times.last(), "23 : 45");
    EXPECT_EQ(noTimeChosenText(), "Uhrzeit");
}

TEST(ChoiceLists, CopiesRunFromOneToHundred) {
    const QStringList copies = copiesChoices();
    ASSERT_EQ(copies.size(), 100);
    EXPECT_EQ(copies.first(), "1");
    EXPECT_EQ(copies.last(), "100");
    EXPECT_FALSE(copies.contains("0"));
    EXPECT_FALSE(copies.contains("101"));
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

TEST(FileList, ApplyChangesExactlyTheGivenRows) {
    FileListModel model;
    model.appendFiles(files({"a", "b", "c", "d"}));
    int changed = 0;
    QObject::connect(&model, &FileListModel::dataChanged, [&] { ++changed; });
    model.apply({1, 3, 17}, kSettings);
    EXPECT_EQ(column(model, FileListModel::Copies), QStringList({"", "3", "", "3"}));
    EXPECT_EQ(column(model, FileListModel::Step3), QStringList({"", "Binden", "", "Binden"}));
    EXPECT_EQ(model.rows().at(1).color, "Farbe");
    EXPECT_EQ(model.rows().at(1).step1, "Falzen");
    EXPECT_EQ(model.rows().at(1).step2, "Heften");
    EXPECT_EQ(changed, 2);

    // Empty choices are copied as empty cells.
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

TEST(FileList, CompleteOnlyWithRowsAndEveryCellFilled) {
    FileListModel model;
    EXPECT_FALSE(isComplete(model.rows()));
    model.appendFiles(files({"a", "b"}));
    model.apply({0}, kSettings);
    EXPECT_FALSE(isComplete(model.rows()));
    model.apply({1}, kSettings);
    EXPECT_TRUE(isComplete(model.rows()));
    model.apply({1}, FileSettings{"1", "SW", "Falzen", "", "Binden"});
    EXPECT_FALSE(isComplete(model.rows()));
}

TEST(StartFolderSettings, FolderFirstThenFlag) {
    kestro::test::RecordingWriter writer;
    storeStartFolder(writer, {"/home/werner/Druck", true});
    storeStartFolder(writer, {"/", false});
    EXPECT_EQ(writer.writes, QStringList({"FolderDir=/home/werner/Druck", "valFolderDir=Yes",
                                          "FolderDir=/", "valFolderDir=No"}));
    EXPECT_TRUE(rememberFlagFromText("Yes"));
    EXPECT_FALSE(rememberFlagFromText("No"));
    EXPECT_FALSE(rememberFlagFromText(""));
}
