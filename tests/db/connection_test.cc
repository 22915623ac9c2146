// The database interface on both engines from the same cases.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "base/names.h"
#include "db/create_databases.h"
#include "db/odbc_ini.h"
#include "db/postgres/pg_error.h"
#include "db/shared_routines.h"
#include "db/sqlite/session.h"
#include "db_test_util.h"
#include "mkinstall/server_schema.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "support/server_processes.h"

namespace qv::db {
namespace {

using qv::testing::DatabaseRef;
using qv::testing::DbOp;
using qv::testing::Engine;
using qv::testing::Exec;
using qv::testing::FaultyConnector;
using qv::testing::Installation;
using qv::testing::QueryValue;
using Names = std::vector<std::string>;

const char kSchema[] = R"(
  CREATE TABLE Event (EventID INTEGER PRIMARY KEY AUTOINCREMENT, Title TEXT(50), Public LONG,
                      Confirm BIT, Visible SMALLINT DEFAULT 1);
  CREATE INDEX Event_PublicID ON Event (Public);
  CREATE TABLE Other (OtherID INTEGER PRIMARY KEY);
  INSERT INTO Event (Title, Public, Confirm) VALUES ('a', 5, 1), ('b', 70000, 0);
  CREATE VIEW PublicEvents AS SELECT EventID, Public FROM Event WHERE Confirm = 1;
  CREATE TABLE Item (ItemID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT(50) NOT NULL,
                     Qty SMALLINT DEFAULT 3, Made DATETIME, Done BIT);
  INSERT INTO Item (ItemID, Name) VALUES (5, 'five'), (2, 'two');
)";

// A database of either engine made from a SQLite script, and what the cases
// expect that differs by engine.
class ConnectionTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    scratch_ = qv::testing::MakeScratchDatabase(GetParam(), dir_.path(), kSchema);
    c_ = Open();
  }
  // A connection through a data source of its own, as a run opens one:
  // the scratch database, or what `keys` put in place of its entries.
  std::unique_ptr<Connection> Open(const std::map<std::string, std::string>& keys = {}) {
    std::map<std::string, std::string> entries = {{"Driver", "SQLite3"}, {"Database", path()}};
    if (server()) {
      const auto& at = ref().server();
      entries = {{"Driver", "PostgreSQL"},
                 {"Servername", at.host},
                 {"Port", at.port},
                 {"Database", ref().name()},
                 {"Username", at.user}};
    }
    for (const auto& [key, value] : keys) entries[key] = value;
    const std::string ini = dir_.str() + "/open" + std::to_string(connectors_.size()) + ".ini";
    std::ofstream(ini) << "[t]\n";
    for (const auto& [key, value] : entries)
      std::ofstream(ini, std::ios::app) << key << "=" << value << "\n";
    connectors_.push_back(MakeDataSourceConnector(ini, 0, said_));
    return connectors_.back()->Open("t", "", "");
  }
  std::string Query(const std::string& sql) const { return QueryValue(ref(), sql); }
  const DatabaseRef& ref() const { return scratch_.ref; }
  std::string path() const { return ref().file().string(); }
  bool server() const { return GetParam() == Engine::kPostgres; }
  int32_t error() const { return server() ? -2147217900 : 1; }  // of a failed statement
  std::string Pick(const std::string& sqlite, const std::string& onServer) const {
    return server() ? onServer : sqlite;
  }
  std::string Stored(const std::string& name) const { return server() ? LowerAscii(name) : name; }
  static void AddItem(Recordset& rs, const Value& name) {
    rs.AddNew();
    rs.SetField("Name", name);
  }

  qv::testing::ScopedTempDir dir_;
  qv::testing::ScratchDatabase scratch_{std::filesystem::path(), nullptr};
  qv::testing::CapturedDiagnostics said_;  // what the connections diagnose
  std::vector<std::unique_ptr<Connector>> connectors_;
  std::unique_ptr<Connection> c_;
};
QV_ON_BOTH_ENGINES(ConnectionTest);

