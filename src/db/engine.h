// What the connector needs of a database engine, given a data source as the
// data-source file defines it. An engine lives in a folder of its own under
// db/ and knows no other engine; the connector picks it by the data source's
// driver (docs/engines.md).
//
// The embedded engine is linked into every program that uses db/. The server
// engine is a module of its own (a shared object loaded when a server data
// source is first used), so that a run on database files neither maps nor
// needs the server's client library.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/diagnostics.h"
#include "db/create_databases.h"
#include "db/database.h"
#include "db/odbc_ini.h"

namespace qv::db {

// What an engine is given by the program that uses it; borrowed, and must
// outlive the engine.
struct EngineHost {
  const Diagnostics* diagnostics = nullptr;  // where the engine says what no box says
  int busyTimeoutMs = 0;                     // how long a statement waits for a lock
};

class Engine {
 public:
  virtual ~Engine() = default;

  // Opens the database of `dataSource` (never creates one). Raises DbError
  // with the engine's reason.
  virtual std::unique_ptr<Connection> Open(const OdbcSection& dataSource) = 0;

  // Backs up the database of `dataSource` as the new file `to` plus the
  // engine's extension (".mdb" for a copy of `file`, the installation's
  // database file, with the journal or log it needs; ".dump" for a server's
  // dump), complete and flushed to disk before it takes its name, never
  // replacing anything. Raises DbError whose description is the whole
  // diagnostic line, with nothing left behind, when no backup was made.
  virtual void BackUp(const OdbcSection& dataSource, const std::string& file,
                      const std::string& to) = 0;

  // As Connector::HoldRunLock, for the databases of `dataSource` and
  // `guarded` (those of this engine). Null where a lock file beside the
  // database keeps runs apart.
  virtual std::unique_ptr<RunLock> HoldRunLock(const OdbcSection& dataSource,
                                               const std::vector<OdbcSection>& guarded) = 0;

  // As Connector::VerifyBackup, OtherUsers and Restore, for a backup of
  // this engine's kind.
  virtual void VerifyBackup(const OdbcSection& dataSource, const std::string& from) = 0;
  virtual std::vector<std::string> OtherUsers(const OdbcSection& dataSource,
                                              const std::string& file) = 0;
  virtual void Restore(const OdbcSection& dataSource, const std::string& file,
                       const std::string& from) = 0;

  // As Connector::RunEnded.
  virtual void RunEnded() {}
};

// The embedded engine, on database files.
std::unique_ptr<Engine> MakeFileEngine(const EngineHost& host);

// The entry of the server engine's module: filled in by the module, checked
// by the loader (server_module.cc).
struct ServerEngineModule {
  const char* version;  // the project version the module was built as
  std::unique_ptr<Engine> (*makeEngine)(const EngineHost& host);
  ServerLogin (*createDatabases)(const ServerLogin& server,
                                 const std::vector<std::pair<std::string, std::string>>& scripts);
  void (*dropDatabases)(const ServerLogin& server, const std::vector<std::string>& names);
};

// The name of the module's one exported function, which returns its entry.
inline constexpr char kServerModuleEntry[] = "qv_server_engine_module";
using ServerModuleEntry = const ServerEngineModule* (*)();

}  // namespace qv::db
