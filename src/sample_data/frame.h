// What every sample-data module shares: its five text arguments, the choice
// of language, one connection with one transaction, row sets kept open until
// the end, continue-on-error mode with its PendingError, and the finish that
// commits all of the module's rows or none of them.
//
// A module reads like a list of records: open the row sets, add records with
// their fields in order, read keys back, run update statements, finish.
// Every operation goes through ModuleRun, which turns any error into the
// PendingError and lets the module go on with its next statement.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/database.h"
#include "db/value.h"
#include "timezone/clock.h"
#include "timezone/gmt.h"

namespace qv::sample_data {

// The five text arguments of every module's InsertSampleData.
struct SampleArgs {
  std::string language;    // "1" English, "2" Japanese, anything else neither
  std::string dataSource;  // the whole connection string, "qv_main"
  std::string userName;
  std::string password;
  std::string stationId;  // written into every record's StationID
};

// What a module needs from the run, handed in rather than reached for.
struct ModuleEnv {
  db::Connector& connector;
  const timezone::Clock& clock;
  std::function<void(const std::string&)> showBox;  // one OK-only message box
};

enum class Language { kNeither, kEnglish, kJapanese };

// "1" and "2" exactly (case, blanks and leading zeros count); anything else
// takes neither text set.
Language PickLanguage(const std::string& language);

// One text of a record in both languages.
struct Text {
  std::string_view en;
  std::string_view ja;
};
std::string Pick(Language language, const Text& text);

// Lines joined with CR LF, none after the last.
std::string JoinLines(std::initializer_list<std::string_view> lines);

struct PendingError {
  int32_t number = 0;  // 0 while nothing has failed
  std::string description;
};

// How a module that rolled back reports itself.
enum class FailureBox {
  kNone,
  kNumberDescription,       // "<number><description>"
  kNumberColonDescription,  // "<number> : <description>"
};

struct FieldValue {
  std::string name;
  db::Value value;
};

// A row set that a module opened; stays open until Finish. When the open
// failed it holds nothing, and every operation on it fails.
class RowSet {
 public:
  db::Recordset& get() const;  // raises "object closed" when not open
  bool open() const { return rs_ != nullptr; }

 private:
  friend class ModuleRun;
  std::unique_ptr<db::Recordset> rs_;
};

class ModuleRun {
 public:
  // Reads the clock once and picks the language. Every date of the module
  // comes from that one reading, so a module that runs across local
  // midnight still gives its records one "today".
  ModuleRun(const ModuleEnv& env, const SampleArgs& args);
  ~ModuleRun();

  Language language() const { return language_; }
  std::string Pick(const Text& text) const { return sample_data::Pick(language_, text); }
  const std::string& now() const { return now_; }  // creation time: GMT date-time text
  const std::string& station() const { return args_.stationId; }
  const PendingError& pending() const { return pending_; }

  // Local dates of the run: today's local date plus `days`, in the short date
  // form, joined with `timeOfDay` (which begins with a blank, " 14:00:00").
  std::string LocalDayText(int days, std::string_view timeOfDay) const;
  // That local text converted to GMT, as a date value.
  db::DateTime ToGmtValue(const std::string& localText) const;
  // That local text as a date value, unconverted (the zero date if unreadable).
  db::DateTime LocalValue(const std::string& localText) const;
  // The creation time moved by whole days, as a date value.
  db::DateTime NowPlusDays(int days) const;

  // Opens the connection and begins the one transaction.
  void Begin();

  // Runs `step` in continue-on-error mode: an error becomes the PendingError
  // (the last one wins; a later success does not clear it). Returns whether
  // the step succeeded.
  bool Try(const std::function<void()>& step);

  // Opens a whole table as a row set (batch-optimistic), kept until Finish.
  RowSet& Open(const std::string& table, db::CursorType cursor = db::CursorType::kStatic);

  // AddNew, then every field assigned in order, each on its own (a failing
  // assignment does not stop the next), then UpdateBatch when `send`.
  void AddRecord(RowSet& rs, const std::vector<FieldValue>& fields, bool send = true);
  void Send(RowSet& rs);  // UpdateBatch

  // Requery, MoveLast and read `keyField` of the last row. The key as read,
  // or narrowed to 16 bits (a key above 32767 fails with "Overflow"). On
  // failure the result is 0 and the failure is pending.
  int64_t ReadLastKey(RowSet& rs, const std::string& keyField);
  int16_t ReadLastKey16(RowSet& rs, const std::string& keyField);

  // Visits the rows from the first: `body` returns false to stop early. A
  // walk whose end test or move fails ends at once, so a row set that could
  // not be opened never loops.
  void Walk(RowSet& rs, const std::function<bool(db::Recordset&)>& body);

  // Runs one statement on the connection, inside the transaction.
  void Execute(const std::string& statement);

  // Without a pending error: sends every row set once more and commits; a
  // failure there rolls back instead. With one: cancels every row set's
  // pending rows, rolls back and shows `box`. Returns true when committed.
  bool Finish(FailureBox box);

 private:
  void Record(int32_t number, const std::string& description);

  const ModuleEnv& env_;
  const SampleArgs& args_;
  Language language_;
  timezone::FixedClock clock_;  // the one reading of env_.clock
  std::string now_;
  std::unique_ptr<db::Connection> connection_;
  std::vector<std::unique_ptr<RowSet>> rowSets_;
  PendingError pending_;
};

}  // namespace qv::sample_data
