#pragma once

#include "client/jobdb/searchindex.h"

#include <QList>
#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace kestro::history {

// One line of the search's hit list. A job hit carries the job's project, date and cost
// centre; a file hit the file's name only.
struct SearchHit {
    enum class Kind { Job, File };
    Kind kind = Kind::Job;
    QString jobNumber;
    QString text; // project of a job hit, file name of a file hit
    QString date;
    QString costCentre;

    bool operator==(const SearchHit&) const = default;
};

struct SearchOutcome {
    QString text; // the search text as typed
    QList<SearchHit> hits;
    QString error;          // the engine's text when the search failed
    bool cancelled = false; // a newer search took over; the hits are incomplete
    bool usedIndex = false; // the substring index narrowed the rows to test
};

// The case folding of the search: A-Z and the upper-case letters of Latin-1 (Ä, Ö, Ü, É,
// ...) become lower case, capital sharp s becomes ß. Everything else stays, so "STRASSE"
// finds "strasse" but "strasse" does not find "Straße".
using jobdb::foldForSearch;

// Makes the folding available to statements on this connection as kestro_fold(x). False
// when the connection is not an SQLite one.
bool installSearchFolding(const QSqlDatabase& db);

// The job search for `text` exactly as typed: every job whose cost centre, project, user,
// computer name, database path, delivery names 1 to 3, delivery street, delivery town,
// delivery contact, remarks, deadline or date contains the text, newest job first; then
// every file row whose file name contains it, newest first. A job can appear more than
// once. "%" and "_" in the text are the wildcards "any run of characters" and "any one
// character"; every other character, a quote included, stands for itself, and case is
// folded as foldForSearch() does. The text is only ever bound as a parameter.
//
// Uses the substring index when the file has it and the text holds a run of three
// characters without wildcards; the hits are the same either way. `cancelled` is asked
// now and then while the engine works; when it answers true the search stops. On a
// PostgreSQL server a running statement is not interrupted: it ends (the trigram index keeps
// it short) and its hits are marked cancelled, so the caller drops them.
SearchOutcome searchJobs(const QSqlDatabase& db, const QString& text,
                         const std::function<bool()>& cancelled = {}, bool useIndex = true);

} // namespace kestro::history

Q_DECLARE_METATYPE(kestro::history::SearchOutcome)
