// What a run does to a server database besides connecting: a backup with the
// server's own dump program, and a lock that keeps runs from several
// machines apart. Only the data-source lookup calls this.
#pragma once

#include <memory>
#include <string>

#include "db/database.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

// The key of the session-level advisory lock that every run holds on the
// main database ("QVSETUP" in ASCII): fixed, so that runs of every version
// and every machine meet on it.
inline constexpr long long kRunLockKey = 0x51565345545550LL;

// Writes `pg_dump --format=custom` of `address` into the new file `path`:
// first under "<path>.part", flushed, then linked to `path` (never replacing
// anything there) and the folder flushed. The connection settings reach
// pg_dump through its environment (PGHOST, PGPORT, PGUSER, PGPASSWORD,
// PGDATABASE, PGSSLMODE), so that no password shows in a process list; an
// absent setting keeps libpq's default. pg_dump waits at most
// `lockWaitMs` for a table lock. Raises DbError with the reason (pg_dump not
// on PATH, its own message) and leaves nothing at `path` when it fails.
void DumpDatabase(const ServerAddress& address, int lockWaitMs, const std::string& path);

// Takes the run lock on a connection of its own (no lock timeout: a run
// waits as long as another runs). When another session holds it, says so
// once through Diagnose, naming the database and the holder's server pid,
// then waits. Raises DbError when the server cannot be reached.
std::unique_ptr<RunLock> HoldRunLock(const ServerAddress& address);

}  // namespace qv::db::postgres
