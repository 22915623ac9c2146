#include "db/sqlite/session.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <exception>
#include <new>
#include <vector>

#include "base/names.h"
#include "db/conversion.h"
#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"

namespace qv::db::sqlite {

void Session::Closer::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

namespace {

// The engine's allocation statistics take a global mutex on every malloc and
// free, and nothing here reads them: switched off once, before the library
// initializes itself (the engine refuses the call, harmlessly, when another
// part of the process has initialized it already).
void ConfigureEngineOnce() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

// Engine handles of closed sessions, kept for the next open of the same,
// unchanged file: the engine then need not read and parse the schema again,
// which is most of what opening costs (the fifteen views above all). A
// handle is kept only with no transaction and no statement open, at most one
// per file, and only reused while the path still names the file it was
// opened on; the oldest is closed when more files than a run uses (the two
// databases) have one. The routines still open and close their own
// connections.
constexpr size_t kMaxKeptHandles = 4;

struct KeptHandle {
  std::string path;
  unsigned long long device;
  unsigned long long inode;
  sqlite3* db;
};

struct KeptHandles {
  std::vector<KeptHandle> handles;
  ~KeptHandles() {
    for (KeptHandle& kept : handles) sqlite3_close_v2(kept.db);
  }
};

KeptHandles& Kept() {
  static KeptHandles kept;
  return kept;
}

sqlite3* TakeKeptHandle(const std::string& path, unsigned long long device,
                        unsigned long long inode) {
  std::vector<KeptHandle>& handles = Kept().handles;
  for (auto it = handles.begin(); it != handles.end(); ++it) {
    if (it->path == path && it->device == device && it->inode == inode) {
      sqlite3* db = it->db;
      handles.erase(it);
      return db;
    }
  }
  return nullptr;
}

}  // namespace

void CheckEngineVersion(int versionNumber, const std::string& versionText) {
  if (versionNumber >= kOldestEngineVersion) return;
  throw BackendError("the SQLite library in use is version " + versionText +
                     "; the setup needs SQLite 3.39.0 or later");
}

std::shared_ptr<Session> Session::Open(const std::string& path, int busyTimeoutMs) {
  CheckEngineVersion(sqlite3_libversion_number(), sqlite3_libversion());
  ConfigureEngineOnce();
  auto session = std::make_shared<Session>(Token{});
  // A name starting with "file:" would be read as a URI where the library
  // was built to accept them everywhere.
  std::string name = path.compare(0, 5, "file:") == 0 ? "./" + path : path;
  struct stat file {};
  if (::stat(name.c_str(), &file) == 0 && S_ISREG(file.st_mode)) {
    session->path_ = path;
    session->device_ = file.st_dev;
    session->inode_ = file.st_ino;
  }
  sqlite3* raw =
      session->path_.empty() ? nullptr : TakeKeptHandle(path, session->device_, session->inode_);
  if (raw != nullptr) {
    session->db_.reset(raw);
  } else {
    int rc = sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    session->db_.reset(raw);  // the handle exists even when the open failed
    if (rc != SQLITE_OK) {
      session->path_.clear();
      throw EngineError(raw, rc, path);
    }
  }
  sqlite3* db = session->db_.get();
  sqlite3_busy_timeout(db, busyTimeoutMs);
  Check(db,
        sqlite3_create_function_v2(db, "qv_convert", 5, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   session.get(), &Session::Convert, nullptr, nullptr, nullptr),
        path);
  // The engine reads the file lazily; read it now so that a file that is
  // not a database, or is locked, fails the open rather than a later call.
  try {
    Statement probe(db, "SELECT count(*) FROM sqlite_schema");
    probe.Run();
  } catch (const DbError& e) {
    session->path_.clear();  // a handle that failed its first read is not kept
    throw DbError(e.number(), e.description() + ": " + path);
  }
  return session;
}

Session::Session(Token) {}

Session::~Session() {
  Close();
}

sqlite3* Session::db() const {
  if (!db_) throw ObjectClosed();
  return db_.get();
}

void Session::Exec(const std::string& sql) {
  sqlite3* handle = db();
  int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw EngineError(handle, rc);
}

void Session::Begin() {
  db();
  ForgetTransaction();
  transactionOpen_ = true;
  ForgetColumns();
}

bool Session::TransactionLost() {
  return transactionBegun_ && sqlite3_get_autocommit(db());
}

void Session::BeforeStatement() {
  sqlite3* handle = db();
  if (!transactionOpen_) return;
  if (transactionBegun_) {
    if (sqlite3_get_autocommit(handle)) {
      throw BackendError("the transaction was rolled back by the engine after an earlier error");
    }
    return;
  }
  // A transaction that could not take the lock fails every statement of it
  // at once: waiting out the busy timeout again for each of a step's
  // statements would stretch a run against a database in use to minutes.
  if (lockFailure_) throw *lockFailure_;
  // EXCLUSIVE rather than IMMEDIATE: with the rollback journal a commit
  // still waits for readers to leave, and the commit is the one failure the
  // steps cannot report.
  try {
    Exec("BEGIN EXCLUSIVE");
  } catch (const DbError& e) {
    lockFailure_ = e;
    throw;
  }
  transactionBegun_ = true;
}

void Session::BeforeWrite() {
  BeforeStatement();
  if (transactionOpen_) transactionWrote_ = true;
}

void Session::Commit() {
  db();
  ForgetColumns();
  // A transaction that only read has nothing to save; committing it
  // would still write a header into an empty file. A failure leaves the
  // transaction open.
  if (transactionBegun_) Exec(transactionWrote_ ? "COMMIT" : "ROLLBACK");
  ForgetTransaction();
}

void Session::Rollback() {
  sqlite3* handle = db();
  ForgetColumns();
  if (transactionBegun_ && !sqlite3_get_autocommit(handle)) Exec("ROLLBACK");
  ForgetTransaction();
}

void Session::Close() noexcept {
  if (!db_) return;
  ForgetColumns();
  schemaVersion_.reset();  // a handle is kept for reuse only without statements
  if (!sqlite3_get_autocommit(db_.get())) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  std::vector<KeptHandle>& kept = Kept().handles;
  bool fileHasOne = false;
  for (const KeptHandle& handle : kept) fileHasOne = fileHasOne || handle.path == path_;
  if (!path_.empty() && !fileHasOne && sqlite3_get_autocommit(db_.get()) &&
      sqlite3_next_stmt(db_.get(), nullptr) == nullptr) {
    try {
      if (kept.size() >= kMaxKeptHandles) {
        sqlite3_close_v2(kept.front().db);
        kept.erase(kept.begin());
      }
      kept.push_back(KeptHandle{path_, device_, inode_, db_.get()});
      db_.release();
    } catch (...) {
      // Not kept: closed below.
    }
  }
  db_.reset();
  ForgetTransaction();
}

const std::vector<ColumnInfo>& Session::Columns(const std::string& table) {
  sqlite3* handle = db();
  if (!schemaVersion_)
    schemaVersion_ = std::make_unique<Statement>(handle, "PRAGMA schema_version");
  schemaVersion_->Reset();
  schemaVersion_->Step();
  const int64_t version = schemaVersion_->Column(0).AsInteger();
  schemaVersion_->Reset();
  if (version != columnsVersion_) {
    columns_.clear();
    columnsVersion_ = version;
  }
  const std::string key = LowerAscii(table);
  auto found = columns_.find(key);
  if (found == columns_.end()) found = columns_.emplace(key, TableColumns(handle, table)).first;
  return found->second;
}

void Session::ForgetTransaction() {
  transactionOpen_ = transactionBegun_ = transactionWrote_ = false;
  lockFailure_.reset();
}

void Session::ForgetColumns() {
  columns_.clear();
  columnsVersion_ = -1;
}

std::optional<DbError> Session::TakeConversionError() {
  std::optional<DbError> error;
  error.swap(conversionError_);
  return error;
}

// qv_convert(value, declared type of its column, declared type of the target,
// the row's key, the key's name): the value as a field of the first column
// reads, assigned to the second. A failure names the value and its row.
void Session::Convert(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  auto* session = static_cast<Session*>(sqlite3_user_data(context));
  try {
    // The two types are the same for every row of a statement: each is read
    // on the first row and kept by the engine as the argument's auxiliary data.
    auto kind = [context](int argument, sqlite3_value* type) {
      if (const auto* kept =
              static_cast<const ColumnKind*>(sqlite3_get_auxdata(context, argument))) {
        return *kept;
      }
      const unsigned char* text = sqlite3_value_text(type);
      ColumnKind parsed =
          KindOfDeclaredType(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      sqlite3_set_auxdata(context, argument, new ColumnKind(parsed),
                          [](void* kept) { delete static_cast<ColumnKind*>(kept); });
      return parsed;
    };
    SetResult(context,
              ConvertForColumn(ReadStored(ToValue(argv[0]), kind(1, argv[1])), kind(2, argv[2])));
  } catch (const DbError& e) {
    session->conversionError_ =
        ConversionFailureAt(e, ToValue(argv[0]), ToValue(argv[4]).AsText(), ToValue(argv[3]));
    sqlite3_result_error(context, e.description().c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  }
}

Savepoint::Savepoint(Session& session)
    : session_(session), name_("qv_step_" + std::to_string(++session.savepoints_)) {
  session_.BeforeWrite();
  session_.Exec("SAVEPOINT " + name_);
}

Savepoint::~Savepoint() {
  if (done_ || !session_.db_) return;
  session_.ForgetColumns();
  sqlite3* db = session_.db_.get();
  sqlite3_exec(db, ("ROLLBACK TO " + name_).c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, ("RELEASE " + name_).c_str(), nullptr, nullptr, nullptr);
  // Outside BeginTrans the savepoint was the whole transaction.
  if (!session_.transactionBegun_ && !sqlite3_get_autocommit(db)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void Savepoint::Release() {
  session_.Exec("RELEASE " + name_);
  done_ = true;
}

}  // namespace qv::db::sqlite
