// Clock seam on Windows: local time of the user's time zone, as the system
// shows it.
#include "common/clock.h"
#include "common/win32.h"

namespace kvt::clock {
namespace {

DateTime fromSystemTime(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace

DateTime fromTimeT(std::time_t time) {
    // Seconds since 1970 as the 100-nanosecond steps since 1601 of a FILETIME.
    constexpr long long kEpochDifference = 11644473600LL;
    const auto steps = static_cast<unsigned long long>((time + kEpochDifference) * 10000000LL);
    FILETIME utc{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (time < -kEpochDifference || !::FileTimeToSystemTime(&utc, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return {};
    }
    return fromSystemTime(local);
}

DateTime systemNow() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return fromSystemTime(local);
}

}  // namespace kvt::clock
