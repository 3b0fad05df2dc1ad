#include "common/date_time.h"

namespace kvt {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 0001-01-01 to the given date, months and days allowed to overflow
// within one year (a day past the month's end simply counts on).
std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
    // Shift the year so that it begins in March: the leap day falls last.
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    // 0000-03-01 is day 0 of this count; 0001-01-01 is day 306.
    return era * 146097 + dayOfEra - 306;
}

void civilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 306;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

bool DateTime::isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DateTime::daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool DateTime::isValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && day >= 1 && day <= daysInMonth(year, month);
}

bool DateTime::isValid() const {
    return isValidDate(year, month, day) && hour >= 0 && hour <= 23 && minute >= 0 &&
           minute <= 59 && second >= 0 && second <= 59;
}

std::int64_t DateTime::toSerialSeconds() const {
    // Months outside 1..12 carry into the year first.
    std::int64_t y = year;
    std::int64_t m = month - 1;
    y += (m >= 0 ? m : m - 11) / 12;
    m = m - ((m >= 0 ? m : m - 11) / 12) * 12 + 1;
    const std::int64_t days = daysFromCivil(y, m, 1) + (day - 1);
    return days * kSecondsPerDay + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

DateTime DateTime::fromSerialSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    DateTime out;
    civilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest / 60 % 60);
    out.second = static_cast<int>(rest % 60);
    return out;
}

DateTime DateTime::addSeconds(std::int64_t seconds) const {
    return fromSerialSeconds(toSerialSeconds() + seconds);
}

int DateTime::dayOfWeek() const {
    // 0001-01-01 was a Monday.
    const std::int64_t days = toSerialSeconds() / kSecondsPerDay;
    return static_cast<int>(((days + 1) % 7 + 7) % 7);
}

}  // namespace kvt
