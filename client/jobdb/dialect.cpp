#include "client/jobdb/dialect.h"

#include <QSqlDriver>

namespace kestro::jobdb {

const Dialect& dialectFor(Engine engine) {
    static const Dialect sqlite{
        Engine::Sqlite,
        {QStringLiteral("BEGIN IMMEDIATE")},
        QStringLiteral("INTEGER"),
        QStringLiteral("VARCHAR(%1)"),
        QStringLiteral("TEXT"),
        {},
        QStringLiteral("IS"),
        {},
        QStringLiteral("char(10)"),
        true,
        false,
    };
    static const Dialect postgres{
        Engine::Postgres,
        {QStringLiteral("BEGIN"),
         QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kWriteLockKey)},
        QStringLiteral("INTEGER"),
        QStringLiteral("VARCHAR(%1)"),
        QStringLiteral("TEXT"),
        QStringLiteral("rowid BIGSERIAL"),
        QStringLiteral("IS NOT DISTINCT FROM"),
        QStringLiteral(" ESCAPE ''"),
        QStringLiteral("chr(10)"),
        false,
        true,
    };
    return engine == Engine::Postgres ? postgres : sqlite;
}

Engine engineOf(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL") ? Engine::Postgres : Engine::Sqlite;
}

} // namespace kestro::jobdb
