#include "common/clock.h"

#include <mutex>

namespace kvt::clock {

// The system's local time; one implementation per platform.
DateTime systemNow();

namespace {

std::mutex mutex;
std::optional<DateTime> fixed;

}  // namespace

DateTime now() {
    {
        const std::lock_guard lock(mutex);
        if (fixed) {
            return *fixed;
        }
    }
    return systemNow();
}

void setFixed(std::optional<DateTime> value) {
    const std::lock_guard lock(mutex);
    fixed = value;
}

FixedClock::FixedClock(DateTime value) {
    const std::lock_guard lock(mutex);
    previous_ = fixed;
    fixed = value;
}

FixedClock::~FixedClock() {
    const std::lock_guard lock(mutex);
    fixed = previous_;
}

}  // namespace kvt::clock
