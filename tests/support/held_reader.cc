#include "support/held_reader.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace qv::testing {

HeldReader::HeldReader(const std::filesystem::path& dbFile) {
  const bool ok =
      sqlite3_open_v2(dbFile.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) ==
          SQLITE_OK;
  if (!ok) {
    const std::string why = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    throw std::runtime_error("cannot hold a read on " + dbFile.string() + ": " + why);
  }
}

HeldReader::~HeldReader() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

}  // namespace qv::testing
