// The run lock on a server: a session-level advisory lock on the main
// database, held by a session of its own for the whole run, so that runs
// started on several application servers take turns.
//
// Holding the lock is checked where it matters, in the transactions that
// write: while this process holds the lock, each of them takes the step key
// shared and fails when the run lock is no longer this run's (pg_session.h).
// A run that takes the run lock takes the step key once exclusively in each
// database it writes, so a step still open in a run that lost the lock ends
// before the new holder reads anything.
#pragma once

#include "db/postgres/engine_only.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "db/database.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

class AdvisoryLock : public RunLock {
 public:
  AdvisoryLock(ServerAddress address, std::vector<ServerAddress> guarded, int busyTimeoutMs,
               const Diagnostics& diagnostics);
  ~AdvisoryLock() override;

  // Takes the lock when this run does not hold it (yet, or any more: the
  // server closed its session), waiting for any run that holds it; a lock
  // session lost is said once. Leaves the lock untaken
  // when the server cannot be reached. Raises RunRefused when the marks of
  // a pooler that pools per transaction show.
  void KeepHeld() override;

 private:
  // One attempt on the new session_: true with the lock held, false when
  // the session failed on the way (connect again and wait again).
  bool TakeOnce(bool& saidWaiting);
  // Whether the session that holds the lock is a server connection of its
  // own; the name of the mark that shows it is not, or empty.
  std::string PoolerMark();
  [[noreturn]] void Refuse(const std::string& mark);

  ServerAddress address_;
  std::vector<ServerAddress> guarded_;
  int busyTimeoutMs_;
  const Diagnostics& diagnostics_;
  std::shared_ptr<Session> session_;
  bool openedAhead_ = false;         // the steps' first connections, with the first lock session
  std::optional<HeldRunLock> held_;  // set while the lock is held
  HeldRunLock none_;                 // what the transactions check while it is not
};

}  // namespace qv::db::postgres
