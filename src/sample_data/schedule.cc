// Schedule sample data: a meeting and a reminder on the day after the run,
// each shared with the five sample members.
//
// Only the meeting's times are moved to GMT; the reminder keeps its local
// noon. The membership rows stay pending in their own row set until the
// finish sends them, so sending the reminder does not send them.
#include <cstdint>
#include <string>
#include <vector>

#include "sample_data/modules.h"

namespace qv::sample_data::Schedule {
namespace {

constexpr int kFirstMember = 1;
constexpr int kLastMember = 5;

constexpr Text kMeetingTitle{"Production Meeting", "プロダクションミーティング"};
constexpr Text kReminderTitle{"New Web Site Online", "ニューウェブサイトオープン"};

std::string MeetingBody(const ModuleRun& run) {
  const std::string english = JoinLines({
      "Agenda",
      "- Package Design with the new coporate color",
      "- Manual cover design",
      "- Scheduling",
      "at 1201 meeting room",
  });
  const std::string japanese = JoinLines({
      "本日の議題",
      "- 新コーポレイトカラーでのパッケージデザイン",
      "- マニュアルの表紙デザイン",
      "- 上記2項目のスケジュール調整",
      "会議室1201で行います｡時間厳守でお集まりください｡ ",
  });
  return run.Pick({english, japanese});
}

std::string ReminderBody(const ModuleRun& run) {
  const std::string english = JoinLines({
      "Our new web site is now online.",
      "English and Japanese versions using new corporate colors and logos.",
  });
  const std::string japanese = JoinLines({
      "新しいウェブサイトがオープンします。",
      "英語と日本語バージョンで、新しい会社のカラーとロゴが採用されています。",
  });
  return run.Pick({english, japanese});
}

// The members of an entry, whatever the number of contacts in the database.
// The rows are left pending.
void AddMembers(ModuleRun& run, RowSet& members, int16_t eventId) {
  for (int member = kFirstMember; member <= kLastMember; ++member) {
    run.AddRecord(members, {{"EventID", eventId}, {"MemberID", member}}, /*send=*/false);
  }
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  run.Begin();

  const std::string& now = run.now();
  const db::DateTime meetingStart = run.ToGmtValue(run.LocalDayText(1, " 14:00:00"));
  const db::DateTime meetingEnd = run.ToGmtValue(run.LocalDayText(1, " 15:30:00"));
  const db::DateTime reminderStart = run.LocalValue(run.LocalDayText(1, " 12:00:00"));

  const std::vector<FieldValue> meeting = {
      {"EventTypeID", 1},
      {"IsReminder", 0},
      {"CreateDate", now},
      {"StartDate", meetingStart},
      {"EndDate", meetingEnd},
      {"Title", run.Pick(kMeetingTitle)},
      {"Body", MeetingBody(run)},
      {"ContactID", 1},
      {"EmailNotification", 1},
      {"Confirmation", 1},
      {"EventConfirmed", 0},
      {"WhenToNotify", -1},
      {"Shared", 1},
      {"Visible", 1},
      {"StationID", run.station()},
  };
  // A reminder has a start only.
  const std::vector<FieldValue> reminder = {
      {"EventTypeID", 1},
      {"IsReminder", 1},
      {"CreateDate", now},
      {"StartDate", reminderStart},
      {"Title", run.Pick(kReminderTitle)},
      {"Body", ReminderBody(run)},
      {"ContactID", 1},
      {"EmailNotification", 1},
      {"Confirmation", 0},
      {"EventConfirmed", 0},
      {"WhenToNotify", -1},
      {"Shared", 1},
      {"Visible", 1},
      {"StationID", run.station()},
  };

  RowSet& events = run.Open("ScheduleEvent");
  run.AddRecord(events, meeting);
  const int16_t meetingId = run.ReadLastKey16(events, "EventID");

  RowSet& members = run.Open("ScheduleMembership", db::CursorType::kKeyset);
  AddMembers(run, members, meetingId);

  run.AddRecord(events, reminder);
  const int16_t reminderId = run.ReadLastKey16(events, "EventID");
  AddMembers(run, members, reminderId);

  return run.Finish(FailureBox::kNumberDescription);
}

}  // namespace qv::sample_data::Schedule
