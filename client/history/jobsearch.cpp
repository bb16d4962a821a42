#include "client/history/jobsearch.h"

#include "client/jobdb/database.h"
#include "client/jobdb/rowvalues.h"
#include "client/jobdb/searchindex.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <sqlite3.h>

namespace kestro::history {
namespace {

using jobdb::cleanText;

// kestro_fold(x) over UTF-8 bytes, the same mapping as foldForSearch(): A-Z, U+00C0 to
// U+00DE without U+00D7 (the multiplication sign), and U+1E9E to U+00DF. The result is never
// longer than the input.
void foldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const unsigned char* in = sqlite3_value_text(argv[0]);
    const int n = sqlite3_value_bytes(argv[0]);
    if (!in) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    auto* out = static_cast<unsigned char*>(sqlite3_malloc(n + 1));
    if (!out) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    int o = 0;
    for (int i = 0; i < n;) {
        const unsigned char b = in[i];
        if (b >= 'A' && b <= 'Z') {
            out[o++] = b + 32;
            ++i;
        } else if (b == 0xC3 && i + 1 < n && in[i + 1] >= 0x80 && in[i + 1] <= 0x9E &&
                   in[i + 1] != 0x97) {
            out[o++] = 0xC3;
            out[o++] = in[i + 1] + 0x20;
            i += 2;
        } else if (b == 0xE1 && i + 2 < n && in[i + 1] == 0xBA && in[i + 2] == 0x9E) {
            out[o++] = 0xC3;
            out[o++] = 0x9F;
            i += 3;
        } else {
            out[o++] = b;
            ++i;
        }
    }
    out[o] = 0;
    sqlite3_result_text(ctx, reinterpret_cast<const char*>(out), o, sqlite3_free);
}

// Lets the engine ask `cancelled` every few thousand steps while the guard lives, and while
// it waits for another program's lock: a search that is no longer wanted must not hold its
// window (or the window's closing) for the whole lock timeout.
class CancelGuard {
public:
    CancelGuard(const QSqlDatabase& db, const std::function<bool()>& cancelled)
        : db_(db), handle_(cancelled ? jobdb::sqliteHandle(db) : nullptr), cancelled_(cancelled) {
        if (!handle_)
            return;
        sqlite3_progress_handler(handle_, 4000, &CancelGuard::poll, this);
        sqlite3_busy_handler(handle_, &CancelGuard::waitForLock, this);
    }
    ~CancelGuard() {
        if (!handle_)
            return;
        sqlite3_progress_handler(handle_, 0, nullptr, nullptr);
        jobdb::installLockWait(db_);
    }
    CancelGuard(const CancelGuard&) = delete;
    CancelGuard& operator=(const CancelGuard&) = delete;
    bool fired() const { return fired_; }

private:
    static constexpr int kLockPollMs = 20;

    static int poll(void* self) {
        auto* guard = static_cast<CancelGuard*>(self);
        guard->fired_ = guard->fired_ || guard->cancelled_();
        return guard->fired_ ? 1 : 0;
    }
    // Waits in short slices up to the connection's usual timeout; 0 gives up.
    static int waitForLock(void* self, int attempts) {
        if (poll(self) != 0 || attempts * kLockPollMs >= jobdb::kBusyTimeoutMs)
            return 0;
        sqlite3_sleep(kLockPollMs);
        return 1;
    }
    QSqlDatabase db_;
    sqlite3* handle_;
    const std::function<bool()>& cancelled_;
    bool fired_ = false;
};

// The FTS5 query that finds every row holding all runs of three or more characters without
// wildcards, each as a phrase; empty when the text has no such run (the index cannot
// narrow the rows then).
QString indexQuery(const QString& folded) {
    QStringList phrases;
    QString run;
    auto flush = [&] {
        if (run.toUcs4().size() >= 3)
            phrases << QLatin1Char('"') +
                           QString(run).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                           QLatin1Char('"');
        run.clear();
    };
    for (const QChar c : folded) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_'))
            flush();
        else
            run += c;
    }
    flush();
    return phrases.join(QStringLiteral(" AND "));
}

// A column's test. SQLite's own LIKE folds A-Z; the folding maps no other character onto
// one of A-Z and keeps every character one character, so for a pattern of plain ASCII the
// engine's LIKE gives the same answer without the function call per value. The server's
// LIKE folds nothing, so there every value goes through kestro_fold().
QString columnLike(const jobdb::Dialect& dialect, const QString& table, const QString& column,
                   bool asciiPattern) {
    const QString test = asciiPattern && dialect.likeFoldsAscii
                             ? QStringLiteral("%1.%2 LIKE p.pat")
                             : QStringLiteral("kestro_fold(%1.%2) LIKE p.pat");
    return test.arg(table, jobdb::quoted(column)) + dialect.likeTail;
}

