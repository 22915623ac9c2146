// To-do sample data: each of the five sample contacts gets the same six
// to-do items, due at local noon of the run date. All thirty rows go to the
// database in one batch at the finish.
#include <array>
#include <string>

#include "sample_data/modules.h"

namespace qv::sample_data::ToDo {
namespace {

constexpr std::array<Text, 6> kTitles = {{
    {"Complete report for sales meeting", "セールス会議のリポート"},
    {"Research competitors product", "競合社製品のリサーチ"},
    {"Order more stationary", "事務用品の追加注文"},
    {"Call Corwin about the staff luncheon", "社員昼食会の打ち合わせ準備"},
    {"Create labels for project binders", "プロジェクトバインダーのラベル作成"},
    {"Purchase pens, copier paper", "ペンとコピー用紙の注文"},
}};

// The owners, whatever the number of contacts in the database.
constexpr int kFirstOwner = 1;
constexpr int kLastOwner = 5;

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  // Local noon, written as text and never moved to GMT.
  const std::string start = run.LocalDayText(0, " 12:00:00");
  run.Begin();

  RowSet& todos = run.Open("ToDoEvent");
  for (const Text& title : kTitles) {
    for (int owner = kFirstOwner; owner <= kLastOwner; ++owner) {
      run.AddRecord(todos,
                    {
                        {"EventTypeID", 7},
                        {"Int1", 1},
                        {"ContactID", owner},
                        {"Title", run.Pick(title)},
                        {"StartDate", start},
                        {"CreateDate", start},
                        {"StationID", run.station()},
                    },
                    /*send=*/false);
    }
  }

  return run.Finish(FailureBox::kNone);
}

}  // namespace qv::sample_data::ToDo
