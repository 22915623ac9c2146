// The row sets of this engine: their tie to the session, and the read-only
// row set of a query.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/rowset.h"
#include "db/sqlite/schema.h"
#include "db/sqlite/session.h"

namespace qv::db::sqlite {

class Statement;

// A row set on a session of this engine.
class SessionRowSet : public RowSetBase {
 protected:
  explicit SessionRowSet(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  bool ConnectionOpen() const override { return session_->isOpen(); }

  std::shared_ptr<Session> session_;
};

// The rows of a query, read once when it ran; any change raises.
class QueryRecordset : public SessionRowSet {
 public:
  // Reads every row of the prepared statement `stmt`. `sql` runs again on
  // Requery when the statement only reads.
  QueryRecordset(std::shared_ptr<Session> session, Statement& stmt, std::string sql);

  void AddNew() override;
  void SetField(const std::string& name, const Value& value) override;
  void Update() override;
  void UpdateBatch() override;
  void CancelBatch() override;
  void Requery() override;

 private:
  void Read(Statement& stmt);
  std::string sql_;
  bool rerunnable_;
};

}  // namespace qv::db::sqlite
