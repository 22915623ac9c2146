// Resource sample data: a meeting room and a projector, both booked for the
// same meeting tomorrow from 10:00 to 15:30 local time (stored in GMT), each
// booking owned by contact 5.
//
// The owner rows stay pending until the closing send, so they reach the
// database only when nothing before them failed.
#include <cstdint>
#include <string>
#include <vector>

#include "sample_data/modules.h"

namespace qv::sample_data::Resource {
namespace {

constexpr int kBookingType = 8;
constexpr int kOwner = 5;

struct Item {
  int typeId;
  Text name;
  Text description;
};

const Item kMeetingRoom{2,
                        {"Meeting Room 5001", "会議室 5001"},
                        {"The largest meeting room in the main building", "本社２５階大会議室"}};
const Item kProjector{1,
                      {"Over Head Projector", "プロジェクター"},
                      {"600X800 pixel SVGA projector (15kg)", "600X800 SVGA プロジェクタ (15kg)"}};

const Text kMeetingTitle{"Corporate wide marketing strategy meeting", "来年度全社営業企画会議"};
const Text kMeetingBody{"Our sales and marketing strategy for the next fiscal year",
                        "来年度の販売戦略と販売目標について本社、ならびに各支店での営業計画の立案"};

std::vector<FieldValue> ItemFields(const ModuleRun& run, const Item& item) {
  return {
      {"ResourceTypeID", item.typeId},
      {"CompanyID", 1},
      {"ResourceName", run.Pick(item.name)},
      {"Description", run.Pick(item.description)},
  };
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  const db::Value start = run.ToGmtValue(run.LocalDayText(1, " 10:00:00"));
  const db::Value end = run.ToGmtValue(run.LocalDayText(1, " 15:30:00"));

  // Both bookings of the meeting, told apart by the resource they book.
  auto booking = [&](const db::Value& resourceId) -> std::vector<FieldValue> {
    return {
        {"EventTypeID", kBookingType},
        {"CreateDate", run.now()},
        {"StartDate", start},
        {"EndDate", end},
        {"Title", run.Pick(kMeetingTitle)},
        {"Body", run.Pick(kMeetingBody)},
        {"ResourceID", resourceId},
        {"Visible", 1},
        {"StationID", run.station()},
    };
  };

  run.Begin();

  RowSet& resources = run.Open("Resource");
  run.AddRecord(resources, ItemFields(run, kMeetingRoom));
  const int64_t room = run.ReadLastKey(resources, "ResourceID");
  run.AddRecord(resources, ItemFields(run, kProjector));
  const int16_t projector = run.ReadLastKey16(resources, "ResourceID");

  RowSet& bookings = run.Open("ResourceEvent");
  run.AddRecord(bookings, booking(room));
  const int64_t roomBooking = run.ReadLastKey(bookings, "EventID");

  RowSet& owners = run.Open("ResourceEventMemberShip");
  run.AddRecord(owners, {{"EventID", roomBooking}, {"OwnerID", kOwner}}, /*send=*/false);

  run.AddRecord(bookings, booking(projector));
  const int64_t projectorBooking = run.ReadLastKey(bookings, "EventID");
  run.AddRecord(owners, {{"EventID", projectorBooking}, {"OwnerID", kOwner}}, /*send=*/false);

  return run.Finish(FailureBox::kNumberDescription);
}

}  // namespace qv::sample_data::Resource
