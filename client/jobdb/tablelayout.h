#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kestro::jobdb {

// Type codes of the columns, the numbers the database engine of the Windows client used.
enum class ColumnType { Long = 4, Text = 10, Memo = 12 };

// One (name, type code, size) triple of a table layout. For text the size is the most
// characters a value may have; long integers give 4 and memos 12, neither of which limits.
struct ColumnSpec {
    QString name;
    ColumnType type;
    int size;

    bool operator==(const ColumnSpec&) const = default;
};

// The layout of one table: its columns in stored order. Building a table, rebuilding it and
// copying rows all walk this same list, so the tables are described here and nowhere else.
struct TableLayout {
    QString name;
    QList<ColumnSpec> columns;
    // Columns that get an index so that "highest number" and "by number" look-ups stay
    // quick however large the table grows. Indexes change no result.
    QStringList indexed;

    // The column of that name (compared without regard to case), or nullptr.
    const ColumnSpec* column(const QString& name) const;
    bool operator==(const TableLayout&) const = default;
};

// Names of the seven tables.
namespace table {
inline const QString JobDaten = QStringLiteral("JobDaten");
inline const QString FileDaten = QStringLiteral("FileDaten");
inline const QString Stammdaten = QStringLiteral("Stammdaten");
inline const QString FTPDaten = QStringLiteral("FTPDaten");
inline const QString Version = QStringLiteral("Version");
inline const QString LieferAdr = QStringLiteral("LieferAdr");
inline const QString Projekte = QStringLiteral("Projekte");
// The job numbers of sends under way: a number is reserved here in the same write
// transaction that finds it and leaves when its job is recorded or its send failed.
inline const QString JobReserviert = QStringLiteral("JobReserviert");
} // namespace table

// The layouts in the order in which a new or rebuilt file creates them: the seven tables
// JobDaten, FileDaten, Stammdaten, FTPDaten, Version, LieferAdr, Projekte, then the number
// reservations JobReserviert.
const QList<TableLayout>& tableLayouts();

// The layout of a table by name (without regard to case), or nullptr for an unknown name.
const TableLayout* findLayout(const QString& tableName);

} // namespace kestro::jobdb