TEST_P(ConnectionTest, StatementsFailWithTheEnginesNumberAndTextAndUndoOnlyThemselves) {
  c_->BeginTrans();
  c_->Execute("INSERT INTO Other VALUES (7)");
  const std::tuple<std::string, int32_t, std::string> cases[] = {
      {"INSERT INTO Other VALUES (1); DELETE FROM Event", 3142,
       "Characters found after end of SQL statement."},
      {" -- nothing\n", error(), "empty"},
      {"COMMIT", error(), "BeginTrans"},
      {"SELECT * FROM Missing", error(),
       Pick("no such table: Missing", "relation \"missing\" does not exist")},
      {"CREATE VIEW Bad AS SELECT Nope FROM Event", error(),
       Pick("no such column: Nope", "column \"nope\" does not exist")},
      {"INSERT INTO Other VALUES (7)", server() ? error() : SQLITE_CONSTRAINT,
       Pick("UNIQUE", "duplicate key")},
  };
  for (const auto& [sql, number, text] : cases) EXPECT_DB_ERROR(c_->Execute(sql), number, text);
  c_->Execute("CREATE VIEW Confirmed AS SELECT DISTINCTROW EventID FROM Event WHERE Confirm = Yes");
  EXPECT_EQ(c_->Execute("INSERT INTO Other VALUES (1);; -- done\n"), nullptr);
  c_->CommitTrans();
  EXPECT_EQ(Query("SELECT count(*) FROM Other") + Query("SELECT sum(OtherID) FROM Other"), "28");
  EXPECT_EQ(Query("SELECT count(*) FROM Event") + Query("SELECT max(EventID) FROM Confirmed"),
            "21");
  EXPECT_EQ(c_->TableNames(TableKind::kView), (Names{Stored("Confirmed"), Stored("PublicEvents")}));

  auto rs = c_->Execute("SELECT Max(EventID) as MaxPrimary FROM Event");
  EXPECT_EQ(rs->Field("maxprimary"), Value(2));
  EXPECT_DB_ERROR(rs->AddNew(), 3251, "");  // a query's rows are read-only
  c_->Execute("UPDATE Event SET Title = '予定表の公開 ✓' WHERE EventID = 1");
  EXPECT_EQ(
      c_->Execute("SELECT Title FROM Event WHERE Visible = Yes AND EventID = 1")->Field("Title"),
      Value("予定表の公開 ✓"));
}

// A transaction holds nothing before its first statement. On the embedded engine that
// statement takes the write lock: a database in use fails it, never the commit, and the rest.
TEST_P(ConnectionTest, TransactionsHoldNothingBeforeTheirFirstStatementAndNeverFailTheCommit) {
  c_->BeginTrans();
  auto second = Open();
  second->BeginTrans();
  second->Execute("DROP TABLE PublicEvents");
  second->CommitTrans();
  EXPECT_EQ(c_->TableNames(TableKind::kView), Names{});
  c_->CommitTrans();
  if (server()) {  // readers never block writers; a read that fails undoes only itself
    c_->BeginTrans();
    c_->Execute("INSERT INTO Other VALUES (8)");
    second->BeginTrans();
    second->Execute("LOCK TABLE Item IN ACCESS EXCLUSIVE MODE");
    EXPECT_DB_ERROR(c_->OpenTable("Item", CursorType::kStatic, LockType::kBatchOptimistic), error(),
                    "canceling statement due to lock timeout");
    second->RollbackTrans();
    EXPECT_EQ(c_->OpenTable("Item", CursorType::kStatic, LockType::kBatchOptimistic)->RecordCount(),
              2);
    c_->CommitTrans();
    EXPECT_EQ(Query("SELECT count(*) FROM Other WHERE OtherID = 8"), "1");
    return;
  }
  c_->BeginTrans();
  c_->Execute("SELECT * FROM Event");
  EXPECT_DB_ERROR(second->Execute("SELECT * FROM Event"), SQLITE_BUSY, "database is locked");
  c_->CommitTrans();
  auto reader = std::make_unique<qv::testing::HeldReader>(path());
  c_->BeginTrans();
  EXPECT_DB_ERROR(c_->Execute("UPDATE Event SET Title = 'x'"), SQLITE_BUSY, "database is locked");
  reader.reset();
  EXPECT_DB_ERROR(c_->Execute("SELECT * FROM Event"), SQLITE_BUSY, "database is locked");
  c_->RollbackTrans();
  c_->BeginTrans();
  c_->Execute("UPDATE Event SET Title = 'x'");
  c_->CommitTrans();
  EXPECT_EQ(Query("SELECT group_concat(Title) FROM Event"), "x,x");
}

