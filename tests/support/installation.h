// Installations for tests: a complete installation laid out in a folder with
// the same code as qv-mkinstall, and a direct way to read and change its
// databases for assertions and for preparing a case.
//
//   qv::testing::ScopedTempDir dir;
//   auto inst = qv::testing::Installation::LayOut(dir.path(), Installation::Kind::kOld);
//   auto env = inst.Activate();   // QV_REGISTRY_FILE and ODBCINI point at it
//   ... run the code under test ...
//   EXPECT_EQ(QueryValue(inst.mainDb(), "SELECT count(*) FROM ToDoEvent"), "30");
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::testing {

class Installation {
 public:
  // kFresh: current schema, the rows a fresh installation holds, the fifteen
  // views. kOld: Public/Confirm columns with PublicID indexes, a few events,
  // obsolete views, older view definitions, Users without date formats.
  enum class Kind { kFresh, kOld };

  // Lays out registry.reg, odbc.ini, db/qv_main.mdb and db/qv_security.mdb
  // in `dir` (created when missing). The registry's CompanyName is
  // `companyName`; StorageDir is `dir` made absolute, MainDir <dir>/program,
  // MainURL "http://localhost/quorvia/", DefaultSMTPServer "smtp.example.com",
  // DefaultPOPServer "pop.example.com". The data sources qv_main and
  // qv_security take user "admin", password "quillmark". Throws
  // std::runtime_error when `dir` holds an installation already.
  static Installation LayOut(const std::filesystem::path& dir, Kind kind = Kind::kFresh,
                             const std::string& companyName = "Artisan's Guild");

  const std::filesystem::path& storageDir() const { return storageDir_; }
  const std::filesystem::path& registryFile() const { return registryFile_; }
  const std::filesystem::path& odbcIni() const { return odbcIni_; }
  const std::filesystem::path& mainDb() const { return mainDb_; }
  const std::filesystem::path& securityDb() const { return securityDb_; }

  // Points QV_REGISTRY_FILE and ODBCINI at this installation until the
  // returned object goes out of scope; then both are as they were.
  class Activation {
   public:
    explicit Activation(const Installation& installation);
    ~Activation();
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;

   private:
    std::optional<std::string> savedRegistry_;
    std::optional<std::string> savedOdbcIni_;
  };
  [[nodiscard]] Activation Activate() const { return Activation(*this); }

 private:
  std::filesystem::path storageDir_, registryFile_, odbcIni_, mainDb_, securityDb_;
};

// What a null column reads as in Query and QueryValue.
inline constexpr char kNullText[] = "(null)";

// Runs one SQL statement (SQLite's own dialect) against an existing database
// file (never created here) and
// returns its rows, each column as text: numbers in decimal, null as
// kNullText. Throws std::runtime_error with SQLite's message on failure.
std::vector<std::vector<std::string>> Query(const std::filesystem::path& dbFile,
                                            const std::string& sql);

// The first column of the first row of Query; throws when there is no row.
std::string QueryValue(const std::filesystem::path& dbFile, const std::string& sql);

// Runs a script of several statements (to prepare a case); throws on failure.
void Exec(const std::filesystem::path& dbFile, const std::string& sql);

// Names of the columns of `table`, in table order.
std::vector<std::string> ColumnsOf(const std::filesystem::path& dbFile, const std::string& table);

}  // namespace qv::testing
