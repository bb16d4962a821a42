#include "client/jobdb/tablelayout.h"

namespace kestro::jobdb {
namespace {

ColumnSpec text(const char* name, int size) {
    return {QString::fromLatin1(name), ColumnType::Text, size};
}
ColumnSpec longInt(const char* name) {
    return {QString::fromLatin1(name), ColumnType::Long, 4};
}

// Projects and delivery addresses share one shape; only the number column is named apart.
TableLayout addressBook(const QString& tableName, const char* numberColumn) {
    return {tableName,
            {longInt(numberColumn), text("Name1", 80), text("Name2", 80), text("Name3", 80),
             text("Street", 80), text("plzOrt", 80), text("Anspr", 80)},
            {QString::fromLatin1(numberColumn)}};
}

QList<TableLayout> buildLayouts() {
    return {
        {table::JobDaten,
         {longInt("JobNumber"),
          text("Kostenstelle", 25),
          text("Projekt", 100),
          text("Termin", 100),
          text("Termin2", 100),
          text("User", 80),
          text("PCName", 80),
          text("Name", 80),
          text("Street", 80),
          text("plz", 100),
          text("Anspr", 100),
          text("SteuerNr", 30),
          text("UstNr", 30),
          text("FunkTel", 25),
          text("Fax", 25),
          text("Telefon", 25),
          text("EMail", 55),
          text("Web", 80),
          text("PfadFile", 25),
          text("Datum", 10),
          text("Uhrzeit", 8),
          text("LieferNr", 100),
          text("LieferName1", 100),
          text("LieferName2", 100),
          text("LieferName3", 100),
          text("LieferStreet", 100),
          text("LieferOrt", 100),
          text("LieferAnspr", 100),
          {QStringLiteral("Memo"), ColumnType::Memo, 12}},
         {QStringLiteral("JobNumber")}},
        {table::FileDaten,
         {longInt("LaufNR"), longInt("JobNumber"), longInt("FileNumber"), text("Filename", 255),
          text("FilePath", 255), text("FileTitel", 255), longInt("Anzahl"), text("Color", 20),
          text("Verarbeitung1", 255), text("Verarbeitung2", 255), text("Verarbeitung3", 255),
          text("Datum", 10)},
         {QStringLiteral("LaufNR"), QStringLiteral("JobNumber")}},
        {table::Stammdaten,
         {text("Name", 80),          text("Street", 80),
          text("plz", 80),           text("Anspr", 80),
          text("SteuerNr", 30),      text("UstNr", 30),
          text("MwSt", 2),           text("FunkTel", 25),
          text("Fax", 25),           text("Telefon", 25),
          text("BankName", 55),      text("EMail", 55),
          text("Web", 80),           text("BankBLZ", 25),
          text("BankKTO", 25),       text("BarzahlerRabat", 25),
          text("ArtikelBrutto", 25), text("Kostenstelle", 25),
          text("Projekt", 100),      text("ProjNam1Sort", 25)},
         {}},
        {table::FTPDaten,
         {text("FTPServer", 100), text("FTPUser", 50), text("FTPPw", 50), text("EMail", 100)},
         {}},
        {table::Version, {text("Version", 20)}, {}},
        addressBook(table::LieferAdr, "LiefNumber"),
        addressBook(table::Projekte, "ProNumber"),
        {table::JobReserviert,
         {longInt("JobNumber"), text("Reserviert", 19), text("PCName", 80), text("User", 80)},
         {QStringLiteral("JobNumber")}},
    };
}

} // namespace

const ColumnSpec* TableLayout::column(const QString& wanted) const {
    for (const ColumnSpec& c : columns) {
        if (c.name.compare(wanted, Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

const QList<TableLayout>& tableLayouts() {
    static const QList<TableLayout> layouts = buildLayouts();
    return layouts;
}

const TableLayout* findLayout(const QString& tableName) {
    for (const TableLayout& l : tableLayouts()) {
        if (l.name.compare(tableName, Qt::CaseInsensitive) == 0)
            return &l;
    }
    return nullptr;
}

} // namespace kestro::jobdb
