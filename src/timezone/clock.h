// The clock behind every time the setup reads. A run uses the system clock;
// tests inject a fixed instant.
#pragma once

#include <ctime>

namespace qv::timezone {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch (UTC).
  virtual std::time_t Now() const = 0;
};

class SystemClock : public Clock {
 public:
  std::time_t Now() const override { return std::time(nullptr); }
};

class FixedClock : public Clock {
 public:
  explicit FixedClock(std::time_t now) : now_(now) {}
  std::time_t Now() const override { return now_; }
  void Set(std::time_t now) { now_ = now; }

 private:
  std::time_t now_;
};

}  // namespace qv::timezone
