// A prepared statement that finalizes itself, and the passage of values
// between the database interface and the engine.
#pragma once

#include "db/sqlite/engine_only.h"

#include <memory>
#include <string>
#include <string_view>

#include "db/value.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;
struct sqlite3_context;

namespace qv::db::sqlite {

// Engine value to interface value: integers, reals, texts (and blobs, as
// their bytes) and null. Dates arrive as text; see conversion.h.
Value ToValue(sqlite3_value* value);
// Sets the result of an application-defined function.
void SetResult(sqlite3_context* context, const Value& value);

class Statement {
 public:
  // Prepares the first statement of `sql`; raises the engine's error.
  // An `sql` holding no statement at all leaves empty() true.
  Statement(sqlite3* db, std::string_view sql);

  bool empty() const { return stmt_ == nullptr; }
  sqlite3_stmt* get() const { return stmt_.get(); }
  // The text after the first statement, unparsed.
  std::string_view tail() const { return tail_; }
  bool readOnly() const;

  // Parameters count from 1.
  void Bind(int index, const Value& value);
  // Advances: true when a row is ready, false when done; raises on failure.
  bool Step();
  // Runs to completion, ignoring any rows.
  void Run();
  void Reset();

  int ColumnCount() const;
  std::string ColumnName(int column) const;
  std::string DeclaredType(int column) const;  // empty for expressions
  Value Column(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const;
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
  std::string_view tail_;
};

}  // namespace qv::db::sqlite
