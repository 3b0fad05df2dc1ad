#pragma once
// Workstation seam: the user's regional formats. Each comes from
// HKEY_CURRENT_USER\Control Panel\International ("sDecimal", "sShortDate",
// "sTimeFormat", "sList", as Windows keeps them), else from the locale of the process
// environment (LC_ALL / LC_NUMERIC / LC_TIME / LANG), else, as in the C
// locale, "," / "dd/MM/yyyy" / "HH:mm:ss". They are read once and kept for the
// life of the process (reload() reads them again); tests set them with an
// override. On POSIX the workstation's code page is UTF-8 (see codePage).
#include <optional>
#include <string>
#include <string_view>

#include "common/date_time.h"

namespace kvt::workstation {

struct Formats {
    std::string decimalSeparator = ",";
    // Windows date and time format strings (see formatDateTime).
    std::string shortDate = "dd/MM/yyyy";
    std::string longTime = "HH:mm:ss";
    // What separates the items of a list (and the fields of a CSV file a
    // spreadsheet opens): ";" where the decimal separator is the comma.
    std::string listSeparator = ";";
};

// The formats in force: the override when one is set, else the registry, the
// locale and the defaults, value by value.
Formats formats();
std::string decimalSeparator();
std::string shortDateFormat();
std::string longTimeFormat();
std::string listSeparator();

// Forgets what was read, so the next call reads the registry and locale again.
void reload();
// Replaces every format (nothing removes the override).
void setOverride(std::optional<Formats> formats);

// Sets the formats for the life of the object, then restores the previous
// override (or its absence).
class ScopedFormats {
  public:
    explicit ScopedFormats(Formats formats);
    ~ScopedFormats();
    ScopedFormats(const ScopedFormats&) = delete;
    ScopedFormats& operator=(const ScopedFormats&) = delete;

  private:
    std::optional<Formats> previous_;
};

// Renders a date-time with a Windows format string: d dd (day), ddd dddd
// (Italian day name, short and full), M MM (month), MMM MMMM (Italian month
// name), y yy (year in the century), yyy yyyy and longer (full year), h hh
// (12-hour), H HH (24-hour), m mm (minute), s ss (second), t tt ("A"/"P",
// "AM"/"PM"), g gg (era, written as nothing). Text between single quotes is
// literal ('' gives one quote); every other character is written as it is.
std::string formatDateTime(const DateTime& value, std::string_view format);

// The long time format with ":" between hours, minutes and seconds, whatever
// separator the format itself uses ("H.mm.ss" gives "H:mm:ss").
std::string withColonTimeSeparator(std::string_view timeFormat);

// The log's time stamp: short date, a blank, long time with ":" as the time
// separator (Italian defaults: 15/03/2009 10:30:05).
std::string logTimeStamp(const DateTime& value);

// What the locale of the process environment says; empty for each value the
// locale does not give (the C locale gives none). One implementation per
// platform.
struct LocaleFormats {
    std::optional<std::string> decimalSeparator;
    std::optional<std::string> shortDate;
    std::optional<std::string> longTime;
    std::optional<std::string> listSeparator;
};
LocaleFormats localeFormats();

// A C strftime format ("%d/%m/%Y") as a Windows format string ("dd/MM/yyyy").
std::string windowsFormatFromStrftime(std::string_view format);

// The workstation's code page: that of the log, the last-visit file and the
// other byte texts the program exchanges (Windows: the ANSI code page, 1252 in
// an Italian office; POSIX: UTF-8, 65001, where every conversion below gives
// the text unchanged). One implementation per platform.
unsigned codePage();
// The program's UTF-8 text in the code page; nothing when a character has no
// place in it (no "best fit": a lossy text could make two names one).
std::optional<std::string> toCodePage(std::string_view text);
// The same, with "?" for each character that has no place in it: a readable
// text, never a broken byte sequence.
std::string toCodePageReplacing(std::string_view text);
// Bytes in the code page as UTF-8.
std::string fromCodePage(std::string_view bytes);

}  // namespace kvt::workstation
