// Kept apart from the run sequence so that only a program that runs the real
// steps links the sample-data and migration code.
#include "setup/standard_steps.h"

#include "migration/migration.h"
#include "sample_data/modules.h"

namespace qv::setup {

const SetupSteps& StandardSteps() {
  namespace sd = sample_data;
  namespace mg = migration;
  static const SetupSteps steps{
      {
          {"Company", "CompanyID",
           "Insert sample date for Contact: ", sd::Contact::InsertSampleData},
          {"ScheduleEvent", "EventID",
           "Insert sample date for Scheduler: ", sd::Schedule::InsertSampleData},
          {"AnnounceEvent", "EventID",
           "Insert sample date for Announcement: ", sd::Announcement::InsertSampleData},
          {"ToDoEvent", "EventID", "Insert sample date for ToDo: ", sd::ToDo::InsertSampleData},
          {"ForumEvent", "EventID", "Insert sample date for Forum: ", sd::Forum::InsertSampleData},
          {"ProjectEvent", "EventID",
           "Insert sample date for Project: ", sd::ProjectM::InsertSampleData},
          {"ResourceEvent", "EventID",
           "Insert sample date for Resource: ", sd::Resource::InsertSampleData},
          {"DocEvent", "EventID",
           "Insert sample date for Document: ", sd::Document::InsertSampleData},
      },
      {
          {"Alter Tables: ", mg::AlterTables},
          {"Drop Views: ", mg::DropViews},
          {"Alter the security table: ", mg::AlterSecurityTable},
          {"Alter the views: ", mg::AlterViews},
      },
  };
  return steps;
}

}  // namespace qv::setup
