#include "client/jobdb/jobsheet.h"

#include "common/ansi.h"
#include "common/germanformat.h"
#include "common/textfile.h"

#include <QStringList>

namespace kestro::jobdb {

QString projectText(const LookupResult& project) {
    QString text = project.name1.isEmpty() ? QStringLiteral(" ")
                                           : project.number + QStringLiteral(" | ") + project.name1;
    for (const QString* part : {&project.name2, &project.name3, &project.contact}) {
        if (!part->isEmpty())
            text += QStringLiteral(" / ") + *part;
    }
    return text;
}

QString fileLine(const compose::FileRow& file) {
    const QString gap(8, QLatin1Char(' '));
    return file.number + QLatin1Char(' ') + file.fileName + QLatin1Char(' ') + file.copies +
           QLatin1Char('x') + file.color + gap + QStringLiteral("1:") + file.step1 + gap +
           QStringLiteral("2:") + file.step2 + gap + QStringLiteral("3:") + file.step3 +
           QStringLiteral("  ");
}

QByteArray jobSheetBytes(const JobSheetContent& c) {
    const QString blank = QStringLiteral(" ");
    const MasterData& m = c.master;
    QStringList lines{
        QStringLiteral("JobNummer: ") + QString::number(c.jobNumber),
        QStringLiteral("Kostenstelle: ") + m.costCentre,
        QStringLiteral("Projekt: ") + projectText(c.project),
        QStringLiteral("TERMIN: ") + c.deadline,
        blank,
        QStringLiteral("Auftraggeber: "),
        m.name,
        m.street,
        m.plz,
        blank,
        m.contact,
        QStringLiteral("Funk Tel: ") + m.mobile,
        QStringLiteral("Faxnummer: ") + m.fax,
        QStringLiteral("Telefonnummer: ") + m.phone,
        QStringLiteral("E-Mail: ") + m.email,
        QStringLiteral("Datum: ") + de::shortDate(c.today),
        QStringLiteral("Uhrzeit: ") + c.sendTime,
        blank,
    };
    if (!c.remarks.isEmpty())
        lines << QStringLiteral("BEMERKUNGEN - B E M E R K U N G E N: ") + c.remarks << blank;
    if (!c.delivery.number.isEmpty())
        lines << QStringLiteral("Lieferanschrift: ");
    // The contact person comes before street and town on the sheet.
    const LookupResult& d = c.delivery;
    for (const QString* v : {&d.name1, &d.name2, &d.name3, &d.contact, &d.street, &d.plzOrt}) {
        if (!v->isEmpty())
            lines << *v;
    }
    lines << blank;
    for (const compose::FileRow& f : c.files)
        lines << fileLine(f);

    QByteArray out;
    // The shop reads the sheet line by line: a line break or any other control character in
    // a remark, the time or a file name would start a line of its own ("JobNummer: 999").
    for (const QString& line : lines)
        out += toAnsi(withoutControlCharacters(line)) + "\r\r\n";
    return out;
}

} // namespace kestro::jobdb
