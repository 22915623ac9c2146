#include "sample_data/frame.h"

#include <exception>

#include "db/db_error.h"

namespace qv::sample_data {
namespace {

// Run-time number for a failure that is not a database error.
constexpr int32_t kErrInternal = 51;

db::DateTime ToDbDate(const timezone::CivilTime& t) {
  return db::DateTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

timezone::CivilTime ToCivil(const db::DateTime& d) {
  return timezone::CivilTime{d.year, d.month, d.day, d.hour, d.minute, d.second};
}

}  // namespace

Language PickLanguage(const std::string& language) {
  if (language == "1") return Language::kEnglish;
  if (language == "2") return Language::kJapanese;
  return Language::kNeither;
}

std::string Pick(Language language, const Text& text) {
  switch (language) {
    case Language::kEnglish:
      return std::string(text.en);
    case Language::kJapanese:
      return std::string(text.ja);
    case Language::kNeither:
      break;
  }
  return std::string();
}

std::string JoinLines(std::initializer_list<std::string_view> lines) {
  std::string joined;
  bool first = true;
  for (std::string_view line : lines) {
    if (!first) joined += "\r\n";
    joined += line;
    first = false;
  }
  return joined;
}

db::Recordset& RowSet::get() const {
  if (!rs_)
    throw db::DbError(db::kErrObjectClosed, "Operation is not allowed when the object is closed.");
  return *rs_;
}

ModuleRun::ModuleRun(const ModuleEnv& env, const SampleArgs& args)
    : env_(env),
      args_(args),
      language_(PickLanguage(args.language)),
      clock_(env.clock.Now()),
      now_(timezone::GmtNowText(clock_)) {}

ModuleRun::~ModuleRun() {
  // Row sets go before the connection they were opened on.
  rowSets_.clear();
  connection_.reset();
}

std::string ModuleRun::LocalDayText(int days, std::string_view timeOfDay) const {
  timezone::CivilTime day = timezone::AddDays(timezone::LocalNow(clock_), days);
  return timezone::ShortDateText(day) + std::string(timeOfDay);
}

db::DateTime ModuleRun::ToGmtValue(const std::string& localText) const {
  return ToDbDate(timezone::ToGMT(localText, clock_));
}

db::DateTime ModuleRun::LocalValue(const std::string& localText) const {
  db::DateTime value;
  if (!db::ParseDateTimeText(localText, &value)) return db::DateTime{};
  return value;
}

db::DateTime ModuleRun::NowPlusDays(int days) const {
  db::DateTime now;
  db::ParseDateTimeText(now_, &now);
  return ToDbDate(timezone::AddDays(ToCivil(now), days));
}

void ModuleRun::Record(int32_t number, const std::string& description) {
  pending_.number = number;
  pending_.description = description;
}

bool ModuleRun::Try(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const db::DbError& e) {
    Record(e.number(), e.description());
  } catch (const std::exception& e) {
    Record(kErrInternal, e.what());
  }
  return false;
}

void ModuleRun::Begin() {
  Try([&] { connection_ = env_.connector.Open(args_.dataSource, args_.userName, args_.password); });
  const bool begun = Try([&] {
    if (!connection_) throw db::DbError(db::kErrObjectClosed, "The connection is not open.");
    connection_->BeginTrans();
  });
  // Without its transaction every row sent would stay for good, whatever the
  // finish decides: a module that cannot begin one writes nothing at all.
  if (!begun) connection_.reset();
}

RowSet& ModuleRun::Open(const std::string& table, db::CursorType cursor) {
  rowSets_.push_back(std::make_unique<RowSet>());
  RowSet& rs = *rowSets_.back();
  Try([&] {
    if (!connection_) throw db::DbError(db::kErrObjectClosed, "The connection is not open.");
    rs.rs_ = connection_->OpenTable(table, cursor, db::LockType::kBatchOptimistic);
  });
  return rs;
}

void ModuleRun::AddRecord(RowSet& rs, const std::vector<FieldValue>& fields, bool send) {
  Try([&] { rs.get().AddNew(); });
  for (const FieldValue& field : fields) {
    Try([&] { rs.get().SetField(field.name, field.value); });
  }
  if (send) Send(rs);
}

void ModuleRun::Send(RowSet& rs) {
  Try([&] { rs.get().UpdateBatch(); });
}

int64_t ModuleRun::ReadLastKey(RowSet& rs, const std::string& keyField) {
  int64_t key = 0;
  Try([&] { rs.get().Requery(); });
  Try([&] { rs.get().MoveLast(); });
  Try([&] { key = rs.get().Field(keyField).AsInteger(); });
  return key;
}

int16_t ModuleRun::ReadLastKey16(RowSet& rs, const std::string& keyField) {
  int16_t key = 0;
  Try([&] { rs.get().Requery(); });
  Try([&] { rs.get().MoveLast(); });
  Try([&] { key = rs.get().Field(keyField).AsInt16(); });
  return key;
}

void ModuleRun::Walk(RowSet& rs, const std::function<bool(db::Recordset&)>& body) {
  Try([&] { rs.get().MoveFirst(); });
  for (;;) {
    bool atEnd = true;
    if (!Try([&] { atEnd = rs.get().Eof(); }) || atEnd) return;
    bool goOn = true;
    Try([&] { goOn = body(rs.get()); });
    if (!goOn) return;
    if (!Try([&] { rs.get().MoveNext(); })) return;
  }
}

void ModuleRun::Execute(const std::string& statement) {
  Try([&] {
    if (!connection_) throw db::DbError(db::kErrObjectClosed, "The connection is not open.");
    connection_->Execute(statement);
  });
}

bool ModuleRun::Finish(FailureBox box) {
  if (pending_.number == 0) {
    // The closing send must not lose rows: if it fails, nothing is committed.
    for (auto& rs : rowSets_) Send(*rs);
    if (pending_.number == 0 && Try([&] {
          if (!connection_) throw db::DbError(db::kErrObjectClosed, "The connection is not open.");
          connection_->CommitTrans();
        })) {
      for (auto& rs : rowSets_) {
        if (rs->open()) Try([&] { rs->get().Close(); });
      }
      Try([&] { connection_->Close(); });
      return true;
    }
  }
  PendingError failure = pending_;
  for (auto& rs : rowSets_) {
    if (rs->open()) Try([&] { rs->get().CancelBatch(); });
  }
  if (connection_) Try([&] { connection_->RollbackTrans(); });
  switch (box) {
    case FailureBox::kNone:
      break;
    case FailureBox::kNumberDescription:
      env_.showBox(std::to_string(failure.number) + failure.description);
      break;
    case FailureBox::kNumberColonDescription:
      env_.showBox(std::to_string(failure.number) + " : " + failure.description);
      break;
  }
  pending_ = failure;
  return false;
}

}  // namespace qv::sample_data
