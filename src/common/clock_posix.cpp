// Clock seam on POSIX: local time through localtime_r (the TZ of the process).
#include <ctime>

#include "common/clock.h"

namespace kvt::clock {

DateTime fromTimeT(std::time_t time) {
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr) {
        return {};
    }
    // A leap second (60) counts as the last second of its minute.
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec > 59 ? 59 : local.tm_sec};
}

DateTime systemNow() {
    return fromTimeT(std::time(nullptr));
}

}  // namespace kvt::clock
