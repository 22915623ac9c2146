// Servers of the tests' own beside the PG* server (a throw-away cluster),
// run by its owner on a socket folder of their own, stopped when destroyed:
// a hot standby made with pg_basebackup -R, or pgbouncer in front of it
// ("session" or "transaction" pooling, Debian's configuration otherwise).
#pragma once

#include <string>

#include "support/scoped_temp_dir.h"

namespace qv::testing {

class ServerProcess {
 public:
  static constexpr char kStandby[] = "standby";
  explicit ServerProcess(const std::string& kind);  // kStandby or a pooling mode
  ~ServerProcess();
  std::string host() const { return dir_.str(); }
  std::string port() const { return standby_ ? "5499" : "6499"; }
  void Promote();  // a standby accepts writes from then on

 private:
  void Run(const std::string& command) const;
  ScopedTempDir dir_;
  bool standby_;
};

}  // namespace qv::testing
