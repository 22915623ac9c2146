// The schema scripts of the two kinds of installation, compiled in from
// share/schema/*.sql: engine-native SQL, several statements each, to be run
// into a new database file (qv::db::CreateDatabaseFile, db/create_databases.h).
#pragma once

namespace qv::mkinstall {

// A fresh installation: current tables, the rows the installer ships, and
// (main) the fifteen server views.
extern const char kMainFreshSql[];
extern const char kSecurityFreshSql[];

// An older installation: Public and Confirm columns with their PublicID
// indexes, obsolete views, older view definitions, and users without date
// and time formats.
extern const char kMainOldSql[];
extern const char kSecurityOldSql[];

// The same four in PostgreSQL's dialect, translated from the above at build
// time (mkinstall/server_schema.h), to be run into new server databases.
extern const char kMainFreshPgSql[];
extern const char kSecurityFreshPgSql[];
extern const char kMainOldPgSql[];
extern const char kSecurityOldPgSql[];

}  // namespace qv::mkinstall
