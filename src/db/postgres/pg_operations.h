// What a run does to a server database besides connecting: a backup with the
// server's own dump program, and a lock that keeps runs from several
// machines apart. Only the engine (pg_engine.cc) calls this.
#pragma once

#include "db/postgres/engine_only.h"

#include <memory>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "db/database.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

// Writes `pg_dump --format=custom` of `address` into the new file `path`:
// first under "<path>.part", flushed, then linked to `path` (never replacing
// anything there) and the folder flushed. The connection settings reach
// pg_dump through its environment (PGHOST, PGPORT, PGUSER, PGPASSWORD,
// PGDATABASE, PGSSLMODE), so that no password shows in a process list; an
// absent setting keeps libpq's default. pg_dump waits at most
// `lockWaitMs` for a table lock. Raises DbError with the reason (pg_dump not
// on PATH, its own message) and leaves nothing at `path` when it fails.
void DumpDatabase(const ServerAddress& address, int lockWaitMs, const std::string& path);

// Checks the dump `path` without a server: there, and read to its last
// byte by pg_restore (a list of its contents alone does not show a dump cut
// short). Raises DbError with pg_restore's reason.
void VerifyDump(const std::string& path);

// The sessions connected to the database of `address` other than this
// process's own and those waiting for an advisory lock (runs waiting for
// the run lock this process holds): one line each, with the program's name
// and, where the server shows it, the client's address.
std::vector<std::string> SessionsUsing(const ServerAddress& address, int busyTimeoutMs);

// Makes the database of `address` hold exactly what the dump `path` holds,
// in one transaction: every object of its schemas dropped (the schema
// public kept, emptied), then the dump's contents run by psql (pg_restore
// writing them as SQL), committed only when all of it ran. The connection
// settings reach both programs as DumpDatabase's reach pg_dump. Killed or
// cut off midway, the database keeps its old state. Raises DbError.
void RestoreDump(const ServerAddress& address, const std::string& path);

// Takes the run lock on the database of `address`, waiting as long as
// another run holds it (said once on `diagnostics`, naming the holder), and
// guards the databases of `address` and `guarded` for the run's steps (see
// pg_advisory_lock.h). A server that cannot be reached leaves the lock
// untaken: every transaction that may write then fails, until KeepHeld
// takes it. Raises RunRefused when runs cannot take turns through the
// connection (a pooler that pools per transaction).
std::unique_ptr<RunLock> HoldRunLock(const ServerAddress& address,
                                     const std::vector<ServerAddress>& guarded, int busyTimeoutMs,
                                     const Diagnostics& diagnostics);

}  // namespace qv::db::postgres
