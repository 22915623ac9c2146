#include "db/postgres/pg_advisory_lock.h"

#include <unistd.h>

#include <utility>

#include "base/diagnostics.h"
#include "db/postgres/pg_error.h"

namespace qv::db::postgres {
namespace {

// A wait that keeps failing with the server reachable (not a timeout: the
// lock session takes none) is a fault of its own, not a reason to write
// without the lock.
constexpr int kMaxFailedWaits = 20;
constexpr useconds_t kPauseAfterFailedWait = 200 * 1000;

// The run lock's row of pg_locks in this database (pg_session.h).
std::string RunLockRow() {
  return RunLockHeld() +
         " AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database())";
}

// Whether server process `pid` holds the run lock.
std::string HeldBy(const std::string& pid) {
  return "EXISTS (SELECT 1 FROM pg_locks l WHERE " + RunLockRow() + " AND l.pid = " + pid + ")";
}

std::string Key(long long key) {
  return std::to_string(key);
}

}  // namespace

AdvisoryLock::AdvisoryLock(ServerAddress address, std::vector<ServerAddress> guarded,
                           int busyTimeoutMs, const Diagnostics& diagnostics)
    : address_(std::move(address)),
      guarded_(std::move(guarded)),
      busyTimeoutMs_(busyTimeoutMs),
      diagnostics_(diagnostics) {
  // Until the lock is taken, a transaction that may write fails.
  SetHeldRunLock(&none_);
}

AdvisoryLock::~AdvisoryLock() {
  SetHeldRunLock(nullptr);
  // Disconnecting releases a session-level lock.
  if (session_) session_->Close();
}

void AdvisoryLock::KeepHeld() {
  if (held_ && session_->StillConnected()) return;
  if (held_) {
    diagnostics_.Say("the server closed the session that held the run lock on server database " +
                     address_.database + "; taking the run lock again before the next step");
  }
  held_.reset();
  SetHeldRunLock(&none_);
  bool saidWaiting = false;
  for (int failed = 0;; ::usleep(kPauseAfterFailedWait)) {
    session_.reset();
    // The steps' first connections open together with the first lock session.
    std::vector<ServerAddress> ahead;
    if (!openedAhead_) {
      ahead = guarded_;
      ahead.insert(ahead.begin(), address_);
      openedAhead_ = true;
    }
    try {
      session_ = Session::Open(address_, Session::kWaitForever, ahead, busyTimeoutMs_);
    } catch (const DbError&) {
      // The server cannot be reached: the steps fail, with the messages that
      // say why, and the next step tries again.
      session_.reset();
      return;
    }
    session_->KeepOutOfPool();
    if (TakeOnce(saidWaiting)) break;
    if (++failed == kMaxFailedWaits) Refuse("");
  }
  SetHeldRunLock(&*held_);
}

bool AdvisoryLock::TakeOnce(bool& saidWaiting) {
  try {
    // Whether the server session held the lock before it asked is read first.
    Result asked = session_->Exec("SELECT held, pg_try_advisory_lock(" + Key(kRunLockKey) +
                                  "), pg_backend_pid()::text, " + kServerStart + " FROM (SELECT " +
                                  HeldBy("pg_backend_pid()") + " AS held OFFSET 0) AS before");
    if (asked.Text(0, 0) == "t") Refuse("its server session held the run lock before it asked");
    const std::string pid = asked.Text(0, 2);
    if (asked.Text(0, 1) != "t") {
      if (!saidWaiting) {
        const Result holder = session_->Exec(
            "SELECT l.pid, host(a.client_addr) FROM pg_locks l LEFT JOIN pg_stat_activity a"
            " ON a.pid = l.pid WHERE l.pid <> pg_backend_pid() AND " +
            RunLockRow() + " LIMIT 1");
        std::string who = "another session";
        if (holder.rows() > 0) {
          who = "server pid " + holder.Text(0, 0);
          if (!holder.IsNull(0, 1)) who += " (client " + holder.Text(0, 1) + ")";
        }
        diagnostics_.Say("waiting for the run lock on server database " + address_.database +
                         " (advisory lock " + Key(kRunLockKey) + "), held by " + who);
        saidWaiting = true;
      }
      session_->Exec("SELECT pg_advisory_lock(" + Key(kRunLockKey) + ")");
    }
    held_ = HeldRunLock{pid, asked.Text(0, 3)};
    const std::string mark = PoolerMark();
    if (!mark.empty()) Refuse(mark);
    return true;
  } catch (const RunRefused&) {
    throw;
  } catch (const DbError&) {
    // A wait that failed is never taken as the lock.
    held_.reset();
    return false;
  }
}

std::string AdvisoryLock::PoolerMark() {
  // The step key once exclusively in each database: a step of a run that
  // lost the lock ends first. On the lock's own database the lock session
  // does it, in a transaction after the one that took the lock, and says
  // whether the same server session still holds the lock then.
  const Result after = session_->Exec(
      "SELECT pg_backend_pid()::text = $1 AND " + HeldBy("pg_backend_pid()") +
          " FROM (SELECT pg_advisory_xact_lock(" + Key(kStepLockKey) + ") OFFSET 0) AS turn",
      {Value(held_->pid)});
  if (after.Text(0, 0) != "t") {
    return "its server session did not hold the run lock after a transaction";
  }
  // A session of the run's own, as the steps open them (and reuse later):
  // a server session of its own has its own process and keeps its lock_timeout.
  std::shared_ptr<Session> probe = Session::Open(address_, busyTimeoutMs_);
  const Result seen = probe->Exec(
      "SELECT pg_backend_pid()::text,"
      " (extract(epoch FROM current_setting('lock_timeout')::interval) * 1000)::bigint::text");
  probe->Close();
  if (seen.Text(0, 0) == held_->pid) return "two of its sessions shared one server session";
  if (seen.Text(0, 1) != std::to_string(busyTimeoutMs_ > 0 ? busyTimeoutMs_ : 1)) {
    return "its lock_timeout was gone";
  }
  for (const ServerAddress& other : guarded_) {
    std::shared_ptr<Session> session;
    try {
      session = Session::Open(other, busyTimeoutMs_);
    } catch (const DbError&) {
      continue;  // nothing can be written there either
    }
    // No lock timeout for the wait (reset when the connection is put aside).
    session->Exec("SELECT set_config('lock_timeout', '0', false), pg_advisory_xact_lock(" +
                  Key(kStepLockKey) + ")");
    session->Close();
  }
  return "";
}

void AdvisoryLock::Refuse(const std::string& mark) {
  if (held_ && session_ && session_->isOpen()) {
    try {
      session_->Exec("SELECT pg_advisory_unlock(" + Key(kRunLockKey) + ")");
    } catch (const DbError&) {
    }
  }
  held_.reset();
  const std::string why = mark.empty()
                              ? "the run lock on server database " + address_.database +
                                    " could not be taken: every wait for it failed"
                              : "the connection to server database " + address_.database +
                                    " is pooled per transaction (" + mark +
                                    "), where runs cannot take turns; the run needs a direct or a "
                                    "session-pooled connection";
  diagnostics_.Say(why + "; nothing was done");
  throw RunRefused(kErrUnspecified, why);
}

}  // namespace qv::db::postgres
