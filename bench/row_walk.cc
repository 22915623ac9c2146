// The copy of old column values done the slow way, as the migration step is
// described: for every table with Public but not Shared (Confirm but not
// Confirmation), add the new column, open the whole table as an updatable
// row set, walk it assigning each row's old value to the new field (a failing
// assignment is recorded and the walk goes on with the next row), and write
// the batch. The harness compares what qvsetup's copy left in a copy of the
// same installation with what this walk leaves.
//
//   ODBCINI=DIR/odbc.ini row_walk
//
// Prints one line per copied pair: "<table> <old> <new> OK", or
// "<table> <old> <new> FAIL <error number of the first failing row>". The
// new columns of the pairs that copied stay in the database (committed);
// the tables whose copy failed are left as they were.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "db/data_sources.h"
#include "db/database.h"
#include "db/db_error.h"

namespace {

bool Same(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool Has(const std::vector<std::string>& columns, const char* name) {
  for (const std::string& column : columns) {
    if (Same(column, name)) return true;
  }
  return false;
}

}  // namespace

int main() {
  using namespace qv::db;
  try {
    std::unique_ptr<Connector> connector = MakeDataSourceConnector(qv::StandardErrorDiagnostics());
    std::unique_ptr<Connection> connection = connector->Open(kMainConnectionString, "", "");
    for (const std::string& table : connection->TableNames(TableKind::kTable)) {
      const std::vector<std::string> columns = connection->ColumnNames(table);
      struct Pair {
        const char* from;
        const char* to;
        const char* type;
      };
      for (const Pair& pair :
           {Pair{"Public", "Shared", " LONG"}, Pair{"Confirm", "Confirmation", " BIT"}}) {
        if (!Has(columns, pair.from) || Has(columns, pair.to)) continue;
        connection->BeginTrans();
        connection->Execute("ALTER TABLE " + table + " ADD COLUMN " + pair.to + pair.type);
        int32_t firstError = 0;
        std::unique_ptr<Recordset> rows =
            connection->OpenTable(table, CursorType::kStatic, LockType::kBatchOptimistic);
        for (; !rows->Eof(); rows->MoveNext()) {
          try {
            rows->SetField(pair.to, rows->Field(pair.from));
          } catch (const DbError& e) {
            if (firstError == 0) firstError = e.number();
          }
        }
        try {
          rows->UpdateBatch();
        } catch (const DbError& e) {
          if (firstError == 0) firstError = e.number();
        }
        rows->Close();
        if (firstError == 0) {
          connection->CommitTrans();
          std::printf("%s %s %s OK\n", table.c_str(), pair.from, pair.to);
        } else {
          connection->RollbackTrans();
          std::printf("%s %s %s FAIL %d\n", table.c_str(), pair.from, pair.to, firstError);
        }
      }
    }
    connection->Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "row_walk: %s\n", e.what());
    return 1;
  }
  return 0;
}
