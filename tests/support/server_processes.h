// Servers of the tests' own beside the PG* server (a throw-away cluster):
// a hot standby of it, and a connection pooler in front of it. Each listens
// on a socket folder of its own and is stopped when destroyed.
#pragma once

#include <string>

#include "support/scoped_temp_dir.h"

namespace qv::testing {

// A standby made with pg_basebackup -R from the PG* server.
class Standby {
 public:
  Standby();
  ~Standby();
  std::string host() const { return dir_.str(); }  // its socket folder
  std::string port() const { return "5499"; }
  void Promote();  // it accepts writes from then on

 private:
  ScopedTempDir dir_;
  std::string data_;
};

// pgbouncer in `mode` ("session" or "transaction"), its configuration as
// Debian ships it but for the server, the port and the login.
class Pooler {
 public:
  explicit Pooler(const std::string& mode);
  ~Pooler();
  std::string host() const { return dir_.str(); }
  std::string port() const { return "6499"; }

 private:
  ScopedTempDir dir_;
};

}  // namespace qv::testing
