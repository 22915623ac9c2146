#include "db/postgres/pg_stand_ins.h"

#include <utility>

#include "base/diagnostics.h"
#include "db/dialect.h"

namespace qv::db::postgres {
namespace {

std::vector<std::pair<ServerAddress, std::vector<StandIn>>>& Remembered() {
  static std::vector<std::pair<ServerAddress, std::vector<StandIn>>> remembered;
  return remembered;
}

bool SameAddress(const ServerAddress& a, const ServerAddress& b) {
  return a.host == b.host && a.port == b.port && a.database == b.database && a.user == b.user &&
         a.password == b.password && a.sslMode == b.sslMode && a.options == b.options;
}

void Name(const StandIn& standIn, const std::string& unsure, const Diagnostics& diagnostics) {
  diagnostics.Say("view " + standIn.view + " " + standIn.why +
                  " and was replaced by a view that fails until it is created again" + unsure +
                  "; its definition was: " + standIn.definition);
}

}  // namespace

void RememberStandIns(const ServerAddress& address, const std::vector<StandIn>& standIns) {
  if (standIns.empty()) return;
  auto& remembered = Remembered();
  auto at = remembered.begin();
  while (at != remembered.end() && !SameAddress(at->first, address)) ++at;
  if (at == remembered.end()) at = remembered.insert(at, {address, {}});
  for (const StandIn& standIn : standIns) {
    std::vector<StandIn>& kept = at->second;
    // Replaced twice in one run, it is named once, with the definition it had first.
    bool known = false;
    for (const StandIn& k : kept) known = known || k.view == standIn.view;
    if (!known) kept.push_back(standIn);
  }
}

void ReportStandIns(int busyTimeoutMs, const Diagnostics& diagnostics) {
  auto remembered = std::move(Remembered());
  Remembered().clear();
  for (const auto& [address, standIns] : remembered) {
    std::vector<bool> still(standIns.size(), true);
    std::string unsure;
    try {
      std::shared_ptr<Session> session = Session::Open(address, busyTimeoutMs);
      for (size_t i = 0; i < standIns.size(); ++i) {
        // The view a statement naming it reaches, if it is a stand-in still.
        const Result found = session->Exec(
            "SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass($1) AND attname = $2",
            {Value(QuoteName(standIns[i].view)), Value(kStandInColumn)});
        still[i] = found.rows() > 0;
      }
      session->Close();
    } catch (const DbError& e) {
      unsure = " (whether it still is could not be checked: " + e.description() + ")";
      still.assign(standIns.size(), true);
    }
    for (size_t i = 0; i < standIns.size(); ++i) {
      if (still[i]) Name(standIns[i], unsure, diagnostics);
    }
  }
}

}  // namespace qv::db::postgres
