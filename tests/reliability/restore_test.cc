// qv-restore on an upgraded installation: its backup gives back the state
// before the run, row for row; a backup that is damaged or of the other
// engine, and databases in use, are refused with nothing changed; the
// restore's own safety backup undoes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "db/database.h"
#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using testing::Engine;
using testing::Query;

// Every object's definition, every counter and every table's rows, sorted.
constexpr char kFileObjects[] =
    "SELECT type, name, sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY 1, 2";
constexpr char kServerObjects[] =
    "SELECT 'table', table_name, '' FROM information_schema.tables WHERE table_schema = 'public'"
    " AND table_type = 'BASE TABLE' UNION ALL SELECT 'column', table_name || '.' || column_name,"
    " concat_ws(' ', data_type, character_maximum_length, column_default, is_nullable,"
    " is_identity) FROM information_schema.columns WHERE table_schema = 'public' UNION ALL"
    " SELECT 'index', indexname, indexdef FROM pg_indexes WHERE schemaname = 'public' UNION ALL"
    " SELECT 'view', table_name, view_definition FROM information_schema.views WHERE"
    " table_schema = 'public' UNION ALL SELECT 'counter', sequencename, last_value::text FROM"
    " pg_sequences WHERE schemaname = 'public' ORDER BY 1, 2";

std::string Contents(const testing::DatabaseRef& db) {
  std::string text;
  for (const auto& o : Query(db, db.engine() == Engine::kSqlite ? kFileObjects : kServerObjects)) {
    text += o[0] + " " + o[1] + ": " + o[2] + "\n";
    if (o[0] != "table") continue;
    auto rows = Query(db, "SELECT * FROM \"" + o[1] + "\"");
    std::sort(rows.begin(), rows.end());
    for (const auto& row : rows) {
      for (const std::string& value : row) text += value + "|";
      text += "\n";
    }
  }
  testing::Disconnect(db);  // a connection of this test is a user that qv-restore refuses
  return text;
}

std::string Contents(const Installation& inst) {
  return Contents(inst.mainDatabase()) + "--\n" + Contents(inst.securityDatabase());
}

std::set<std::string> Backups(const Installation& inst) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(inst.storageDir() / "db")) {
    if (entry.path().filename().string().rfind("BACK", 0) == 0)
      names.insert(entry.path().filename());
  }
  return names;
}

class RestoreTest : public ::testing::TestWithParam<Engine> {};

TEST_P(RestoreTest, GivesBackTheStateBeforeTheRunAndRefusesWhatItCannotRestoreWhole) {
  QV_SKIP_UNTESTED_ENGINE(GetParam());
  testing::ScopedTempDir dir;
  const Installation inst =
      Installation::LayOut(dir.path() / "inst", Installation::Kind::kOld, "Guild", GetParam());
  const bool files = GetParam() == Engine::kSqlite;
  const std::string own = files ? ".mdb" : ".dump", other = files ? ".dump" : ".mdb";
  const std::string before = Contents(inst);
  ASSERT_TRUE(Program({"/i", "Initialize", "/a", "/b"}, inst, dir.path()).Wait().exitedWithZero);
  const std::string upgraded = Contents(inst);
  ASSERT_NE(upgraded, before);
  ASSERT_EQ(Backups(inst).size(), 1u);
  const std::string backup = *Backups(inst).begin();
  const fs::path db = inst.storageDir() / "db";
  auto restore = [&](const Lines& args) {
    return Program(args, inst, dir.path(), "qv-restore").Wait();
  };

  // A copy of the backup cut to half, and one whose files are of the other engine.
  fs::copy(db / backup, db / "BACK20000101-000000");
  fs::resize_file(db / "BACK20000101-000000" / ("qv_main" + own),
                  fs::file_size(db / backup / ("qv_main" + own)) / 2);
  fs::create_directory(db / "BACK20000101-000001");
  for (const char* name : {"qv_main", "qv_security"}) {
    fs::copy(db / backup / (name + own), db / "BACK20000101-000001" / (name + other));
  }
  const Program::Outcome listed = restore({"--list"});
  EXPECT_TRUE(listed.exitedWithZero) << listed.err;
  EXPECT_NE(listed.out.find(backup + "  "), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find((files ? "  files  " : "  dumps  ")), std::string::npos) << listed.out;
  EXPECT_LT(listed.out.find(backup), listed.out.find("BACK20000101-000001")) << "newest first";
  EXPECT_EQ(listed.out.find("verified"), listed.out.rfind("verified")) << listed.out;

  // Each refusal names its reason and changes nothing, not even a backup.
  const std::set<std::string> folders = Backups(inst);
  testing::CapturedDiagnostics diagnostics;
  for (const auto& [args, said] : std::vector<std::pair<Lines, std::string>>{
           {{"BACK20000101-000000"}, "BACK20000101-000000/qv_main" + own},
           {{(db / "BACK20000101-000001").string()}, "is a backup of"},
           {{"BACK20000101-000002"}, "no backup folder"},
           {{backup, "in use"}, "in use: "}}) {
    std::unique_ptr<db::Connector> connector;
    std::unique_ptr<db::Connection> user;  // as an application holds one: a write begun
    std::string why;
    Held file = args.size() == 2 && files ? HoldDatabase(inst.securityDb(), Holder::kReader, &why)
                                          : nullptr;
    if (args.size() == 2 && !files) {
      connector = db::MakeDataSourceConnector(inst.odbcIni().string(), 5000, diagnostics);
      user = connector->Open("qv_security", "admin", "quillmark");
      user->BeginTrans();
      user->Execute("UPDATE Install SET InstallFlag = InstallFlag WHERE 1 = 0");
    }
    const Program::Outcome refused = restore({args[0]});
    user.reset(), file.reset();
    EXPECT_FALSE(refused.exitedWithZero) << args[0];
    EXPECT_NE(refused.err.find(said), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("qv-restore: "), std::string::npos) << refused.err;
    EXPECT_EQ(Contents(inst), upgraded) << args[0];
    EXPECT_EQ(Backups(inst), folders) << args[0];
  }

  // The restore: the state before the run, the upgraded one kept aside.
  if (files) fs::permissions(inst.mainDb(), fs::perms::owner_read | fs::perms::owner_write);
  const Program::Outcome restored = restore({backup});
  ASSERT_TRUE(restored.exitedWithZero) << restored.err;
  EXPECT_NE(restored.out.find("qv_main restored"), std::string::npos) << restored.out;
  EXPECT_NE(restored.out.find("qv_security restored"), std::string::npos) << restored.out;
  EXPECT_EQ(Contents(inst), before);
  if (files) {  // the restored file keeps the mode of the one it replaced, not the backup's
    EXPECT_EQ(fs::status(inst.mainDb()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
  }
  std::set<std::string> safety = Backups(inst);
  for (const std::string& name : folders) safety.erase(name);
  ASSERT_EQ(safety.size(), 1u);
  EXPECT_NE(restored.out.find(*safety.begin()), std::string::npos) << restored.out;

  // Its safety backup undoes it.
  const Program::Outcome undone = restore({(db / *safety.begin()).string()});
  ASSERT_TRUE(undone.exitedWithZero) << undone.err;
  EXPECT_EQ(Contents(inst), upgraded);
}

QV_ON_BOTH_ENGINES(RestoreTest);

}  // namespace
}  // namespace qv::reliability
