// Announcement sample data: a welcome note about the product and a notice of
// the monthly company meeting, both posted to the whole company at the time
// of the run. Both rows go to the database in one batch at the finish.
#include <string>
#include <string_view>
#include <vector>

#include "sample_data/modules.h"

namespace qv::sample_data::Announcement {
namespace {

// The product maker's site, where the welcome note sends its readers.
constexpr std::string_view kMakerWebAddress = "http://www.tavolent.example";

constexpr Text kWelcomeTitle{"Welcome to Quorvia!", "クオルヴィアへようこそ"};
constexpr Text kMeetingTitle{"Company wide meeting", "全体会議"};
// The Japanese notice names Tuesday, the English one Thursday.
constexpr Text kMeetingBody{
    "Next week, our monthly company meeting will be held on Thursday. All employees must attend",
    "来週の火曜日月例全体会議を行います。全員出席するようお願いいたします。"};

std::string WelcomeBody(const ModuleRun& run) {
  const std::string maker(kMakerWebAddress);
  const std::string english =
      "Thank you for installing Quorvia.  Please make sure to read the readme file that is "
      "included with the installation files for the latest release notes. For information and "
      "updates for Quorvia please visit us at " +
      maker;
  const std::string japanese =
      "クオルヴィアをインストールして頂きありがどうございます。readme "
      "ファイルを必ずお読み下さい。最新のリリースノートとインストールの注意事項が記載されています。"
      "クオルヴィアの情報、更新は " +
      maker + " をご覧ください。";
  return run.Pick({english, japanese});
}

std::vector<FieldValue> AnnouncementRecord(const ModuleRun& run, const std::string& title,
                                           const std::string& body) {
  return {
      {"EventTypeID", 7},
      {"Int1", 2},
      {"ContactID", 1},
      {"Title", title},
      {"Body", body},
      {"Bit1", 1},
      {"StartDate", run.now()},
      {"CreateDate", run.now()},
      {"GroupID", 1},
      {"Visible", 1},
      {"StationID", run.station()},
  };
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  run.Begin();

  RowSet& announcements = run.Open("AnnounceEvent");
  run.AddRecord(announcements, AnnouncementRecord(run, run.Pick(kWelcomeTitle), WelcomeBody(run)),
                /*send=*/false);
  run.AddRecord(announcements,
                AnnouncementRecord(run, run.Pick(kMeetingTitle), run.Pick(kMeetingBody)),
                /*send=*/false);

  return run.Finish(FailureBox::kNone);
}

}  // namespace qv::sample_data::Announcement