QString anyColumnLike(const jobdb::Dialect& dialect, const QStringList& columns,
                      const QString& table, bool asciiPattern) {
    QStringList tests;
    for (const QString& c : columns)
        tests << columnLike(dialect, table, c, asciiPattern);
    return QLatin1Char('(') + tests.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

bool isAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The index's narrowing: the FTS5 table's candidates, or on the server the folded joined
// text, which holds the pattern whenever one of its columns does (the trigram index
// answers that test).
QString restrictedTo(const jobdb::Dialect& dialect, const QString& table, const QString& indexTable,
                     bool useIndex) {
    if (!useIndex)
        return {};
    if (dialect.engine == jobdb::Engine::Postgres)
        return QStringLiteral(" AND kestro_fold(%1) LIKE ?%2")
            .arg(jobdb::serverSearchText(table, indexTable == jobdb::searchindex::FileTable),
                 dialect.likeTail);
    return QStringLiteral(" AND %1.rowid IN (SELECT rowid FROM %2 WHERE %2 MATCH ?)")
        .arg(table, jobdb::quoted(indexTable));
}

bool runQuery(QSqlQuery& q, const QString& pattern, const QString& match, SearchOutcome& out,
              const CancelGuard& guard) {
    q.addBindValue(pattern);
    if (!match.isEmpty())
        q.addBindValue(match);
    if (q.exec())
        return true;
    if (guard.fired())
        out.cancelled = true;
    else
        out.error = q.lastError().text();
    return false;
}

} // namespace

bool installSearchFolding(const QSqlDatabase& db) {
    sqlite3* handle = jobdb::sqliteHandle(db);
    return handle &&
           sqlite3_create_function_v2(
               handle, "kestro_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
               nullptr, &foldFunction, nullptr, nullptr, nullptr) == SQLITE_OK;
}

SearchOutcome searchJobs(const QSqlDatabase& db, const QString& text,
                         const std::function<bool()>& cancelled, bool useIndex) {
    SearchOutcome out;
    out.text = text;
    const jobdb::Dialect& dialect = jobdb::dialectOf(db);
    const bool server = dialect.engine == jobdb::Engine::Postgres;
    if (!server && !installSearchFolding(db)) {
        out.error = QStringLiteral("Die Datenbank kann nicht durchsucht werden.");
        return out;
    }
    // A server's texts cannot hold a NUL, so a text with one finds nothing there.
    if (server && text.contains(QChar(0)))
        return out;
    const CancelGuard guard(db, cancelled);
    const QString folded = foldForSearch(text);
    const QString pattern = QLatin1Char('%') + folded + QLatin1Char('%');
    const bool asciiPattern = isAscii(folded);
    // FTS5 refuses a query holding a NUL; such a text is rare enough to read every row.
    // The server narrows by the pattern itself (no NUL can be stored in its texts).
    const QString match = !useIndex || folded.contains(QChar(0)) ? QString()
                          : server                               ? pattern
                                                                 : indexQuery(folded);
    out.usedIndex = !match.isEmpty() && jobdb::hasSearchIndex(db);
    const QString jobMatch = out.usedIndex ? match : QString();

    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("WITH p(pat) AS (SELECT CAST(? AS TEXT)) SELECT j.JobNumber, j.Projekt, "
                       "j.Datum, j.Kostenstelle FROM JobDaten j, p WHERE %1%2 "
                       "ORDER BY j.JobNumber DESC, j.rowid DESC")
            .arg(anyColumnLike(dialect, jobdb::searchedJobColumns(), QStringLiteral("j"),
                               asciiPattern),
                 restrictedTo(dialect, QStringLiteral("j"), jobdb::searchindex::JobTable,
                              out.usedIndex)));
    if (!runQuery(q, pattern, jobMatch, out, guard))
        return out;
    while (q.next())
        out.hits.append({SearchHit::Kind::Job, cleanText(q.value(0)), cleanText(q.value(1)),
                         cleanText(q.value(2)), cleanText(q.value(3))});

    q.prepare(
        QStringLiteral("WITH p(pat) AS (SELECT CAST(? AS TEXT)) SELECT f.JobNumber, f.Filename "
                       "FROM FileDaten f, p WHERE %1%2 ORDER BY f.LaufNR DESC, f.rowid DESC")
            .arg(columnLike(dialect, QStringLiteral("f"), QStringLiteral("Filename"), asciiPattern),
                 restrictedTo(dialect, QStringLiteral("f"), jobdb::searchindex::FileTable,
                              out.usedIndex)));
    if (!runQuery(q, pattern, jobMatch, out, guard))
        return out;
    while (q.next())
        out.hits.append(
            {SearchHit::Kind::File, cleanText(q.value(0)), cleanText(q.value(1)), {}, {}});
    // The engine may have finished just as a newer search came; a server's statement runs
    // to its end, and its hits are dropped here.
    if (guard.fired() || (server && cancelled && cancelled()))
        out.cancelled = true;
    return out;
}

} // namespace kestro::history
