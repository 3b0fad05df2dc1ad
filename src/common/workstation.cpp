#include "common/workstation.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <vector>

#include "common/registry.h"

namespace kvt::workstation {
namespace {

constexpr std::string_view kInternationalKey = "Control Panel\\International";

std::mutex mutex;
std::optional<Formats> overridden;
std::optional<Formats> cached;

std::optional<std::string> registryText(std::string_view name) {
    const auto value = registry::readValue(registry::Root::CurrentUser, kInternationalKey, name);
    if (!value ||
        (value->type != registry::ValueType::String &&
         value->type != registry::ValueType::ExpandString) ||
        value->text.empty()) {
        return std::nullopt;
    }
    return value->text;
}

Formats readFormats() {
    const LocaleFormats locale = localeFormats();
    Formats out;
    const auto pick = [](std::optional<std::string> fromRegistry,
                         const std::optional<std::string>& fromLocale, std::string& target) {
        if (fromRegistry) {
            target = std::move(*fromRegistry);
        } else if (fromLocale && !fromLocale->empty()) {
            target = *fromLocale;
        }
    };
    pick(registryText("sDecimal"), locale.decimalSeparator, out.decimalSeparator);
    pick(registryText("sShortDate"), locale.shortDate, out.shortDate);
    pick(registryText("sTimeFormat"), locale.longTime, out.longTime);
    // A POSIX locale names no list separator: the one that cannot be taken
    // for the decimal separator, as Windows pairs them.
    out.listSeparator = out.decimalSeparator == "," ? ";" : ",";
    pick(registryText("sList"), locale.listSeparator, out.listSeparator);
    return out;
}

constexpr std::array<const char*, 7> kDayNames = {"domenica", "lunedì",  "martedì", "mercoledì",
                                                  "giovedì",  "venerdì", "sabato"};
constexpr std::array<const char*, 7> kDayAbbreviations = {"dom", "lun", "mar", "mer",
                                                          "gio", "ven", "sab"};
constexpr std::array<const char*, 12> kMonthNames = {
    "gennaio", "febbraio", "marzo",     "aprile",  "maggio",   "giugno",
    "luglio",  "agosto",   "settembre", "ottobre", "novembre", "dicembre"};
constexpr std::array<const char*, 12> kMonthAbbreviations = {
    "gen", "feb", "mar", "apr", "mag", "giu", "lug", "ago", "set", "ott", "nov", "dic"};

std::string number(int value, int minimumDigits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", minimumDigits, value);
    return buffer;
}

bool isFieldLetter(char c) {
    return c == 'd' || c == 'M' || c == 'y' || c == 'h' || c == 'H' || c == 'm' || c == 's' ||
           c == 't' || c == 'g';
}

std::string field(const DateTime& v, char letter, std::size_t count) {
    const int hour12 = v.hour % 12 == 0 ? 12 : v.hour % 12;
    const bool twoDigits = count >= 2;
    switch (letter) {
        case 'd':
            if (count >= 4) {
                return kDayNames[v.dayOfWeek()];
            }
            if (count == 3) {
                return kDayAbbreviations[v.dayOfWeek()];
            }
            return number(v.day, twoDigits ? 2 : 1);
        case 'M':
            if (v.month < 1 || v.month > 12) {
                return number(v.month, twoDigits ? 2 : 1);
            }
            if (count >= 4) {
                return kMonthNames[v.month - 1];
            }
            if (count == 3) {
                return kMonthAbbreviations[v.month - 1];
            }
            return number(v.month, twoDigits ? 2 : 1);
        case 'y':
            if (count >= 3) {
                return number(v.year, 4);
            }
            return number(v.year % 100, twoDigits ? 2 : 1);
        case 'h':
            return number(hour12, twoDigits ? 2 : 1);
        case 'H':
            return number(v.hour, twoDigits ? 2 : 1);
        case 'm':
            return number(v.minute, twoDigits ? 2 : 1);
        case 's':
            return number(v.second, twoDigits ? 2 : 1);
        case 't':
            return twoDigits ? (v.hour < 12 ? "AM" : "PM") : (v.hour < 12 ? "A" : "P");
        default:  // 'g': the era, which the program never shows
            return {};
    }
}

// Walks a Windows format string: fields (a run of one letter) and literals.
template <typename OnField, typename OnLiteral>
void walkFormat(std::string_view format, OnField onField, OnLiteral onLiteral) {
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c == '\'') {
            std::string literal;
            ++i;
            while (i < format.size()) {
                if (format[i] == '\'') {
                    if (i + 1 < format.size() && format[i + 1] == '\'') {
                        literal += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                literal += format[i++];
            }
            onLiteral(literal, true);
        } else if (isFieldLetter(c)) {
            std::size_t count = 1;
            while (i + count < format.size() && format[i + count] == c) {
                ++count;
            }
            onField(c, count);
            i += count;
        } else {
            onLiteral(std::string(1, c), false);
            ++i;
        }
    }
}

}  // namespace

Formats formats() {
    const std::lock_guard lock(mutex);
    if (overridden) {
        return *overridden;
    }
    if (!cached) {
        cached = readFormats();
    }
    return *cached;
}

std::string decimalSeparator() {
    return formats().decimalSeparator;
}
std::string shortDateFormat() {
    return formats().shortDate;
}
std::string longTimeFormat() {
    return formats().longTime;
}
std::string listSeparator() {
    return formats().listSeparator;
}

void reload() {
    const std::lock_guard lock(mutex);
    cached.reset();
}

void setOverride(std::optional<Formats> value) {
    const std::lock_guard lock(mutex);
    overridden = std::move(value);
}

ScopedFormats::ScopedFormats(Formats value) {
    const std::lock_guard lock(mutex);
    previous_ = overridden;
    overridden = std::move(value);
}

ScopedFormats::~ScopedFormats() {
    const std::lock_guard lock(mutex);
    overridden = std::move(previous_);
}

std::string formatDateTime(const DateTime& value, std::string_view format) {
    std::string out;
    walkFormat(
        format, [&](char letter, std::size_t count) { out += field(value, letter, count); },
        [&](const std::string& literal, bool) { out += literal; });
    return out;
}

std::string withColonTimeSeparator(std::string_view timeFormat) {
    // The format as pieces: fields, and runs of literal text (re-quoted as
    // written). A run of literal text between two of the hour, minute and
    // second fields is the time separator.
    enum class Kind { TimeField, OtherField, Literal };
    struct Piece {
        std::string text;
        Kind kind;
    };
    std::vector<Piece> pieces;
    walkFormat(
        timeFormat,
        [&](char letter, std::size_t count) {
            const bool time = letter == 'h' || letter == 'H' || letter == 'm' || letter == 's';
            pieces.push_back(
                {std::string(count, letter), time ? Kind::TimeField : Kind::OtherField});
        },
        [&](const std::string& literal, bool quoted) {
            std::string text = literal;
            if (quoted) {
                text = "'";
                for (const char c : literal) {
                    text += c == '\'' ? std::string("''") : std::string(1, c);
                }
                text += "'";
            }
            if (!pieces.empty() && pieces.back().kind == Kind::Literal) {
                pieces.back().text += text;
            } else {
                pieces.push_back({text, Kind::Literal});
            }
        });
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const bool separator = pieces[i].kind == Kind::Literal && i > 0 && i + 1 < pieces.size() &&
                               pieces[i - 1].kind == Kind::TimeField &&
                               pieces[i + 1].kind == Kind::TimeField;
        out += separator ? std::string(":") : pieces[i].text;
    }
    return out;
}

