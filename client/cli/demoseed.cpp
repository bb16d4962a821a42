// kestro-demo-seed DATABASE [FTP-SERVER]
//
// Prepares a job database the way an administrator would before the first start on a
// workstation: builds the tables with the client's own code and enters sample master data,
// the shop's FTP server, projects and delivery addresses. Used by the demo; refuses to
// touch a file that already exists.
#include "client/jobdb/creation.h"
#include "client/jobdb/database.h"
#include "client/jobdb/masterdata.h"
#include "client/jobdb/recordeditor.h"
#include "common/prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

using namespace kestro;

namespace {

// Errors go to the terminal; nobody is there to answer questions.
class TerminalPrompter : public Prompter {
public:
    void message(const QString& text, Icon, const QString& = {}) override {
        std::fprintf(stderr, "%s\n",
                     qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'))));
    }
    bool askYesNo(const QString& text, Icon icon, const QString& title = {}) override {
        message(text, icon, title);
        return false;
    }
    QString chooseOpenFile(const QString&, const QString&) override { return {}; }
};

bool addRecords(const jobdb::Database& db, jobdb::EditorConfig config,
                const QList<jobdb::EditorRecord>& records) {
    jobdb::RecordEditor editor(db, std::move(config));
    for (jobdb::EditorRecord r : records) {
        const auto made = editor.newRecord();
        if (!made)
            return false;
        r.number = made->number;
        if (!editor.save(r))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: kestro-demo-seed DATABASE [FTP-SERVER]\n");
        return 64;
    }
    const QString path = args.at(1);
    if (QFileInfo::exists(path)) {
        std::fprintf(stderr, "kestro-demo-seed: %s exists already; nothing changed\n",
                     qPrintable(path));
        return 1;
    }
    TerminalPrompter prompter;
    if (!jobdb::createAllTables(path, prompter))
        return 1;

    jobdb::MasterData master;
    master.name = QStringLiteral("Architekturbüro Sonnenfeld GmbH");
    master.street = QStringLiteral("Lindenallee 12");
    master.plz = QStringLiteral("50667 Köln");
    master.contact = QStringLiteral("Anna Sonnenfeld");
    master.taxNumber = QStringLiteral("215/5702/1234");
    master.vatId = QStringLiteral("DE123456789");
    master.vatRate = 19.0f;
    master.phone = QStringLiteral("0221 123456");
    master.fax = QStringLiteral("0221 123457");
    master.mobile = QStringLiteral("0171 2345678");
    master.email = QStringLiteral("buero@sonnenfeld.example");
    master.web = QStringLiteral("www.sonnenfeld.example");
    master.costCentre = QStringLiteral("KST-4711");
    master.sortProjectsByName1 = QStringLiteral("0");
    const jobdb::MasterDataStore store(path);
    if (!store.save(master))
        return 1;
    if (args.size() == 3 && !store.saveFtpServer(args.at(2)))
        return 1;

    const jobdb::Database db(path);
    const bool ok =
        addRecords(db, jobdb::EditorConfig::projects(),
                   {{0,
                     QStringLiteral("Neubau"),
                     QStringLiteral("Halle 3"),
                     {},
                     {},
                     {},
                     QStringLiteral("Meier")},
                    {0,
                     QStringLiteral("Sanierung Rathaus"),
                     {},
                     {},
                     QStringLiteral("Markt 1"),
                     QStringLiteral("50667 Köln"),
                     QStringLiteral("Schulz")},
                    {0, QStringLiteral("Wettbewerb Brückenpark"), {}, {}, {}, {}, {}}}) &&
        addRecords(db, jobdb::EditorConfig::deliveryAddresses(),
                   {{0,
                     QStringLiteral("Baustelle Nord"),
                     QStringLiteral("Containerbüro"),
                     {},
                     QStringLiteral("Hafenstraße 5"),
                     QStringLiteral("50668 Köln"),
                     QStringLiteral("Polier Jansen")},
                    {0,
                     QStringLiteral("Büro Sonnenfeld"),
                     {},
                     {},
                     QStringLiteral("Lindenallee 12"),
                     QStringLiteral("50667 Köln"),
                     QStringLiteral("Empfang")}});
    if (!ok) {
        std::fprintf(stderr, "kestro-demo-seed: cannot add the sample records\n");
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}