TEST_P(ConnectionTest, PendingWorkIsSentWholeByUpdateBatchOrDiscarded) {
  const std::string all =
      "SELECT group_concat(r) FROM (SELECT ItemID || '=' || Name || '=' || Qty AS r FROM Item "
      "ORDER BY ItemID) AS i";
  auto rs = c_->OpenTable("item", CursorType::kStatic, LockType::kBatchOptimistic);
  EXPECT_EQ(rs->Field("ItemID"), Value(2));  // key order, not insertion order
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    rs->SetField("Qty", rs->Field("ItemID"));
    rs->Update();
  }
  EXPECT_DB_ERROR(rs->MoveNext(), kErrNoCurrentRecord, "");
  AddItem(*rs, "first");
  EXPECT_DB_ERROR(rs->SetField("Nope", 1), kErrItemNotFound, "Item cannot be found");
  rs->AddNew();  // Name is NOT NULL: this row cannot be sent, so nothing is
  EXPECT_DB_ERROR(rs->UpdateBatch(), server() ? error() : SQLITE_CONSTRAINT,
                  Pick("NOT NULL", "not-null"));
  EXPECT_EQ(Query(all), "2=two=3,5=five=3");
  rs->SetField("Name", "second");
  rs->UpdateBatch();
  // Keys are read back at once; the server's counters do not roll back (the failed batch used 2).
  EXPECT_EQ(rs->Field("ItemID"), Value(server() ? 9 : 7));
  EXPECT_EQ(Query(all),
            Pick("2=two=2,5=five=5,6=first=3,7=second=3", "2=two=2,5=five=5,8=first=3,9=second=3"));
  AddItem(*rs, "by hand");  // a key given by hand moves the counter past it
  rs->SetField("ItemID", 40);
  AddItem(*rs, "after it");
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT max(ItemID) FROM Item"), "41");
  rs->MoveFirst();
  rs->SetField("Name", "changed");
  AddItem(*rs, "added");
  rs->CancelBatch();
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT count(*) FROM Item WHERE Name IN ('changed', 'added')"), "0");
  // A row is found again by its key, however often it changed since it was
  // read (on the server each update moves it); a row gone fails the batch.
  rs->MoveFirst();
  c_->Execute("UPDATE Item SET Qty = 9 WHERE ItemID = 2");
  Exec(ref(), "UPDATE Item SET Qty = 8 WHERE ItemID = 2");
  rs->SetField("Name", "kept");
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT Name || Qty FROM Item WHERE ItemID = 2"), "kept8");
  Exec(ref(), "DELETE FROM Item WHERE ItemID = 2");
  rs->SetField("Name", "gone");
  AddItem(*rs, "lost");  // sent in the same batch, so undone with it
  EXPECT_DB_ERROR(rs->UpdateBatch(), kErrRowNotFoundForUpdate, "Row cannot be located");
  EXPECT_EQ(Query("SELECT count(*) FROM Item WHERE Name = 'lost'"), "0");
  c_->Close();
  EXPECT_DB_ERROR(c_->Execute("SELECT 1"), kErrObjectClosed, "");
  EXPECT_DB_ERROR(rs->MoveFirst(), kErrObjectClosed, "");
}

