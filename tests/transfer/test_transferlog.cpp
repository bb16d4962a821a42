// The transfer log and error log as files on disk, and what the progress display tells
// the window: percentages, the "Info" panel, the status box, the rate and time left.
#include "client/ftp/ftperrors.h"
#include "client/ftp/ftpreply.h"
#include "client/ftp/ftpsession.h"
#include "client/ftp/ftpstatus.h"
#include "client/send/progressdisplay.h"
#include "common/transferlog.h"
#include "support/testenv.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace kestro::transfer;
using kestro::test::readFile;
using kestro::test::TestMachine;

namespace {

const QDateTime afternoon(QDate(2026, 12, 6), QTime(14, 5, 9));

// The text stands in the print zone at column 43; lines end with CR LF, the error log's
// end with its two fixed lines.
TEST(TransferLog, LinesPutTheTextAtColumn43AndEndWithCrLf) {
    const QString line = transferLogLine(afternoon, QStringLiteral("Connection closed"));
    EXPECT_EQ(line, QStringLiteral("Date: 06.12.2026    Time: 14:05:09        Connection closed"));
    EXPECT_EQ(line.indexOf(QStringLiteral("Connection")), 42);
    // A sender address pasted with its line end cannot forge an entry of its own.
    EXPECT_EQ(transferLogLine(afternoon, QStringLiteral("an a@b.example\r\nDate: 01.01.2026 ok")),
              QStringLiteral("Date: 06.12.2026    Time: 14:05:09        an a@b.example  Date: "
                             "01.01.2026 ok"));
    TestMachine machine;
    const QString folder = machine.clientDataFolder();
    for (const char* text : {"eins", "zwei"}) {
        ASSERT_TRUE(appendTransferLog(folder, QString::fromLatin1(text), afternoon));
        ASSERT_TRUE(appendFtpErrorLogEnd(folder));
    }
    EXPECT_EQ(readFile(folder + "/KestroFTP.Log"),
              "Date: 06.12.2026    Time: 14:05:09        eins\r\n"
              "Date: 06.12.2026    Time: 14:05:09        zwei\r\n");
    EXPECT_EQ(readFile(folder + "/KestroFtpErr.Log"),
              "errproxy:: \r\r\nEnd ErrLog: \r\r\nerrproxy:: \r\r\nEnd ErrLog: \r\r\n");
}

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&display, &TransferDisplay::statusLineAdded,
                         [this](const QString& line) { lines << line; });
    }
    TestMachine machine;
    TransferDisplay display{machine.clientDataFolder()};
    QStringList lines; // what the status box received
};

TEST_F(Display, StatusWithCrLfShowsOnceWithoutEmptyLine) {
    display.showFtpStatus(QStringLiteral("226 Transfer complete.\r\n"));

    EXPECT_EQ(lines, QStringList{QStringLiteral("226 Transfer complete.")});
    EXPECT_EQ(display.infoPanel(), QStringLiteral("FTP-Status: 226 Transfer complete."));
    const QByteArray log = readFile(machine.clientDataFolder() + "/KestroFTP.Log");
    EXPECT_TRUE(log.endsWith("        226 Transfer complete.\r\n")) << log.toStdString();
    EXPECT_EQ(log.count("\r\n"), 1);
}

TEST_F(Display, FloodFillShowsPercentageAfterTheMessage) {
    display.floodFillInit(200, QStringLiteral("Uploading Job 1.zip"));
    display.floodFillUpdate(50);
    EXPECT_EQ(display.progressText(), QStringLiteral("25 %"));
    EXPECT_EQ(display.infoPanel(), QStringLiteral("Uploading Job 1.zip 25 %"));

    // Halves go to the even neighbour: 0.5 % → 0, 1.5 % → 2, 2.5 % → 2.
    display.floodFillUpdate(1);
    EXPECT_EQ(display.progressText(), QStringLiteral("0 %"));
    display.floodFillUpdate(3);
    EXPECT_EQ(display.progressText(), QStringLiteral("2 %"));
    display.floodFillUpdate(5);
    EXPECT_EQ(display.progressText(), QStringLiteral("2 %"));

    display.floodFillUpdate(5000);
    EXPECT_EQ(display.progressText(), QStringLiteral("100 %"));
    EXPECT_EQ(display.barValue(), 200);

    // A status shown meanwhile does not replace the bar's message.
    display.floodFillInit(10, QStringLiteral("Uploading a.zip"));
    display.floodShowStatus(QStringLiteral("Connected to 127.0.0.1"));
    EXPECT_EQ(display.infoPanel(), QStringLiteral("FTP-Status: Connected to 127.0.0.1"));
    display.floodFillUpdate(5);
    EXPECT_EQ(display.infoPanel(), QStringLiteral("Uploading a.zip 50 %"));
}

TEST_F(Display, SendFailureNamesTheErrorAndClosesTheErrorLog) {
    display.showSendFailure(QStringLiteral("Datei nicht gefunden"));

    EXPECT_EQ(display.infoPanel(), QStringLiteral("FTP-Status: Datei nicht gefunden"));
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_EQ(readFile(machine.clientDataFolder() + "/KestroFtpErr.Log"),
              "errproxy:: \r\r\nEnd ErrLog: \r\r\n");
    EXPECT_FALSE(QFile::exists(machine.clientDataFolder() + "/KestroFTP.Log"));
}

