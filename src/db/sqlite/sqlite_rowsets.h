// The row sets of this engine: their tie to the session, and the read-only
// row set of a query.
#pragma once

#include "db/sqlite/engine_only.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/database.h"
#include "db/rowset_base.h"
#include "db/sqlite/schema.h"
#include "db/sqlite/session.h"

namespace qv::db::sqlite {

class Statement;

template <typename Base>
using SessionRowSet = db::SessionRowSet<Base, Session>;

// The rows of a query, read once when it ran; any change raises.
class QueryRecordset : public SessionRowSet<QueryRowSet> {
 public:
  // Reads every row of the prepared statement `stmt`. `sql` runs again on
  // Requery when the statement only reads.
  QueryRecordset(std::shared_ptr<Session> session, Statement& stmt, std::string sql);

 private:
  void Rerun() override;
  void Read(Statement& stmt);
  std::string sql_;
};

}  // namespace qv::db::sqlite