TEST_P(ConnectionTest, ExecuteSqlRefusesWhatIsMissingAndCommitsAllOrNothing) {
  const Installation inst =
      Installation::LayOut(dir_.path() / "inst", Installation::Kind::kFresh, "G", GetParam());
  auto connector = MakeDataSourceConnector(inst.odbcIni().string(), 0, said_);
  FaultyConnector counting(*connector);
  std::string message;
  // No statement or no data source: refused before anything is opened.
  for (const auto& [sql, source] :
       {std::pair<std::string, std::string>{"", "qv_main"}, {"UPDATE T SET A = 1", ""}}) {
    EXPECT_FALSE(ExecuteSQL(counting, "admin", "quillmark", message, source, sql));
    EXPECT_EQ(message, "Invalid Table Name or SQL statement");
  }
  EXPECT_EQ(counting.count(), 0);
  const std::string update = "UPDATE Company SET CompanyName = 'y' WHERE CompanyID = 1",
                    name = "SELECT CompanyName FROM Company WHERE CompanyID = 1";
  message = "earlier";
  ASSERT_TRUE(ExecuteSQL(counting, "admin", "quillmark", message, "qv_main", update));
  EXPECT_EQ(QueryValue(inst.mainDatabase(), name) + message, "yearlier");
  // A server's notice ("... does not exist, skipping") is no error: the statement is committed.
  EXPECT_TRUE(ExecuteSQL(*connector, "admin", "quillmark", message, "qv_main",
                         "DROP TABLE IF EXISTS Nope"));
  EXPECT_EQ(message, "earlier");
  // Each operation up to the commit fails in turn: nothing is kept.
  ASSERT_GT(counting.PositionOf(DbOp::kCommitTrans), 0);
  for (int64_t n = 1; n <= counting.PositionOf(DbOp::kCommitTrans); ++n) {
    Exec(inst.mainDatabase(), "UPDATE Company SET CompanyName = 'x' WHERE CompanyID = 1");
    FaultyConnector faulty(*connector, n);
    EXPECT_FALSE(ExecuteSQL(faulty, "admin", "quillmark", message, "qv_main", update));
    EXPECT_EQ(message, std::to_string(FaultyConnector::kInjectedErrorNumber) + " :" +
                           FaultyConnector::kInjectedErrorDescription);
    EXPECT_EQ(QueryValue(inst.mainDatabase(), name), "x") << counting.Describe(n);
  }
}

// The transaction rules with their texts and the order of Execute's refusals are the same on
// every engine (ConnectionBase); the error list stays empty, a server's notice included.
TEST_P(ConnectionTest, TransactionRulesAndRefusalsAreSharedAndNoticesAreNoErrors) {
  EXPECT_DB_ERROR(c_->CommitTrans(), error(), "cannot commit - no transaction is active");
  EXPECT_DB_ERROR(c_->RollbackTrans(), error(), "cannot rollback - no transaction is active");
  c_->BeginTrans();
  EXPECT_DB_ERROR(c_->BeginTrans(), error(), "cannot start a transaction within a transaction");
  const std::tuple<std::string, int32_t, std::string> cases[] = {
      {"COMMIT; DELETE FROM Event", kErrCharactersAfterStatement,
       "Characters found after end of SQL statement."},
      {"DELETE FROM Event; COMMIT", kErrCharactersAfterStatement,
       "Characters found after end of SQL statement."},
      {" -- nothing\n;; ", error(), "the statement is empty"},
      {"ROLLBACK", error(),
       "transactions are begun and ended by BeginTrans, CommitTrans and RollbackTrans, not by "
       "statements"},
  };
  for (const auto& [sql, number, text] : cases) EXPECT_DB_ERROR(c_->Execute(sql), number, text);
  EXPECT_EQ(c_->Execute("DROP TABLE IF EXISTS Nope"), nullptr);  // a notice on the server
  EXPECT_TRUE(c_->Errors().empty());
  c_->CommitTrans();
  EXPECT_EQ(Query("SELECT count(*) FROM Event"), "2");
  c_->Close();
  EXPECT_DB_ERROR(c_->Close(), kErrObjectClosed, "");
  EXPECT_DB_ERROR(c_->BeginTrans(), kErrObjectClosed, "");
  EXPECT_DB_ERROR(c_->CopyColumn("Event", "Public", "Visible"), kErrObjectClosed, "");
}

