#include "db/sqlite/statement.h"

#include <sqlite3.h>

#include <cstdint>

#include "db/sqlite/sqlite_error.h"

namespace qv::db::sqlite {

Value ToValue(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return Value(static_cast<int64_t>(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
      return Value(sqlite3_value_double(value));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* bytes = sqlite3_value_type(value) == SQLITE_TEXT
                              ? static_cast<const void*>(sqlite3_value_text(value))
                              : sqlite3_value_blob(value);
      int size = sqlite3_value_bytes(value);
      if (bytes == nullptr) return Value(std::string());
      return Value(std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)));
    }
    default:
      return Value();
  }
}

void SetResult(sqlite3_context* context, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      sqlite3_result_null(context);
      break;
    case Value::Kind::kInteger:
      sqlite3_result_int64(context, value.AsInteger());
      break;
    case Value::Kind::kReal:
      sqlite3_result_double(context, value.AsReal());
      break;
    case Value::Kind::kText:
    case Value::Kind::kDate: {
      std::string text = value.AsText();
      sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
  }
}

void Statement::Finalizer::operator()(sqlite3_stmt* stmt) const {
  sqlite3_finalize(stmt);
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sql.empty()) return;
  if (sql.size() > static_cast<size_t>(INT32_MAX)) throw BackendError("statement too long");
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
  stmt_.reset(raw);
  if (rc != SQLITE_OK) throw EngineError(db, rc);
  size_t used = tail != nullptr ? static_cast<size_t>(tail - sql.data()) : sql.size();
  tail_ = sql.substr(used);
}

bool Statement::readOnly() const {
  return stmt_ == nullptr || sqlite3_stmt_readonly(stmt_.get());
}

void Statement::Bind(int index, const Value& value) {
  int rc = SQLITE_OK;
  switch (value.kind()) {
    case Value::Kind::kNull:
      rc = sqlite3_bind_null(stmt_.get(), index);
      break;
    case Value::Kind::kInteger:
      rc = sqlite3_bind_int64(stmt_.get(), index, value.AsInteger());
      break;
    case Value::Kind::kReal:
      rc = sqlite3_bind_double(stmt_.get(), index, value.AsReal());
      break;
    case Value::Kind::kText:
    case Value::Kind::kDate: {
      std::string text = value.AsText();
      rc = sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
      break;
    }
  }
  Check(db_, rc);
}

bool Statement::Step() {
  if (stmt_ == nullptr) return false;
  int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw EngineError(db_, rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  if (stmt_ == nullptr) return;
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

int Statement::ColumnCount() const {
  return stmt_ ? sqlite3_column_count(stmt_.get()) : 0;
}

std::string Statement::ColumnName(int column) const {
  const char* name = sqlite3_column_name(stmt_.get(), column);
  return name != nullptr ? name : "";
}

std::string Statement::DeclaredType(int column) const {
  const char* type = sqlite3_column_decltype(stmt_.get(), column);
  return type != nullptr ? type : "";
}

Value Statement::Column(int column) const {
  return ToValue(sqlite3_column_value(stmt_.get(), column));
}

}  // namespace qv::db::sqlite
