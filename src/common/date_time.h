#pragma once
// A calendar date and time of day, in local time, to the second: the value
// the program's dates are made of (last visits, the last-visit file, the log's
// time stamps). No time zone and no daylight saving: arithmetic is plain
// calendar arithmetic (proleptic Gregorian calendar, years 1 to 9999).
#include <compare>
#include <cstdint>

namespace kvt {

struct DateTime {
    int year = 1;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    // Field by field, year first: later date-times compare greater.
    auto operator<=>(const DateTime&) const = default;
    bool operator==(const DateTime&) const = default;

    static bool isLeapYear(int year);
    // 0 for a month outside 1..12.
    static int daysInMonth(int year, int month);
    // Year 1..9999, month 1..12, day within the month.
    static bool isValidDate(int year, int month, int day);
    // A valid date and hour 0..23, minute 0..59, second 0..59.
    bool isValid() const;

    // The same day at midnight.
    DateTime date() const { return {year, month, day, 0, 0, 0}; }
    // Seconds since 0001-01-01 00:00:00, for differences and shifts; fields
    // outside their ranges (hour 24, minute 60, day 32) carry over.
    std::int64_t toSerialSeconds() const;
    static DateTime fromSerialSeconds(std::int64_t seconds);
    DateTime addSeconds(std::int64_t seconds) const;
    DateTime addDays(std::int64_t days) const { return addSeconds(days * 86400); }
    // Sunday = 0 .. Saturday = 6.
    int dayOfWeek() const;
};

}  // namespace kvt