// Credentials must match when the data source has them, the user name
// without regard to case; the open's own arguments win. A data-source file
// that is no regular file is refused at once, not waited on.
// Cases of one engine only.
using SqliteTest = ConnectionTest;
using ServerTest = ConnectionTest;
INSTANTIATE_TEST_SUITE_P(Files, SqliteTest, ::testing::Values(Engine::kSqlite),
                         qv::testing::EngineName);
INSTANTIATE_TEST_SUITE_P(Server, ServerTest, ::testing::Values(Engine::kPostgres),
                         qv::testing::EngineName);

TEST_P(SqliteTest, DataSourcesCheckCredentialsAndReadOnlyRegularFiles) {
  const std::string ini = dir_.str() + "/odbc.ini";
  std::ofstream(ini) << "[qv_main]\nDriver = SQLite3\nDatabase = " << path()
                     << "\nUID = Admin\nPWD = quill #mark\n";
  const std::tuple<std::string, std::string, std::string, int32_t> cases[] = {
      {"qv_main", "ADMIN", "quill #mark", 0},
      {"qv_main", "ADMIN", "quill", kErrUnspecified},
      {"Data Source=qv_main;User ID=admin;Password=quillmark", "guest", "quillmark",
       kErrUnspecified},
      {"qv_main", "admin", "QUILL #MARK", kErrUnspecified}};
  for (const auto& [name, user, password, number] : cases) {
    EXPECT_DB_ERROR(MakeDataSourceConnector(ini, 0, said_)->Open(name, user, password), number,
                    number ? "\"qv_main\": wrong user name or password" : "");
  }
  std::filesystem::remove(ini);
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
  EXPECT_DB_ERROR(MakeDataSourceConnector(ini, 0, said_)->Open("qv_main", "", ""), kErrUnspecified,
                  "The data-source file " + ini + " cannot be read");
}

// The embedded engine keeps its default durability, refuses libraries too
// old for the views (RIGHT JOIN), and makes a database file only new.
TEST_P(SqliteTest, KeepsDurabilityAndRefusesOldLibrariesAndTakenFiles) {
  EXPECT_EQ(c_->Execute("PRAGMA journal_mode")->Field("journal_mode"), Value("delete"));
  EXPECT_EQ(c_->Execute("PRAGMA synchronous")->Field("synchronous"), Value(2));  // FULL
  EXPECT_DB_ERROR(sqlite::CheckEngineVersion(3038005, "3.38.5"), SQLITE_ERROR,
                  "version 3.38.5; the setup needs SQLite 3.39.0 or later");
  const std::string taken = dir_.str() + "/taken.mdb", broken = dir_.str() + "/broken.mdb";
  std::ofstream(taken) << "keep me";
  EXPECT_DB_ERROR(CreateDatabaseFile(taken, "CREATE TABLE A (X);"), SQLITE_CANTOPEN, taken);
  EXPECT_EQ(std::filesystem::file_size(taken), 7u);
  EXPECT_DB_ERROR(CreateDatabaseFile(broken, "CREATE TABLE A (X); INSERT INTO B VALUES (1);"),
                  SQLITE_ERROR, "no such table: B");
  EXPECT_DB_ERROR(Open({{"Database", broken}}), SQLITE_CANTOPEN, broken);  // never creates
  EXPECT_FALSE(std::filesystem::exists(broken) || std::filesystem::exists(broken + "-journal"));
}

