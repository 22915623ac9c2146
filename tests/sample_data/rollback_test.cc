// Every module is all-or-nothing: whichever operation fails, a station that
// is not a number, a key that does not fit 16 bits or a business type
// without a name leaves the main database as it was, with the module's own
// failure box. Rows left pending reach the database only at the finish.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;

struct Module {
  const char* name;
  InsertFn insert;
  const char* boxSeparator;  // between number and description, null for no box
  const char* pendingTable;  // whose rows are all sent by the closing send, or null
};

const Module kModules[] = {
    {"Contact", Contact::InsertSampleData, nullptr, nullptr},
    {"Schedule", Schedule::InsertSampleData, "", "ScheduleMembership"},
    {"Announcement", Announcement::InsertSampleData, nullptr, "AnnounceEvent"},
    {"ToDo", ToDo::InsertSampleData, nullptr, "ToDoEvent"},
    {"Forum", Forum::InsertSampleData, nullptr, "ForumVoting"},
    {"ProjectM", ProjectM::InsertSampleData, " : ", nullptr},
    {"Resource", Resource::InsertSampleData, "", "ResourceEventMemberShip"},
    {"Document", Document::InsertSampleData, nullptr, nullptr},
};

class EveryModuleTest : public ModuleFixture, public ::testing::WithParamInterface<Module> {};

TEST_P(EveryModuleTest, WhicheverOperationFailsAllOrNothing) {
  const Module& module = GetParam();
  const auto ops = ExpectAllOrNothing(module.insert, "2", module.boxSeparator);
  if (!module.pendingTable) return;
  size_t lastAdd = 0;
  std::vector<size_t> sends;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].op == DbOp::kAddNew) lastAdd = i;
    if (ops[i].op == DbOp::kUpdateBatch && ops[i].detail == module.pendingTable) sends.push_back(i);
  }
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_GT(sends[0], lastAdd);
}

INSTANTIATE_TEST_SUITE_P(Modules, EveryModuleTest, ::testing::ValuesIn(kModules),
                         [](const auto& info) { return std::string(info.param.name); });

struct Rollback {
  const char* name;
  InsertFn insert;
  const char* station;
  std::string prep;
  const char* box;  // "" for none
};

// clang-format off
const std::vector<Rollback> kRollbacks = {
    {"ContactStation", Contact::InsertSampleData, "x", "", ""},
    {"ScheduleStation", Schedule::InsertSampleData, "x", "", "13Type mismatch"},
    {"AnnouncementStation", Announcement::InsertSampleData, "x", "", ""},
    {"ToDoStation", ToDo::InsertSampleData, "x", "", ""},
    {"ForumStation", Forum::InsertSampleData, "x", "", ""},
    {"ProjectMStation", ProjectM::InsertSampleData, "x", "", "13 : Type mismatch"},
    {"ResourceStation", Resource::InsertSampleData, "x", "", "13Type mismatch"},
    {"DocumentStation", Document::InsertSampleData, "x", "", ""},
    {"ContactBusinessType7", Contact::InsertSampleData, "1",
     "INSERT INTO BusinessType (BizTypeID, BizTypeName, StationID) VALUES (7, 'Seventh', 1)", ""},
    // Keys read as 16-bit integers: the folder, each schedule entry, the
    // first poll (32768, after heads read as they are), the second resource
    // (the first gets 32767), the last "System Sales" template task and the
    // customer company.
    {"DocumentFolderKey", Document::InsertSampleData, "1", NextKeyAfter("DocEvent", 40000), ""},
    {"ScheduleEntryKey", Schedule::InsertSampleData, "1", NextKeyAfter("ScheduleEvent", 40000),
     "6Overflow"},
    {"ForumPollKey", Forum::InsertSampleData, "1", NextKeyAfter("ForumEvent", 32760), ""},
    {"ResourceKey", Resource::InsertSampleData, "1", NextKeyAfter("Resource", 32766), "6Overflow"},
    {"ProjectMTemplateKey", ProjectM::InsertSampleData, "1",
     NextKeyAfter("ProjectTaskMaster", 32760), "6 : Overflow"},
    {"ProjectMCustomerKey", ProjectM::InsertSampleData, "1",
     "INSERT INTO Company (CompanyID, CompanyName) VALUES (40000, 'Geo Satellite Systems Inc')",
     "6 : Overflow"},
};
// clang-format on

class RollbackTest : public ModuleFixture, public ::testing::WithParamInterface<Rollback> {};

TEST_P(RollbackTest, LeavesTheDatabaseAsItWasAndShowsTheModulesBox) {
  const Rollback& rollback = GetParam();
  if (!rollback.prep.empty()) Exec(rollback.prep);
  const std::string before = Dump();
  EXPECT_FALSE(Run(rollback.insert, "1", rollback.station));
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(boxes_,
            *rollback.box ? std::vector<std::string>{rollback.box} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, RollbackTest, ::testing::ValuesIn(kRollbacks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::sample_data
