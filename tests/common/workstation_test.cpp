#include "common/workstation.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/date_time.h"
#include "test_support.h"

namespace kvt {
namespace {

TEST(DateTimeTest, CalendarRulesAndArithmetic) {
    EXPECT_TRUE(DateTime::isLeapYear(2000));
    EXPECT_TRUE(DateTime::isLeapYear(2024));
    EXPECT_FALSE(DateTime::isLeapYear(1900));
    EXPECT_FALSE(DateTime::isLeapYear(2023));
    EXPECT_EQ(DateTime::daysInMonth(2024, 2), 29);
    EXPECT_EQ(DateTime::daysInMonth(2023, 2), 28);
    EXPECT_EQ(DateTime::daysInMonth(2023, 13), 0);
    EXPECT_FALSE(DateTime::isValidDate(10000, 1, 1));

    const DateTime midnight{2009, 12, 31, 23, 59, 58};
    EXPECT_EQ(midnight.addSeconds(2), (DateTime{2010, 1, 1, 0, 0, 0}));
    EXPECT_EQ((DateTime{2010, 1, 1, 0, 0, 3}).addSeconds(-5), (DateTime{2009, 12, 31, 23, 59, 58}));
    EXPECT_EQ((DateTime{2024, 2, 28}).addDays(1), (DateTime{2024, 2, 29}));
    EXPECT_EQ((DateTime{2023, 2, 28}).addDays(1), (DateTime{2023, 3, 1}));
    EXPECT_EQ(DateTime::fromSerialSeconds(0), DateTime{});
    const DateTime sample{1987, 6, 5, 4, 3, 2};
    EXPECT_EQ(DateTime::fromSerialSeconds(sample.toSerialSeconds()), sample);
    EXPECT_EQ((DateTime{2009, 3, 15}).dayOfWeek(), 0);  // a Sunday
    EXPECT_EQ((DateTime{2024, 2, 29}).dayOfWeek(), 4);  // a Thursday
    EXPECT_LT((DateTime{2009, 3, 15, 10, 30}), (DateTime{2009, 3, 15, 10, 31}));
}

TEST(ClockTest, FixedClockNestsAndRestores) {
    const DateTime first{2001, 2, 3, 4, 5, 6};
    const DateTime second{2002, 2, 3, 4, 5, 6};
    {
        clock::FixedClock a(first);
        EXPECT_EQ(clock::now(), first);
        {
            clock::FixedClock b(second);
            EXPECT_EQ(clock::now(), second);
        }
        EXPECT_EQ(clock::now(), first);
    }
    EXPECT_TRUE(clock::now().isValid());
    EXPECT_GE(clock::now().year, 2024);
}

TEST(FormatDateTimeTest, WindowsFormatStrings) {
    const DateTime v{2009, 3, 5, 14, 7, 9};
    EXPECT_EQ(workstation::formatDateTime(v, "dd/MM/yyyy"), "05/03/2009");
    EXPECT_EQ(workstation::formatDateTime(v, "d/M/yy"), "5/3/09");
    EXPECT_EQ(workstation::formatDateTime(v, "HH:mm:ss"), "14:07:09");
    EXPECT_EQ(workstation::formatDateTime(v, "H.m.s"), "14.7.9");
    EXPECT_EQ(workstation::formatDateTime(v, "h:mm:ss tt"), "2:07:09 PM");
    EXPECT_EQ(workstation::formatDateTime({2009, 3, 5, 0, 7, 9}, "hh:mm t"), "12:07 A");
    EXPECT_EQ(workstation::formatDateTime(v, "dddd d MMMM yyyy"), "giovedì 5 marzo 2009");
    EXPECT_EQ(workstation::formatDateTime(v, "ddd dd MMM"), "gio 05 mar");
    EXPECT_EQ(workstation::formatDateTime(v, "'Ore' HH 'e l''ora' y"), "Ore 14 e l'ora 9");
    EXPECT_EQ(workstation::formatDateTime(v, "yyyy-MM-dd gg"), "2009-03-05 ");
}

TEST(FormatDateTimeTest, LogTimeStampUsesColonsBetweenTimeFields) {
    EXPECT_EQ(workstation::withColonTimeSeparator("HH:mm:ss"), "HH:mm:ss");
    EXPECT_EQ(workstation::withColonTimeSeparator("H.mm.ss"), "H:mm:ss");
    EXPECT_EQ(workstation::withColonTimeSeparator("hh.mm.ss tt"), "hh:mm:ss tt");
    EXPECT_EQ(workstation::withColonTimeSeparator("tt h'h'mm"), "tt h:mm");

    const DateTime v{2009, 3, 15, 10, 30, 5};
    {
        workstation::ScopedFormats italian({",", "dd/MM/yyyy", "HH:mm:ss"});
        EXPECT_EQ(workstation::logTimeStamp(v), "15/03/2009 10:30:05");
    }
    {
        workstation::ScopedFormats old({",", "dd/MM/yy", "H.mm.ss"});
        EXPECT_EQ(workstation::logTimeStamp({2009, 3, 15, 9, 3, 5}), "15/03/09 9:03:05");
    }
    {
        workstation::ScopedFormats us({".", "M/d/yyyy", "h:mm:ss tt"});
        EXPECT_EQ(workstation::logTimeStamp(v), "3/15/2009 10:30:05 AM");
    }
}

#ifndef _WIN32
// The POSIX store and the C locale; on Windows the locale test sets the
// user's own values.
TEST(WorkstationTest, RegistryValuesComeFirstThenTheDefaults) {
    ::setenv("LC_ALL", "C", 1);
    {
        test::ScopedRegistry registry(
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
            "\"sDecimal\"=\".\"\r\n"
            "\"sShortDate\"=\"yyyy-MM-dd\"\r\n");
        workstation::reload();
        const workstation::Formats f = workstation::formats();
        EXPECT_EQ(f.decimalSeparator, ".");
        EXPECT_EQ(f.shortDate, "yyyy-MM-dd");
        EXPECT_EQ(f.longTime, "HH:mm:ss");  // not in the registry; C locale: the default
    }
    {
        test::ScopedRegistry empty("REGEDIT4\r\n");
        workstation::reload();
        const workstation::Formats f = workstation::formats();
        EXPECT_EQ(f.decimalSeparator, ",");
        EXPECT_EQ(f.shortDate, "dd/MM/yyyy");
        EXPECT_EQ(f.longTime, "HH:mm:ss");
        // The override wins over what was read.
        workstation::ScopedFormats formats({".", "d", "t"});
        EXPECT_EQ(workstation::decimalSeparator(), ".");
    }
    ::unsetenv("LC_ALL");
    workstation::reload();
}
#endif

TEST(WorkstationTest, StrftimeFormatsBecomeWindowsFormats) {
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%d/%m/%Y"), "dd/MM/yyyy");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%m/%d/%y"), "MM/dd/yy");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%d.%m.%Y"), "dd.MM.yyyy");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%T"), "HH:mm:ss");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%I:%M:%S %p"), "hh:mm:ss tt");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%Hh%M"), "HH'h'mm");
    EXPECT_EQ(workstation::windowsFormatFromStrftime("%e %B %Y %Z"), "d MMMM yyyy ");
}

}  // namespace
}  // namespace kvt
