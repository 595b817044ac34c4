#pragma once
// The clock seam: production reads the local wall clock (os/system.h), tests set the time.

#include "base/datetime.h"

namespace zv {

// The local wall clock, as a seam: tests set the time.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual DateTime Now() const = 0;
  DateTime Today() const { return Now().Date(); }
};

// A clock that stands still until the test moves it.
class ManualClock : public IClock {
 public:
  explicit ManualClock(DateTime t = DateTime::FromParts(2026, 12, 9, 14, 5, 7)) : t_(t) {}
  DateTime Now() const override { return t_; }
  void Set(DateTime t) { t_ = t; }
  void Advance(int64_t seconds) { t_ = t_.AddSeconds(seconds); }

 private:
  DateTime t_;
};

}  // namespace zv
