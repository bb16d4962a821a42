#pragma once

#include "client/jobdb/tablelayout.h"

#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace kestro::jobdb {

// A value read from the database as the client sees it: Null is the empty text, and
// trailing blanks are removed.
QString cleanText(const QVariant& value);

// The values of one row to be written into a table, checked against the table's layout the
// way the old engine refused them: a text longer than its column, a long-integer column
// given something that is not a 32-bit whole number, or an unknown column name is left out
// (the row is still written) and a log line says so. An empty text is stored as Null.
// Column names are matched without regard to case.
class RowValues {
public:
    explicit RowValues(const TableLayout& layout) : layout_(&layout) {}

    // False when the value was left out.
    bool set(const QString& column, const QVariant& value);

    const TableLayout& layout() const { return *layout_; }
    // (stored column name, value) in the order they were set.
    const QList<QPair<QString, QVariant>>& values() const { return values_; }

private:
    const TableLayout* layout_;
    QList<QPair<QString, QVariant>> values_;
};

// Puts into `stored` the value as a column of that spec stores it and answers true, or answers
// false when it does not fit. Empty texts become a Null of the column's type.
bool fitValue(const ColumnSpec& spec, const QVariant& value, QVariant* stored);

// Appends the row; false (with `error`) when the engine refused it.
bool insertRow(const QSqlDatabase& db, const RowValues& row, QString* error = nullptr);
// Overwrites the given columns of the row with that rowid.
bool updateRow(const QSqlDatabase& db, const RowValues& row, qint64 rowid,
               QString* error = nullptr);

// The identifier in double quotes, for naming the tables and columns of the layouts in a
// query. In lower case: the embedded engine matches names without regard to case, and the
// server's tables are built with lower-case names (which is also what it makes of a name
// written without quotes).
QString quoted(const QString& identifier);
// The identifier in double quotes as written, for building an object under that name in
// the embedded engine.
QString quotedAsIs(const QString& identifier);

} // namespace kestro::jobdb
