#include "db/sqlite/sqlite_rowsets.h"

#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"

namespace qv::db::sqlite {

QueryRecordset::QueryRecordset(std::shared_ptr<Session> session, Statement& stmt, std::string sql)
    : SessionRowSet(std::move(session), stmt.readOnly()), sql_(std::move(sql)) {
  for (int i = 0; i < stmt.ColumnCount(); ++i) {
    std::string type = stmt.DeclaredType(i);
    columns_.push_back(ColumnInfo{stmt.ColumnName(i), type, KindOfDeclaredType(type), 0});
  }
  Read(stmt);
}

void QueryRecordset::Read(Statement& stmt) {
  rows_.clear();
  while (stmt.Step()) {
    Row row;
    for (int i = 0; i < stmt.ColumnCount(); ++i) row.values.push_back(stmt.Column(i));
    rows_.push_back(std::move(row));
  }
  current_ = 0;
}

void QueryRecordset::Rerun() {
  Statement stmt(session_->db(), sql_);
  Read(stmt);
}

}  // namespace qv::db::sqlite