// A dropped column takes the views reading it, and those reading them: each becomes a view that
// fails naming what to do, and is named on standard error; other views stay as they were.
// A server that cannot be reached, refuses the login, lacks the database or keeps it in an
// encoding that cannot hold every text fails the open with its reason.
TEST_P(ServerTest, OpenFailsWithTheServersReason) {
  const auto& at = ref().server();
  const DatabaseRef admin = DatabaseRef::OnServer(at, "postgres");
  const std::string latin1 = ref().name() + "_latin1";
  Exec(admin, "CREATE DATABASE " + latin1 +
                  " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {{{"Port", "1"}}, "connection to server"},
      {{{"Password", "wrong"}}, "password"},
      {{{"Database", "qv_no_such_database"}}, "does not exist"},
      {{{"Database", latin1}}, "encoding LATIN1, which cannot hold every text"},
      {{{"pqopt", "connect_timeout='3"}},
       "the further libpq parameters (pqopt) cannot be read: unterminated quoted string"}};
  for (const auto& [keys, reason] : cases) {
    SCOPED_TRACE(reason);
    EXPECT_DB_ERROR(Open(keys), kErrUnspecified, reason);
  }
  Exec(admin, "DROP DATABASE " + latin1);
}

// Only a member of a replicated cluster that accepts writes is used, whatever the further
// parameters say: a standby alone fails saying why, one listed first is passed over, and once
// promoted it is the first that accepts writes.
TEST_P(ServerTest, ReplicatedClustersOpenTheFirstMemberThatAcceptsWrites) {
  const auto& at = ref().server();
  qv::testing::ServerProcess standby(qv::testing::ServerProcess::kStandby);
  auto reached = [&](const std::string& hosts, const std::string& ports, const std::string& name) {
    const std::string options = "target_session_attrs=any application_name=" + name;
    return Open({{"Servername", hosts}, {"Port", ports}, {"pqopt", options}})
        ->Execute("SELECT current_setting('port') || current_setting('application_name') AS p")
        ->Field("p")
        .AsText();
  };
  EXPECT_DB_ERROR(reached(standby.host(), standby.port(), "a"), kErrUnspecified, "read-only");
  const std::string hosts = standby.host() + "," + at.host, ports = standby.port() + "," + at.port;
  EXPECT_EQ(reached(hosts, ports, "b"), at.port + "b");
  standby.Promote();
  EXPECT_EQ(reached(hosts, ports, "c"), standby.port() + "c");
}

TEST_P(ServerTest, DropColumnReplacesOnlyTheViewsThatReadItAndNamesThem) {
  Exec(ref(), R"(
    DROP INDEX Event_PublicID;
    CREATE VIEW Counted AS SELECT count(*) AS n FROM PublicEvents;
    CREATE VIEW Titles AS SELECT EventID, Title FROM Event;
    GRANT SELECT ON Titles TO PUBLIC;)");
  const std::string views =
      "SELECT string_agg(relname || ':' || pg_get_viewdef(oid) || coalesce(relacl::text, ''), '|' "
      "ORDER BY relname) FROM pg_class WHERE relkind = 'v' AND relnamespace = "
      "current_schema()::regnamespace";
  const std::string before = Query(views);
  c_->BeginTrans();
  c_->Execute("ALTER TABLE Event DROP COLUMN Public");
  c_->RollbackTrans();
  EXPECT_EQ(Query(views), before);  // undone with the rollback, and never named
  c_->Execute("ALTER TABLE Event DROP COLUMN Visible");  // no view reads it
  c_->Execute("ALTER TABLE EVENT DROP COLUMN Public");
  const std::string after = Query(views);
  EXPECT_EQ(after.substr(after.find("titles:")), before.substr(before.find("titles:")));
  EXPECT_DB_ERROR(c_->Execute("SELECT * FROM PublicEvents"), error(),
                  "view publicevents read column public of table event, which was dropped: "
                  "create the view again");
  EXPECT_DB_ERROR(c_->Execute("SELECT * FROM Counted"), error(),
                  "view counted depended on view publicevents, which was dropped");
  EXPECT_EQ(said_.text.str(), "");
  // Named when the run ends, and only those still stand-ins then.
  c_->Execute("DROP TABLE Counted");
  c_->Execute("CREATE VIEW Counted AS SELECT 1 AS n");
  connectors_.front()->RunEnded();
  EXPECT_TRUE(std::regex_match(
      said_.text.str(),
      std::regex("qvsetup: view publicevents read column public of table event and was replaced "
                 "by a view that fails until it is created again; its definition was: CREATE VIEW "
                 "publicevents AS SELECT.*\n")))
      << said_.text.str();
}