std::string logTimeStamp(const DateTime& value) {
    const Formats f = formats();
    return formatDateTime(value, f.shortDate) + " " +
           formatDateTime(value, withColonTimeSeparator(f.longTime));
}

std::string windowsFormatFromStrftime(std::string_view format) {
    std::string out;
    // Letters and quotes of the text are quoted a run at a time: two quoted
    // runs side by side ("'d''e'") would read as one holding a quote.
    std::string quoted;
    const auto closeQuoted = [&] {
        if (!quoted.empty()) {
            out += "'" + quoted + "'";
            quoted.clear();
        }
    };
    const auto literal = [&](char c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'') {
            quoted += c == '\'' ? std::string("''") : std::string(1, c);
        } else {
            closeQuoted();
            out += c;
        }
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            literal(format[i]);
            continue;
        }
        closeQuoted();
        char conversion = format[++i];
        // Flags, widths and the E / O modifiers change nothing we render.
        while ((conversion == 'E' || conversion == 'O' || conversion == '-' || conversion == '_' ||
                conversion == '0' || conversion == '^' || conversion == '#') &&
               i + 1 < format.size()) {
            conversion = format[++i];
        }
        switch (conversion) {
            case 'd':
                out += "dd";
                break;
            case 'e':
                out += "d";
                break;
            case 'm':
                out += "MM";
                break;
            case 'b':
            case 'h':
                out += "MMM";
                break;
            case 'B':
                out += "MMMM";
                break;
            case 'a':
                out += "ddd";
                break;
            case 'A':
                out += "dddd";
                break;
            case 'y':
                out += "yy";
                break;
            case 'Y':
            case 'G':
                out += "yyyy";
                break;
            case 'H':
                out += "HH";
                break;
            case 'k':
                out += "H";
                break;
            case 'I':
                out += "hh";
                break;
            case 'l':
                out += "h";
                break;
            case 'M':
                out += "mm";
                break;
            case 'S':
                out += "ss";
                break;
            case 'p':
            case 'P':
                out += "tt";
                break;
            case 'T':
                out += "HH:mm:ss";
                break;
            case 'R':
                out += "HH:mm";
                break;
            case 'r':
                out += "hh:mm:ss tt";
                break;
            case 'D':
                out += "MM/dd/yy";
                break;
            case 'F':
                out += "yyyy-MM-dd";
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '%':
                out += '%';
                break;
            default:  // time zones, week numbers and the like: not in our formats
                break;
        }
    }
    closeQuoted();
    return out;
}

}  // namespace kvt::workstation
