// kestro-send as a script sees it: exit code, stdout and stderr, and what reached the shop.
#include "cli/sendworkstation.h"

#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using kestro::test::SendWorkstation;

namespace {

struct ProcessRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class KestroSendTest : public ::testing::Test {
protected:
    ProcessRun run(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(KESTRO_SEND_PATH), args);
        p.waitForFinished(180000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QString jobFile(const QJsonArray& files, const QString& name = QStringLiteral("job.json")) {
        const QJsonObject job{{QStringLiteral("time"), QStringLiteral("10 : 00")},
                              {QStringLiteral("remarks"), QStringLiteral("Bitte falten")},
                              {QStringLiteral("files"), files}};
        return ws.machine.writeFile(name, QJsonDocument(job).toJson());
    }

    QJsonObject file(const QString& path, const QString& color = QStringLiteral("farbig")) {
        QJsonObject f{
            {QStringLiteral("path"), path},
            {QStringLiteral("copies"), 3},
            {QStringLiteral("steps"), QJsonArray{QStringLiteral("heften"), QStringLiteral("keine"),
                                                 QStringLiteral("keine")}}};
        if (!color.isEmpty())
            f.insert(QStringLiteral("color"), color);
        return f;
    }

    SendWorkstation ws;
};

TEST_F(KestroSendTest, DeliveredJobPrintsArchiveAndJobNumber) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    const QString plan = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF-1.4 plan");
    const ProcessRun r = run({jobFile({file(plan)})});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(ws.uploadedFiles().size(), 1);
    const QString archive = ws.uploadedFiles().first();
    EXPECT_EQ(r.out, QStringLiteral("Archiv: %1\nAuftragsnummer: 1\n").arg(archive));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Uploading %1 completed.").arg(archive)));
    EXPECT_EQ(ws.mails().size(), 1);

    // --quiet leaves out the progress; the next job gets the next number.
    const ProcessRun again = run({jobFile({file(plan)}), QStringLiteral("--quiet")});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.endsWith(QStringLiteral("Auftragsnummer: 2\n")))
        << again.out.toStdString();
    EXPECT_FALSE(again.err.contains(QStringLiteral("completed."))) << again.err.toStdString();
    EXPECT_FALSE(again.err.contains(QStringLiteral(" %"))) << again.err.toStdString();
}

TEST_F(KestroSendTest, RefusedJobsExitOneWithTheGermanMessage) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    const QString plan = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF-1.4 plan");
    ProcessRun r = run({jobFile({})});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("keine Daten zum versenden vorhanden !")));
    r = run({jobFile({file(plan, QString())})});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Auftrag noch nicht vollständig ausgefüllt !")));
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
}

TEST_F(KestroSendTest, DefaultTargetNeedsTheFlag) {
    ASSERT_TRUE(ws.start({}, QStringLiteral("ftp.varnholt.example"))) << ws.problem().toStdString();
    const QString plan = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF-1.4 plan");
    ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("keine spezielle Zieladresse")))
        << r.err.toStdString();
    // With the flag the send goes on; the maker's host has no catalogue at this shop.
    r = run({jobFile({file(plan)}), QStringLiteral("--send-to-default-target")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.contains(QStringLiteral("keine spezielle Zieladresse")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Katalog"))) << r.err.toStdString();
}

TEST_F(KestroSendTest, RefusedUploadExitsTwo) {
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("gesperrt")}))
        << ws.problem().toStdString();
    const QString plan = ws.machine.writeFile(QStringLiteral("plan.pdf"), "%PDF-1.4 plan");
    const ProcessRun r = run({jobFile({file(plan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(ws.uploadedFiles().isEmpty());
    EXPECT_TRUE(ws.mails().isEmpty());
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

TEST_F(KestroSendTest, BadUsageAndMalformedJobsExit64) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    EXPECT_EQ(run({}).exitCode, 64);
    EXPECT_EQ(run({QStringLiteral("a.json"), QStringLiteral("b.json")}).exitCode, 64);
    EXPECT_EQ(run({QStringLiteral("--unknown"), QStringLiteral("a.json")}).exitCode, 64);
    EXPECT_EQ(run({ws.machine.path(QStringLiteral("fehlt.json"))}).exitCode, 64);
    const QString broken = ws.machine.writeFile(QStringLiteral("broken.json"), "{\"files\": [");
    ProcessRun r = run({broken});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not valid JSON"))) << r.err.toStdString();
    const QString wrongType = ws.machine.writeFile(QStringLiteral("wrong.json"),
                                                   R"({"files": [{"path": ["plan.pdf"]}]})");
    r = run({wrongType});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(r.err.contains(QStringLiteral("files[0]"))) << r.err.toStdString();
    const QString badDate =
        ws.machine.writeFile(QStringLiteral("date.json"), R"({"date": "7.12.2026", "files": []})");
    EXPECT_EQ(run({badDate}).exitCode, 64);
}

// Three scripts on one workstation send at the same moment: every job arrives, each under
// a name of its own and with its own file, and nothing is left behind.
TEST_F(KestroSendTest, SendsAtOnceAllArriveUnderTheirOwnNames) {
    ASSERT_TRUE(ws.start()) << ws.problem().toStdString();
    constexpr int kSends = 3;
    QProcess processes[kSends];
    for (int i = 0; i < kSends; ++i) {
        const QString plan = ws.machine.writeFile(QStringLiteral("plan%1.pdf").arg(i),
                                                  QByteArray("%PDF ") + QByteArray::number(i));
        processes[i].start(QStringLiteral(KESTRO_SEND_PATH),
                           {jobFile({file(plan)}, QStringLiteral("job%1.json").arg(i))});
    }
    QStringList archives;
    for (QProcess& p : processes) {
        ASSERT_TRUE(p.waitForFinished(180000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        ASSERT_EQ(p.exitCode(), 0) << err.toStdString();
        archives << QString::fromUtf8(p.readAllStandardOutput()).section('\n', 0, 0).mid(8);
    }
    QStringList expected = archives;
    expected.sort();
    expected.removeDuplicates();
    ASSERT_EQ(expected.size(), kSends) << archives.join(' ').toStdString();
    EXPECT_EQ(ws.uploadedFiles(), expected);
    EXPECT_TRUE(QDir(ws.value("ftpRoot")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    for (int i = 0; i < kSends; ++i) {
        const QString name = QStringLiteral("plan%1.pdf").arg(i);
        const auto entries =
            kestro::test::zipEntries(ws.value("ftpRoot") + QLatin1Char('/') + archives[i]);
        EXPECT_EQ(entries.keys(), (QStringList{QStringLiteral("JobDaten.txt"), name}));
        EXPECT_EQ(entries.value(name), QByteArray("%PDF ") + QByteArray::number(i));
    }
    EXPECT_EQ(ws.mails().size(), kSends);
    EXPECT_TRUE(ws.archivesLeftLocally().isEmpty());
}

TEST_F(KestroSendTest, HundredPercentOnlyAfterTheShopConfirmed) {
    // The shop keeps only the first bytes and still answers 226.
    ASSERT_TRUE(ws.start({QStringLiteral("--ftp-user"), QStringLiteral("kuerzer")}))
        << ws.problem().toStdString();
    QByteArray bytes(2 << 20, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    const QString scan = ws.machine.writeFile(QStringLiteral("scan.tif"), bytes);
    const ProcessRun r = run({jobFile({file(scan)})});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("100 %"))) << r.err.toStdString();
    EXPECT_TRUE(ws.uploadedFiles().isEmpty()) << ws.uploadedFiles().join(' ').toStdString();
}

} // namespace