TEST_F(Display, UnconfirmedProgressNeverReads100Percent) {
    for (const qint64 total : {1LL, 7LL, 199LL, 200LL, 1000LL, 123456789LL}) {
        display.floodFillInit(double(total), QStringLiteral("Uploading a.zip"));
        TransferProgress p;
        p.total = total;
        p.done = total;
        display.showTransferProgress(p);
        EXPECT_NE(display.progressText(), QStringLiteral("100 %")) << total;
        EXPECT_GE(barPercent(double(unconfirmedCeiling(total) + 1), double(total)), 100) << total;
        p.confirmed = true;
        display.showTransferProgress(p);
        EXPECT_EQ(display.progressText(), QStringLiteral("100 %")) << total;
    }
}

TEST(ProgressDetail, ReadsLikeFileZillaInGerman) {
    TransferProgress p;
    p.done = 225443840;
    p.total = 500000000;
    p.elapsedMs = 5400;
    p.bytesPerSecond = 45.2 * 1024 * 1024;
    p.secondsLeft = 3671;
    EXPECT_EQ(progressDetailText(p),
              QStringLiteral("00:00:05 vergangen, 01:01:11 verbleibend, 225.443.840 Bytes "
                             "(45,2 MB/s)"));
    p.bytesPerSecond = 0;
    p.secondsLeft = -1;
    EXPECT_EQ(progressDetailText(p),
              QStringLiteral("00:00:05 vergangen, --:--:-- verbleibend, 225.443.840 Bytes"));
    EXPECT_EQ(rateText(812 * 1024), QStringLiteral("812,0 KB/s"));
    EXPECT_EQ(rateText(950), QStringLiteral("950 Byte/s"));
}

TEST(ProgressDetail, RateFollowsTheLastSecondsAndGivesTimeLeft) {
    RateMeter meter(std::chrono::seconds(3));
    const auto t0 = RateMeter::Clock::time_point{} + std::chrono::hours(1);
    meter.start(10'000'000, t0);
    // A slow start, then 1 MB per second for four seconds.
    meter.sample(100'000, t0 + std::chrono::seconds(2));
    TransferProgress p;
    for (int s = 1; s <= 4; ++s)
        p = meter.sample(100'000 + s * 1'000'000, t0 + std::chrono::seconds(2 + s));
    EXPECT_NEAR(p.bytesPerSecond, 1'000'000, 1);
    EXPECT_EQ(p.secondsLeft, 6); // 5.9 MB left at 1 MB/s, rounded up
    EXPECT_EQ(p.elapsedMs, 6000);
}

TEST(FtpTexts, ErrorTextsForTheCodesTheClientMeets) {
    EXPECT_EQ(internetErrorText(12017), QStringLiteral("Übertragung durch Anwender abgebrochen. "));
    EXPECT_EQ(internetErrorText(12003), QStringLiteral("Extended error returned from server."));
    EXPECT_EQ(internetErrorText(12003, QStringLiteral("552 Disk full.")),
              QStringLiteral("552 Disk full."));
    EXPECT_EQ(internetErrorText(12032), QStringLiteral("Error details not available."));
    EXPECT_EQ(internetErrorText(12036),
              QStringLiteral("Request failed because the handle already exists."));

    EXPECT_EQ(wininetCodeFor({CURLE_LOGIN_DENIED, false, "USER", 530}), 12013);
    EXPECT_EQ(wininetCodeFor({CURLE_LOGIN_DENIED, false, "PASS", 530}), 12014);
    EXPECT_EQ(wininetCodeFor({CURLE_SEND_ERROR, true, "STOR", 150}), 12017);
    EXPECT_EQ(wininetCodeFor({CURLE_COULDNT_RESOLVE_HOST, false, "", 0}), 12007);
    EXPECT_EQ(wininetCodeFor({CURLE_PARTIAL_FILE, false, "STOR", 426}), 12003);
}

TEST(FtpTexts, MultiLineRepliesBecomeOneText) {
    FtpReplyAssembler replies;
    EXPECT_FALSE(replies.feed("HTTP/1.1 200 Connection established").has_value());
    EXPECT_FALSE(replies.feed("530-Login incorrect.").has_value());
    EXPECT_FALSE(replies.feed(" 530 is not the end without the code in front").has_value());
    EXPECT_FALSE(replies.feed("530-Ask your print shop.").has_value());
    const auto reply = replies.feed("530 Bye.");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, 530);
    EXPECT_EQ(reply->text, QStringLiteral("530-Login incorrect.\r\n 530 is not the end without "
                                          "the code in front\r\n530-Ask your print shop.\r\n"
                                          "530 Bye."));
    EXPECT_EQ(replies.feed("226 Transfer complete.")->text,
              QStringLiteral("226 Transfer complete."));
}

TEST(FtpTexts, StatusTextsOnlyForTheEventsTheClientReports) {
    EXPECT_EQ(ftpStatusText(10, QStringLiteral("ftp.example")).value(),
              QStringLiteral("Looking up the IP address for ftp.example"));
    EXPECT_EQ(ftpStatusText(200, QStringLiteral("16")).value(),
              QStringLiteral("Disconnected by user request."));
    EXPECT_FALSE(ftpStatusText(200, QStringLiteral("4")).has_value());
    EXPECT_FALSE(ftpStatusText(12, QString()).has_value());
    EXPECT_FALSE(ftpStatusText(31, QStringLiteral("4096")).has_value());
    EXPECT_EQ(uploadBarMessage(QStringLiteral("/data/Job_1.zip")),
              QStringLiteral("Uploading Job 1.zip"));
    EXPECT_EQ(uploadCaption(QStringLiteral("/data/Job_1.zip")),
              QStringLiteral("Uploading Job_1.zip"));
}

} // namespace