// Every look-up by name finds what a statement naming it reaches through the role's search_path,
// names folded as the server folds them whatever the locale (Turkish here). Without the yesno
// domain, a yes/no column added gets it in the table's schema (a rollback undoes it), or is plain
// smallint for a role that may not create there.
TEST_P(ServerTest, NamesResolveThroughThePathAndYesNoColumnsNeedNoDomain) {
  const auto& at = ref().server();
  const std::string role = ref().name() + "_owner";
  const Names item = {"itemid", "name", "qty", "made", "flag"};
  const std::tuple<std::string, Names, std::string> cases[] = {
      {"CREATE SCHEMA AUTHORIZATION CURRENT_USER", item, "item yesno"},  // first on "$user", public
      // Another schema first, with a decoy of the same name: statements reach the decoy.
      {"CREATE SCHEMA Decoy CREATE TABLE Item (ItemID int, Made int) CREATE INDEX Item_Made ON Item "
       "(Made); DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET search_path = decoy, public', "
       "current_database()); END $$",
       {"itemid", "made", "flag"},
       "decoy.item decoy.yesno"},
      {"CREATE ROLE " + role + " LOGIN PASSWORD 'p'; ALTER TABLE Item OWNER TO " + role +
           "; ALTER VIEW PublicEvents OWNER TO " + role,
       item, "item smallint"},
  };
  int n = 0;
  for (const auto& [setup, columns, flag] : cases) {
    SCOPED_TRACE(setup);
    const bool asRole = setup.find(role) != std::string::npos;
    const DatabaseRef db = DatabaseRef::OnServer(at, ref().name() + "_tr" + std::to_string(++n));
    Exec(DatabaseRef::OnServer(at, "postgres"),
         "CREATE DATABASE " + db.name() +
             " TEMPLATE template0 LOCALE_PROVIDER icu ICU_LOCALE 'tr-TR' LOCALE 'C.utf8'");
    // No domain, as in a database laid out from the design's types.
    Exec(db, mkinstall::ServerSchemaScript(kSchema) +
                 "DROP DOMAIN yesno CASCADE; CREATE VIEW PublicEvents AS SELECT 1 AS A; "
                 "CREATE INDEX Item_Made ON Item (Made); " +
                 setup);
    std::map<std::string, std::string> login = {{"Database", db.name()}};
    if (asRole) login.insert({{"Username", role}, {"Password", "p"}});
    auto c = Open(login);
    c->BeginTrans();
    // A step's scan.
    EXPECT_EQ(c->TableNames(TableKind::kTable), (Names{"event", "item", "other"}));
    c->Execute("ALTER TABLE ITEM ADD COLUMN Flag BIT");
    c->RollbackTrans();
    EXPECT_EQ(QueryValue(db, "SELECT count(*) FROM pg_type WHERE typname = 'yesno'"), "0");
    EXPECT_EQ(said_.Take(), Names{});  // nothing said of what was rolled back
    c->Execute("ALTER TABLE ITEM ADD COLUMN Flag BIT");
    EXPECT_EQ(QueryValue(db,
                         "SELECT attrelid::regclass || ' ' || atttypid::regtype FROM "
                         "pg_attribute WHERE attname = 'flag'"),
              flag);
    EXPECT_EQ(said_.Take(), Names(asRole ? 1 : 0,
                                  "qvsetup: column Flag of table item was added as smallint: "
                                  "there is no type yesno, and this role may not create it "
                                  "in schema public"));
    EXPECT_EQ(c->ColumnNames("ITEM", ""), columns);
    c->Execute("DROP INDEX Made ON ITEM");
    c->Execute("DROP TABLE PUBLICEVENTS");  // a view
    c->Close();
    db::DropServerDatabases(at, {db.name()});
  }
  Exec(DatabaseRef::OnServer(at, "postgres"), "DROP ROLE " + role);
}

}  // namespace
}  // namespace qv::db
