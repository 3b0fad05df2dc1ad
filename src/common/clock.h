#pragma once
// Clock seam: the current local date and time. Tests fix it, so that results
// that are "now" (an unreadable date, a time stamp) can be checked exactly.
#include <ctime>
#include <optional>

#include "common/date_time.h"

namespace kvt::clock {

// The current local date and time, or the fixed one while a test sets it.
DateTime now();

// Fixes the clock at the given value (it does not advance); nothing restores
// the system clock.
void setFixed(std::optional<DateTime> value);

// A point in time of the system (a file's last-write time) as local date-time.
DateTime fromTimeT(std::time_t time);

// Fixes the clock for the life of the object, then restores what was before.
class FixedClock {
  public:
    explicit FixedClock(DateTime value);
    ~FixedClock();
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

  private:
    std::optional<DateTime> previous_;
};

}  // namespace kvt::clock
