// Views that a DROP COLUMN replaced by stand-ins (pg_connection.cc), kept
// for the end of the run: a stand-in that the run replaced again (the
// design's own views are re-created a step later) is no news, but one that
// is still there must be written again by its administrator, who needs its
// old definition.
#pragma once

#include "db/postgres/engine_only.h"

#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

// The one column of a stand-in.
inline constexpr char kStandInColumn[] = "view_to_create_again";

struct StandIn {
  std::string view;        // its stored name
  std::string why;         // "read column c of table t", "depended on view v"
  std::string definition;  // "CREATE VIEW <name> AS <query>" before it was replaced
};

// Remembers stand-ins that a transaction on `address` has committed.
void RememberStandIns(const ServerAddress& address, const std::vector<StandIn>& standIns);

// Names on `diagnostics`, once, each remembered stand-in that is still a
// stand-in, with its old definition, and forgets them all. Never raises: a
// database that cannot be asked has its stand-ins named as possibly there.
void ReportStandIns(int busyTimeoutMs, const Diagnostics& diagnostics);

}  // namespace qv::db::postgres
