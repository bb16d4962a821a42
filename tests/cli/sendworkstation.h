#pragma once

// A workstation and the print shop it sends to, for the send tests: the shop runs as real
// servers on loopback (tests/fixtures/printshop.py), the workstation is a TestMachine with
// a job database, the registry value that names it, and a deployment configuration whose
// maker web server and mail account are the shop's.
#include "client/jobdb/creation.h"
#include "client/jobdb/masterdata.h"
#include "common/prompter.h"
#include "common/registrystore.h"
#include "jobdb/jobdbtestutil.h"
#include "support/peerprocess.h"
#include "support/programrun.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <zip.h>

namespace kestro::test {

inline const QString kCompany = "Muster/Bau\\GmbH";

class SendWorkstation {
public:
    // Starts the shop (extra arguments go to printshop.py) and prepares the workstation
    // with `ftpServer` as its target (the shop's own when empty), its job database a file
    // or a database on the test server. False when something could not be set up;
    // `problem()` says what.
    bool start(const QStringList& shopArgs = {}, const QString& ftpServer = {},
               jobdb::Engine engine = jobdb::Engine::Sqlite) {
        if (!shop_.startFixture("printshop.py",
                                QStringList{"--root", machine.path("shop")} + shopArgs))
            return fail("shop did not start: " + shop_.output());
        for (const QString& line : shop_.output().split('\n'))
            if (line.startsWith('{'))
                info_ = QJsonDocument::fromJson(line.toUtf8()).object();
        if (info_.isEmpty())
            return fail("no ports from the shop: " + shop_.output());
        machine.writeFile("kestro.conf",
                          QString("[Maker]\nWebServer=%1\nFtpHost=ftp.varnholt.example\n"
                                  "[DefaultMailAccount]\nSmtpServer=%2\n"
                                  "From=kestroclient@varnholt.example\nUsername=kestro\n"
                                  "Password=geheim\n")
                              .arg(value("webServer"), value("smtpServer"))
                              .toUtf8());
        QDir().mkpath(machine.systemDrive());
        databasePath = engine == jobdb::Engine::Sqlite
                           ? machine.path("drive/KestroJobs.mdb")
                           : dbtest::freshDatabank(engine, machine.systemDrive());
        QDir().mkpath(machine.clientDataFolder());
        ScriptedPrompter prompter;
        if (!jobdb::createAllTables(databasePath, prompter))
            return fail("database not created");
        jobdb::MasterData master;
        master.name = kCompany;
        const jobdb::MasterDataStore store(databasePath);
        if (!store.save(master) ||
            !store.saveFtpServer(ftpServer.isEmpty() ? value("ftpServer") : ftpServer))
            return fail("master data not saved");
        if (!RegistryStore().write(Hive::LocalMachine, "Software\\Varnholt\\KestroFTP\\Client",
                                   "Databank", databasePath))
            return fail("Databank not registered");
        return true;
    }

    // The FTP account the shop's catalogue names, and with it how the shop's FTP server
    // behaves (see tests/fixtures/ftpserver.py); the next send fetches the catalogue anew.
    void setFtpUser(const QString& user) {
        const QString catalogue = machine.path("shop/web/shop/Katalog.INI");
        QString text = QString::fromUtf8(readFile(catalogue));
        text.replace(QRegularExpression("User=\\w+"), "User=" + user);
        machine.writeFile("shop/web/shop/Katalog.INI", text.toUtf8());
    }

    QString value(const char* key) const {
        const QJsonValue v = info_.value(QLatin1String(key));
        return v.isString() ? v.toString() : QString::number(v.toInt());
    }
    QString problem() const { return problem_; }
    QStringList uploadedFiles() const {
        return QDir(value("ftpRoot")).entryList(QDir::Files, QDir::Name);
    }
    QStringList mails() const {
        return QDir(value("mailSpool")).entryList({"*.json"}, QDir::Files);
    }
    QJsonObject mail(const QString& name) const {
        return QJsonDocument::fromJson(readFile(value("mailSpool") + '/' + name)).object();
    }
    // Archives, job sheets of sends and send folders still in the client data folder.
    QStringList archivesLeftLocally() const {
        const QDir folder(machine.clientDataFolder());
        return folder.entryList({"*.zip"}, QDir::Files) +
               folder.entryList({"Senden-*"}, QDir::Dirs);
    }

    TestMachine machine;
    QString databasePath;

private:
    bool fail(const QString& why) {
        problem_ = why;
        return false;
    }
    PeerProcess shop_;
    QJsonObject info_;
    QString problem_;
};

// Whether a program ended with `code` and named each of `told` on stderr; when not, the
// message shows its whole stderr.
inline ::testing::AssertionResult ended(const ProcessRun& run, int code,
                                        const QStringList& told = {}) {
    for (const QString& text : told)
        if (!run.err.contains(text))
            return ::testing::AssertionFailure()
                   << "stderr lacks \"" << text.toStdString() << "\":\n"
                   << run.err.toStdString();
    if (run.exitCode != code)
        return ::testing::AssertionFailure()
               << "exit code " << run.exitCode << ", not " << code << ":\n"
               << run.err.toStdString();
    return ::testing::AssertionSuccess();
}

// Every entry of a zip archive with its bytes, read with libzip.
inline QMap<QString, QByteArray> zipEntries(const QString& path) {
    QMap<QString, QByteArray> out;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), 0, &st);
        QByteArray bytes(qsizetype(st.size), Qt::Uninitialized);
        zip_file_t* f = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (f) {
            zip_fread(f, bytes.data(), st.size);
            zip_fclose(f);
        }
        out.insert(QString::fromUtf8(st.name), bytes);
    }
    zip_close(archive);
    return out;
}

} // namespace kestro::test
