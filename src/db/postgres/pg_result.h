// Owners of libpq's handles, and a query result read as interface values.
#pragma once

#include "db/postgres/engine_only.h"

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "db/value.h"

namespace qv::db::postgres {

struct ConnCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using ConnHandle = std::unique_ptr<PGconn, ConnCloser>;

// The rows of one statement, owned; every value arrives as text and is read
// by its column's type.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}

  PGresult* get() const { return result_.get(); }
  int rows() const { return PQntuples(get()); }
  int columns() const { return PQnfields(get()); }
  bool returnsRows() const { return PQresultStatus(get()) == PGRES_TUPLES_OK; }
  std::string ColumnName(int column) const { return PQfname(get(), column); }
  Oid ColumnType(int column) const { return PQftype(get(), column); }
  bool IsNull(int row, int column) const { return PQgetisnull(get(), row, column) != 0; }
  std::string Text(int row, int column) const { return PQgetvalue(get(), row, column); }
  // Integers and real numbers as numbers, yes/no as 1 or 0, the rest as text
  // (date-times as "YYYY-MM-DD HH:MM:SS"), null as null.
  Value Get(int row, int column) const;

 private:
  struct Clearer {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  std::unique_ptr<PGresult, Clearer> result_;
};

}  // namespace qv::db::postgres
